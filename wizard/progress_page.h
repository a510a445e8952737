// The progress page (template 416) and its download worker.
#pragma once
#include <windows.h>

INT_PTR CALLBACK ProgressPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Waits until the worker of an earlier run has stopped, so that two runs never write a disk at
// the same time, showing a notice meanwhile; gives up after limitMs. True when no earlier
// worker runs any more. A worker still running after the limit is kept and waited for again
// next time (only the program's end leaves it behind).
bool WaitForPreviousWorker(DWORD limitMs);
constexpr DWORD kEndWaitLimitMs = 30000;

// Before a new progress page: waits for the previous run as the program's end does; when it is
// still writing after that, tells the user that its drive is busy and answers false (the page
// must not open).
bool PreviousRunStopped();
