// The folder of the run's files on Win32 (data_folder.h has the decisions): chosen once at
// start-up, before the run log opens.
#pragma once
#include <windows.h>

#include <cstddef>

// Finds or makes the program's folder under the common application data folder, or falls back
// to the temporary folder; the run log then says which (DataFolderReport).
void PrepareDataFolder();
// The folder, ending in a backslash, as the A calls can use it; empty when there is none.
const char* DataFolder();
// True when the folder is the program's own, which only administrators can change: only then
// is an image kept for later runs.
bool DataFolderIsSecure();
const char* DataFolderReport();

// CreateFileA for the program's own files: a file whose name is a link (a reparse point, or
// one of several names of one file) is never opened, so no write goes through it to another
// file. CREATE_ALWAYS removes what has the name and makes a new file; OPEN_ALWAYS replaces a
// link by a new file; OPEN_EXISTING refuses it (ERROR_ACCESS_DENIED).
HANDLE OpenDataFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags);
