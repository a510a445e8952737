// The writer's operations on Win32: volumes and the physical disk through CreateFileA and
// DeviceIoControl, the image through the C runtime, the page through its controls 1018 and
// 1019. The control flow is in image_writer_core.cpp.
#include "write/image_writer.h"

#include <windows.h>
#include <winioctl.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/run_log.h"
#include "common/sha256.h"
#include "common/shared_state.h"
#include "drives/drive_identity.h"
#include "ui/run_display.h"
#include "write/drive_fault.h"
#include "write/image_writer_core.h"

static_assert(kBoxIconError == MB_ICONERROR, "style values");
static_assert(kBoxIconWarning == MB_ICONWARNING, "style values");
static_assert(kBoxIconInformation == MB_ICONINFORMATION, "style values");
static_assert(kBoxYesNo == MB_YESNO, "style values");
static_assert(kAnswerOk == IDOK && kAnswerYes == IDYES && kAnswerNo == IDNO, "answer values");

namespace {

// The page of this run, taken from RunPage once at the start, and the code of the call that
// failed last, kept for the box that tells the user why.
struct PageLink {
    HWND page;
    DWORD error;
    Sha256Hash hash;  // the image's, taken as it is written
};

// Nothing of a run reaches a page that has gone, nor a later one.
bool PageAlive(void* context) {
    HWND page = static_cast<PageLink*>(context)->page;
    return page != nullptr && RunPage.load() == page;
}

HWND Page(void* context) { return static_cast<PageLink*>(context)->page; }

// A failed call whose code the user is told: kept, then logged with the system's reason.
bool Failed(void* context, const char* what, DWORD error) {
    static_cast<PageLink*>(context)->error = error;
    LogFailure(what, error);
    return false;
}

HANDLE H(DeviceHandle device) { return static_cast<HANDLE>(device); }

HANDLE OpenDevice(const char* path, DWORD access, DWORD flags) {
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       flags, nullptr);
}

// A volume or disk the run writes: a failure is kept and logged.
DeviceHandle OpenForWriting(void* context, const char* path, DWORD flags) {
    HANDLE handle = OpenDevice(path, GENERIC_READ | GENERIC_WRITE, flags);
    if (handle != INVALID_HANDLE_VALUE) return handle;
    char what[64];
    std::snprintf(what, sizeof what, "CreateFileA %s", path);
    Failed(context, what, GetLastError());
    return nullptr;
}

bool Control(DeviceHandle device, DWORD code) {
    DWORD returned = 0;
    return DeviceIoControl(H(device), code, nullptr, 0, nullptr, 0, &returned, nullptr) != 0;
}

bool DeviceNumber(HANDLE handle, DiskId* disk) { return AskDeviceNumber(handle, disk); }

DeviceHandle OpenVolume(void* context, const char* path) {
    return OpenForWriting(context, path, 0);
}

DeviceHandle OpenDisk(void* context, const char* path) {
    return OpenForWriting(context, path, FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING);
}

// For the tests: TestRefuseLocks=n refuses the process's first n locks as Windows does while
// files are open on the volume (Wine grants every lock).
bool LockRefusedForTest() {
    static std::atomic<int> refusals{static_cast<int>(AdminSettings.refuseLocks & 0xFFFF)};
    int left = refusals.load();
    while (left > 0 && !refusals.compare_exchange_weak(left, left - 1)) {
    }
    if (left <= 0) return false;
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

bool LockVolume(void* context, DeviceHandle device) {
    if (LockRefusedForTest() || !Control(device, FSCTL_LOCK_VOLUME))
        return Failed(context, "FSCTL_LOCK_VOLUME", GetLastError());
    return true;
}
bool DismountVolume(void*, DeviceHandle device) { return Control(device, FSCTL_DISMOUNT_VOLUME); }
void UnlockVolume(void*, DeviceHandle device) { Control(device, FSCTL_UNLOCK_VOLUME); }
void CloseDevice(void*, DeviceHandle device) { CloseHandle(H(device)); }

bool QueryDisk(void*, DeviceHandle volume, DiskId* disk) {
    if (DeviceNumber(H(volume), disk)) return true;
    LogFailure("IOCTL_STORAGE_GET_DEVICE_NUMBER", GetLastError());
    return false;
}

// Every other drive letter whose volume reports the same device; opened without access
// rights, which is enough to ask for the device number.
int OtherVolumes(void*, DiskId disk, char exclude, char* letters) {
    DWORD present = GetLogicalDrives();
    int count = 0;
    for (int i = 0; i < 26; ++i) {
        char letter = static_cast<char>('A' + i);
        if (!(present & (1u << i)) || letter == exclude) continue;
        char path[8];
        std::snprintf(path, sizeof path, "\\\\.\\%c:", letter);
        HANDLE volume = OpenDevice(path, 0, 0);  // may fail: that letter is no volume of ours
        if (volume == INVALID_HANDLE_VALUE) continue;
        DiskId other{};
        if (DeviceNumber(volume, &other) && other.deviceType == disk.deviceType &&
            other.deviceNumber == disk.deviceNumber)
            letters[count++] = letter;
        CloseHandle(volume);
    }
    return count;
}

uint32_t SectorSize(void*, DeviceHandle disk) {
    DISK_GEOMETRY geometry{};
    DWORD returned = 0;
    if (!DeviceIoControl(H(disk), IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                         sizeof geometry, &returned, nullptr))
        return 0;
    return geometry.BytesPerSector;
}

// A seek, then a plain write or read: under Wine a write or read with its offset in an
// OVERLAPPED record takes three to four times as long as the two calls together.
bool MoveTo(DeviceHandle device, int64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = offset;
    return SetFilePointerEx(H(device), position, nullptr, FILE_BEGIN) != 0;
}

// A transfer that failed: the call itself (`callFailed`, with the system's code), or it moved
// fewer bytes than asked without an error (the end of the disk).
bool TransferFailed(void* context, const char* call, int64_t offset, uint32_t length,
                    uint32_t moved, bool callFailed) {
    const DWORD error = callFailed ? GetLastError() : kShortTransfer;
    char what[96];
    std::snprintf(what, sizeof what, "%s of %lu bytes at offset %lld (%lu moved)", call,
                  static_cast<unsigned long>(length), static_cast<long long>(offset),
                  static_cast<unsigned long>(moved));
    if (callFailed) return Failed(context, what, error);
    static_cast<PageLink*>(context)->error = error;
    LogEvent("%s ended short, without an error", what);
    return false;
}

bool WriteAt(void* context, DeviceHandle device, int64_t offset, const void* data,
             uint32_t length) {
    DWORD written = 0;
    const bool succeeded = MoveTo(device, offset) &&
                           WriteFile(H(device), data, length, &written, nullptr);
    if (succeeded && written == length) return true;
    return TransferFailed(context, "WriteFile", offset, length, written, !succeeded);
}

// Read through the same unbuffered handle the image was written with: what comes back is
// what the device holds, not what the system cache remembers.
bool ReadAt(void* context, DeviceHandle device, int64_t offset, void* data, uint32_t length) {
    DWORD read = 0;
    const bool succeeded =
        MoveTo(device, offset) && ReadFile(H(device), data, length, &read, nullptr);
    if (succeeded && read == length) return true;
    return TransferFailed(context, "ReadFile", offset, length, read, !succeeded);
}

bool DriveUnchanged(void*) { return SameChosenDrive(TargetIdentity, IdentifyDrive(TargetDrive)); }

bool DiskUnchanged(void*, DeviceHandle disk) { return SameChosenDisk(TargetIdentity, AskDisk(disk)); }

// The system reads the disk's new partition table, and the stick's volumes appear without
// plugging it in again. Nothing depends on the answer.
void RefreshLayout(void*, DeviceHandle disk) { Control(disk, IOCTL_DISK_UPDATE_PROPERTIES); }

uint32_t LastError(void* context) { return static_cast<PageLink*>(context)->error; }

void ErrorText(void*, uint32_t error, char* out, uint32_t size) {
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                        0, out, size, nullptr))
        out[0] = 0;
}

HANDLE File(ImageHandle image) { return static_cast<HANDLE>(image); }

int64_t ImageSize(void*, ImageHandle image) {
    LARGE_INTEGER size{}, zero{};
    if (!GetFileSizeEx(File(image), &size) || !SetFilePointerEx(File(image), zero, nullptr, FILE_BEGIN))
        return -1;
    return size.QuadPart;
}

uint32_t ReadImage(void*, ImageHandle image, void* data, uint32_t length) {
    DWORD read = 0;
    if (!ReadFile(File(image), data, length, &read, nullptr))
        LogFailure("ReadFile of the image file", GetLastError());
    return read;
}

bool RewindImage(void*, ImageHandle image) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(File(image), zero, nullptr, FILE_BEGIN) != 0;
}

bool HashBegin(void* context) { return Sha256Begin(&static_cast<PageLink*>(context)->hash); }

void HashAdd(void* context, const void* data, uint32_t length) {
    Sha256Add(&static_cast<PageLink*>(context)->hash, data, length);
}

bool HashEnd(void* context, uint8_t digest[kImageDigestSize]) {
    return Sha256End(&static_cast<PageLink*>(context)->hash, digest);
}

// VirtualAlloc hands out zeroed pages on the 64 KiB allocation granularity, which satisfies
// every sector alignment up to the chunk size.
void* AllocBuffer(void*, uint32_t size, uint32_t alignment) {
    SYSTEM_INFO system;
    GetSystemInfo(&system);
    if (alignment > system.dwAllocationGranularity) return nullptr;
    return VirtualAlloc(nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
}

void FreeBuffer(void*, void* buffer) { VirtualFree(buffer, 0, MEM_RELEASE); }

// A message box comes after everything the run has shown so far is on the page; while a
// "Drive Error" box is open, the page shows the alert.
int Ask(void* context, const char* text, const char* caption, unsigned style) {
    if (!PageAlive(context)) return kAnswerNo;
    const bool fault = std::strcmp(caption, kDriveErrorCaption) == 0;
    if (fault) SetRunAlert(Page(context), true);
    FlushRunDisplay(Page(context));
    const int answer = MessageBoxA(Page(context), text, caption, style);
    if (fault) SetRunAlert(Page(context), false);
    return answer;
}

// The page's status and bar are handed over and shown at the page's pace (run_display.h).
void SetStatus(void* context, const char* text) {
    if (PageAlive(context)) ShowRunStatus(Page(context), text);
}

// A new range starts a new phase: the last line of the one before is shown first.
void SetBarRange(void* context, int, int high) {
    if (!PageAlive(context)) return;
    FlushRunDisplay(Page(context));
    SetRunBarRange(Page(context), high);
}

void ShowProgress(void* context, const char* line, int bar) {
    if (PageAlive(context)) ShowRunProgress(Page(context), line, bar);
}

void SetWizardState(void* context, int32_t state) {
    if (PageAlive(context)) WizardState = state;
}

void ClosePage(void* context, bool waitForIt) {
    if (!PageAlive(context)) return;
    FlushRunDisplay(Page(context));
    if (waitForIt) {
        SendMessageA(Page(context), WM_CLOSE, 0, 0);
    } else {
        PostMessageA(Page(context), WM_CLOSE, 0, 0);
    }
}

void Pause(void*, unsigned milliseconds) { Sleep(milliseconds); }

void Note(void*, const char* text) { LogEvent("writer: %s", text); }
uint32_t Milliseconds(void*) { return GetTickCount(); }

}  // namespace

WriterEnding ImageWriter(WriterImage* image) {
    PageLink link{RunPage.load(), 0, {}};
    WriterOps ops{&link,        OpenVolume,     LockVolume,     DismountVolume, UnlockVolume,
                  CloseDevice,  QueryDisk,      OtherVolumes,   OpenDisk,       SectorSize,
                  WriteAt,      ReadAt,         DriveUnchanged, DiskUnchanged,  RefreshLayout,
                  LastError,    ErrorText,      ImageSize,      ReadImage,      RewindImage,
                  HashBegin,    HashAdd,        HashEnd,        AllocBuffer,    FreeBuffer,
                  Ask,          SetStatus,      SetBarRange,    ShowProgress,   SetWizardState,
                  ClosePage,    Pause,          Note,           Milliseconds};
    WriterShared shared{TargetDrive,  image,       &CancelRequested,         &DownloadActive,
                        &WriteActive, TargetIdentity.lengthKnown, TargetIdentity.length};
    WriterEnding ending = WriterEnding::EarlyCancel;
    RunImageWriter(ops, shared, &ending);
    Sha256Release(&link.hash);  // a write that stopped early leaves its hash unfinished
    return ending;
}
