// The raw image writer's control flow over a small table of operations, so that every ending
// can be reached without a device or a window. image_writer_win32.cpp fills the table with
// the Win32 calls; the unit tests fill it with a script.
#pragma once
#include <atomic>
#include <cstdint>

#include "drives/drive_identity.h"

// Message box styles and answers, with the values of the Win32 constants.
constexpr unsigned kBoxIconError = 0x10;        // MB_ICONERROR
constexpr unsigned kBoxIconWarning = 0x30;      // MB_ICONWARNING
constexpr unsigned kBoxIconInformation = 0x40;  // MB_ICONINFORMATION
constexpr unsigned kBoxYesNo = 0x4;             // MB_YESNO
constexpr int kAnswerOk = 1;                    // IDOK
constexpr int kAnswerYes = 6;                   // IDYES
constexpr int kAnswerNo = 7;                    // IDNO

extern const char kCreatingText[];
extern const char kVerifyingText[];
extern const char kOpenFailedText[];
extern const char kInUseText[];
extern const char kWriteErrorCaption[];
extern const char kCancelledText[];
extern const char kCancelledCaption[];
extern const char kImageErrorText[];
extern const char kFileErrorCaption[];
extern const char kDriveErrorText[];
extern const char kDriveErrorCaption[];
extern const char kDiskNotFoundFormat[];  // with the drive letter
extern const char kDriveChangedFormat[];  // with the drive letter
extern const char kVerifyFailedText[];
extern const char kSuccessFormat[];       // with the drive letter
extern const char kSuccessCaption[];

constexpr uint32_t kImageDigestSize = 32;  // SHA-256

// Handles are opaque to the writer; null means "not open".
using DeviceHandle = void*;
using ImageHandle = void*;

struct WriterOps {
    void* context;

    // Volumes and disks.
    DeviceHandle (*openVolume)(void* context, const char* path);
    bool (*lockVolume)(void* context, DeviceHandle device);
    bool (*dismountVolume)(void* context, DeviceHandle device);
    void (*unlockVolume)(void* context, DeviceHandle device);
    void (*closeDevice)(void* context, DeviceHandle device);
    bool (*queryDisk)(void* context, DeviceHandle volume, DiskId* disk);
    // Letters of the other volumes on `disk` (every letter but `exclude`); returns how many
    // were stored in `letters` (room for 26).
    int (*otherVolumes)(void* context, DiskId disk, char exclude, char* letters);
    DeviceHandle (*openDisk)(void* context, const char* path);
    uint32_t (*sectorSize)(void* context, DeviceHandle disk);  // 0 when the disk doesn't say
    bool (*writeAt)(void* context, DeviceHandle device, int64_t offset, const void* data,
                    uint32_t length);
    bool (*readAt)(void* context, DeviceHandle device, int64_t offset, void* data,
                   uint32_t length);
    // True while the target letter still answers as the drive the user chose did.
    bool (*driveUnchanged)(void* context);
    // True when the opened disk still answers as the chosen drive's disk did.
    bool (*diskUnchanged)(void* context, DeviceHandle disk);
    // Tells the system that the disk's layout has changed, so that its new volumes appear.
    void (*refreshLayout)(void* context, DeviceHandle disk);
    // The system error code of the open, lock, write or read above that failed last
    // (kShortTransfer for a write or read that moved fewer bytes without an error), and the
    // system's own text for a code (empty when it has none).
    uint32_t (*lastError)(void* context);
    void (*errorText)(void* context, uint32_t error, char* out, uint32_t size);

    // The image file, through the handle its caller opened (WriterImage).
    int64_t (*imageSize)(void* context, ImageHandle image);  // -1 when unknown; rewinds
    uint32_t (*readImage)(void* context, ImageHandle image, void* data, uint32_t length);
    bool (*rewindImage)(void* context, ImageHandle image);
    // The image's SHA-256, taken in the same pass as the write: begun before the first byte is
    // read (false when the system has none), each piece in the image's order, and its end.
    bool (*hashBegin)(void* context);
    void (*hashAdd)(void* context, const void* data, uint32_t length);
    bool (*hashEnd)(void* context, uint8_t digest[kImageDigestSize]);

    // The transfer buffer: zero-filled, aligned to `alignment` bytes.
    void* (*allocBuffer)(void* context, uint32_t size, uint32_t alignment);
    void (*freeBuffer)(void* context, void* buffer);

    // The user and the page (the Win32 side drops these once the run's page has gone; a
    // question then counts as No).
    int (*ask)(void* context, const char* text, const char* caption, unsigned style);
    void (*setStatus)(void* context, const char* text);
    void (*setBarRange)(void* context, int low, int high);  // the position goes back to low
    // A progress line with its bar position: shown when the page gets to it, never waited for.
    void (*showProgress)(void* context, const char* line, int bar);
    void (*setWizardState)(void* context, int32_t state);
    void (*closePage)(void* context, bool waitForIt);  // WM_CLOSE sent (true) or posted
    void (*pause)(void* context, unsigned milliseconds);

    // The run log: one line per phase and ending, and a clock for the phases' times.
    void (*note)(void* context, const char* text);
    uint32_t (*milliseconds)(void* context);
};

// The image the writer puts on the disk. Its caller opens the file once, for reading, with a
// share mode that lets nobody else write or delete it, and that one handle serves the whole
// run: the SHA-256 taken as the image is written, the write and the read-back read the same
// bytes, whatever anyone does to the file's name meanwhile.
struct WriterImage {
    ImageHandle handle;  // null when the file could not be opened
    // The recorded SHA-256 of a kept image; null for a download. The disk's first chunk is
    // written only when the image's own SHA-256 is this one.
    const uint8_t* expectedSha256;
    // Out: the image's SHA-256, once it has been read whole (false where the system has none).
    bool hashed;
    uint8_t sha256[kImageDigestSize];
};

// The shared state the writer reads and changes.
struct WriterShared {
    char targetDrive;
    WriterImage* image;
    std::atomic<uint8_t>* cancelRequested;
    std::atomic<uint8_t>* downloadActive;
    std::atomic<uint8_t>* writeActive;
    // The chosen disk's length, when its device answered it.
    bool diskLengthKnown;
    int64_t diskLength;
};

enum class WriterEnding {
    EarlyCancel,   // cancel before any device was written; page closes
    Declined,      // No to a retry prompt; nothing written; page closes, 2
    ImageError,    // image can't be opened or is empty; nothing written; page closes, 2
    NoBuffer,      // transfer buffer can't be allocated; nothing written; page closes, 2
    DiskNotFound,  // the volume's disk is unknown or disk 0; nothing written; page closes, 2
    DriveChanged,  // the letter is no longer the chosen drive; nothing written; page closes, 2
    DiskNotOpened,  // the disk can't be opened; nothing written; page closes, 2
    TooSmall,      // the disk is known to be smaller than the image; nothing written; closes, 2
    ImageAltered,  // a kept image whose SHA-256 is not the recorded one: the disk got all but
                   // its first chunk; no word to the user, the page stays open for a download
    WriteCancel,   // user cancel, short image, write, read or verification failure; closes, 2
    Success,       // the whole image is on the disk and read back; page closes, 0
};

// Runs the whole writer; `ending` (optional) tells which ending it took. True only on success.
bool RunImageWriter(const WriterOps& ops, const WriterShared& shared, WriterEnding* ending);
