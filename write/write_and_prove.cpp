// The write itself: the disk's first chunk zeroed and the volume's start wiped, every chunk but
// the first written, all of them read back and compared, then the first chunk written and read
// back.
#include <cstring>

#include "common/time_left.h"
#include "write/writer_run.h"

namespace {

// A write or a read of the disk failed: the drive error with its cause.
void TransferFailed(WriterRun& run, const char* what) {
    const char* text = WithCause(run, kDriveErrorText, what);
    if (!Cancelled(run)) Ask(run, text, kDriveErrorCaption, kBoxIconError);
    run.shared.cancelRequested->store(1);
}

void VerifyFailed(const WriterRun& run) {
    Note(run, "read-back: the disk does not give back what was written");
    if (!Cancelled(run)) Ask(run, kVerifyFailedText, kDriveErrorCaption, kBoxIconError);
    run.shared.cancelRequested->store(1);
}

// "<done> of <total> Written (n%)" (or Verified), the time left of that phase, and the bar,
// handed to the page. Each run has a worker thread of its own, and each phase its word.
void ShowChunkProgress(WriterRun& run, int64_t done, int64_t total, const char* word) {
    static thread_local TimeLeftClock clock{};
    static thread_local const char* phase = nullptr;
    if (word != phase) {
        clock = TimeLeftClock{};
        phase = word;
    }
    NoteProgress(&clock, run.ops.milliseconds(run.ops.context), static_cast<uint64_t>(done),
                 static_cast<uint64_t>(total));
    char left[kTimeLeftTextSize];
    TimeLeftText(&clock, left, sizeof left);
    BuildWriteProgressLine(done, total, run.text, word, left);
    run.ops.showProgress(run.ops.context, run.text, BarPosition(done, total));
}

// The image's SHA-256 after the write has read it whole: kept in the run's WriterImage, and
// compared with a kept image's record. False when a kept image is not the recorded one (or its
// SHA-256 can't be had, so that it can't be shown to be).
bool ImageIsTheRecordedOne(WriterRun& run, bool hashing) {
    WriterImage& image = *run.shared.image;
    image.hashed = hashing && run.ops.hashEnd(run.ops.context, image.sha256);
    if (!image.expectedSha256) return true;
    if (image.hashed && std::memcmp(image.sha256, image.expectedSha256, kImageDigestSize) == 0) {
        Note(run, "kept image: its SHA-256 as written is the recorded one");
        return true;
    }
    Note(run, "kept image: %s", image.hashed ? "its SHA-256 as written differs from the record"
                                             : "its SHA-256 can't be taken");
    return false;
}

bool ReadChunk(WriterRun& run, unsigned char* into, uint32_t length) {
    uint32_t got = run.ops.readImage(run.ops.context, run.image, into, length);
    if (got == length) return true;
    Note(run, "the image file gave %lu of %lu bytes", static_cast<unsigned long>(got),
         static_cast<unsigned long>(length));
    run.shared.cancelRequested->store(1);  // the image shrank: stop without a message
    return false;
}

// Reads back one chunk from the disk and compares it with what was written there; a read that
// fails is told with its cause, a difference as such.
bool ChunkReadsBack(WriterRun& run, const ChunkPlan& plan, int64_t chunk,
                    const unsigned char* expected, unsigned char* found) {
    if (!run.ops.readAt(run.ops.context, run.disk, ChunkOffset(chunk), found,
                        PaddedLength(plan, chunk))) {
        TransferFailed(run, "read-back: a read of the disk");
        return false;
    }
    if (std::memcmp(expected, found, ChunkLength(plan, chunk)) == 0) return true;
    VerifyFailed(run);
    return false;
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

}  // namespace

// Writes and reads back the image in the order of StepAt: chunk 0 is read from the image
// first and held until every other chunk has been written and proven. Until then the disk's
// first chunk is zero, so a run that stops leaves no valid-looking table behind, and the system
// never sees the new partition table in front of a partial image. A failed write or read shows
// the drive error with its cause, a difference the verification error; either stops the run.
//
// The image is read once for the write, in its own order (chunk 0 first), and its SHA-256 taken
// on the way; once every chunk has been read, and before the disk's first chunk is written, a
// kept image must prove to be the recorded one.
bool WriteAndProve(WriterRun& run, const ChunkPlan& plan) {
    unsigned char* held = run.buffer;                      // chunk 0 of the image
    unsigned char* data = run.buffer + kChunkSize;         // the chunk at hand
    unsigned char* found = run.buffer + 2 * kChunkSize;    // what the disk gives back
    const bool hashing = run.ops.hashBegin(run.ops.context);
    bool hashChecked = false;
    if (!ReadChunk(run, held, ChunkLength(plan, 0))) return true;
    if (hashing) run.ops.hashAdd(run.ops.context, held, ChunkLength(plan, 0));
    // The disk's first chunk is zeroed before anything else is written (the data buffer is
    // still all zero here): a disk that refuses writes, such as one whose boot sector a guard
    // program protects, is found before the volume has lost anything. Only then are the
    // volume's boot sector and file-system header wiped.
    if (!run.ops.writeAt(run.ops.context, run.disk, 0, data, kChunkSize)) {
        TransferFailed(run, "a write to the disk");
        return true;
    }
    const bool wiped =
        run.ops.writeAt(run.ops.context, run.volumes[0].handle, 0, data, kChunkSize);
    Note(run, "the volume's first 64 KiB %s", wiped ? "wiped" : "could not be wiped");
    int64_t written = 0, verified = 0;
    bool readingBack = false;
    uint32_t phaseStart = run.ops.milliseconds(run.ops.context);
    for (int64_t index = 0; index < StepCount(plan); ++index) {
        if (Cancelled(run)) return true;  // a cancel takes effect after the step in progress
        const WriteStep step = StepAt(plan, index);
        const uint32_t length = ChunkLength(plan, step.chunk);
        unsigned char* chunk = step.chunk == 0 ? held : data;
        // Every chunk has been read for the write once the steps that read new ones are over.
        if (!hashChecked && !(step.kind == StepKind::Write && step.chunk != 0)) {
            hashChecked = true;
            if (!ImageIsTheRecordedOne(run, hashing)) return false;
        }
        if (step.kind == StepKind::Write) {
            if (step.chunk != 0) {
                if (!ReadChunk(run, data, length)) return true;
                if (hashing) run.ops.hashAdd(run.ops.context, data, length);
            }
            if (!WriteChunk(run, plan, step.chunk, chunk)) {
                TransferFailed(run, "a write to the disk");
                return true;
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
                return true;
            }
        }
        if (step.chunk != 0 && !ReadChunk(run, data, length)) return true;
        if (!ChunkReadsBack(run, plan, step.chunk, chunk, found)) return true;
        verified += length;
        ShowChunkProgress(run, verified, plan.imageSize, kVerifiedWord);
    }
    NotePhase(run, "read-back, with chunk 0 written last", verified, phaseStart);
    return true;
}
