// What the progress page's taskbar button shows, decided from the figures the page itself
// shows: its phase, its bar and whether a fault of the run is being reported.
#pragma once
#include <cstdint>

enum class TaskbarMode { None, Indeterminate, Normal, Error };

// The page's figures after it has put the latest ones on screen.
struct RunFigures {
    bool downloading;  // the download phase: the bar still has the range the page began with
    bool counted;      // a progress line with figures has been shown in this phase
    int position;      // the bar's position
    int high;          // the bar's range is 0..high
    bool alert;        // a "Drive Error" or "Download Error" box of the run is open
};

struct TaskbarProgress {
    TaskbarMode mode;
    uint32_t completed;  // of total; both 0 for Indeterminate and None
    uint32_t total;
    bool operator==(const TaskbarProgress& o) const {
        return mode == o.mode && completed == o.completed && total == o.total;
    }
    bool operator!=(const TaskbarProgress& o) const { return !(*this == o); }
};

// A download without figures yet (the server gave no length, or the first second has not
// passed) is indeterminate; otherwise the button follows the bar, position clamped to its
// range. An open fault box turns it to the error state at the bar's value, or full when the
// bar is empty, so that the red shows.
TaskbarProgress DecideTaskbarProgress(const RunFigures& figures);
