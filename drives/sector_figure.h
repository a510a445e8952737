// Arithmetic and texts of one drive list entry: the sector figure that decides whether a drive
// counts as large, and the entry, query-path and device-path texts.
#pragma once
#include <cstdint>

// A drive is large from this many 512-byte sectors upward.
constexpr uint32_t kLargeDeviceSectors = 14338048;

// What the device behind a drive letter reported about itself.
struct DeviceReports {
    bool geometryKnown;
    int64_t cylinders;
    uint32_t tracksPerCylinder;
    uint32_t sectorsPerTrack;
    bool partitionKnown;
    int64_t partitionLength;  // bytes
};

// Sectors of the partition, low 32 bits, rounded down to even, minus 1 (wraps below 0).
uint32_t SectorFigureFromPartition(int64_t partitionLength);
// Cylinders (low 32 bits) x sectors per track x tracks per cylinder, minus 1, all modulo 2^32.
uint32_t SectorFigureFromGeometry(int64_t cylinders, uint32_t tracksPerCylinder,
                                  uint32_t sectorsPerTrack);
// The partition report when there is one, else the geometry, else 0.
uint32_t SectorFigure(const DeviceReports& reports);
// 1 when the figure, with its low 11 bits cleared, is above 14,338,047; otherwise 0.
uint32_t LargeDeviceValue(uint32_t sectorFigure);

// The visible line: "E:\ BACKUP (3.73 GB)", "E:\ (3.73 GB)" or "E:\".
void FormatDriveEntry(const char* root, const char* label, const char* sizeText, char* out);
// The root with one more backslash, as the volume queries take it: "E:\" gives "E:\\".
void FormatQueryPath(const char* root, char* out);
// The volume device of a drive letter: 'E' gives "\\.\E:".
void FormatDevicePath(char letter, char* out);
