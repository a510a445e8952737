#include "wizard/agreement_print.h"

std::vector<PrintedLine> PlanPrintedLines(int lineCount, int lineAdvance, int pageHeight,
                                          int offsetY) {
    std::vector<PrintedLine> lines;
    int page = 0;
    int top = offsetY;
    bool pageFull = false;
    for (int i = 0; i < lineCount; ++i) {
        if (pageFull) {
            ++page;
            top = 2 * offsetY;
            pageFull = false;
        }
        lines.push_back({page, top});
        top += lineAdvance;
        if (top + lineAdvance + offsetY > pageHeight) pageFull = true;
    }
    return lines;
}

int PrintFontWidth(int pageWidth, int offsetX) { return (pageWidth - 2 * offsetX) / 170; }
