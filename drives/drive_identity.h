// What identifies the drive behind a letter between the user's choice and the write, and
// whether the image fits on it. The answers come from the device, not from its file system, so
// a stick that Windows can't read (never formatted, a foreign file system, a stopped write)
// still has an identity. No window and no device here; drive_identity_win32.cpp asks.
#pragma once
#include <cstddef>
#include <cstdint>

// Which physical device a volume lies on (STORAGE_DEVICE_NUMBER without the partition).
struct DiskId {
    uint32_t deviceType;
    uint32_t deviceNumber;
};

constexpr size_t kDescriptorTextSize = 64;

// The device descriptor's texts; each empty when the device gives none.
struct DeviceDescriptor {
    char vendor[kDescriptorTextSize];
    char product[kDescriptorTextSize];
    char serial[kDescriptorTextSize];
};

// Every answer the drive gave; a query that failed leaves its `...Known` false.
struct DriveIdentity {
    unsigned type;  // the drive type of the root (2: removable)
    bool numberKnown;
    DiskId disk;  // the physical disk the volume lies on
    bool lengthKnown;
    int64_t length;  // bytes of that whole disk
    bool descriptorKnown;
    DeviceDescriptor descriptor;
    bool volumeSerialKnown;
    uint32_t volumeSerial;
};

// What an opened disk handle answers: its number and its length.
struct DiskAnswers {
    bool numberKnown;
    DiskId disk;
    bool lengthKnown;
    int64_t length;
};

// Query by query: a query that was answered alike both times, or not answered either time,
// speaks for the same drive; answered once only, or answered differently, is a change. Both
// times the letter must be a removable drive.
bool SameChosenDrive(const DriveIdentity& chosen, const DriveIdentity& now);
// The same rule for the disk handle the image is about to be written through.
bool SameChosenDisk(const DriveIdentity& chosen, const DiskAnswers& now);

// The device descriptor's texts from the raw answer of a storage property query (a
// STORAGE_DEVICE_DESCRIPTOR of `size` bytes): each text is found at its offset, trimmed of the
// spaces devices pad it with; an offset of 0 or outside the answer means no text. False when
// the answer is too short to be a descriptor.
bool ParseDeviceDescriptor(const unsigned char* data, size_t size, DeviceDescriptor* out);

// The identity as one line for the run log; "unanswered" for each query that failed.
constexpr size_t kIdentityTextSize = 400;
void DescribeIdentity(char* out, size_t size, const DriveIdentity& identity);

// Whether an image of `imageSize` bytes fits on the chosen disk. Unknown when either size is.
enum class ImageFit { Fits, TooSmall, Unknown };
ImageFit FitOnDisk(int64_t imageSize, bool lengthKnown, int64_t diskLength);

// "The Halcyra image (<size>) is larger than drive <letter>: (<size>), so nothing ..."
constexpr size_t kTooSmallTextSize = 256;
void TooSmallText(char* out, size_t size, int64_t imageSize, char letter, int64_t diskLength);

// Win32 glue (drive_identity_win32.cpp).
// What the drive behind `letter` answers now.
DriveIdentity IdentifyDrive(char letter);
// What an opened disk handle answers.
DiskAnswers AskDisk(void* diskHandle);
// The disk an opened volume or disk handle lies on; false when the device doesn't say.
bool AskDeviceNumber(void* deviceHandle, DiskId* disk);
