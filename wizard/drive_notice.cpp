#include "wizard/drive_notice.h"

bool DriveNoticeGate::Notice() {
    if (committed_) return false;
    pending_ = true;
    return ShouldArm();
}

bool DriveNoticeGate::TimerFired() {
    timerRunning_ = false;
    // Busy: the notice stays kept and EndModal arms the timer again.
    return pending_ && !committed_ && modalDepth_ == 0;
}

void DriveNoticeGate::BeginModal() { ++modalDepth_; }

bool DriveNoticeGate::EndModal() {
    if (modalDepth_ > 0) --modalDepth_;
    return ShouldArm();
}

void DriveNoticeGate::ScanStarting() { pending_ = false; }

void DriveNoticeGate::Commit() {
    committed_ = true;
    pending_ = false;
}

bool DriveNoticeGate::ShouldArm() {
    if (!pending_ || committed_ || modalDepth_ != 0 || timerRunning_) return false;
    timerRunning_ = true;
    return true;
}

char DriveLetterOfLine(const std::string& line) {
    if (line.size() < 3 || line[1] != ':' || line[2] != '\\') return 0;
    const char letter = line[0];
    if (letter >= 'a' && letter <= 'z') return static_cast<char>(letter - 'a' + 'A');
    return letter >= 'A' && letter <= 'Z' ? letter : 0;
}

int LineToReselect(char previousLetter, const std::vector<std::string>& lines) {
    if (previousLetter == 0) return 0;
    for (size_t i = 0; i < lines.size(); ++i)
        if (DriveLetterOfLine(lines[i]) == previousLetter) return static_cast<int>(i);
    return 0;
}
