// The platform's copy of the download in its internet cache: where it lies, the room of that
// folder's volume, and its removal once the download has ended. URLDownloadToFileA keeps its
// own copy of everything it fetches there (Wine also when asked not to), so without the removal
// every run would leave a second image behind on the user's disk.
#include "download/download_request.h"

#include <wininet.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/run_log.h"
#include "common/system_library.h"

#ifndef CSIDL_INTERNET_CACHE
#define CSIDL_INTERNET_CACHE 0x0020
#endif

namespace {

using GetVolumePathNameFn = BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD);
using GetVolumeNameFn = BOOL(WINAPI*)(LPCSTR, LPSTR, DWORD);
using GetFolderPathFn = HRESULT(WINAPI*)(HWND, int, HANDLE, DWORD, LPSTR);
using DeleteEntryFn = BOOL(WINAPI*)(LPCSTR);
using FindFirstEntryFn = HANDLE(WINAPI*)(LPCSTR, LPINTERNET_CACHE_ENTRY_INFOA, LPDWORD);
using FindNextEntryFn = BOOL(WINAPI*)(HANDLE, LPINTERNET_CACHE_ENTRY_INFOA, LPDWORD);
using FindCloseFn = BOOL(WINAPI*)(HANDLE);
using CommitEntryFn = BOOL(WINAPI*)(LPCSTR, LPCSTR, FILETIME, FILETIME, DWORD, LPBYTE, DWORD,
                                    LPCSTR, LPCSTR);

char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The root of a path's drive ("C:\") or share ("\\server\share\"), where the system can't
// name the folder's volume.
void PathRoot(const char* path, char* out, size_t size) {
    out[0] = 0;
    if (path[0] && path[1] == ':') {
        snprintf(out, size, "%c:\\", path[0]);
    } else if (path[0] == '\\' && path[1] == '\\') {
        const char* share = strchr(path + 2, '\\');
        const char* end = share ? strchr(share + 1, '\\') : nullptr;
        const size_t length = end ? static_cast<size_t>(end - path) : strlen(path);
        if (share && length + 2 <= size)
            snprintf(out, size, "%.*s\\", static_cast<int>(length), path);
    }
}

}  // namespace

void AskFolderSpace(const char* folder, FolderSpace* space) {
    space->volumeName[0] = 0;
    space->volumePath[0] = 0;
    space->room = FolderRoom{false, 0, space->volumeName, space->volumePath};
    ULARGE_INTEGER freeBytes;
    if (!folder[0] || !GetDiskFreeSpaceExA(folder, &freeBytes, nullptr, nullptr)) return;
    space->room.known = true;
    space->room.freeBytes = freeBytes.QuadPart;
    // The volume a folder lies on, also one mounted in a folder of a drive: by its mount folder
    // and the volume's own name. Both functions came with Windows 2000, but their documentation
    // names XP: asked by name, with the drive's root where they are missing.
    const HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto volumePath = SystemFunction<GetVolumePathNameFn>(kernel, "GetVolumePathNameA");
    const auto volumeName =
        SystemFunction<GetVolumeNameFn>(kernel, "GetVolumeNameForVolumeMountPointA");
    if (!volumePath || !volumePath(folder, space->volumePath, sizeof space->volumePath))
        PathRoot(folder, space->volumePath, sizeof space->volumePath);
    if (!volumeName || !space->volumePath[0] ||
        !volumeName(space->volumePath, space->volumeName, sizeof space->volumeName))
        space->volumeName[0] = 0;
}

bool CacheFolder(const WorkerRun* run, char* out) {
    out[0] = 0;
    if (run->cacheFileKnown) {
        snprintf(out, kImagePathSize, "%s", run->cacheFile);
        char* name = strrchr(out, '\\');
        if (name && name > out) {
            name[1] = 0;
            return true;
        }
    }
    const auto folderPath =
        SystemFunction<GetFolderPathFn>(LoadSystemLibrary("shell32.dll"), "SHGetFolderPathA");
    char path[MAX_PATH];
    if (!folderPath || folderPath(nullptr, CSIDL_INTERNET_CACHE, nullptr, 0, path) != S_OK) {
        out[0] = 0;
        return false;
    }
    snprintf(out, kImagePathSize, "%s", path);
    return out[0] != 0;
}

namespace {

bool SameFile(const char* a, const char* b) {
    for (; *a && *b; ++a, ++b)
        if (AsciiLower(*a) != AsciiLower(*b)) return false;
    return *a == *b;
}

// Calls visit(entry, context) for each entry of the platform's internet cache until it
// answers false.
void ForEachEntry(HMODULE wininet, bool (*visit)(const INTERNET_CACHE_ENTRY_INFOA&, void*),
                  void* context) {
    const auto findFirst = SystemFunction<FindFirstEntryFn>(wininet, "FindFirstUrlCacheEntryA");
    const auto findNext = SystemFunction<FindNextEntryFn>(wininet, "FindNextUrlCacheEntryA");
    const auto findClose = SystemFunction<FindCloseFn>(wininet, "FindCloseUrlCache");
    if (!findFirst || !findNext || !findClose) return;
    // An entry's record holds its address, file name and headers. A record larger than the
    // buffer is not handed out (the search stays at it): the buffer grows once for it, up to
    // a limit no entry of the program's comes near, and the search ends past that.
    constexpr DWORD kEntrySize = 64 * 1024, kLargestEntry = 1024 * 1024;
    DWORD capacity = kEntrySize, length = capacity;
    auto* entry = static_cast<INTERNET_CACHE_ENTRY_INFOA*>(malloc(capacity));
    const auto grown = [&]() {
        if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || length <= capacity ||
            length > kLargestEntry)
            return false;
        void* larger = realloc(entry, length);
        if (!larger) return false;
        entry = static_cast<INTERNET_CACHE_ENTRY_INFOA*>(larger);
        capacity = length;
        return true;
    };
    HANDLE search = entry ? findFirst(nullptr, entry, &length) : nullptr;
    if (entry && !search && grown()) search = findFirst(nullptr, entry, &length);
    while (search) {
        if (entry->lpszSourceUrlName && !visit(*entry, context)) break;
        length = capacity;
        if (findNext(search, entry, &length)) continue;
        if (!grown() || !findNext(search, entry, &length)) break;
    }
    if (search) findClose(search);
    free(entry);
}

struct FileEntry {
    const char* file;
    char* address;
    size_t size;
    bool found;
};

// The cache entry whose local file is the binding's cache file: the entry of a request the
// server redirected is stored under the address it was redirected to, which Wine doesn't
// report. Its address into `address`; false when there is none.
bool EntryOfFile(HMODULE wininet, const char* file, char* address, size_t size) {
    FileEntry sought{file, address, size, false};
    ForEachEntry(
        wininet,
        [](const INTERNET_CACHE_ENTRY_INFOA& entry, void* context) {
            FileEntry* match = static_cast<FileEntry*>(context);
            if (!entry.lpszLocalFileName || !SameFile(entry.lpszLocalFileName, match->file))
                return true;
            match->found = snprintf(match->address, match->size, "%s",
                                    entry.lpszSourceUrlName) < static_cast<int>(match->size);
            return false;
        },
        &sought);
    return sought.found;
}

// True while another handle holds the file without letting it be deleted (Wine keeps the
// file of a download stopped before its end open until the process ends).
bool FileInUse(const char* path) {
    HANDLE file = CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_SHARING_VIOLATION;
    CloseHandle(file);
    return false;
}

struct Sweep {
    const char* address;
    DeleteEntryFn deleteEntry;
    int removed;
};

}  // namespace

void RemoveEarlierCopies(const char* imageUrl) {
    const HMODULE wininet = LoadSystemLibrary("wininet.dll");
    Sweep sweep{imageUrl, SystemFunction<DeleteEntryFn>(wininet, "DeleteUrlCacheEntryA"), 0};
    if (!sweep.deleteEntry) return;
    ForEachEntry(
        wininet,
        [](const INTERNET_CACHE_ENTRY_INFOA& entry, void* context) {
            Sweep* state = static_cast<Sweep*>(context);
            // A file the platform still holds would only be dropped from the index.
            if (IsRequestAddressOf(entry.lpszSourceUrlName, state->address) &&
                !(entry.lpszLocalFileName && FileInUse(entry.lpszLocalFileName)) &&
                state->deleteEntry(entry.lpszSourceUrlName))
                ++state->removed;
            return true;
        },
        &sweep);
    if (sweep.removed)
        LogEvent("download: copies of earlier downloads removed from the cache: %d",
                 sweep.removed);
}

void RemoveCacheCopy(ProgressCallback* self) {
    const HMODULE wininet = LoadSystemLibrary("wininet.dll");
    const auto deleteEntry = SystemFunction<DeleteEntryFn>(wininet, "DeleteUrlCacheEntryA");
    if (!deleteEntry) {
        LogEvent("download: wininet has no DeleteUrlCacheEntryA; the cache's copy stays");
        return;
    }
    if (deleteEntry(self->request)) {
        LogEvent("download: the cache's copy of the download removed");
        return;
    }
    DWORD error = GetLastError();
    const WorkerRun* run = self->run;
    char address[kRequestAddressSize];
    if (!run->cacheFileKnown) {
        // Nothing was stored for a request that brought no body (a 304, an error before it).
        LogEvent("download: no cache copy of the download (error %lu)",
                 static_cast<unsigned long>(error));
        return;
    }
    if (EntryOfFile(wininet, run->cacheFile, address, sizeof address)) {
        if (deleteEntry(address)) {
            LogEvent("download: the cache's copy of the download removed (stored for %s)",
                     address);
            return;
        }
        error = GetLastError();
    } else if (GetFileAttributesA(run->cacheFile) == INVALID_FILE_ATTRIBUTES) {
        LogEvent("download: the cache kept no copy of the download");
        return;
    } else {
        // A download that stopped before its end leaves its file in the cache without an
        // entry. It is entered under the request, so that the cache itself, which takes only
        // files of its own, removes it: now, or while the platform still holds it open, at the
        // next download (RemoveEarlierCopies).
        const auto commitEntry = SystemFunction<CommitEntryFn>(wininet, "CommitUrlCacheEntryA");
        const FILETIME never{0, 0};
        if (commitEntry && commitEntry(self->request, run->cacheFile, never, never,
                                       NORMAL_CACHE_ENTRY, nullptr, 0, nullptr, nullptr)) {
            if (FileInUse(run->cacheFile)) {
                LogEvent("download: the cache's copy of the unfinished download is still in use; "
                         "it goes at the next download");
                return;
            }
            if (deleteEntry(self->request)) {
                LogEvent("download: the cache's copy of the unfinished download removed");
                return;
            }
        }
        error = GetLastError();
    }
    LogEvent("download: the cache's copy of the download stays (error %lu): %s",
             static_cast<unsigned long>(error), run->cacheFile);
}
