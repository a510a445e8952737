#include "create/image_writer_core.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "app/page_flow.h"
#include "create/write_plan.h"
#include "drives/size_format.h"

const char kCreatingText[] = "Creating Halcyra USB Flash Drive...";
const char kVerifyingText[] = "Verifying";
const char kOpenFailedText[] = "Unable to open the USB drive. Would you like to try again?";
const char kInUseText[] =
    "USB Drive is in use - please ensure any files on this drive are closed. Would you like to "
    "try again?";
const char kWriteErrorCaption[] = "Write Error";
const char kCancelledText[] = "The Halcyra creation process has been cancelled.";
const char kCancelledCaption[] = "Cancelled";
const char kImageErrorText[] = "Error openning downloaded image - process can not continue";
const char kFileErrorCaption[] = "File Error";
const char kDriveErrorText[] = "An error occurred writing the Halcyra image to your USB Drive.";
const char kDriveErrorCaption[] = "Drive Error";
const char kDiskNotFoundFormat[] =
    "The disk that holds drive %c: could not be found, so nothing has been written to it. "
    "Please check the drive and try again.";
const char kDriveChangedFormat[] =
    "Drive %c: has changed since it was chosen, so nothing has been written to it. Please choose "
    "the drive again.";
const char kVerifyFailedText[] =
    "The Halcyra image could not be verified on your USB Drive: the data read back differs from "
    "what was written. The drive may be faulty, or smaller than it reports.";
const char kSuccessFormat[] =
    "Halcyra has been successfully written to drive %c:. Please insert the Halcyra USB Flash "
    "Drive into your computer and restart your computer to launch Halcyra. The Halcyra creator "
    "will close when ok is clicked.";
const char kSuccessCaption[] = "Operation Complete";

namespace {

constexpr unsigned kLockSettleMs = 1000;  // lets the system finish with the volume first
constexpr int kMaxVolumes = 26;

struct HeldVolume {
    DeviceHandle handle;
    bool locked;
};

// Everything one call has open; each item is released once and then forgotten.
struct WriterRun {
    const WriterOps& ops;
    const WriterShared& shared;
    HeldVolume volumes[kMaxVolumes];  // [0] the target, then the disk's other volumes
    int volumeCount;
    DeviceHandle disk;
    ImageHandle image;
    unsigned char* buffer;  // three chunks: the held-back first chunk, the chunk at hand, the read-back
    char text[512];
};

bool Cancelled(const WriterRun& run) { return run.shared.cancelRequested->load() != 0; }

// One line of the run log.
void Note(const WriterRun& run, const char* format, ...) __attribute__((format(printf, 2, 3)));
void Note(const WriterRun& run, const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    run.ops.note(run.ops.context, line);
}

// "<bytes> bytes in <ms> ms (<rate>)" of a finished phase.
void NotePhase(const WriterRun& run, const char* phase, int64_t bytes, uint32_t started) {
    const uint32_t took = run.ops.milliseconds(run.ops.context) - started;
    char rate[kSizeTextCapacity];
    FormatRate(took ? static_cast<int64_t>(static_cast<double>(bytes) * 1000.0 / took) : 0, rate);
    Note(run, "%s: %lld bytes in %lu ms (%s)", phase, static_cast<long long>(bytes),
         static_cast<unsigned long>(took), rate);
}

void ClearActivity(const WriterRun& run) {
    run.shared.downloadActive->store(0);
    run.shared.writeActive->store(0);
}

int Ask(const WriterRun& run, const char* text, const char* caption, unsigned style) {
    return run.ops.ask(run.ops.context, text, caption, style);
}

void ReleaseVolumes(WriterRun& run) {
    for (int i = run.volumeCount - 1; i >= 0; --i) {
        HeldVolume& volume = run.volumes[i];
        if (volume.locked) run.ops.unlockVolume(run.ops.context, volume.handle);
        run.ops.closeDevice(run.ops.context, volume.handle);
    }
    run.volumeCount = 0;
}

void ReleaseImage(WriterRun& run) {
    if (run.image) run.ops.closeImage(run.ops.context, run.image);
    run.image = nullptr;
}

void ReleaseDisk(WriterRun& run) {
    if (run.disk) {
        run.ops.unlockVolume(run.ops.context, run.disk);
        run.ops.closeDevice(run.ops.context, run.disk);
    }
    run.disk = nullptr;
}

void ReleaseBuffer(WriterRun& run) {
    if (run.buffer) run.ops.freeBuffer(run.ops.context, run.buffer);
    run.buffer = nullptr;
}

// Opens, locks and dismounts one volume and keeps it in the run. False when it can't be
// opened or locked (it is still kept, to be closed with the others).
bool OpenLockDismount(WriterRun& run, char letter, bool* opened) {
    char path[16];
    std::snprintf(path, sizeof path, "\\\\.\\%c:", letter);
    DeviceHandle handle = run.ops.openVolume(run.ops.context, path);
    *opened = handle != nullptr;
    if (!handle) return false;
    HeldVolume& volume = run.volumes[run.volumeCount++];
    volume = HeldVolume{handle, false};
    if (letter == run.shared.targetDrive) run.ops.pause(run.ops.context, kLockSettleMs);
    volume.locked = run.ops.lockVolume(run.ops.context, handle);
    if (!volume.locked) return false;
    // The old file system must not write its cached metadata back over the new image when the
    // volume is unlocked at the end; a volume that can't be dismounted is still locked.
    run.ops.dismountVolume(run.ops.context, handle);
    return true;
}

// Locks the disk's other volumes (a stick with two partitions has two letters): the system
// refuses raw writes into the sectors of a mounted volume.
bool LockOtherVolumes(WriterRun& run, DiskId disk) {
    char letters[kMaxVolumes];
    int count = run.ops.otherVolumes(run.ops.context, disk, run.shared.targetDrive, letters);
    for (int i = 0; i < count && run.volumeCount < kMaxVolumes; ++i) {
        bool opened = false;
        if (!OpenLockDismount(run, letters[i], &opened)) return false;
    }
    return true;
}

enum class LockOutcome { Locked, Declined, EarlyCancel, DiskNotFound, DriveChanged };

// The open-and-lock loop: ends with every volume of the target's disk open and locked, or with
// the user's No, or with a cancel noticed at a Yes.
LockOutcome OpenAndLock(WriterRun& run, DiskId* disk) {
    for (;;) {
        // Minutes may have passed since the user chose the drive: another device may have
        // taken its letter since.
        if (!run.ops.driveUnchanged(run.ops.context)) {
            Note(run, "drive %c: no longer answers as the chosen drive", run.shared.targetDrive);
            return LockOutcome::DriveChanged;
        }
        const uint32_t started = run.ops.milliseconds(run.ops.context);
        bool opened = false;
        bool locked = OpenLockDismount(run, run.shared.targetDrive, &opened);
        if (!opened) {
            if (Ask(run, kOpenFailedText, kWriteErrorCaption, kBoxIconWarning | kBoxYesNo) !=
                kAnswerYes)
                return LockOutcome::Declined;
            if (Cancelled(run)) return LockOutcome::EarlyCancel;
            continue;
        }
        if (locked) {
            // Checked before anything is written: disk 0 is never touched, and a volume whose
            // disk is unknown gets no wipe either.
            *disk = DiskId{0, 0};
            bool found = run.ops.queryDisk(run.ops.context, run.volumes[0].handle, disk) &&
                         disk->deviceNumber != 0;
            if (!found) {
                Note(run, "the volume's disk is unknown or disk 0");
                return LockOutcome::DiskNotFound;
            }
            locked = LockOtherVolumes(run, *disk);
        }
        if (locked) {
            Note(run, "lock: %d volume(s) of disk %lu locked in %lu ms", run.volumeCount,
                 static_cast<unsigned long>(disk->deviceNumber),
                 static_cast<unsigned long>(run.ops.milliseconds(run.ops.context) - started));
            return LockOutcome::Locked;
        }
        int answer = Ask(run, kInUseText, kWriteErrorCaption, kBoxIconWarning | kBoxYesNo);
        ReleaseVolumes(run);
        if (answer != kAnswerYes) return LockOutcome::Declined;
        if (Cancelled(run)) return LockOutcome::EarlyCancel;
    }
}

void WriteFailed(const WriterRun& run) {
    Note(run, "a write to the disk failed");
    if (!Cancelled(run)) Ask(run, kDriveErrorText, kDriveErrorCaption, kBoxIconError);
    run.shared.cancelRequested->store(1);
}

void VerifyFailed(const WriterRun& run) {
    Note(run, "read-back: the disk does not give back what was written (or a read failed)");
    if (!Cancelled(run)) Ask(run, kVerifyFailedText, kDriveErrorCaption, kBoxIconError);
    run.shared.cancelRequested->store(1);
}

// "<done> of <total> Written (n%)" (or Verified) and the bar, handed to the page.
void ShowChunkProgress(WriterRun& run, int64_t done, int64_t total, const char* word) {
    BuildWriteProgressLine(done, total, run.text, word);
    run.ops.showProgress(run.ops.context, run.text, BarPosition(done, total));
}

bool ReadChunk(WriterRun& run, unsigned char* into, uint32_t length) {
    uint32_t got = run.ops.readImage(run.ops.context, run.image, into, length);
    if (got == length) return true;
    Note(run, "the image file gave %lu of %lu bytes", static_cast<unsigned long>(got),
         static_cast<unsigned long>(length));
    run.shared.cancelRequested->store(1);  // the image shrank: stop without a message
    return false;
}

// Reads back one chunk from the disk and compares it with what was written there.
bool ChunkReadsBack(WriterRun& run, const ChunkPlan& plan, int64_t chunk,
                    const unsigned char* expected, unsigned char* found) {
    const uint32_t length = ChunkLength(plan, chunk);
    return run.ops.readAt(run.ops.context, run.disk, ChunkOffset(chunk), found,
                          PaddedLength(plan, chunk)) &&
           std::memcmp(expected, found, length) == 0;
}

bool WriteChunk(WriterRun& run, const ChunkPlan& plan, int64_t chunk, unsigned char* data) {
    const uint32_t length = ChunkLength(plan, chunk), padded = PaddedLength(plan, chunk);
    std::memset(data + length, 0, padded - length);
    return run.ops.writeAt(run.ops.context, run.disk, ChunkOffset(chunk), data, padded);
}

// The read-back begins: a phase of its own on the bar, and the image is read again from its
// start (chunk 0 is held already; it is read past).
bool BeginReadBack(WriterRun& run, unsigned char* scratch, uint32_t firstLength) {
    const WriterOps& ops = run.ops;
    ops.setBarRange(ops.context, 0, 100);
    ops.setStatus(ops.context, kVerifyingText);
    if (!ops.rewindImage(ops.context, run.image)) return false;
    return ReadChunk(run, scratch, firstLength);
}

// Writes and reads back the image in the order of StepAt: chunk 0 is read from the image
// first and held until every other chunk has been written and proven. Until then the disk's
// first chunk is zero, so a run that stops leaves no valid-looking table behind, and the system
// never sees the new partition table in front of a partial image. A failed write shows the
// drive error, a difference or a failed read the verification error; either stops the run.
void WriteAndProve(WriterRun& run, const ChunkPlan& plan) {
    unsigned char* held = run.buffer;                      // chunk 0 of the image
    unsigned char* data = run.buffer + kChunkSize;         // the chunk at hand
    unsigned char* found = run.buffer + 2 * kChunkSize;    // what the disk gives back
    if (!ReadChunk(run, held, ChunkLength(plan, 0))) return;
    if (plan.chunkCount > 1 && !run.ops.writeAt(run.ops.context, run.disk, 0, data, kChunkSize)) {
        WriteFailed(run);  // the data buffer is still all zero here
        return;
    }
    int64_t written = 0, verified = 0;
    bool readingBack = false;
    uint32_t phaseStart = run.ops.milliseconds(run.ops.context);
    for (int64_t index = 0; index < StepCount(plan); ++index) {
        if (Cancelled(run)) return;  // a cancel takes effect after the step in progress
        const WriteStep step = StepAt(plan, index);
        const uint32_t length = ChunkLength(plan, step.chunk);
        unsigned char* chunk = step.chunk == 0 ? held : data;
        if (step.kind == StepKind::Write) {
            if (step.chunk != 0 && !ReadChunk(run, data, length)) return;
            if (!WriteChunk(run, plan, step.chunk, chunk)) {
                WriteFailed(run);
                return;
            }
            if (step.chunk == 0) continue;  // shown with its read-back
            written += length;
            ShowChunkProgress(run, written, plan.imageSize, kWrittenWord);
            continue;
        }
        if (!readingBack) {
            readingBack = true;
            NotePhase(run, "write", written, phaseStart);
            phaseStart = run.ops.milliseconds(run.ops.context);
            if (!BeginReadBack(run, data, ChunkLength(plan, 0))) {
                if (!Cancelled(run)) VerifyFailed(run);
                return;
            }
        }
        if (step.chunk != 0 && !ReadChunk(run, data, length)) return;
        if (!ChunkReadsBack(run, plan, step.chunk, chunk, found)) {
            VerifyFailed(run);
            return;
        }
        verified += length;
        ShowChunkProgress(run, verified, plan.imageSize, kVerifiedWord);
    }
    NotePhase(run, "read-back, with chunk 0 written last", verified, phaseStart);
}

// The endings; each clears both activity flags before the page is told to close.
WriterEnding EarlyCancelEnding(WriterRun& run, bool showMessage) {
    Note(run, "ending: cancelled before anything was written");
    if (showMessage) Ask(run, kCancelledText, kCancelledCaption, kBoxIconInformation);
    run.ops.setStatus(run.ops.context, "");
    ClearActivity(run);
    run.ops.closePage(run.ops.context, false);
    return WriterEnding::EarlyCancel;
}

// Back to the drive selection page to choose again, with nothing written: WizardState 2 and
// WM_CLOSE sent, so that the page loop reads the result after the page has gone.
WriterEnding ToDrivePage(WriterRun& run, WriterEnding ending) {
    ClearActivity(run);
    run.ops.setWizardState(run.ops.context, kProgressStopped);
    run.ops.closePage(run.ops.context, true);
    return ending;
}

// No to a retry prompt, or no transfer buffer: the run is cancelled. A cancel confirmed on the
// page meanwhile ends it as the early cancel, with one message.
WriterEnding DeclinedEnding(WriterRun& run, WriterEnding ending) {
    Note(run, "ending: %s, nothing written",
         ending == WriterEnding::NoBuffer ? "no transfer buffer" : "the user declined to retry");
    Ask(run, kCancelledText, kCancelledCaption, kBoxIconInformation);
    if (Cancelled(run)) {
        EarlyCancelEnding(run, false);
        return ending;
    }
    return ToDrivePage(run, ending);
}

WriterEnding ImageErrorEnding(WriterRun& run) {
    Note(run, "ending: the image file can't be opened or is empty, nothing written");
    Ask(run, kImageErrorText, kFileErrorCaption, kBoxIconError);
    if (Cancelled(run)) {
        EarlyCancelEnding(run, true);
        return WriterEnding::ImageError;
    }
    return ToDrivePage(run, WriterEnding::ImageError);
}

// The disk is unknown, the letter is no longer the chosen drive, or the disk is too small: the
// user is told why.
WriterEnding NothingWrittenEnding(WriterRun& run, const char* text, WriterEnding ending) {
    Note(run, "ending: nothing written: %s", text);
    Ask(run, text, kDriveErrorCaption, kBoxIconError);
    return ToDrivePage(run, ending);
}

WriterEnding NothingWrittenEnding(WriterRun& run, const char* format, char letter,
                                  WriterEnding ending) {
    std::snprintf(run.text, sizeof run.text, format, letter);
    return NothingWrittenEnding(run, run.text, ending);
}

WriterEnding WriteCancelEnding(WriterRun& run) {
    Note(run, "ending: the write stopped (cancel, short image, write or read-back failure)");
    run.ops.setStatus(run.ops.context, kCancelledText);
    Ask(run, kCancelledText, kCancelledCaption, kBoxIconInformation);
    ClearActivity(run);
    run.ops.setWizardState(run.ops.context, kProgressStopped);
    run.ops.closePage(run.ops.context, true);
    return WriterEnding::WriteCancel;
}

WriterEnding SuccessEnding(WriterRun& run) {
    Note(run, "ending: success, the image is written and read back whole");
    std::snprintf(run.text, sizeof run.text, kSuccessFormat, run.shared.targetDrive);
    Ask(run, run.text, kSuccessCaption, kBoxIconInformation);
    run.ops.setWizardState(run.ops.context, kProgressFinished);
    ClearActivity(run);
    run.ops.closePage(run.ops.context, false);
    return WriterEnding::Success;
}

void ReleaseAll(WriterRun& run) {
    ReleaseImage(run);
    ReleaseDisk(run);
    ReleaseBuffer(run);
    ReleaseVolumes(run);
}

WriterEnding Run(WriterRun& run) {
    const WriterOps& ops = run.ops;
    const char letter = run.shared.targetDrive;
    run.shared.writeActive->store(1);
    ops.setBarRange(ops.context, 0, 100);
    ops.setStatus(ops.context, kCreatingText);
    if (Cancelled(run)) return EarlyCancelEnding(run, true);

    DiskId disk{0, 0};
    switch (OpenAndLock(run, &disk)) {
    case LockOutcome::Declined:
        return DeclinedEnding(run, WriterEnding::Declined);
    case LockOutcome::EarlyCancel:
        return EarlyCancelEnding(run, true);
    case LockOutcome::DiskNotFound:
        ReleaseVolumes(run);
        return NothingWrittenEnding(run, kDiskNotFoundFormat, letter, WriterEnding::DiskNotFound);
    case LockOutcome::DriveChanged:
        return NothingWrittenEnding(run, kDriveChangedFormat, letter, WriterEnding::DriveChanged);
    case LockOutcome::Locked:
        break;
    }

    run.image = ops.openImage(ops.context, run.shared.imagePath);
    int64_t imageSize = run.image ? ops.imageSize(ops.context, run.image) : -1;
    Note(run, "image: %lld bytes", static_cast<long long>(imageSize));
    if (imageSize <= 0) {  // missing, unreadable or empty: there is nothing to write
        ReleaseAll(run);
        return ImageErrorEnding(run);
    }
    // A disk known to be too small gets nothing, not even the wipe.
    if (FitOnDisk(imageSize, run.shared.diskLengthKnown, run.shared.diskLength) ==
        ImageFit::TooSmall) {
        ReleaseAll(run);
        TooSmallText(run.text, sizeof run.text, imageSize, letter, run.shared.diskLength);
        return NothingWrittenEnding(run, run.text, WriterEnding::TooSmall);
    }
    run.buffer = static_cast<unsigned char*>(ops.allocBuffer(ops.context, 3 * kChunkSize,
                                                             kChunkSize));
    if (!run.buffer) {
        ReleaseAll(run);
        if (Cancelled(run)) return EarlyCancelEnding(run, true);
        return DeclinedEnding(run, WriterEnding::NoBuffer);
    }

    DeviceHandle volume = run.volumes[0].handle;
    ops.lockVolume(ops.context, volume);
    char diskPath[40];
    std::snprintf(diskPath, sizeof diskPath, "\\\\.\\PHYSICALDRIVE%u",
                  static_cast<unsigned>(disk.deviceNumber));
    run.disk = ops.openDisk(ops.context, diskPath);
    uint32_t sector = 0;
    if (run.disk) {
        // The last check before the first byte: the disk about to be written is the chosen one.
        if (!ops.diskUnchanged(ops.context, run.disk)) {
            Note(run, "%s no longer answers as the chosen drive's disk", diskPath);
            ReleaseAll(run);
            return NothingWrittenEnding(run, kDriveChangedFormat, letter,
                                        WriterEnding::DriveChanged);
        }
        ops.lockVolume(ops.context, run.disk);
        sector = ops.sectorSize(ops.context, run.disk);
    }
    // The last moment at which a cancel leaves the drive as it was: nothing is written yet.
    if (Cancelled(run)) {
        ReleaseAll(run);
        return EarlyCancelEnding(run, true);
    }
    // Wipe the volume's boot sector and file-system header (the buffer is still all zero).
    const bool wiped = ops.writeAt(ops.context, volume, 0, run.buffer, kChunkSize);
    Note(run, "%s, sector size %lu; the volume's first 64 KiB %s", diskPath,
         static_cast<unsigned long>(sector), wiped ? "wiped" : "could not be wiped");

    // A disk that could not be opened fails at its first write, with the drive error. Only an
    // image read back whole from the disk counts; the locks are held meanwhile.
    const ChunkPlan plan = MakeChunkPlan(imageSize, sector);
    WriteAndProve(run, plan);
    if (!Cancelled(run) && run.disk) ops.refreshLayout(ops.context, run.disk);

    ReleaseAll(run);
    return Cancelled(run) ? WriteCancelEnding(run) : SuccessEnding(run);
}

}  // namespace

bool RunImageWriter(const WriterOps& ops, const WriterShared& shared, WriterEnding* ending) {
    WriterRun run{ops, shared, {}, 0, nullptr, nullptr, nullptr, {}};
    WriterEnding reached = Run(run);
    if (ending) *ending = reached;
    return reached == WriterEnding::Success;
}
