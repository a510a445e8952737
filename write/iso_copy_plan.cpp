#include "write/iso_copy_plan.h"

uint64_t IsoChunkLength(uint64_t position, uint64_t size) {
    if (position >= size) return 0;
    return size - position < kIsoChunkSize ? size - position : kIsoChunkSize;
}
