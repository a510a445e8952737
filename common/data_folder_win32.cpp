// Finds or makes the folder of the run's files at start-up, and opens files in it so that a
// link planted under one of their names can't send a write elsewhere.
#include "common/data_folder_files.h"

#include <shlobj.h>

#include <cstdio>
#include <cstring>

#include "common/data_folder.h"
#include "common/settings.h"
#include "common/system_paths.h"

namespace {

char RunFolder[MAX_PATH + 2] = "";  // ends in a backslash; empty when there is none
bool Secure = false;
char Report[2 * MAX_PATH + 160] = "no folder for the run's files";

const char kFolderIdValue[] = "DataFolder";

// `head` followed by the plain ASCII `tail` into out (`size` characters); false when it
// doesn't fit.
bool JoinWide(WCHAR* out, size_t size, const WCHAR* head, const char* tail) {
    size_t length = 0;
    while (head[length]) {
        if (length + 1 >= size) return false;
        out[length] = head[length];
        ++length;
    }
    for (const char* c = tail; *c; ++c) {
        if (length + 1 >= size) return false;
        out[length++] = static_cast<unsigned char>(*c);
    }
    out[length] = 0;
    return true;
}

// The identity of an existing file or folder, opened as itself (a link is not followed).
bool ReadFolderId(const WCHAR* path, FolderId* id) {
    HANDLE handle = CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    const bool read = GetFileInformationByHandle(handle, &information) != 0;
    CloseHandle(handle);
    if (!read) return false;
    id->volumeSerial = information.dwVolumeSerialNumber;
    id->fileIndex = static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    return true;
}

FolderFacts Facts(const WCHAR* path) {
    FolderFacts facts{};
    const DWORD attributes = GetFileAttributesW(path);
    facts.exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (facts.exists) {
        facts.isDirectory = (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        facts.isReparsePoint = (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        facts.idKnown = ReadFolderId(path, &facts.id);
    }
    uint8_t recorded[kFolderIdSize];
    facts.recorded = ReadSettingBinary(kFolderIdValue, recorded, sizeof recorded) == kFolderIdSize &&
                     FolderIdFromBytes(recorded, kFolderIdSize, &facts.recordedId);
    return facts;
}

// Makes the folder with its access list and records its identity; the owner is the
// Administrators group where the system lets this process name it.
bool MakeFolder(const WCHAR* path) {
    uint8_t descriptor[kFolderSecurityDescriptorSize];
    SECURITY_ATTRIBUTES attributes{sizeof attributes, descriptor, FALSE};
    FolderSecurityDescriptor(descriptor, sizeof descriptor, true);
    bool made = CreateDirectoryW(path, &attributes) != 0;
    if (!made && GetLastError() == ERROR_INVALID_OWNER) {
        FolderSecurityDescriptor(descriptor, sizeof descriptor, false);
        made = CreateDirectoryW(path, &attributes) != 0;
    }
    FolderId id;
    if (!made || !ReadFolderId(path, &id)) return false;
    uint8_t bytes[kFolderIdSize];
    FolderIdToBytes(id, bytes);
    return WriteSettingBinary(kFolderIdValue, bytes, sizeof bytes);
}

// Moves whatever has the folder's name aside (a link is renamed, not what it points to).
bool MoveAside(const WCHAR* path, char* movedTo, size_t size) {
    for (unsigned number = 1; number < 100; ++number) {
        WCHAR aside[MAX_PATH + 16];
        char suffix[16];
        std::snprintf(suffix, sizeof suffix, ".old-%u", number);
        if (!JoinWide(aside, MAX_PATH + 16, path, suffix)) return false;
        if (MoveFileExW(path, aside, 0)) {
            if (!AnsiPath(aside, movedTo, size)) std::snprintf(movedTo, size, "(a name of .old-%u)", number);
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) return false;
    }
    return false;
}

// The common application data folder's "Halcyra Creator", made or taken as the program's own;
// false with the reason in Report when it can't be had.
bool SecureFolder() {
    WCHAR common[MAX_PATH];
    if (SHGetFolderPathW(nullptr, CSIDL_COMMON_APPDATA, nullptr, SHGFP_TYPE_CURRENT, common) != S_OK) {
        std::snprintf(Report, sizeof Report, "the common application data folder is unknown");
        return false;
    }
    WCHAR path[MAX_PATH];
    char name[sizeof kDataFolderName + 1];
    std::snprintf(name, sizeof name, "\\%s", kDataFolderName);
    if (!JoinWide(path, MAX_PATH, common, name)) {
        std::snprintf(Report, sizeof Report, "the common application data folder's path is too long");
        return false;
    }
    char shown[MAX_PATH] = "";
    const char* state = "in use";
    char movedTo[MAX_PATH + 16] = "";
    const FolderAction action = DecideDataFolder(Facts(path));
    if (action == FolderAction::Replace && !MoveAside(path, movedTo, sizeof movedTo)) {
        std::snprintf(Report, sizeof Report, "a folder of that name that the program did not "
                                             "make could not be moved aside (error %lu)",
                      GetLastError());
        return false;
    }
    if (action != FolderAction::Use) {
        bool made = MakeFolder(path);
        // A name that answers as nothing may still be taken, by a link that points nowhere:
        // it is moved aside like anything else the program didn't make.
        if (!made && GetLastError() == ERROR_ALREADY_EXISTS && !movedTo[0] &&
            MoveAside(path, movedTo, sizeof movedTo))
            made = MakeFolder(path);
        if (!made) {
            std::snprintf(Report, sizeof Report, "its folder could not be made (error %lu)",
                          GetLastError());
            return false;
        }
        state = movedTo[0] ? "made anew; the entry of that name that the program had not made "
                             "was moved to"
                           : "made now";
    }
    if (!AnsiPath(path, shown, sizeof shown)) {
        std::snprintf(Report, sizeof Report, "its path has letters outside the ANSI code page");
        return false;
    }
    std::snprintf(RunFolder, sizeof RunFolder, "%s\\", shown);
    std::snprintf(Report, sizeof Report, "folder of the run's files: %s (%s%s%s)", RunFolder, state,
                  movedTo[0] ? " " : "", movedTo);
    return true;
}

}  // namespace

void PrepareDataFolder() {
    if (SecureFolder()) {
        Secure = true;
        return;
    }
    char why[sizeof Report];
    std::snprintf(why, sizeof why, "%s", Report);
    if (TemporaryFolder(RunFolder, sizeof RunFolder)) {
        std::snprintf(Report, sizeof Report,
                      "folder of the run's files: the temporary folder %s, since the program's "
                      "own folder can't be used (%s); no image is kept for later runs",
                      RunFolder, why);
    } else {
        RunFolder[0] = 0;
        std::snprintf(Report, sizeof Report, "no folder for the run's files: %s, and the "
                                             "temporary folder can't be used either", why);
    }
}

const char* DataFolder() { return RunFolder; }
bool DataFolderIsSecure() { return Secure; }
const char* DataFolderReport() { return Report; }

namespace {

// True for a file that is itself, not a link to another: a reparse point, or a name of a
// file that has other names, is refused.
bool PlainFile(HANDLE file) {
    BY_HANDLE_FILE_INFORMATION information;
    return GetFileInformationByHandle(file, &information) &&
           !(information.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           information.nNumberOfLinks == 1;
}

}  // namespace

HANDLE OpenDataFile(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    if (disposition == CREATE_ALWAYS) {
        // A name is never written through: whatever it names goes, and the file is new.
        DeleteFileA(path);
        disposition = CREATE_NEW;
    }
    HANDLE file = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE || PlainFile(file)) return file;
    CloseHandle(file);
    if (disposition == OPEN_EXISTING) {
        SetLastError(ERROR_ACCESS_DENIED);
        return INVALID_HANDLE_VALUE;
    }
    // OPEN_ALWAYS: the link goes, and a file of the program's own takes its name.
    DeleteFileA(path);
    return CreateFileA(path, access, share, nullptr, CREATE_NEW, flags, nullptr);
}
