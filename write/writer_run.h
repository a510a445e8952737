// One call of the raw image writer as its parts share it: what it holds open and the steps
// and endings the control flow in image_writer_core.cpp calls.
#pragma once
#include <cstdint>

#include "write/drive_fault.h"
#include "write/image_writer_core.h"
#include "write/write_plan.h"

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
    char text[kDriveFaultTextSize];
};


bool Cancelled(const WriterRun& run);
// One line of the run log.
void Note(const WriterRun& run, const char* format, ...) __attribute__((format(printf, 2, 3)));
// "<bytes> bytes in <ms> ms (<rate>)" of a finished phase.
void NotePhase(const WriterRun& run, const char* phase, int64_t bytes, uint32_t started);
void ClearActivity(const WriterRun& run);
int Ask(const WriterRun& run, const char* text, const char* caption, unsigned style);
// `text` with the cause of the call that failed last below it, in run.text; the code goes to
// the run log with `what` failed.
const char* WithCause(WriterRun& run, const char* text, const char* what);

// Each releases what it names once and forgets it.
void ReleaseVolumes(WriterRun& run);
void ReleaseDisk(WriterRun& run);
void ReleaseBuffer(WriterRun& run);
void ReleaseAll(WriterRun& run);

// Zeroes the disk's first chunk, wipes the volume's start, then writes and reads back the
// image, chunk 0 last (write_and_prove.cpp), taking the image's SHA-256 as it reads it for the
// write. A failure or a cancel leaves CancelRequested set. False, with nothing more written,
// when the image is a kept one whose SHA-256 is not the recorded one.
bool WriteAndProve(WriterRun& run, const ChunkPlan& plan);

// The endings (writer_endings.cpp); each clears both activity flags before the page is told
// to close, and returns the ending it took.
WriterEnding EarlyCancelEnding(WriterRun& run, bool showMessage);
WriterEnding ToDrivePage(WriterRun& run, WriterEnding ending);
WriterEnding DeclinedEnding(WriterRun& run, WriterEnding ending);
WriterEnding ImageErrorEnding(WriterRun& run);
WriterEnding NothingWrittenEnding(WriterRun& run, const char* text, WriterEnding ending);
WriterEnding NothingWrittenEnding(WriterRun& run, const char* format, char letter,
                                  WriterEnding ending);
WriterEnding WriteCancelEnding(WriterRun& run);
WriterEnding SuccessEnding(WriterRun& run);
