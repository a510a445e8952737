#include "common/time_left.h"

#include <cmath>
#include <cstdio>

namespace {

constexpr uint32_t kMinute = 60, kHour = 3600;
constexpr uint32_t kLongest = 100 * kHour;  // a stalled transfer's estimate is capped here

// The step between two values the line can show, around `seconds`.
uint32_t StepOf(uint32_t seconds) {
    if (seconds < kMinute) return 5;
    if (seconds < kHour) return kMinute;
    if (seconds < 10 * kHour) return 10 * kMinute;
    return kHour;
}

uint32_t Nearest(double seconds, uint32_t step) {
    return static_cast<uint32_t>(std::floor(seconds / step + 0.5)) * step;
}

}  // namespace

void NoteProgress(TimeLeftClock* clock, uint32_t ms, uint64_t done, uint64_t total) {
    if (clock->count && (done < clock->samples[clock->count - 1].done || total != clock->total)) {
        clock->count = 0;
        clock->shown = 0;
    }
    clock->total = total;
    const RateSample sample{ms, done};
    if (clock->count >= 2 && ms - clock->samples[clock->count - 2].ms < kRateSampleGapMs) {
        clock->samples[clock->count - 1] = sample;  // keeps the stored samples apart
    } else {
        if (clock->count == kRateSamples) {
            for (int i = 1; i < kRateSamples; ++i) clock->samples[i - 1] = clock->samples[i];
            --clock->count;
        }
        clock->samples[clock->count++] = sample;
    }
    // The oldest sample kept is the last one at or beyond the window's start.
    int old = 0;
    while (old + 1 < clock->count && ms - clock->samples[old + 1].ms >= kRateWindowMs) ++old;
    if (old) {
        for (int i = old; i < clock->count; ++i) clock->samples[i - old] = clock->samples[i];
        clock->count -= old;
    }
}

bool RecentRate(const TimeLeftClock& clock, double* bytesPerSecond) {
    if (clock.count < 2) return false;
    const RateSample& oldest = clock.samples[0];
    const RateSample& newest = clock.samples[clock.count - 1];
    const uint32_t span = newest.ms - oldest.ms;
    if (span < kRateFirstMs || newest.done <= oldest.done) return false;
    *bytesPerSecond = static_cast<double>(newest.done - oldest.done) * 1000.0 / span;
    return true;
}

uint32_t RoundedTimeLeft(double seconds) {
    if (!(seconds < kLongest)) return kLongest;
    if (seconds <= 55) {
        const uint32_t up = static_cast<uint32_t>(std::ceil(seconds / 5)) * 5;
        return up < 5 ? 5 : up;
    }
    if (seconds < kHour - 30) {
        const uint32_t minutes = Nearest(seconds, kMinute);
        return minutes < kMinute ? kMinute : minutes;
    }
    if (seconds < 10 * kHour - 5 * kMinute) return Nearest(seconds, 10 * kMinute);
    return Nearest(seconds, kHour);
}

void TimeLeftWords(uint32_t roundedSeconds, char* out, size_t size) {
    const unsigned s = roundedSeconds;
    if (s < kMinute) {
        snprintf(out, size, "about %u s left", s);
    } else if (s < kHour) {
        snprintf(out, size, "about %u min left", s / kMinute);
    } else if (s % kHour) {
        snprintf(out, size, "about %u h %u min left", s / kHour, s % kHour / kMinute);
    } else {
        snprintf(out, size, "about %u h left", s / kHour);
    }
}

void TimeLeftText(TimeLeftClock* clock, char* out, size_t size) {
    if (size) out[0] = 0;
    double rate = 0;
    if (!clock->count || clock->samples[clock->count - 1].done >= clock->total ||
        !RecentRate(*clock, &rate)) {
        clock->shown = 0;
        return;
    }
    const double estimate =
        static_cast<double>(clock->total - clock->samples[clock->count - 1].done) / rate;
    const uint32_t rounded = RoundedTimeLeft(estimate);
    if (!clock->shown || rounded < clock->shown ||
        estimate >= static_cast<double>(clock->shown) + StepOf(clock->shown))
        clock->shown = rounded;
    TimeLeftWords(clock->shown, out, size);
}
