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
