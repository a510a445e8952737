#include "common/tick_count.h"

uint64_t ExtendTickCount(uint64_t last, uint32_t now) {
    uint64_t next = (last & ~uint64_t{0xFFFFFFFF}) | now;
    if (next < last) next += uint64_t{1} << 32;
    return next;
}

uint32_t TicksSince(uint32_t now, uint32_t then) {
    const uint32_t forward = now - then;
    return forward <= UINT32_MAX / 2 ? forward : 0;
}
