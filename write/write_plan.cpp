#include "write/write_plan.h"

#include <cmath>
#include <cstdio>

#include "drives/size_format.h"

uint32_t EffectiveSectorSize(uint32_t reported) {
    bool powerOfTwo = reported != 0 && (reported & (reported - 1)) == 0;
    if (powerOfTwo && reported >= kDefaultSectorSize && reported <= kChunkSize) return reported;
    return kDefaultSectorSize;
}

ChunkPlan MakeChunkPlan(int64_t imageSize, uint32_t sectorSize) {
    ChunkPlan plan{};
    plan.imageSize = imageSize > 0 ? imageSize : 0;
    plan.sectorSize = EffectiveSectorSize(sectorSize);
    plan.chunkCount = (plan.imageSize + kChunkSize - 1) / kChunkSize;
    return plan;
}

int64_t StepCount(const ChunkPlan& plan) { return 2 * plan.chunkCount; }

WriteStep StepAt(const ChunkPlan& plan, int64_t index) {
    const int64_t others = plan.chunkCount - 1;  // the chunks after chunk 0
    if (index < others) return WriteStep{StepKind::Write, index + 1};
    if (index < 2 * others) return WriteStep{StepKind::Verify, index - others + 1};
    return WriteStep{index == 2 * others ? StepKind::Write : StepKind::Verify, 0};
}

int64_t ChunkOffset(int64_t chunk) { return chunk * kChunkSize; }

uint32_t ChunkLength(const ChunkPlan& plan, int64_t chunk) {
    int64_t left = plan.imageSize - ChunkOffset(chunk);
    if (left <= 0) return 0;
    return left < kChunkSize ? static_cast<uint32_t>(left) : kChunkSize;
}

uint32_t PaddedLength(const ChunkPlan& plan, int64_t chunk) {
    uint32_t length = ChunkLength(plan, chunk);
    uint32_t sector = plan.sectorSize;
    return (length + sector - 1) / sector * sector;
}

namespace {
double Percent(int64_t written, int64_t total) {
    if (total <= 0) return 0.0;
    return static_cast<double>(written) / static_cast<double>(total) * 100.0;
}
}  // namespace

int BarPosition(int64_t written, int64_t total) {
    return static_cast<int>(Percent(written, total));
}

int TextPercent(int64_t written, int64_t total) {
    return static_cast<int>(std::floor(Percent(written, total) + 0.5));
}

void BuildWriteProgressLine(int64_t written, int64_t total, char* out, const char* word,
                            const char* timeLeft) {
    char writtenText[kSizeTextCapacity];
    char totalText[kSizeTextCapacity];
    FormatSize(written, writtenText);
    FormatSize(total, totalText);
    std::snprintf(out, kProgressLineCapacity, "%s of %s %s (%d%%)%s%s", writtenText, totalText,
                  word, TextPercent(written, total), timeLeft && timeLeft[0] ? ", " : "",
                  timeLeft ? timeLeft : "");
}
