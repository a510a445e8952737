// The run log's lines and its trimming.
#include "common/run_log.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

TEST(RunLog, EachEventIsOneLineWithTimeAndThread) {
    char line[kRunLogLineSize];
    size_t length = FormatLogLine(line, sizeof line, 1234, 0x1a2c, "page: drive selection");
    EXPECT_STREQ(line, "     1234 ms [1a2c] page: drive selection\r\n");
    EXPECT_EQ(length, std::strlen(line));
    // A system text with its own line ends stays on one line.
    FormatLogLine(line, sizeof line, 0, 7, "CreateFileA failed: error 5 (Access is denied.\r\n)");
    EXPECT_STREQ(line, "        0 ms [0007] CreateFileA failed: error 5 (Access is denied.  )\r\n");
    // Too long a text is cut, and the line still ends.
    std::string longText(3000, 'x');
    length = FormatLogLine(line, sizeof line, 4294967295u, 0xFFFFFFFFu, longText.c_str());
    EXPECT_EQ(length, sizeof line - 1);
    EXPECT_EQ(std::string(line).substr(0, 29), "4294967295 ms [ffffffff] xxxx");
    EXPECT_EQ(std::string(line + length - 2), "\r\n");
}

TEST(RunLog, TrimmingKeepsWholeLinesOnly) {
    const char tail[] = "f a line\r\nsecond\r\nthird\r\n";
    EXPECT_EQ(KeptLogStart(tail, sizeof tail - 1), 10u);
    EXPECT_EQ(KeptLogStart("\nall", 4), 1u);
    EXPECT_EQ(KeptLogStart("no line end", 11), 0u);
}

TEST(RunLog, SystemTextsBecomeOneLine) {
    char text[] = "The system cannot find the file specified.\r\n";
    CleanSystemText(text);
    EXPECT_STREQ(text, "The system cannot find the file specified");
    char empty[] = "";
    CleanSystemText(empty);
    EXPECT_STREQ(empty, "");
}
