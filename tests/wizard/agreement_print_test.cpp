#include "wizard/agreement_print.h"

#include <gtest/gtest.h>

TEST(AgreementPrint, LinesFlowOntoContinuationPagesThatStartLower) {
    // Page of 100 units, offset 10, advance 20: lines at 10, 30, 50, 70; then 90 + 20 + 10 > 100.
    std::vector<PrintedLine> lines = PlanPrintedLines(6, 20, 100, 10);
    ASSERT_EQ(lines.size(), 6u);
    EXPECT_EQ(lines[0].page, 0);
    EXPECT_EQ(lines[0].top, 10);
    EXPECT_EQ(lines[3].top, 70);
    EXPECT_EQ(lines[3].page, 0);
    EXPECT_EQ(lines[4].page, 1);
    EXPECT_EQ(lines[4].top, 20);  // continuation pages start at twice the offset
    EXPECT_EQ(lines[5].top, 40);
}

TEST(AgreementPrint, AFullLastPageStartsNoBlankPage) {
    std::vector<PrintedLine> lines = PlanPrintedLines(4, 20, 100, 10);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines.back().page, 0);
    EXPECT_TRUE(PlanPrintedLines(0, 20, 100, 10).empty());
}

TEST(AgreementPrint, ZeroOffsetsPrintFromTheCorner) {
    std::vector<PrintedLine> lines = PlanPrintedLines(4, 30, 100, 0);
    EXPECT_EQ(lines[0].top, 0);
    EXPECT_EQ(lines[2].top, 60);
    EXPECT_EQ(lines[3].page, 1);
    EXPECT_EQ(lines[3].top, 0);
    EXPECT_EQ(PrintFontWidth(4960, 0), 29);
    EXPECT_EQ(PrintFontWidth(4960, 100), 28);
}
