// Export of the downloaded image into an .iso file the user chooses.
#pragma once
#include <windows.h>

// The drive selection page's Extract ISO command: save dialog, overwrite question, copy,
// result message and the export notice.
void ExtractIsoCommand(HWND page);

// Copies the file named by ImagePath to `destination`; true when every byte was copied.
bool ExtractIso(const char* destination);

// Dialog procedure of the export notice (template 414).
INT_PTR CALLBACK IsoNotice(HWND notice, UINT message, WPARAM wParam, LPARAM lParam);
