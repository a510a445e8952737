#include "ui/taskbar_progress.h"

#include <gtest/gtest.h>

namespace {

struct Row {
    const char* name;
    RunFigures figures;
    TaskbarProgress expected;
};

constexpr TaskbarMode kBusy = TaskbarMode::Indeterminate,
                      kNormal = TaskbarMode::Normal, kError = TaskbarMode::Error;

const Row kRows[] = {
    // downloading, counted, position, high, alert
    {"download before any figures", {true, false, 0, 1000, false}, {kBusy, 0, 0}},
    {"download with figures", {true, true, 250, 1000, false}, {kNormal, 250, 1000}},
    {"download figures at zero", {true, true, 0, 1000, false}, {kNormal, 0, 1000}},
    {"write before its first line", {false, false, 0, 100, false}, {kNormal, 0, 100}},
    {"write", {false, true, 42, 100, false}, {kNormal, 42, 100}},
    {"verification done", {false, true, 100, 100, false}, {kNormal, 100, 100}},
    {"position past the range", {false, true, 140, 100, false}, {kNormal, 100, 100}},
    {"negative position", {false, true, -5, 100, false}, {kNormal, 0, 100}},
    {"empty range", {false, true, 3, 0, false}, {kNormal, 1, 1}},
    {"fault box during the write", {false, true, 37, 100, true}, {kError, 37, 100}},
    {"fault box before any figures", {true, false, 0, 1000, true}, {kError, 1000, 1000}},
    {"fault box at the write's start", {false, false, 0, 100, true}, {kError, 100, 100}},
};

}  // namespace

TEST(TaskbarProgress, FollowsPhaseBarAndAlert) {
    for (const Row& row : kRows) {
        const TaskbarProgress got = DecideTaskbarProgress(row.figures);
        EXPECT_EQ(static_cast<int>(got.mode), static_cast<int>(row.expected.mode)) << row.name;
        EXPECT_EQ(got.completed, row.expected.completed) << row.name;
        EXPECT_EQ(got.total, row.expected.total) << row.name;
    }
}
