#include "common/data_folder.h"

#include <gtest/gtest.h>

#ifdef _WIN32
#include <windows.h>
#include <sddl.h>
#endif

TEST(DataFolder, SecurityDescriptorGrantsAdministratorsAndSystemOnly) {
    uint8_t descriptor[kFolderSecurityDescriptorSize];
    ASSERT_EQ(FolderSecurityDescriptor(descriptor, sizeof descriptor - 1, true), 0u);
    ASSERT_EQ(FolderSecurityDescriptor(descriptor, sizeof descriptor, true), 88u);
    // Self-relative, access list present and protected; owner at 20, access list at 36.
    const uint8_t header[] = {1, 0, 0x04, 0x90, 20, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 36, 0, 0, 0};
    EXPECT_EQ(0, memcmp(descriptor, header, sizeof header));
    const uint8_t administrators[] = {1, 2, 0, 0, 0, 0, 0, 5, 32, 0, 0, 0, 0x20, 2, 0, 0};
    EXPECT_EQ(0, memcmp(descriptor + 20, administrators, sizeof administrators));
    // Revision 2, 52 bytes, two entries: full access (0x1F01FF), inherited by folders and files.
    const uint8_t acl[] = {2, 0, 52, 0, 2, 0, 0, 0, 0, 3, 24, 0, 0xFF, 0x01, 0x1F, 0};
    EXPECT_EQ(0, memcmp(descriptor + 36, acl, sizeof acl));
    EXPECT_EQ(0, memcmp(descriptor + 44 + 8, administrators, sizeof administrators));
    const uint8_t system[] = {0, 3, 20, 0, 0xFF, 0x01, 0x1F, 0, 1, 1, 0, 0, 0, 0, 0, 5, 18, 0, 0, 0};
    EXPECT_EQ(0, memcmp(descriptor + 68, system, sizeof system));
#ifdef _WIN32
    // What the system itself reads in it.
    for (bool withOwner : {true, false}) {
        uint8_t bytes[kFolderSecurityDescriptorSize];
        ASSERT_NE(FolderSecurityDescriptor(bytes, sizeof bytes, withOwner), 0u);
        ASSERT_TRUE(IsValidSecurityDescriptor(bytes));
        char* text = nullptr;
        ASSERT_TRUE(ConvertSecurityDescriptorToStringSecurityDescriptorA(
            bytes, SDDL_REVISION_1, OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &text,
            nullptr));
        EXPECT_STREQ(text, withOwner ? "O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"
                                     : "D:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)");
        LocalFree(text);
    }
#endif
}

TEST(DataFolder, OnlyTheRecordedPlainFolderIsUsedAnythingElseIsReplaced) {
    FolderFacts ours{};
    ours.exists = ours.isDirectory = ours.idKnown = ours.recorded = true;
    ours.id = ours.recordedId = FolderId{0x5A000000, 0x1234567890ull};
    EXPECT_EQ(DecideDataFolder(ours), FolderAction::Use);

    FolderFacts nothing{};
    nothing.recorded = true;
    EXPECT_EQ(DecideDataFolder(nothing), FolderAction::Make);

    struct Row {
        const char* name;
        void (*change)(FolderFacts&);
    } rows[] = {
        {"made by someone else before the program's first run",
         [](FolderFacts& f) { f.recorded = false; }},
        {"another folder under the name since", [](FolderFacts& f) { f.id.fileIndex++; }},
        {"the same index on another volume", [](FolderFacts& f) { f.id.volumeSerial++; }},
        {"a junction or link", [](FolderFacts& f) { f.isReparsePoint = true; }},
        {"a file", [](FolderFacts& f) { f.isDirectory = false; }},
        {"can't be opened", [](FolderFacts& f) { f.idKnown = false; }},
    };
    for (const Row& row : rows) {
        FolderFacts facts = ours;
        row.change(facts);
        EXPECT_EQ(DecideDataFolder(facts), FolderAction::Replace) << row.name;
    }
}

TEST(DataFolder, IdentityRoundTripsThroughItsRegistryBytes) {
    const FolderId id{0xCAFEF00D, 0x0102030405060708ull};
    uint8_t bytes[kFolderIdSize];
    FolderIdToBytes(id, bytes);
    FolderId back;
    ASSERT_TRUE(FolderIdFromBytes(bytes, sizeof bytes, &back));
    EXPECT_EQ(back.volumeSerial, id.volumeSerial);
    EXPECT_EQ(back.fileIndex, id.fileIndex);
    EXPECT_FALSE(FolderIdFromBytes(bytes, sizeof bytes - 1, &back));
}
