#include "write/image_writer_core.h"
#include "write/writer_run.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "common/wizard_state.h"
#include "drives/size_format.h"
#include "write/write_plan.h"

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

bool Cancelled(const WriterRun& run) { return run.shared.cancelRequested->load() != 0; }

void Note(const WriterRun& run, const char* format, ...) {
    char line[256];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(line, sizeof line, format, arguments);
    va_end(arguments);
    run.ops.note(run.ops.context, line);
}

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

const char* WithCause(WriterRun& run, const char* text, const char* what) {
    const uint32_t error = run.ops.lastError(run.ops.context);
    char system[kDriveFaultTextSize / 2] = "";
    if (ClassifyDriveError(error) == DriveFault::Other)
        run.ops.errorText(run.ops.context, error, system, sizeof system);
    Note(run, "%s failed (error %lu)", what, static_cast<unsigned long>(error));
    DriveFaultText(run.text, sizeof run.text, text, error, system);
    return run.text;
}

void ReleaseVolumes(WriterRun& run) {
    for (int i = run.volumeCount - 1; i >= 0; --i) {
        HeldVolume& volume = run.volumes[i];
        if (volume.locked) run.ops.unlockVolume(run.ops.context, volume.handle);
        run.ops.closeDevice(run.ops.context, volume.handle);
    }
    run.volumeCount = 0;
}

void ReleaseDisk(WriterRun& run) {
    if (run.disk) run.ops.closeDevice(run.ops.context, run.disk);
    run.disk = nullptr;
}

void ReleaseBuffer(WriterRun& run) {
    if (run.buffer) run.ops.freeBuffer(run.ops.context, run.buffer);
    run.buffer = nullptr;
}

// The image's handle is its caller's, which closes it.
void ReleaseAll(WriterRun& run) {
    ReleaseDisk(run);
    ReleaseBuffer(run);
    ReleaseVolumes(run);
}

namespace {

constexpr unsigned kLockSettleMs = 1000;  // lets the system finish with the volume first

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
            if (Ask(run, WithCause(run, kOpenFailedText, "opening the volume"), kWriteErrorCaption,
                    kBoxIconWarning | kBoxYesNo) != kAnswerYes)
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
        int answer = Ask(run, WithCause(run, kInUseText, "locking the disk's volumes"),
                         kWriteErrorCaption, kBoxIconWarning | kBoxYesNo);
        ReleaseVolumes(run);
        if (answer != kAnswerYes) return LockOutcome::Declined;
        if (Cancelled(run)) return LockOutcome::EarlyCancel;
    }
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

    run.image = run.shared.image->handle;
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

    // The disk is opened and checked before the first byte of any volume is written, so that a
    // disk that can't be opened, or isn't the chosen one, leaves the stick as it was. The
    // volumes stay locked from the loop above; the disk handle takes no lock (it is no volume).
    char diskPath[40];
    std::snprintf(diskPath, sizeof diskPath, "\\\\.\\PHYSICALDRIVE%u",
                  static_cast<unsigned>(disk.deviceNumber));
    run.disk = ops.openDisk(ops.context, diskPath);
    if (!run.disk) {
        char what[64];
        std::snprintf(what, sizeof what, "opening %s", diskPath);
        WithCause(run, kDriveErrorText, what);
        ReleaseAll(run);
        return NothingWrittenEnding(run, run.text, WriterEnding::DiskNotOpened);
    }
    // The last check before the first byte: the disk about to be written is the chosen one.
    if (!ops.diskUnchanged(ops.context, run.disk)) {
        Note(run, "%s no longer answers as the chosen drive's disk", diskPath);
        ReleaseAll(run);
        return NothingWrittenEnding(run, kDriveChangedFormat, letter, WriterEnding::DriveChanged);
    }
    const uint32_t sector = ops.sectorSize(ops.context, run.disk);
    Note(run, "%s opened, sector size %lu", diskPath, static_cast<unsigned long>(sector));
    // The last moment at which a cancel leaves the drive as it was: nothing is written yet.
    if (Cancelled(run)) {
        ReleaseAll(run);
        return EarlyCancelEnding(run, true);
    }

    // Only an image read back whole from the disk counts; the locks are held meanwhile.
    const ChunkPlan plan = MakeChunkPlan(imageSize, sector);
    const bool altered = !WriteAndProve(run, plan);
    if (!altered && !Cancelled(run)) ops.refreshLayout(ops.context, run.disk);

    ReleaseAll(run);
    if (altered) {
        Note(run, "ending: the kept image is not the recorded one; its first chunk is not written");
        return WriterEnding::ImageAltered;
    }
    return Cancelled(run) ? WriteCancelEnding(run) : SuccessEnding(run);
}

}  // namespace

bool RunImageWriter(const WriterOps& ops, const WriterShared& shared, WriterEnding* ending) {
    WriterRun run{ops, shared, {}, 0, nullptr, nullptr, nullptr, {}};
    WriterEnding reached = Run(run);
    if (ending) *ending = reached;
    return reached == WriterEnding::Success;
}
