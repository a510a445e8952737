// Libraries that are not part of every program's import table are loaded from the system
// folder by their full path, never by name: a file of that name in the program's own folder
// (the downloads folder, which any program of the user can write) would otherwise be loaded
// first, and run as administrator.
#pragma once
#include <windows.h>

// The library `name` (such as "urlmon.dll") from the system folder, kept loaded until the
// process ends; null when it can't be loaded.
HMODULE LoadSystemLibrary(const char* name);

// Narrows the places the system searches for a library loaded by name, as far as the system
// allows: to the system folder alone (Windows 8, or 7, Vista and Server 2008 with KB2533623),
// else without the current folder (Windows XP SP1 and later). Called first thing in WinMain.
void NarrowLibrarySearch();

// A function of a library loaded with LoadSystemLibrary (or of one the program imports);
// null when the library or the function is missing.
template <typename Function>
Function SystemFunction(HMODULE module, const char* name) {
    if (!module) return nullptr;
    return reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}
