// How long a transfer still takes, told from its rate over the last few seconds, and the words
// the progress lines of the download and of the write show for it ("about 3 min left").
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t kRateWindowMs = 5000;    // the rate is that of the last five seconds
constexpr uint32_t kRateFirstMs = 2000;     // and is told from two seconds of samples at least
constexpr uint32_t kRateSampleGapMs = 250;  // samples closer than that replace the newest one
constexpr int kRateSamples = 24;            // room for the window at that spacing
constexpr size_t kTimeLeftTextSize = 40;    // "about 12 h 50 min left" and the end

struct RateSample {
    uint32_t ms;    // a millisecond tick (it may wrap: only differences are used)
    uint64_t done;  // bytes done at that tick
};

// One phase of a transfer as its progress line follows it: the recent samples and the time
// left the line shows now. Zero-initialised, it is a phase with no sample yet.
struct TimeLeftClock {
    RateSample samples[kRateSamples];
    int count;
    uint64_t total;
    uint32_t shown;  // the rounded seconds the line shows, 0 while it shows none
};

// A new count of `total` bytes at tick `ms`. A count below the last one, or another total,
// starts a new phase.
void NoteProgress(TimeLeftClock* clock, uint32_t ms, uint64_t done, uint64_t total);

// The bytes per second over the last kRateWindowMs; false while the samples span less than
// kRateFirstMs or nothing arrived in the window.
bool RecentRate(const TimeLeftClock& clock, double* bytesPerSecond);

// The estimate rounded to what the line shows: 5-second steps up to 55 s (rounded up), whole
// minutes below an hour, 10-minute steps below 10 hours, whole hours after.
uint32_t RoundedTimeLeft(double seconds);

// "about 45 s left", "about 3 min left", "about 1 h 20 min left", "about 2 h left".
void TimeLeftWords(uint32_t roundedSeconds, char* out, size_t size);

// The time left for the phase's latest sample into `out`, empty when there is no rate to tell
// it from or every byte is in. The shown value follows a falling estimate at once but rises
// only once the estimate has risen by a whole step above it, so that the text doesn't flip
// between two values as the rate jitters.
void TimeLeftText(TimeLeftClock* clock, char* out, size_t size);
