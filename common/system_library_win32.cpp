#include "common/system_library.h"

#include <cstdio>

HMODULE LoadSystemLibrary(const char* name) {
    char path[MAX_PATH];
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return nullptr;
    const int full = std::snprintf(path + length, MAX_PATH - length, "\\%s", name);
    if (full < 0 || full >= static_cast<int>(MAX_PATH - length)) return nullptr;
    // The altered search order takes the libraries this one needs from its own folder, the
    // system folder, too. Loading an already loaded library again only counts it once more.
    return LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
}

void NarrowLibrarySearch() {
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    // Also for what the system libraries load by name later (a delay-loaded import, a
    // library's own LoadLibrary): nothing from the program's folder or the current folder.
    using SetDefaultDirectories = BOOL(WINAPI*)(DWORD);
    constexpr DWORD kSearchSystemFolder = 0x00000800;  // LOAD_LIBRARY_SEARCH_SYSTEM32
    if (auto setDefault = SystemFunction<SetDefaultDirectories>(kernel, "SetDefaultDllDirectories"))
        setDefault(kSearchSystemFolder);
    // Where that is missing, the current folder at least leaves the search order.
    using SetDirectory = BOOL(WINAPI*)(const char*);
    if (auto setDirectory = SystemFunction<SetDirectory>(kernel, "SetDllDirectoryA"))
        setDirectory("");
}
