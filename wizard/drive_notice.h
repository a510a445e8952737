// When the drive selection page rescans after the system's volume arrival and removal notices,
// and which line it selects afterwards. Free of any window, so it is unit tested natively.
#pragma once
#include <string>
#include <vector>

// The page arms a short one-shot settle timer when Notice or EndModal asks for it and scans
// when TimerFired says so. A notice that comes while the page is busy (a scan, one of its
// message boxes or dialogs) is kept until the page is idle again; a burst of notices gives one
// scan; once Create is confirmed nothing more is scanned.
class DriveNoticeGate {
public:
    // A volume arrived or left. True when the caller should start the settle timer.
    bool Notice();
    // The settle timer went off (the caller has stopped it). True when the page should scan.
    bool TimerFired();
    // A scan or a modal box of the page begins or ends; they may nest. EndModal returns true
    // when the caller should start the settle timer for a notice kept meanwhile.
    void BeginModal();
    bool EndModal();
    // A scan is about to start: it sees every volume announced so far.
    void ScanStarting();
    // Create was confirmed: a kept notice is dropped and later ones are ignored.
    void Commit();

private:
    bool ShouldArm();

    int modalDepth_ = 0;
    bool pending_ = false;
    bool timerRunning_ = false;
    bool committed_ = false;
};

// The drive letter a drive list line starts with ("F:\ DATA (7.45 GB)" gives 'F'), or 0 for a
// line that names no drive, such as the attach line.
char DriveLetterOfLine(const std::string& line);

// The line to select after a rescan: the line of the drive that was selected before
// (`previousLetter`, 0 for none) when it is still listed, otherwise the first line.
int LineToReselect(char previousLetter, const std::vector<std::string>& lines);
