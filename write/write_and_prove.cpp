// The write itself: every chunk but the first written, all of them read back and compared,
// then the first chunk written and read back.
#include <cstring>

#include "common/time_left.h"
#include "write/writer_run.h"

namespace {

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

}  // namespace

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
