#include "common/data_folder.h"

#include <cstring>

namespace {

// A security identifier of the NT authority (S-1-5-...): revision 1, its sub-authorities,
// the authority 5 in six big-endian bytes, then each sub-authority little-endian.
size_t PutSid(uint8_t* at, const uint32_t* subAuthorities, uint8_t count) {
    at[0] = 1;
    at[1] = count;
    const uint8_t authority[6] = {0, 0, 0, 0, 0, 5};
    std::memcpy(at + 2, authority, 6);
    for (uint8_t i = 0; i < count; ++i)
        for (int b = 0; b < 4; ++b) at[8 + 4 * i + b] = static_cast<uint8_t>(subAuthorities[i] >> (8 * b));
    return 8 + 4u * count;
}

void Put16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void Put32(uint8_t* at, uint32_t value) {
    for (int b = 0; b < 4; ++b) at[b] = static_cast<uint8_t>(value >> (8 * b));
}

const uint32_t kAdministrators[] = {32, 544};  // S-1-5-32-544
const uint32_t kSystem[] = {18};               // S-1-5-18
constexpr uint32_t kFileAllAccess = 0x1F01FF;
constexpr uint8_t kObjectAndContainerInherit = 0x01 | 0x02;
constexpr uint16_t kSelfRelative = 0x8000, kDaclProtected = 0x1000, kDaclPresent = 0x0004;

// One access-allowed entry for `sid`; returns its length.
size_t PutAllowedEntry(uint8_t* at, const uint32_t* sid, uint8_t count) {
    at[0] = 0;  // ACCESS_ALLOWED_ACE_TYPE
    at[1] = kObjectAndContainerInherit;
    Put32(at + 4, kFileAllAccess);
    const size_t length = 8 + PutSid(at + 8, sid, count);
    Put16(at + 2, static_cast<uint32_t>(length));
    return length;
}

}  // namespace

size_t FolderSecurityDescriptor(uint8_t* out, size_t size, bool withOwner) {
    const size_t needed = withOwner ? kFolderSecurityDescriptorSize : kFolderSecurityDescriptorSize - 16;
    if (size < needed) return 0;
    std::memset(out, 0, needed);
    out[0] = 1;  // revision
    Put16(out + 2, kSelfRelative | kDaclProtected | kDaclPresent);
    size_t at = 20;
    if (withOwner) {
        Put32(out + 4, static_cast<uint32_t>(at));
        at += PutSid(out + at, kAdministrators, 2);
    }
    Put32(out + 16, static_cast<uint32_t>(at));  // the access list
    uint8_t* acl = out + at;
    acl[0] = 2;  // ACL_REVISION
    size_t aclLength = 8;
    aclLength += PutAllowedEntry(acl + aclLength, kAdministrators, 2);
    aclLength += PutAllowedEntry(acl + aclLength, kSystem, 1);
    Put16(acl + 2, static_cast<uint32_t>(aclLength));
    Put16(acl + 4, 2);  // entries
    return at + aclLength;
}

void FolderIdToBytes(const FolderId& id, uint8_t out[kFolderIdSize]) {
    Put32(out, id.volumeSerial);
    Put32(out + 4, static_cast<uint32_t>(id.fileIndex));
    Put32(out + 8, static_cast<uint32_t>(id.fileIndex >> 32));
}

bool FolderIdFromBytes(const uint8_t* data, size_t size, FolderId* id) {
    if (size != kFolderIdSize) return false;
    auto get = [data](int at) {
        return static_cast<uint32_t>(data[at]) | static_cast<uint32_t>(data[at + 1]) << 8 |
               static_cast<uint32_t>(data[at + 2]) << 16 | static_cast<uint32_t>(data[at + 3]) << 24;
    };
    id->volumeSerial = get(0);
    id->fileIndex = static_cast<uint64_t>(get(4)) | static_cast<uint64_t>(get(8)) << 32;
    return true;
}

FolderAction DecideDataFolder(const FolderFacts& facts) {
    if (!facts.exists) return FolderAction::Make;
    // Only a plain folder whose identity is the one recorded when the program made it: the
    // program made it with its access list, so nobody else has ever been able to write there.
    const bool ours = facts.isDirectory && !facts.isReparsePoint && facts.idKnown &&
                      facts.recorded && facts.id.volumeSerial == facts.recordedId.volumeSerial &&
                      facts.id.fileIndex == facts.recordedId.fileIndex;
    return ours ? FolderAction::Use : FolderAction::Replace;
}
