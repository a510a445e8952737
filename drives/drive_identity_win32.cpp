// The identity queries of a drive letter and of an opened disk: the device number and the
// descriptor of the volume's device, the length of its disk and the volume's serial number.
// Each query that fails leaves its part unknown; the comparison is in drive_identity.cpp.
#include <windows.h>
#include <winioctl.h>

#include <cstdio>

#include "drives/drive_identity.h"

bool AskDeviceNumber(void* deviceHandle, DiskId* disk) {
    HANDLE device = static_cast<HANDLE>(deviceHandle);
    STORAGE_DEVICE_NUMBER number{};
    DWORD returned = 0;
    if (!DeviceIoControl(device, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number,
                         sizeof number, &returned, nullptr))
        return false;
    *disk = DiskId{static_cast<uint32_t>(number.DeviceType), number.DeviceNumber};
    return true;
}

namespace {

// The whole disk's length; Windows XP and later answer it, Windows 2000 doesn't.
bool DiskLength(HANDLE disk, int64_t* length) {
    GET_LENGTH_INFORMATION info{};
    DWORD returned = 0;
    if (!DeviceIoControl(disk, IOCTL_DISK_GET_LENGTH_INFO, nullptr, 0, &info, sizeof info,
                         &returned, nullptr))
        return false;
    *length = info.Length.QuadPart;
    return true;
}

bool Descriptor(HANDLE device, DeviceDescriptor* descriptor) {
    STORAGE_PROPERTY_QUERY query{};
    query.PropertyId = StorageDeviceProperty;
    query.QueryType = PropertyStandardQuery;
    alignas(8) unsigned char answer[1024] = {};
    DWORD returned = 0;
    if (!DeviceIoControl(device, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, answer,
                         sizeof answer, &returned, nullptr))
        return false;
    return ParseDeviceDescriptor(answer, returned, descriptor);
}

HANDLE Open(const char* path, DWORD access) {
    return CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                       0, nullptr);
}

}  // namespace

DriveIdentity IdentifyDrive(char letter) {
    DriveIdentity identity{};
    const char root[4] = {letter, ':', '\\', 0};
    identity.type = GetDriveTypeA(root);

    // The volume opened without access rights: enough for the storage queries, and possible
    // while the volume is in use.
    char path[40];
    std::snprintf(path, sizeof path, "\\\\.\\%c:", letter);
    HANDLE volume = Open(path, 0);
    if (volume != INVALID_HANDLE_VALUE) {
        identity.numberKnown = AskDeviceNumber(volume, &identity.disk);
        identity.descriptorKnown = Descriptor(volume, &identity.descriptor);
        CloseHandle(volume);
    }
    // The length needs read access to the disk itself.
    if (identity.numberKnown) {
        std::snprintf(path, sizeof path, "\\\\.\\PHYSICALDRIVE%u",
                      static_cast<unsigned>(identity.disk.deviceNumber));
        HANDLE disk = Open(path, GENERIC_READ);
        if (disk != INVALID_HANDLE_VALUE) {
            identity.lengthKnown = DiskLength(disk, &identity.length);
            CloseHandle(disk);
        }
    }
    DWORD serial = 0;
    identity.volumeSerialKnown =
        GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0) != 0;
    identity.volumeSerial = serial;
    return identity;
}

DiskAnswers AskDisk(void* diskHandle) {
    DiskAnswers answers{};
    HANDLE disk = static_cast<HANDLE>(diskHandle);
    answers.numberKnown = AskDeviceNumber(disk, &answers.disk);
    answers.lengthKnown = DiskLength(disk, &answers.length);
    return answers;
}
