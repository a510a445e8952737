// Arithmetic of the raw write: which chunk goes where, how long each write is, and the
// progress figures shown after each chunk. No window and no device here.
#pragma once
#include <cstdint>

constexpr uint32_t kChunkSize = 65536;
constexpr uint32_t kDefaultSectorSize = 512;

// The sector size to write with: what the disk reported when it is a power of two from 512 up
// to the chunk size (so that whole chunks stay whole sectors), 512 otherwise.
uint32_t EffectiveSectorSize(uint32_t reported);

// An image cut into 65,536-byte chunks; the last one holds the remainder.
struct ChunkPlan {
    int64_t imageSize;
    uint32_t sectorSize;
    int64_t chunkCount;
};

ChunkPlan MakeChunkPlan(int64_t imageSize, uint32_t sectorSize);

// The writer's steps in their order. Chunk 0 holds the partition table, so it comes last:
// every other chunk is written, then all of them are read back and compared, and only then is
// chunk 0 written and read back. A run that stops anywhere before leaves no valid-looking
// table in front of a partial or unproven image.
enum class StepKind { Write, Verify };
struct WriteStep {
    StepKind kind;
    int64_t chunk;
};
int64_t StepCount(const ChunkPlan& plan);
WriteStep StepAt(const ChunkPlan& plan, int64_t index);

// Disk and image offset of a chunk.
int64_t ChunkOffset(int64_t chunk);
// Image bytes in a chunk: 65,536, or the remainder for the last one.
uint32_t ChunkLength(const ChunkPlan& plan, int64_t chunk);
// Bytes handed to the disk for a chunk: its length rounded up to whole sectors (the tail past
// the image's bytes is zero).
uint32_t PaddedLength(const ChunkPlan& plan, int64_t chunk);

// Progress after `written` of `total` bytes: the bar's position (percent truncated) and the
// percent shown in the text (rounded, halves upward, the same on every C runtime).
int BarPosition(int64_t written, int64_t total);
int TextPercent(int64_t written, int64_t total);

// "%s of %s Written (%0.0f%%)" with both sizes formatted by FormatSize; the read-back shows
// "Verified" in place of "Written"; then ", <time left>" when `timeLeft` has a text. `out`
// holds at least kProgressLineCapacity characters.
constexpr int kProgressLineCapacity = 96;
constexpr const char kWrittenWord[] = "Written";
constexpr const char kVerifiedWord[] = "Verified";
void BuildWriteProgressLine(int64_t written, int64_t total, char* out,
                            const char* word = kWrittenWord, const char* timeLeft = nullptr);
