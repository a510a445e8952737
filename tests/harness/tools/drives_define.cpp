// Plugs a removable drive into the running Wine prefix, or unplugs it, through Wine's mount
// manager, as its drive configuration does; programs that are already running see the change.
//   drives_define.exe <letter> <unix directory>    defines the letter as a removable drive
//   drives_define.exe <letter>                     removes the letter
#include <windows.h>
#include <winioctl.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

// Wine's own extension of the mount manager interface (its mountmgr.h).
const DWORD kDefineUnixDrive =
    CTL_CODE(static_cast<DWORD>('m'), 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS);

struct UnixDriveRequest {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDevice;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    const char* directory = argc > 2 ? argv[2] : "";
    std::vector<char> buffer(sizeof(UnixDriveRequest) + strlen(directory) + 1, 0);
    UnixDriveRequest* request = reinterpret_cast<UnixDriveRequest*>(buffer.data());
    request->size = static_cast<ULONG>(buffer.size());
    request->type = argc > 2 ? DRIVE_REMOVABLE : DRIVE_NO_ROOT_DIR;
    request->letter = static_cast<WCHAR>(argv[1][0] | 0x20);
    if (argc > 2) {
        request->mountPointOffset = sizeof(UnixDriveRequest);
        strcpy(buffer.data() + sizeof(UnixDriveRequest), directory);
    }
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                 nullptr);
    if (manager == INVALID_HANDLE_VALUE) {
        printf("no mount manager (%lu)\n", GetLastError());
        return 1;
    }
    DWORD returned = 0;
    const BOOL done = DeviceIoControl(manager, kDefineUnixDrive, buffer.data(),
                                      static_cast<DWORD>(buffer.size()), nullptr, 0, &returned,
                                      nullptr);
    CloseHandle(manager);
    if (!done) {
        printf("define failed (%lu)\n", GetLastError());
        return 1;
    }
    return 0;
}
