// Page arithmetic of the agreement printout, free of any device context.
#pragma once

#include <vector>

struct PrintedLine {
    int page;  // 0-based page of the copy
    int top;   // top edge of the line's text rectangle, in device units
};

// Where each of `lineCount` lines lands, for a page of height `pageHeight`, top offset
// `offsetY` and line advance `lineAdvance`. The first page starts at offsetY, continuation pages
// at 2 * offsetY. A new page is begun only when another line follows, so no blank page is left
// at the end.
std::vector<PrintedLine> PlanPrintedLines(int lineCount, int lineAdvance, int pageHeight,
                                          int offsetY);

// Average character width of the print font: about 170 characters across the printable width.
int PrintFontWidth(int pageWidth, int offsetX);
