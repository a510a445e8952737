// What a creation run shows on its progress page. The worker hands over the latest status line
// and bar position and goes on at once; the page puts the latest figures on screen at its own
// pace (a display tick for progress lines, one posted message at a time for the rest), so a
// slow page never slows the download or the write.
#pragma once
#include <windows.h>

// Posted to the page when new figures are waiting; the page answers with ApplyRunDisplay.
constexpr UINT kRunDisplayMessage = WM_APP + 43;

// Page side: a page takes the display when it opens and gives it up when it is destroyed.
void AttachRunDisplay(HWND page);
void DetachRunDisplay(HWND page);
// Puts what is waiting on the page's status line (1018) and bar (1019), and shows the bar's
// progress on the page's taskbar button.
void ApplyRunDisplay(HWND page);

// The run was cancelled: progress lines still on their way are dropped, since the page now
// says that the run has been cancelled.
void MarkRunCancelled(HWND page);

// Worker side; each does nothing once `page` no longer holds the display.
// A progress line with its bar position, shown on the page's next display tick; dropped once
// the run has been cancelled.
void ShowRunProgress(HWND page, const char* line, int bar);
// A status text of the run's phases and endings.
void ShowRunStatus(HWND page, const char* text);
// A new bar range 0..high, with the position set to 0.
void SetRunBarRange(HWND page, int high);
// Waits until everything handed over is on screen: before a message box or the page's end.
void FlushRunDisplay(HWND page);
// On while a "Drive Error" or "Download Error" box of the run is open: the taskbar button then
// shows the error state. Turn it on before FlushRunDisplay and the box, off after the box.
void SetRunAlert(HWND page, bool on);
