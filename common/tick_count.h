// A 64-bit millisecond count from the 32-bit one that every Windows has.
#pragma once
#include <cstdint>

// The 64-bit count that follows `last` (a value this function returned before, or 0) when the
// 32-bit count reads `now`: a `now` below the low half of `last` means the 32-bit count has
// wrapped (every 49.7 days). Right as long as it is asked at least once per wrap.
uint64_t ExtendTickCount(uint64_t last, uint32_t now);

// Milliseconds from `then` to `now`, both readings of the 32-bit count, across its wrap. A
// `then` later than `now`, as when another thread read the count after `now` was read, is no
// time at all rather than nearly 50 days.
uint32_t TicksSince(uint32_t now, uint32_t then);
