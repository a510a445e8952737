#include "write/iso_copy_plan.h"

#include <gtest/gtest.h>

#include <vector>

namespace {
std::vector<uint64_t> Chunks(uint64_t size) {
    std::vector<uint64_t> chunks;
    uint64_t position = 0;
    while (uint64_t length = IsoChunkLength(position, size)) {
        chunks.push_back(length);
        position += length;
    }
    return chunks;
}
}  // namespace

TEST(IsoCopyPlan, WholeMebibytesThenTheRemainder) {
    EXPECT_TRUE(Chunks(0).empty());
    EXPECT_EQ(Chunks(1), std::vector<uint64_t>{1});
    EXPECT_EQ(Chunks(2 * kIsoChunkSize), (std::vector<uint64_t>{kIsoChunkSize, kIsoChunkSize}));
    EXPECT_EQ(Chunks(2 * kIsoChunkSize + 1),
              (std::vector<uint64_t>{kIsoChunkSize, kIsoChunkSize, 1}));
}

TEST(IsoCopyPlan, ImagesOf4GiBAndMoreAreCopiedWhole) {
    const uint64_t size = (uint64_t{4} << 30) + 5;
    const std::vector<uint64_t> chunks = Chunks(size);
    uint64_t total = 0;
    for (uint64_t length : chunks) total += length;
    EXPECT_EQ(total, size);
    EXPECT_EQ(chunks.size(), 4097u);
    EXPECT_EQ(chunks.back(), 5u);
}
