#include "common/system_paths.h"

#include <cstring>

bool AnsiPath(const WCHAR* wide, char* out, size_t size) {
    BOOL defaulted = FALSE;
    int length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, out,
                                     static_cast<int>(size), nullptr, &defaulted);
    if (length > 0 && !defaulted) return true;
    WCHAR shortPath[MAX_PATH];
    const DWORD shortLength = GetShortPathNameW(wide, shortPath, MAX_PATH);
    if (shortLength == 0 || shortLength >= MAX_PATH) return false;
    defaulted = FALSE;
    length = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, shortPath, -1, out,
                                 static_cast<int>(size), nullptr, &defaulted);
    return length > 0 && !defaulted;
}

bool TemporaryFolder(char* out, size_t size) {
    WCHAR wide[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, wide);
    if (length == 0 || length > MAX_PATH) return false;
    return AnsiPath(wide, out, size);
}

bool SavePathFromWide(const WCHAR* wide, char* out, size_t size) {
    if (AnsiPath(wide, out, size)) return true;
    // The file may not exist yet: its folder's short name, then the file's own name.
    const WCHAR* slash = wcsrchr(wide, L'\\');
    if (!slash) return false;
    WCHAR folder[MAX_PATH];
    const size_t folderLength = static_cast<size_t>(slash - wide);
    if (folderLength + 1 >= MAX_PATH) return false;
    std::memcpy(folder, wide, folderLength * sizeof(WCHAR));
    folder[folderLength] = 0;
    char name[MAX_PATH];
    if (!AnsiPath(folder, out, size) || !AnsiPath(slash + 1, name, sizeof name)) return false;
    const size_t length = std::strlen(out);
    if (length + 1 + std::strlen(name) + 1 > size) return false;
    out[length] = '\\';
    std::strcpy(out + length + 1, name);
    return true;
}
