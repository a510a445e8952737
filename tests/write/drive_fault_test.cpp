// The cause line of the writer's failure boxes, from the failing call's system error code.
#include "write/drive_fault.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace {

// The lines of the causes Wine makes are checked through the program (tests/run); these are
// the codes of each cause, the write-protect line Wine never gives, and an unknown code.
TEST(DriveFault, EachCodeHasItsCauseAndAnUnknownOneTheSystemsText) {
    const std::pair<DriveFault, std::vector<uint32_t>> rows[] = {
        {DriveFault::AccessDenied, {5}},
        {DriveFault::WriteProtected, {19}},
        {DriveFault::Gone, {2, 21, 55, 121, 433, 1167}},
        {DriveFault::Medium, {23, 27, 31, 1117}},
        {DriveFault::NoRoom, {kShortTransfer, 39, 112}},
        {DriveFault::Other, {32, 50, 87}},
    };
    for (const auto& row : rows)
        for (uint32_t code : row.second) EXPECT_EQ(ClassifyDriveError(code), row.first) << code;

    char text[kDriveFaultTextSize];
    DriveFaultText(text, sizeof text, "First line.", 19, "");
    EXPECT_STREQ(text, "First line.\n\nThe drive is write-protected. Slide its lock switch off, "
                       "or use another drive.");
    DriveFaultText(text, sizeof text, "First line.", 50, "The request is not supported.\r\n");
    EXPECT_STREQ(text, "First line.\n\nThe request is not supported (error 50).");
    DriveFaultText(text, sizeof text, "First line.", 1234, "");
    EXPECT_STREQ(text, "First line.\n\nWindows reported error 1234.");
}

}  // namespace
