// The cause line of the writer's failure boxes, from the failing call's system error code.
#include "write/drive_fault.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const char kFirstLine[] = "An error occurred writing the Halcyra image to your USB Drive.";

// The text of the failing call's place, an empty line, then what happened and what to do.
TEST(DriveFaultText, EachCauseSaysWhatHappenedAndWhatToDo) {
    const std::string denied =
        "Windows refused access to the drive. Another program may be using it, or a security "
        "program may block writing to drives: close that program or allow Halcyra Creator in it, "
        "then try again.";
    const std::string locked =
        "The drive is write-protected. Slide its lock switch off, or use another drive.";
    const std::string gone =
        "The drive was removed or stopped answering. Plug it in again, straight into the "
        "computer rather than through a hub, and choose it again.";
    const std::string fault =
        "The drive reported a fault: it may be failing. Please try another drive.";
    const std::string room =
        "The drive ended before the whole image was written: it is smaller than it reports. "
        "Please use another drive.";
    struct Row {
        uint32_t error;
        const char* systemText;  // as FormatMessage gives it
        std::string cause;
    };
    const Row rows[] = {
        {5, "Access denied", denied},  // a known cause has its own line
        {19, "", locked},
        {2, "", gone}, {21, "", gone}, {55, "", gone}, {121, "", gone}, {433, "", gone},
        {1167, "", gone},
        {23, "", fault}, {27, "", fault}, {31, "", fault}, {1117, "", fault},
        {39, "", room}, {112, "", room}, {kShortTransfer, "", room},
        {50, "The request is not supported.\r\n", "The request is not supported (error 50)."},
        {1234, "", "Windows reported error 1234."},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.error);
        char text[kDriveFaultTextSize];
        DriveFaultText(text, sizeof text, kFirstLine, row.error, row.systemText);
        EXPECT_EQ(text, kFirstLine + ("\n\n" + row.cause));
    }
}

}  // namespace
