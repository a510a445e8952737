#include "wizard/drive_notice.h"

#include <gtest/gtest.h>

namespace {

// Events: N notice, T settle timer, B/E begin/end of a scan or box, S scan starting, C Create
// confirmed. Answers: 'a' arm the timer, 's' scan now, '.' nothing.
std::string Answers(const std::string& events) {
    DriveNoticeGate gate;
    std::string answers;
    for (char event : events) {
        bool yes = event == 'N' ? gate.Notice() : event == 'T' ? gate.TimerFired()
                 : event == 'E' ? gate.EndModal() : false;
        if (event == 'B') gate.BeginModal();
        if (event == 'S') gate.ScanStarting();
        if (event == 'C') gate.Commit();
        answers += yes ? (event == 'T' ? 's' : 'a') : '.';
    }
    return answers;
}

TEST(DriveNoticeGate, Scenarios) {
    const char* const cases[][3] = {
        {"a burst arms one timer and gives one scan", "NNNT", "a..s"},
        {"nested boxes: the notice waits for the outer end", "BBNEET", "....as"},
        {"the timer going off during a box keeps the notice", "NBTET", "a..as"},
        {"a notice during a scan rescans after it, then arms again", "SBNETNT", "...asas"},
        {"Create confirmed drops a kept notice", "BNCE", "...."},
        {"Create confirmed before the timer goes off, then a notice", "NCTNT", "a...."},
    };
    for (const auto& c : cases) EXPECT_EQ(Answers(c[1]), c[2]) << c[0];
}

TEST(DriveNotice, LineToReselectKeepsTheDriveLetter) {
    const std::vector<std::string> now = {"E:\\ BACKUP (3.73 GB)", "F:\\ NEW (1.00 GB)", "G:\\"};
    EXPECT_EQ(LineToReselect(DriveLetterOfLine("F:\\ DATA (7.45 GB)"), now), 1);
    EXPECT_EQ(LineToReselect(DriveLetterOfLine("H:\\"), now), 0);  // gone
    EXPECT_EQ(LineToReselect(DriveLetterOfLine("Please attach a removable drive"), now), 0);
    // The attach line is no drive P.
    EXPECT_EQ(LineToReselect('P', {"Please attach a removable drive", "P:\\"}), 1);
}

}  // namespace
