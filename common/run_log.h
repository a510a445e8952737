// The run log for support: one plain-text file in the folder of the run's files
// (data_folder.h), HalcyraCreator.log, appended by every start of the program, one line per
// event with the time since the start and the thread. Logging never stops the program: a log that can't be written is simply not kept.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr const char kRunLogName[] = "HalcyraCreator.log";
constexpr int64_t kRunLogLimit = 1 << 20;  // what is kept of earlier runs at each start
constexpr size_t kRunLogLineSize = 1024;

// One line: "<ms> ms [<thread>] <text>" with a CR LF end; the text is cut to fit and its own
// line ends become spaces, so that each event stays one line. Returns the line's length.
size_t FormatLogLine(char* out, size_t size, uint32_t milliseconds, uint32_t thread,
                     const char* text);

// Where the kept part of a log starts within its last `length` bytes: after the first line
// end, so that no half line is kept (0 when there is none).
size_t KeptLogStart(const char* tail, size_t length);

// A system message text (FormatMessage) as one line: line ends and trailing spaces and dots
// removed.
void CleanSystemText(char* text);

// Win32 glue (run_log_win32.cpp).
// Opens the log at start-up (trimming it to kRunLogLimit first) and writes the start header:
// version, Windows version and build, and the process's and system's bitness.
void OpenRunLog();
// One event, printf-style.
void LogEvent(const char* format, ...) __attribute__((format(printf, 1, 2)));
// A failed system call: what failed, then the error code and the system's text for it.
void LogFailure(const char* what, unsigned long error);
// The log file's path (empty until opened), for the user guide's hint and the help menu.
const char* RunLogPath();
