// The progress page (template 416) and its download worker.
#pragma once
#include <windows.h>

INT_PTR CALLBACK ProgressPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Blocks until the worker of an earlier run has stopped, so that two runs never write a disk
// at the same time; gives up after limitMs. Called before a progress page opens (no limit)
// and before the program ends (kEndWaitLimitMs).
void WaitForPreviousWorker(DWORD limitMs = INFINITE);
constexpr DWORD kEndWaitLimitMs = 30000;
