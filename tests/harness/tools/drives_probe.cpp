// Prints what the platform reports about each drive letter given on the command line, as the
// drive scan asks it: type, total bytes, label, and the device's geometry and partition reports
// with the LargeDevice value they give. A first line lists the drive letters
// (roots C E Z), then one line per letter:
//   E type=2 total=4002910208 label=BACKUP open=1 geometry=1:0x0x0 partition=0:0 large=1
#include <windows.h>
#include <winioctl.h>

#include <cstdio>

#include "drives/sector_figure.h"

int main(int argc, char** argv) {
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    // The drive roots, as the scan gets them.
    char roots[1000];
    const DWORD count = GetLogicalDriveStringsA(sizeof(roots), roots);
    printf("roots");
    for (DWORD offset = 0; offset < count; offset += 4) printf(" %c", roots[offset]);
    printf("\n");
    for (int i = 1; i < argc; ++i) {
        const char letter = argv[i][0];
        char root[8], query[8], device[16];
        sprintf(root, "%c:\\", letter);
        FormatQueryPath(root, query);
        FormatDevicePath(letter, device);

        ULARGE_INTEGER freeToCaller = {}, total = {}, totalFree = {};
        const BOOL sized = GetDiskFreeSpaceExA(query, &freeToCaller, &total, &totalFree);
        char label[260] = "", fileSystem[100] = "";
        DWORD component = 0, flags = 0;
        GetVolumeInformationA(query, label, sizeof(label), nullptr, &component, &flags, fileSystem,
                              sizeof(fileSystem));

        DeviceReports reports = {};
        HANDLE handle = CreateFileA(device, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING,
                                    FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, nullptr);
        const bool opened = handle != INVALID_HANDLE_VALUE;
        if (opened) {
            DWORD returned = 0;
            DISK_GEOMETRY geometry = {};
            if (DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                                sizeof(geometry), &returned, nullptr)) {
                reports.geometryKnown = true;
                reports.cylinders = geometry.Cylinders.QuadPart;
                reports.tracksPerCylinder = geometry.TracksPerCylinder;
                reports.sectorsPerTrack = geometry.SectorsPerTrack;
            }
            PARTITION_INFORMATION partition = {};
            if (DeviceIoControl(handle, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, &partition,
                                sizeof(partition), &returned, nullptr)) {
                reports.partitionKnown = true;
                reports.partitionLength = partition.PartitionLength.QuadPart;
            }
            CloseHandle(handle);
        }
        const unsigned large = opened ? LargeDeviceValue(SectorFigure(reports)) : 0;
        printf("%c type=%u total=%s%llu label=%s open=%d geometry=%d:%lldx%ux%u "
               "partition=%d:%lld large=%u\n",
               letter, GetDriveTypeA(root), sized ? "" : "-", sized ? total.QuadPart : 0ULL, label,
               opened ? 1 : 0, reports.geometryKnown ? 1 : 0,
               static_cast<long long>(reports.cylinders), reports.tracksPerCylinder,
               reports.sectorsPerTrack, reports.partitionKnown ? 1 : 0,
               static_cast<long long>(reports.partitionLength), large);
    }
    return 0;
}
