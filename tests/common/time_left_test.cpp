#include "common/time_left.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr uint64_t kMiB = 1 << 20;

// Feeds a transfer's samples, 250 ms apart from tick `start`, at `rates` bytes per second
// (one entry per second), and returns the text after each second.
std::vector<std::string> Follow(TimeLeftClock* clock, uint64_t total, std::vector<double> rates,
                                uint32_t start = 1000, uint64_t done = 0) {
    std::vector<std::string> texts;
    uint32_t ms = start;
    for (double rate : rates) {
        for (int quarter = 0; quarter < 4; ++quarter) {
            ms += 250;
            done += static_cast<uint64_t>(rate / 4);
            if (done > total) done = total;
            NoteProgress(clock, ms, done, total);
        }
        char text[kTimeLeftTextSize];
        TimeLeftText(clock, text, sizeof text);
        texts.push_back(text);
    }
    return texts;
}

}  // namespace

TEST(TimeLeft, RoundsToStableSteps) {
    struct Row {
        double seconds;
        const char* words;
    } rows[] = {
        {0.2, "about 5 s left"},        {5, "about 5 s left"},
        {5.1, "about 10 s left"},       {55, "about 55 s left"},
        {55.5, "about 1 min left"},     {89, "about 1 min left"},
        {150, "about 3 min left"},      {3569, "about 59 min left"},
        {3570, "about 1 h left"},       {4800, "about 1 h 20 min left"},
        {35699, "about 9 h 50 min left"}, {35700, "about 10 h left"},
        {1e12, "about 100 h left"},
    };
    for (const Row& row : rows) {
        char text[kTimeLeftTextSize];
        TimeLeftWords(RoundedTimeLeft(row.seconds), text, sizeof text);
        EXPECT_EQ(std::string(text), row.words) << row.seconds;
    }
}

TEST(TimeLeft, TellsItFromTheLastSecondsOnlyOnceThereIsARate) {
    TimeLeftClock clock{};
    // 1 MiB/s for 100 MiB: nothing for the first two seconds, then 97 s in minutes.
    std::vector<std::string> texts = Follow(&clock, 100 * kMiB, std::vector<double>(4, kMiB));
    EXPECT_EQ(texts[1], "");
    EXPECT_EQ(texts[2], "about 2 min left");
    // Ten times faster: within the window the estimate falls to the new rate.
    texts = Follow(&clock, 100 * kMiB, std::vector<double>(6, 10 * kMiB), 5000, 4 * kMiB);
    EXPECT_EQ(texts.back(), "about 5 s left");  // 36 MiB at 10 MiB/s
    // Nothing for the whole window: no rate, no estimate.
    texts = Follow(&clock, 100 * kMiB, std::vector<double>(6, 0), 11000, 64 * kMiB);
    EXPECT_EQ(texts.back(), "");
}

TEST(TimeLeft, AJitteringRateDoesNotFlipTheTextButASlowdownRaisesIt) {
    TimeLeftClock clock{};
    // About 150 s left at 1 MiB/s, with a rate that goes 10 % up and down every second.
    std::vector<double> jitter;
    for (int i = 0; i < 20; ++i) jitter.push_back(i % 2 ? 1.1 * kMiB : 0.9 * kMiB);
    std::vector<std::string> texts = Follow(&clock, 160 * kMiB, jitter);
    int changes = 0;
    for (size_t i = 3; i < texts.size(); ++i) changes += texts[i] != texts[i - 1];
    EXPECT_LE(changes, 1) << texts[3] << " ... " << texts.back();
    // A rate that halves for good: the estimate doubles and the text follows.
    texts = Follow(&clock, 160 * kMiB, std::vector<double>(8, kMiB / 2), 21000, 20 * kMiB);
    EXPECT_EQ(texts.back(), "about 5 min left");  // 136 MiB at 0.5 MiB/s
}

TEST(TimeLeft, APhaseThatEndsOrStartsAgainShowsNothingUntilItHasARate) {
    TimeLeftClock clock{};
    std::vector<std::string> texts = Follow(&clock, 10 * kMiB, std::vector<double>(12, kMiB));
    EXPECT_EQ(texts[8], "about 5 s left");
    EXPECT_EQ(texts.back(), "") << "every byte is in";
    // The read-back starts from its first chunk: a new phase, at a tick that has wrapped.
    texts = Follow(&clock, 10 * kMiB, std::vector<double>(3, kMiB), 0xFFFFFC00u);
    EXPECT_EQ(texts[0], "");
    EXPECT_EQ(texts[2], "about 10 s left");
    // Another total is another phase too.
    texts = Follow(&clock, 20 * kMiB, {kMiB}, 2000, 5 * kMiB);
    EXPECT_EQ(texts[0], "");
}
