// The removable drive scan that fills the drive list of the drive selection page.
#pragma once
#include <cstdint>

#include "drives/drive_identity.h"
#include "drives/sector_figure.h"

constexpr unsigned kDriveRemovable = 2;  // the platform's DRIVE_REMOVABLE
constexpr unsigned kDriveRootsLength = 1000;
constexpr const char* kNoDriveLine = "Please attach a removable drive";

// Regions of the work space (ScratchText) the scan uses.
constexpr int kRootsOffset = 0;
constexpr int kQueryPathOffset = 1000;
constexpr int kFileSystemOffset = 1200;
constexpr int kFileSystemSize = 100;
constexpr int kLabelOffset = 1500;
constexpr int kLabelSize = 260;
constexpr int kEntryOffset = 2000;
constexpr int kSizeTextOffset = 3000;

// The platform queries and list operations the walk over the drive roots needs.
struct DriveScanOps {
    unsigned (*driveType)(const char* root);
    bool (*volumeTotalBytes)(const char* queryPath, int64_t* totalBytes);
    void (*volumeLabel)(const char* queryPath, char* label, unsigned labelSize, char* fileSystem,
                        unsigned fileSystemSize);
    // False when the device could not be opened; otherwise fills what it reported.
    bool (*deviceReports)(const char* devicePath, DeviceReports* reports);
    int (*addLine)(const char* text);  // returns the index the sorted list gave the line
    void (*setLineValue)(int index, uint32_t largeDevice);
};

// Walks the roots at offsets 0, 4, 8, ... of work while below rootsCount and adds one line for
// every removable drive other than A. Returns true when at least one line was added.
bool ListRemovableDrives(char* work, unsigned rootsCount, const DriveScanOps& ops);

// Both act on the page in CurrentPage.
// Refills the drive list, selects its first line and sets the Format Disk box.
void DriveScan();
// Sets the Format Disk box from the LargeDevice value of the selected line.
void SyncFormatOption();
