// The progress page's taskbar button (ITaskbarList3, Windows 7 and later). Everything here
// runs on the page's thread; where the interface can't be had, every call does nothing.
#pragma once
#include <windows.h>

#include "ui/taskbar_progress.h"

// At the page's start: tries to get the interface. The system announces the button with
// TaskbarButtonCreated, which Wine never sends, so the page doesn't wait for it.
void BeginTaskbarProgress(HWND window);
// True for the registered message "TaskbarButtonCreated".
bool IsTaskbarButtonCreated(UINT message);
// The button exists now (or again, after the shell restarted): shows the latest progress on it.
void OnTaskbarButtonCreated(HWND window);
// Shows `progress` on the button, when it differs from what it shows.
void ShowTaskbarProgress(HWND window, const TaskbarProgress& progress);
// At the page's end: no progress on the button, and the interface is released.
void EndTaskbarProgress(HWND window);

// Test seams (the program's settings): when TestTaskbarLog names a file, each call on the
// interface appends one line to it; TestTaskbarUnavailable=1 makes the interface unavailable.
