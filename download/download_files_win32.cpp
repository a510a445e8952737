// The run's files in the folder of the run's files: its own download file, the check of what
// arrived, and the removal of what runs left behind.
#include <cstdio>
#include <cstring>

#include "common/data_folder_files.h"
#include "common/run_log.h"
#include "common/shared_state.h"
#include "download/download_request.h"
#include "download/image_check.h"
#include "download/kept_image.h"

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
    const char* folder = DataFolder();
    char name[64];
    if (!folder[0] || std::strlen(folder) >= static_cast<size_t>(kImagePathSize)) {
        self->folder[0] = 0;
        return DownloadCause::TempFolderReadOnly;
    }
    std::strcpy(self->folder, folder);
    if (!DownloadFileName(name, sizeof name, GetCurrentProcessId(), self->run->serial) ||
        !JoinPath(self->downloadFile, self->folder, name) ||
        !JoinPath(self->imageFile, self->folder, kImageFileName))
        return DownloadCause::TempFolderReadOnly;
    HANDLE file = OpenDataFile(self->downloadFile, GENERIC_WRITE, 0, CREATE_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL);
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

HANDLE OpenDownloadFile(ProgressCallback* self, DownloadFacts* facts) {
    HANDLE file = OpenDataFile(self->downloadFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN);
    if (file == INVALID_HANDLE_VALUE) {
        LogFailure("CreateFileA of the download, to be read alone", GetLastError());
        return nullptr;
    }
    LARGE_INTEGER size{};
    uint8_t start[kImageCheckBytes];
    DWORD read = 0;
    if (GetFileSizeEx(file, &size) && ReadFile(file, start, sizeof start, &read, nullptr)) {
        facts->fileFound = true;
        facts->fileSize = static_cast<uint64_t>(size.QuadPart);
        facts->verdict = CheckImageStart(start, read, facts->fileSize, self->headers.contentType);
    }
    return file;
}

void PlaceDownload(ProgressCallback* self) {
    // The record describes the file it was written for, or nothing: it goes before the file is
    // replaced.
    RemoveImageRecord();
    if (MoveFileExA(self->downloadFile, self->imageFile, MOVEFILE_REPLACE_EXISTING)) {
        strcpy(ImagePath, self->imageFile);
        self->downloadFile[0] = 0;
        return;
    }
    LogFailure("MoveFileExA of the download over the image file", GetLastError());
    strcpy(ImagePath, self->downloadFile);
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
    char pattern[kImagePathSize], path[kImagePathSize];
    const char* folder = DataFolder();
    if (!folder[0] || !JoinPath(pattern, folder, kDownloadFilePattern)) return;
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
