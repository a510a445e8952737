#include "download/kept_image.h"

#include <windows.h>
#include <wincrypt.h>

#include <cstdio>
#include <cstring>

#include "common/run_log.h"
#include "common/shared_state.h"
#include "common/system_library.h"
#include "download/download_request.h"
#include "ui/run_display.h"

// The AES provider and its SHA-256 came with Windows XP SP3; the headers of the oldest Windows
// the program builds for don't name them. Where the system lacks them the provider can't be
// acquired, and nothing is kept.
#ifndef PROV_RSA_AES
#define PROV_RSA_AES 24
#endif
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

namespace {

// Pieces of 1 MiB: under Wine the hash ran fastest with them (larger ones were slower).
constexpr DWORD kHashPiece = 1 << 20;

// A SHA-256 hash object and its provider, released together.
struct Sha256 {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    bool Open() {
        // The provider's library, which CryptoAPI loads by the name or path its registration
        // gives, is loaded from the system folder first (with what it needs from there too):
        // the later load then finds it loaded.
        LoadSystemLibrary("rsaenh.dll");
        if (!CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_AES,
                                  CRYPT_VERIFYCONTEXT)) {
            provider = 0;
            return false;
        }
        return CryptCreateHash(provider, CALG_SHA_256, 0, 0, &hash) != 0;
    }
    ~Sha256() {
        if (hash) CryptDestroyHash(hash);
        if (provider) CryptReleaseContext(provider, 0);
    }
};

bool RecordPath(char* out, size_t size, const char* folder) {
    const int length = snprintf(out, size, "%s%s", folder, kRecordFileName);
    return length > 0 && static_cast<size_t>(length) < size;
}

}  // namespace

bool Sha256Available() {
    Sha256 sha;
    return sha.Open();
}

HashEnd HashImageFile(const char* path, uint64_t expectedLength, uint8_t digest[kSha256Size],
                      uint64_t* length, bool (*goOn)(void*, uint64_t, uint64_t), void* context) {
    *length = 0;
    Sha256 sha;
    if (!sha.Open()) return HashEnd::NoHash;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LogFailure("CreateFileA of the image file for its SHA-256", GetLastError());
        return HashEnd::Unreadable;
    }
    DWORD high = 0;
    const DWORD low = GetFileSize(file, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        CloseHandle(file);
        return HashEnd::Unreadable;
    }
    const uint64_t total = (static_cast<uint64_t>(high) << 32) | low;
    *length = total;
    if (expectedLength && total != expectedLength) {
        CloseHandle(file);
        return HashEnd::OtherLength;
    }
    BYTE* piece = static_cast<BYTE*>(
        VirtualAlloc(nullptr, kHashPiece, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE));
    HashEnd end = piece ? HashEnd::Done : HashEnd::Unreadable;
    uint64_t done = 0;
    while (end == HashEnd::Done && done < total) {
        DWORD got = 0;
        if (!ReadFile(file, piece, kHashPiece, &got, nullptr) || got == 0) {
            LogFailure("ReadFile of the image file for its SHA-256", GetLastError());
            end = HashEnd::Unreadable;
        } else if (!CryptHashData(sha.hash, piece, got, 0)) {
            LogFailure("CryptHashData", GetLastError());
            end = HashEnd::NoHash;
        } else {
            done += got;
            if (!goOn(context, done, total)) end = HashEnd::Stopped;
        }
    }
    if (piece) VirtualFree(piece, 0, MEM_RELEASE);
    CloseHandle(file);
    if (end != HashEnd::Done) return end;
    DWORD size = kSha256Size;
    if (!CryptGetHashParam(sha.hash, HP_HASHVAL, digest, &size, 0) || size != kSha256Size)
        return HashEnd::NoHash;
    return HashEnd::Done;
}

RecordState ReadImageRecord(const char* folder, ImageRecord* record) {
    char path[kImagePathSize + sizeof kRecordFileName];
    if (!RecordPath(path, sizeof path, folder)) return RecordState::None;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                              nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
            return RecordState::None;
        LogFailure("CreateFileA of the image record", error);
        return RecordState::Unreadable;
    }
    char text[kRecordTextSize];
    DWORD got = 0;
    const bool read = ReadFile(file, text, sizeof text - 1, &got, nullptr) != 0;
    CloseHandle(file);
    if (!read || got == sizeof text - 1) return RecordState::Unreadable;  // no record is so long
    text[got] = 0;
    return ParseImageRecord(text, record) ? RecordState::Read : RecordState::Unreadable;
}

bool WriteImageRecord(const char* folder, const ImageRecord& record) {
    char path[kImagePathSize + sizeof kRecordFileName];
    char text[kRecordTextSize];
    if (!RecordPath(path, sizeof path, folder) || !FormatImageRecord(text, sizeof text, record))
        return false;
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        LogFailure("CreateFileA of the image record", GetLastError());
        return false;
    }
    const DWORD length = static_cast<DWORD>(strlen(text));
    DWORD written = 0;
    const bool whole = WriteFile(file, text, length, &written, nullptr) && written == length;
    if (!whole) LogFailure("WriteFile of the image record", GetLastError());
    CloseHandle(file);
    if (!whole) DeleteFileA(path);  // half a record would only be read as unreadable
    return whole;
}

void RemoveImageRecord(const char* folder) {
    char path[kImagePathSize + sizeof kRecordFileName];
    if (RecordPath(path, sizeof path, folder)) DeleteFileA(path);
}

RecordDate RecordDateNow() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    RecordDate date;
    date.year = now.wYear;
    date.month = now.wMonth;
    date.day = now.wDay;
    date.hour = now.wHour;
    date.minute = now.wMinute;
    date.second = now.wSecond;
    return date;
}

namespace {

uint32_t CheckPause() {
    static const uint32_t pause = CheckPauseMs(getenv(kCheckPauseVariable));
    return pause;
}

// What a hash of the image file shows on the page while it reads.
struct HashShown {
    WorkerRun* run;
    const char* line;
};

// After each piece of a hash: the bar on the page, and a stop once the run has been cancelled
// or its page has gone.
bool HashGoesOn(void* context, uint64_t done, uint64_t total) {
    const HashShown* shown = static_cast<const HashShown*>(context);
    if (CancelRequested || !RunPageIsOpen(shown->run)) return false;
    const int bar = total ? static_cast<int>(done * static_cast<double>(kDownloadBarSteps) / total)
                          : kDownloadBarSteps;
    ShowRunProgress(shown->run->page, shown->line, bar);
    if (CheckPause()) Sleep(CheckPause());
    return true;
}

// Hashes the image file with the page showing `line` and the bar; the close question stays
// on meanwhile. The time it took goes to the run log.
HashEnd HashShowing(ProgressCallback* self, const char* line, uint64_t expectedLength,
                    uint8_t digest[kSha256Size], uint64_t* length) {
    WorkerRun* run = self->run;
    if (RunPageIsOpen(run)) {
        SetRunBarRange(run->page, kDownloadBarSteps);
        ShowRunStatus(run->page, line);
        DownloadActive = 1;
    }
    HashShown shown{run, line};
    const DWORD started = GetTickCount();
    const HashEnd end =
        HashImageFile(self->imageFile, expectedLength, digest, length, HashGoesOn, &shown);
    const DWORD took = GetTickCount() - started;
    if (RunPageIsOpen(run)) DownloadActive = 0;
    static const char* const kEnds[] = {"done", "the file has another length", "a read failed",
                                        "stopped (cancel or close)", "no SHA-256"};
    LogEvent("kept image: SHA-256 of %s, %llu bytes in %lu ms (%.0f bytes/s): %s",
             self->imageFile, static_cast<unsigned long long>(*length),
             static_cast<unsigned long>(took), took ? *length * 1000.0 / took : 0.0,
             kEnds[static_cast<int>(end)]);
    return end;
}

}  // namespace

void KeepImage(ProgressCallback* self) {
    if (!self->hashAvailable) {
        LogEvent("kept image: the system has no SHA-256; the image is not kept for later runs");
        return;
    }
    uint8_t digest[kSha256Size];
    uint64_t length = 0;
    if (HashShowing(self, kCheckingDownloadText, 0, digest, &length) != HashEnd::Done) return;
    ImageRecord& record = self->record;
    record = ImageRecord{};
    snprintf(record.address, sizeof record.address, "%s", self->address);
    strcpy(record.etag, self->headers.etag);
    strcpy(record.lastModified, self->headers.lastModified);
    record.length = length;
    Sha256Text(digest, record.sha256);
    record.downloaded = RecordDateNow();
    const bool written = WriteImageRecord(self->tempFolder, record);
    LogEvent("kept image: record %s: ETag %s, Last-Modified \"%s\", %llu bytes, SHA-256 %s",
             written ? "written" : "NOT written", record.etag[0] ? record.etag : "(none)",
             record.lastModified, static_cast<unsigned long long>(length), record.sha256);
}

KeptCheck CheckKeptImage(ProgressCallback* self) {
    char line[kKeptImageTextSize];
    KeptImageText(line, sizeof line, self->record.downloaded);
    uint8_t digest[kSha256Size];
    uint64_t length = 0;
    const HashEnd end = HashShowing(self, line, self->record.length, digest, &length);
    if (end == HashEnd::Stopped) return KeptCheck::Stopped;
    char sha256[kSha256TextSize] = "";
    if (end == HashEnd::Done) Sha256Text(digest, sha256);
    if (end == HashEnd::Done && KeptImageIntact(self->record, length, sha256)) {
        LogEvent("kept image: intact; it is written");
        return KeptCheck::Intact;
    }
    LogEvent("kept image: altered (%llu bytes, SHA-256 %s; recorded %llu bytes, %s); the record "
             "is removed and the image downloaded",
             static_cast<unsigned long long>(length), sha256[0] ? sha256 : "(none)",
             static_cast<unsigned long long>(self->record.length), self->record.sha256);
    RemoveImageRecord(self->tempFolder);
    return KeptCheck::Altered;
}
