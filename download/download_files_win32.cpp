// The run's files in the temporary directory: its own download file, the check of what
// arrived, and the removal of what runs left behind.
#include <cstdio>

#include "common/shared_state.h"
#include "download/download_request.h"
#include "download/image_check.h"

bool JoinPath(char* out, const char* folder, const char* name) {
    int length = snprintf(out, kImagePathSize, "%s%s", folder, name);
    return length > 0 && length < kImagePathSize;
}

DownloadCause FolderCause(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL
               ? DownloadCause::TempFolderFull
               : DownloadCause::TempFolderReadOnly;
}

DownloadCause PrepareFiles(ProgressCallback* self) {
    DWORD length = GetTempPathA(kImagePathSize, self->tempFolder);
    char name[64];
    if (length == 0 || length >= static_cast<DWORD>(kImagePathSize)) {
        self->tempFolder[0] = 0;
        return DownloadCause::TempFolderReadOnly;
    }
    if (!DownloadFileName(name, sizeof name, GetCurrentProcessId(), self->run->serial) ||
        !JoinPath(self->downloadFile, self->tempFolder, name) ||
        !JoinPath(self->imageFile, self->tempFolder, kImageFileName))
        return DownloadCause::TempFolderReadOnly;
    HANDLE file = CreateFileA(self->downloadFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        self->downloadFile[0] = 0;
        return FolderCause(GetLastError());
    }
    CloseHandle(file);
    return DownloadCause::None;
}

void RemoveDownloadFile(ProgressCallback* self) {
    if (self->downloadFile[0]) DeleteFileA(self->downloadFile);
    self->downloadFile[0] = 0;
}

void ReadDownloadFile(ProgressCallback* self, DownloadFacts* facts) {
    HANDLE file = CreateFileA(self->downloadFile, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    uint8_t start[kImageCheckBytes];
    DWORD read = 0;
    if ((low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR) &&
        ReadFile(file, start, sizeof start, &read, nullptr)) {
        facts->fileFound = true;
        facts->fileSize = (static_cast<uint64_t>(high) << 32) | low;
        facts->verdict =
            CheckImageStart(start, read, facts->fileSize, self->headers.contentType);
    }
    CloseHandle(file);
}

namespace {

// True while process `id` runs (or can't be asked about).
bool ProcessRuns(DWORD id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return runs;
}

}  // namespace

void RemoveLeftDownloads(bool ownToo) {
    char folder[kImagePathSize], pattern[kImagePathSize], path[kImagePathSize];
    DWORD length = GetTempPathA(kImagePathSize, folder);
    if (length == 0 || length >= static_cast<DWORD>(kImagePathSize) ||
        !JoinPath(pattern, folder, kDownloadFilePattern))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    const DWORD self = GetCurrentProcessId();
    do {
        uint32_t owner = 0;
        if (!DownloadFileProcess(found.cFileName, &owner)) continue;
        const bool remove = owner == self ? ownToo : !ProcessRuns(owner);
        // A file still in use stays, and goes at a later start.
        if (remove && JoinPath(path, folder, found.cFileName)) DeleteFileA(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}
