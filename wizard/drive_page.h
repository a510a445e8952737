// The drive selection page (template 101).
#pragma once
#include <windows.h>

INT_PTR CALLBACK DriveSelectionPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
