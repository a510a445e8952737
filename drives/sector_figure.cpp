#include "drives/sector_figure.h"

#include <cstdio>

uint32_t SectorFigureFromPartition(int64_t partitionLength) {
    const uint32_t sectors = static_cast<uint32_t>(partitionLength / 512);
    return (sectors & ~uint32_t{1}) - 1;
}

uint32_t SectorFigureFromGeometry(int64_t cylinders, uint32_t tracksPerCylinder,
                                  uint32_t sectorsPerTrack) {
    const uint32_t low = static_cast<uint32_t>(static_cast<uint64_t>(cylinders));
    return low * sectorsPerTrack * tracksPerCylinder - 1;
}

uint32_t SectorFigure(const DeviceReports& reports) {
    if (reports.partitionKnown) return SectorFigureFromPartition(reports.partitionLength);
    if (reports.geometryKnown)
        return SectorFigureFromGeometry(reports.cylinders, reports.tracksPerCylinder,
                                        reports.sectorsPerTrack);
    return 0;
}

uint32_t LargeDeviceValue(uint32_t sectorFigure) {
    return (sectorFigure & 0xFFFFF800u) > kLargeDeviceSectors - 1 ? 1 : 0;
}

void FormatDriveEntry(const char* root, const char* label, const char* sizeText, char* out) {
    if (label[0] != '\0')
        sprintf(out, "%s %s (%s)", root, label, sizeText);
    else if (sizeText[0] != '\0')
        sprintf(out, "%s (%s)", root, sizeText);
    else
        sprintf(out, "%s", root);
}

void FormatQueryPath(const char* root, char* out) { sprintf(out, "%s\\", root); }

void FormatDevicePath(char letter, char* out) { sprintf(out, "\\\\.\\%c:", letter); }
