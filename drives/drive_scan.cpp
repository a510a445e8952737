#include "drives/drive_scan.h"

#include "drives/size_format.h"

namespace {

// The LargeDevice value of one drive, from what its volume device reports.
uint32_t LargeDeviceOf(char letter, char* devicePath, const DriveScanOps& ops) {
    FormatDevicePath(letter, devicePath);
    DeviceReports reports = {};
    if (!ops.deviceReports(devicePath, &reports)) return 0;
    return LargeDeviceValue(SectorFigure(reports));
}

}  // namespace

bool ListRemovableDrives(char* work, unsigned rootsCount, const DriveScanOps& ops) {
    char* queryPath = work + kQueryPathOffset;
    char* fileSystem = work + kFileSystemOffset;
    char* label = work + kLabelOffset;
    char* entry = work + kEntryOffset;
    char* sizeText = work + kSizeTextOffset;

    bool added = false;
    for (unsigned offset = 0; offset < rootsCount; offset += 4) {
        const char* root = work + kRootsOffset + offset;
        if (ops.driveType(root) != kDriveRemovable) continue;
        if (root[0] == 'A' || root[0] == 'a') continue;  // the floppy drive is never offered

        FormatQueryPath(root, queryPath);
        int64_t total = 0;
        if (ops.volumeTotalBytes(queryPath, &total))
            DriveListSize(total, sizeText);
        else
            sizeText[0] = '\0';

        label[0] = '\0';
        fileSystem[0] = '\0';
        ops.volumeLabel(queryPath, label, kLabelSize, fileSystem, kFileSystemSize);

        FormatDriveEntry(root, label, sizeText, entry);
        const int index = ops.addLine(entry);
        ops.setLineValue(index, LargeDeviceOf(root[0], entry, ops));
        added = true;
    }
    return added;
}
