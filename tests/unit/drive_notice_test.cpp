#include "create/drive_notice.h"

#include <gtest/gtest.h>

namespace {

// Events: N notice, T settle timer, B/E begin/end of a scan or box, S scan starting,
// C Create confirmed. Answers: 'a' arm the timer, 's' scan now, '.' nothing.
std::string Answers(const std::string& events) {
    DriveNoticeGate gate;
    std::string answers;
    for (char event : events) {
        bool yes = false;
        switch (event) {
        case 'N': yes = gate.Notice(); break;
        case 'T': yes = gate.TimerFired(); break;
        case 'B': gate.BeginModal(); break;
        case 'E': yes = gate.EndModal(); break;
        case 'S': gate.ScanStarting(); break;
        case 'C': gate.Commit(); break;
        }
        answers += yes ? (event == 'T' ? 's' : 'a') : '.';
    }
    return answers;
}

struct GateCase {
    const char* what;
    const char* events;
    const char* answers;
};

const GateCase kGateCases[] = {
    {"an idle notice scans once the timer goes off", "NT", "as"},
    {"a burst arms one timer and gives one scan", "NNNT", "a..s"},
    {"a notice during a box waits for the box", "BNET", "..as"},
    {"nested boxes: only the outer end arms", "BBNEET", "....as"},
    {"the timer going off during a box keeps the notice", "NBTET", "a..as"},
    {"a scan started meanwhile covers the notice", "NST", "a.."},
    {"a notice during a scan rescans after it", "SBNET", "...as"},
    {"after a scan the next notice arms again", "NTSBENT", "as...as"},
    {"no notice: a box ending arms nothing", "BE", ".."},
    {"Create confirmed drops a kept notice", "BNCE", "...."},
    {"Create confirmed before the timer goes off", "NCT", "a.."},
    {"notices after Create are ignored", "CNBET", "....."},
};

TEST(DriveNoticeGate, Scenarios) {
    for (const GateCase& c : kGateCases) EXPECT_EQ(Answers(c.events), c.answers) << c.what;
}

struct ReselectCase {
    const char* what;
    std::string selected;
    std::vector<std::string> lines;
    int expected;
};

TEST(DriveNotice, LineToReselect) {
    const std::string e = "E:\\ BACKUP (3.73 GB)", f = "F:\\ DATA (7.45 GB)", g = "G:\\";
    const ReselectCase cases[] = {
        {"same drive, moved down by a new one", f, {e, "F:\\ NEW (1.00 GB)", g}, 1},
        {"same drive, moved up", g, {e, g}, 1},
        {"selected drive gone", f, {e, g}, 0},
        {"nothing listed now", f, {"Please attach a removable drive"}, 0},
        {"attach line before", "Please attach a removable drive", {e, f}, 0},
        {"the attach line is not drive P", "P:\\", {"Please attach a removable drive", g}, 0},
        {"empty selection", "", {e, f}, 0},
    };
    for (const ReselectCase& c : cases)
        EXPECT_EQ(LineToReselect(DriveLetterOfLine(c.selected), c.lines), c.expected) << c.what;
}

}  // namespace
