// A 64-bit millisecond count from the 32-bit one that every Windows has.
#pragma once
#include <cstdint>

// The 64-bit count that follows `last` (a value this function returned before, or 0) when the
// 32-bit count reads `now`: a `now` below the low half of `last` means the 32-bit count has
// wrapped (every 49.7 days). Right as long as it is asked at least once per wrap.
uint64_t ExtendTickCount(uint64_t last, uint32_t now);
