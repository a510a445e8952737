// Chunking of the ISO export's copy.
#pragma once
#include <cstdint>

constexpr uint64_t kIsoChunkSize = 1048576;
constexpr uint64_t kIsoBufferSize = kIsoChunkSize + 1024;

// Length of the chunk that starts at `position` of an image of `size` bytes (0 at the end).
uint64_t IsoChunkLength(uint64_t position, uint64_t size);
