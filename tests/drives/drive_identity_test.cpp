// The drive's identity between the user's choice and the write, the device descriptor's texts,
// and whether the image fits.
#include "drives/drive_identity.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

DriveIdentity Stick() {
    DriveIdentity id{};
    id.type = 2;
    id.numberKnown = true;
    id.disk = DiskId{7, 2};
    id.lengthKnown = true;
    id.length = 8004304896LL;
    id.descriptorKnown = true;
    std::strcpy(id.descriptor.vendor, "Kingston");
    std::strcpy(id.descriptor.product, "DataTraveler 3.0");
    std::strcpy(id.descriptor.serial, "60A44C413A8CF0A1");
    id.volumeSerialKnown = true;
    id.volumeSerial = 0x1A2B3C4D;
    return id;
}

TEST(DriveIdentity, EachQueryMustAnswerAlikeOrNotAtAllBothTimes) {
    struct Row {
        const char* what;
        void (*change)(DriveIdentity& now);
        void (*chosenToo)(DriveIdentity& chosen);  // the same change at the choice, or null
    };
    const Row rows[] = {
        {"nothing changed", [](DriveIdentity&) {}, nullptr},
        {"another disk number", [](DriveIdentity& d) { d.disk.deviceNumber = 3; }, nullptr},
        {"another device type", [](DriveIdentity& d) { d.disk.deviceType = 2; }, nullptr},
        {"number unanswered now", [](DriveIdentity& d) { d.numberKnown = false; }, nullptr},
        {"another length", [](DriveIdentity& d) { d.length -= 512; }, nullptr},
        {"length unanswered now", [](DriveIdentity& d) { d.lengthKnown = false; }, nullptr},
        {"another serial, same model", [](DriveIdentity& d) { d.descriptor.serial[0] = '7'; }, nullptr},
        {"a serial where there was none",
         [](DriveIdentity&) {}, [](DriveIdentity& d) { d.descriptor.serial[0] = 0; }},
        {"another product", [](DriveIdentity& d) { d.descriptor.product[0] = 'd'; }, nullptr},
        {"descriptor unanswered now", [](DriveIdentity& d) { d.descriptorKnown = false; }, nullptr},
        {"another volume serial", [](DriveIdentity& d) { d.volumeSerial ^= 1; }, nullptr},
        {"volume serial unreadable now", [](DriveIdentity& d) { d.volumeSerialKnown = false; }, nullptr},
        {"volume serial readable now only",
         [](DriveIdentity&) {}, [](DriveIdentity& d) { d.volumeSerialKnown = false; }},
        {"no longer removable", [](DriveIdentity& d) { d.type = 3; }, nullptr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        DriveIdentity chosen = Stick(), now = Stick();
        if (row.chosenToo) row.chosenToo(chosen);
        row.change(now);
        EXPECT_EQ(SameChosenDrive(chosen, now), std::string(row.what) == "nothing changed");
    }
}

TEST(DriveIdentity, AQueryThatFailedBothTimesIsNoEvidence) {
    // A stick without a readable file system, under a system that answers only the number.
    DriveIdentity bare{};
    bare.type = 2;
    bare.numberKnown = true;
    bare.disk = DiskId{7, 1};
    EXPECT_TRUE(SameChosenDrive(bare, bare));
    DriveIdentity nothing{};
    nothing.type = 2;
    EXPECT_TRUE(SameChosenDrive(nothing, nothing));
    nothing.type = 0;  // the letter has gone
    EXPECT_FALSE(SameChosenDrive(nothing, nothing));
}

TEST(DriveIdentity, TheDiskHandleMustAnswerAsTheChosenDisk) {
    const DriveIdentity chosen = Stick();
    DiskAnswers same{true, chosen.disk, true, chosen.length};
    EXPECT_TRUE(SameChosenDisk(chosen, same));
    DiskAnswers other = same;
    other.disk.deviceNumber = 1;
    EXPECT_FALSE(SameChosenDisk(chosen, other));
    other = same;
    other.length += 512;
    EXPECT_FALSE(SameChosenDisk(chosen, other));
    other = same;
    other.lengthKnown = false;
    EXPECT_FALSE(SameChosenDisk(chosen, other));
    // Where the length was never answered, the number alone decides.
    DriveIdentity noLength = chosen;
    noLength.lengthKnown = false;
    EXPECT_TRUE(SameChosenDisk(noLength, DiskAnswers{true, chosen.disk, false, 0}));
    EXPECT_FALSE(SameChosenDisk(noLength, DiskAnswers{false, {}, false, 0}));
}

// A descriptor answer: the fixed part, then the texts at the given offsets.
std::vector<unsigned char> Descriptor(const char* vendor, const char* product, const char* serial,
                                      uint32_t serialOffset = 0) {
    std::vector<unsigned char> data(40, 0);
    auto put = [&](size_t at, uint32_t value) { std::memcpy(data.data() + at, &value, 4); };
    auto text = [&](size_t at, const char* value) {
        if (!value) return;
        put(at, static_cast<uint32_t>(data.size()));
        for (const char* c = value;; ++c) {
            data.push_back(static_cast<unsigned char>(*c));
            if (!*c) break;
        }
    };
    text(12, vendor);
    text(16, product);
    text(24, serial);
    if (serialOffset) put(24, serialOffset);
    put(4, static_cast<uint32_t>(data.size()));
    return data;
}

TEST(DriveIdentity, DescriptorTextsAreFoundAtTheirOffsetsAndTrimmed) {
    DeviceDescriptor d;
    auto answer = Descriptor("SanDisk ", " Cruzer Blade    ", "4C530001230822117424");
    ASSERT_TRUE(ParseDeviceDescriptor(answer.data(), answer.size(), &d));
    EXPECT_STREQ(d.vendor, "SanDisk");
    EXPECT_STREQ(d.product, "Cruzer Blade");
    EXPECT_STREQ(d.serial, "4C530001230822117424");

    // No serial (offset 0), or an offset past the answer (some drivers send 0xFFFFFFFF).
    answer = Descriptor("Generic", "Flash Disk", nullptr);
    ASSERT_TRUE(ParseDeviceDescriptor(answer.data(), answer.size(), &d));
    EXPECT_STREQ(d.serial, "");
    answer = Descriptor("Generic", "Flash Disk", nullptr, 0xFFFFFFFF);
    ASSERT_TRUE(ParseDeviceDescriptor(answer.data(), answer.size(), &d));
    EXPECT_STREQ(d.serial, "");

    // A text without its terminator ends with the answer; a long one is cut.
    answer = Descriptor("Vendor", "Product", nullptr);
    answer.back() = 'X';
    ASSERT_TRUE(ParseDeviceDescriptor(answer.data(), answer.size(), &d));
    EXPECT_STREQ(d.product, "ProductX");
    std::string longText(200, 'A');
    answer = Descriptor(longText.c_str(), "P", nullptr);
    ASSERT_TRUE(ParseDeviceDescriptor(answer.data(), answer.size(), &d));
    EXPECT_EQ(std::string(d.vendor), longText.substr(0, kDescriptorTextSize - 1));

    EXPECT_FALSE(ParseDeviceDescriptor(answer.data(), 27, &d));
}

TEST(DriveIdentity, TheLogLineNamesEveryAnswerAndEveryQueryLeftUnanswered) {
    char text[kIdentityTextSize];
    DescribeIdentity(text, sizeof text, Stick());
    EXPECT_STREQ(text, "type 2, disk 2 (type 7), length 8004304896 bytes, device \"Kingston\" "
                       "\"DataTraveler 3.0\" serial \"60A44C413A8CF0A1\", volume serial 1A2B-3C4D");
    DriveIdentity bare{};
    bare.type = 2;
    DescribeIdentity(text, sizeof text, bare);
    EXPECT_STREQ(text, "type 2, disk unanswered, length unanswered, device unanswered, volume "
                       "serial unanswered");
}

TEST(ImageFit, KnownLengthsDecideUnknownOnesLeaveItToTheWrite) {
    EXPECT_EQ(FitOnDisk(4007657472LL, true, 4007657471LL), ImageFit::TooSmall);
    EXPECT_EQ(FitOnDisk(4007657472LL, true, 4007657472LL), ImageFit::Fits);
    EXPECT_EQ(FitOnDisk(4294967296LL + 5, true, 8004304896LL), ImageFit::Fits);
    EXPECT_EQ(FitOnDisk(4294967296LL + 5, true, 4294967296LL), ImageFit::TooSmall);
    EXPECT_EQ(FitOnDisk(4007657472LL, false, 0), ImageFit::Unknown);
    EXPECT_EQ(FitOnDisk(4007657472LL, true, 0), ImageFit::Unknown);   // no sensible answer
    EXPECT_EQ(FitOnDisk(-1, true, 8004304896LL), ImageFit::Unknown);  // no length announced

    char text[kTooSmallTextSize];
    TooSmallText(text, sizeof text, 4294967296LL + 5, 'F', 2004877312LL);
    EXPECT_STREQ(text,
                 "The Halcyra image (4.00 GB) is larger than drive F: (1.87 GB), so nothing has "
                 "been written to it. Please use a larger USB Flash Drive.");
}

}  // namespace
