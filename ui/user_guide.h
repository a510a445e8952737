// The embedded user guide and the HTML Help control that shows it.
#pragma once
#include <windows.h>

void OpenUserGuide(HWND page);
HWND OpenHtmlHelp(HWND caller, const char* file, UINT command, DWORD_PTR data);
