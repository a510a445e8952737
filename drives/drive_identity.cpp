#include "drives/drive_identity.h"

#include <cstdio>
#include <cstring>

#include "drives/size_format.h"

namespace {

constexpr unsigned kRemovable = 2;  // the platform's DRIVE_REMOVABLE

// One query's two answers: alike, or missing both times.
template <typename Value, typename Equal>
bool SameAnswer(bool knownBefore, const Value& before, bool knownNow, const Value& now,
                Equal equal) {
    if (knownBefore != knownNow) return false;
    return !knownNow || equal(before, now);
}

bool SameDisk(const DiskId& a, const DiskId& b) {
    return a.deviceType == b.deviceType && a.deviceNumber == b.deviceNumber;
}
bool SameLength(const int64_t& a, const int64_t& b) { return a == b; }
bool SameSerial(const uint32_t& a, const uint32_t& b) { return a == b; }
bool SameDescriptor(const DeviceDescriptor& a, const DeviceDescriptor& b) {
    return std::strcmp(a.vendor, b.vendor) == 0 && std::strcmp(a.product, b.product) == 0 &&
           std::strcmp(a.serial, b.serial) == 0;
}

uint32_t ReadWord(const unsigned char* data) {
    return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
           static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
}

// The text at `offset` of the answer, without the spaces around it.
void TextAt(const unsigned char* data, size_t size, uint32_t offset, char* out) {
    out[0] = 0;
    if (offset == 0 || offset >= size) return;
    const char* text = reinterpret_cast<const char*>(data + offset);
    size_t length = 0;
    while (offset + length < size && text[length]) ++length;
    while (length > 0 && text[0] == ' ') ++text, --length;
    while (length > 0 && text[length - 1] == ' ') --length;
    if (length >= kDescriptorTextSize) length = kDescriptorTextSize - 1;
    std::memcpy(out, text, length);
    out[length] = 0;
}

}  // namespace

bool SameChosenDrive(const DriveIdentity& chosen, const DriveIdentity& now) {
    return chosen.type == kRemovable && now.type == kRemovable &&
           SameAnswer(chosen.numberKnown, chosen.disk, now.numberKnown, now.disk, SameDisk) &&
           SameAnswer(chosen.lengthKnown, chosen.length, now.lengthKnown, now.length, SameLength) &&
           SameAnswer(chosen.descriptorKnown, chosen.descriptor, now.descriptorKnown,
                      now.descriptor, SameDescriptor) &&
           SameAnswer(chosen.volumeSerialKnown, chosen.volumeSerial, now.volumeSerialKnown,
                      now.volumeSerial, SameSerial);
}

bool SameChosenDisk(const DriveIdentity& chosen, const DiskAnswers& now) {
    return SameAnswer(chosen.numberKnown, chosen.disk, now.numberKnown, now.disk, SameDisk) &&
           SameAnswer(chosen.lengthKnown, chosen.length, now.lengthKnown, now.length, SameLength);
}

bool ParseDeviceDescriptor(const unsigned char* data, size_t size, DeviceDescriptor* out) {
    // Version, Size, four type bytes, then the offsets of vendor, product, revision and serial.
    constexpr size_t kVendorAt = 12, kProductAt = 16, kSerialAt = 24, kHeader = 28;
    *out = DeviceDescriptor{};
    if (!data || size < kHeader) return false;
    const uint32_t declared = ReadWord(data + 4);
    if (declared >= kHeader && declared < size) size = declared;
    TextAt(data, size, ReadWord(data + kVendorAt), out->vendor);
    TextAt(data, size, ReadWord(data + kProductAt), out->product);
    TextAt(data, size, ReadWord(data + kSerialAt), out->serial);
    return true;
}

void DescribeIdentity(char* out, size_t size, const DriveIdentity& identity) {
    char number[48] = "unanswered", length[48] = "unanswered", serial[16] = "unanswered";
    char descriptor[3 * kDescriptorTextSize + 48] = "unanswered";
    if (identity.numberKnown)
        std::snprintf(number, sizeof number, "%lu (type %lu)",
                      static_cast<unsigned long>(identity.disk.deviceNumber),
                      static_cast<unsigned long>(identity.disk.deviceType));
    if (identity.lengthKnown)
        std::snprintf(length, sizeof length, "%lld bytes", static_cast<long long>(identity.length));
    if (identity.descriptorKnown)
        std::snprintf(descriptor, sizeof descriptor, "\"%s\" \"%s\" serial \"%s\"",
                      identity.descriptor.vendor, identity.descriptor.product,
                      identity.descriptor.serial);
    if (identity.volumeSerialKnown)
        std::snprintf(serial, sizeof serial, "%04X-%04X",
                      static_cast<unsigned>(identity.volumeSerial >> 16),
                      static_cast<unsigned>(identity.volumeSerial & 0xFFFF));
    std::snprintf(out, size, "type %u, disk %s, length %s, device %s, volume serial %s",
                  identity.type, number, length, descriptor, serial);
}

ImageFit FitOnDisk(int64_t imageSize, bool lengthKnown, int64_t diskLength) {
    if (!lengthKnown || diskLength <= 0 || imageSize <= 0) return ImageFit::Unknown;
    return imageSize > diskLength ? ImageFit::TooSmall : ImageFit::Fits;
}

void TooSmallText(char* out, size_t size, int64_t imageSize, char letter, int64_t diskLength) {
    char imageText[kSizeTextCapacity], diskText[kSizeTextCapacity];
    FormatSize(imageSize, imageText);
    FormatSize(diskLength, diskText);
    std::snprintf(out, size,
                  "The Halcyra image (%s) is larger than drive %c: (%s), so nothing has been "
                  "written to it. Please use a larger USB Flash Drive.",
                  imageText, letter, diskText);
}
