#include "drives/drive_scan.h"
#include "drives/sector_figure.h"

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

TEST(SectorFigure, PartitionLengthGivesEvenSectorCountMinusOne) {
    EXPECT_EQ(SectorFigureFromPartition(4002910208LL), 7818183u);
    EXPECT_EQ(LargeDeviceValue(7818183u), 0u);
    EXPECT_EQ(SectorFigureFromPartition(8004304896LL), 15633407u);
    EXPECT_EQ(LargeDeviceValue(15633407u), 1u);
    // 14,338,050 sectors are large, 14,338,049 are not.
    EXPECT_EQ(SectorFigureFromPartition(7341081600LL), 14338049u);
    EXPECT_EQ(LargeDeviceValue(SectorFigureFromPartition(7341081600LL)), 1u);
    EXPECT_EQ(SectorFigureFromPartition(7341081088LL), 14338047u);
    EXPECT_EQ(LargeDeviceValue(SectorFigureFromPartition(7341081088LL)), 0u);
    // A partial last sector does not count.
    EXPECT_EQ(SectorFigureFromPartition(7341081600LL + 511), 14338049u);
}

TEST(SectorFigure, TinyPartitionOrZeroGeometryWrapsAndCountsAsLarge) {
    EXPECT_EQ(SectorFigureFromPartition(0), 0xFFFFFFFFu);
    EXPECT_EQ(SectorFigureFromPartition(1023), 0xFFFFFFFFu);
    EXPECT_EQ(SectorFigureFromPartition(1024), 1u);
    EXPECT_EQ(LargeDeviceValue(SectorFigureFromPartition(512)), 1u);
    EXPECT_EQ(SectorFigureFromGeometry(0, 255, 63), 0xFFFFFFFFu);
    EXPECT_EQ(SectorFigureFromGeometry(973, 0, 63), 0xFFFFFFFFu);
    EXPECT_EQ(SectorFigureFromGeometry(973, 255, 0), 0xFFFFFFFFu);
    EXPECT_EQ(LargeDeviceValue(0xFFFFFFFFu), 1u);
}

TEST(SectorFigure, GeometryPathUsesLowCylinderBitsAndWrapsWithoutRounding) {
    EXPECT_EQ(SectorFigureFromGeometry(486, 255, 63), 486u * 255 * 63 - 1);  // odd stays odd
    EXPECT_EQ(SectorFigureFromGeometry(0x100000001LL, 1, 1), 0u);  // only the low 32 bits
    // 65,536 x 65,536 x 1 wraps to 0, minus 1.
    EXPECT_EQ(SectorFigureFromGeometry(65536, 65536, 1), 0xFFFFFFFFu);
    // cylinders x tracks x sectors of 14,338,049 is large, 14,338,048 is not.
    EXPECT_EQ(LargeDeviceValue(SectorFigureFromGeometry(14338049, 1, 1)), 1u);
    EXPECT_EQ(LargeDeviceValue(SectorFigureFromGeometry(14338048, 1, 1)), 0u);
}

TEST(SectorFigure, PartitionReportWinsOverGeometryAndNothingGivesZero) {
    DeviceReports reports = {};
    EXPECT_EQ(SectorFigure(reports), 0u);
    EXPECT_EQ(LargeDeviceValue(0), 0u);
    reports.geometryKnown = true;
    reports.cylinders = 1000;
    reports.tracksPerCylinder = 255;
    reports.sectorsPerTrack = 63;
    EXPECT_EQ(SectorFigure(reports), 16064999u);
    reports.partitionKnown = true;
    reports.partitionLength = 4002910208LL;
    EXPECT_EQ(SectorFigure(reports), 7818183u);
}

TEST(DriveEntry, TextsForLabelAndSize) {
    char text[400];
    FormatDriveEntry("E:\\", "BACKUP", "3.73 GB", text);
    EXPECT_STREQ(text, "E:\\ BACKUP (3.73 GB)");
    FormatDriveEntry("E:\\", "", "3.73 GB", text);
    EXPECT_STREQ(text, "E:\\ (3.73 GB)");
    FormatDriveEntry("E:\\", "", "", text);
    EXPECT_STREQ(text, "E:\\");
    FormatDriveEntry("E:\\", "BACKUP", "", text);
    EXPECT_STREQ(text, "E:\\ BACKUP ()");
    FormatQueryPath("E:\\", text);
    EXPECT_STREQ(text, "E:\\\\");
    FormatDevicePath('E', text);
    EXPECT_STREQ(text, "\\\\.\\E:");
}

// A machine of fake drives for the walk over the drive roots.
namespace {

struct FakeDrive {
    unsigned type;
    bool sizeKnown;
    int64_t totalBytes;
    const char* label;
    bool opens;
    DeviceReports reports;
};

std::map<char, FakeDrive> gDrives;
std::vector<std::string> gLines;
std::map<int, uint32_t> gValues;
std::vector<std::string> gOpened;
std::string gLabelBufferOnEntry;

unsigned FakeDriveType(const char* root) {
    auto found = gDrives.find(root[0]);
    return found == gDrives.end() ? 1u /* no root */ : found->second.type;
}

bool FakeTotalBytes(const char* queryPath, int64_t* total) {
    EXPECT_EQ(std::strlen(queryPath), 4u);
    EXPECT_STREQ(queryPath + 1, ":\\\\");
    const FakeDrive& drive = gDrives.at(queryPath[0]);
    if (!drive.sizeKnown) return false;
    *total = drive.totalBytes;
    return true;
}

void FakeLabel(const char* queryPath, char* label, unsigned labelSize, char*,
               unsigned fileSystemSize) {
    EXPECT_EQ(labelSize, 260u);
    EXPECT_EQ(fileSystemSize, 100u);
    gLabelBufferOnEntry = label;
    const FakeDrive& drive = gDrives.at(queryPath[0]);
    if (drive.label) std::strcpy(label, drive.label);
}

bool FakeReports(const char* devicePath, DeviceReports* reports) {
    gOpened.push_back(devicePath);
    const FakeDrive& drive = gDrives.at(devicePath[4]);
    if (!drive.opens) return false;
    *reports = drive.reports;
    return true;
}

// Keeps the lines sorted, as the combo box with CBS_SORT does.
int FakeAddLine(const char* text) {
    auto at = gLines.begin();
    while (at != gLines.end() && *at < text) ++at;
    const int index = static_cast<int>(at - gLines.begin());
    gLines.insert(at, text);
    return index;
}

void FakeSetValue(int index, uint32_t value) { gValues[index] = value; }

const DriveScanOps kFakeOps = {FakeDriveType, FakeTotalBytes, FakeLabel,
                               FakeReports,   FakeAddLine,    FakeSetValue};

class DriveWalk : public ::testing::Test {
protected:
    void SetUp() override {
        gDrives.clear();
        gLines.clear();
        gValues.clear();
        gOpened.clear();
        std::memset(work, 0, sizeof(work));
    }
    // The roots as GetLogicalDriveStringsA stores them; returns its count.
    unsigned Roots(const char* letters) {
        unsigned count = 0;
        for (const char* l = letters; *l; ++l) {
            work[count] = *l;
            std::memcpy(work + count + 1, ":\\", 3);
            count += 4;
        }
        return count;
    }
    char work[16384];
};

const DeviceReports kPartition4G = {false, 0, 0, 0, true, 4002910208LL};
const DeviceReports kPartition8G = {false, 0, 0, 0, true, 8004304896LL};

}  // namespace

TEST_F(DriveWalk, ListsRemovableDrivesWithLabelAndSizeAndSkipsTheRest) {
    gDrives['A'] = {kDriveRemovable, true, 1474560, "FLOPPY", true, kPartition4G};
    gDrives['C'] = {3 /* fixed */, true, 100000000000LL, "SYSTEM", true, kPartition4G};
    gDrives['D'] = {5 /* optical */, true, 700000000, "CD", true, kPartition4G};
    gDrives['E'] = {kDriveRemovable, true, 4002910208LL, "BACKUP", true, kPartition4G};
    gDrives['F'] = {kDriveRemovable, true, 8004304896LL, nullptr, true, kPartition8G};
    gDrives['G'] = {kDriveRemovable, false, 0, nullptr, false, {}};  // card slot, no medium
    const unsigned count = Roots("ACDEFG");
    ASSERT_TRUE(ListRemovableDrives(work, count, kFakeOps));
    ASSERT_EQ(gLines,
              (std::vector<std::string>{"E:\\ BACKUP (3.73 GB)", "F:\\ (7.45 GB)", "G:\\"}));
    EXPECT_EQ(gValues, (std::map<int, uint32_t>{{0, 0}, {1, 1}, {2, 0}}));
    // Only the listed drives are opened, each once, by their volume device.
    EXPECT_EQ(gOpened, (std::vector<std::string>{"\\\\.\\E:", "\\\\.\\F:", "\\\\.\\G:"}));
}

TEST_F(DriveWalk, LowerCaseAIsSkippedAndLabelBufferIsClearedBeforeEachQuery) {
    gDrives['a'] = {kDriveRemovable, true, 1474560, "FLOPPY", true, kPartition4G};
    gDrives['E'] = {kDriveRemovable, true, 4002910208LL, "LONGLABEL", true, kPartition4G};
    gDrives['F'] = {kDriveRemovable, true, 1048576, nullptr, true, {}};
    const unsigned count = Roots("aEF");
    ASSERT_TRUE(ListRemovableDrives(work, count, kFakeOps));
    EXPECT_EQ(gLabelBufferOnEntry, "");  // F: does not inherit E:'s label
    EXPECT_EQ(gLines, (std::vector<std::string>{"E:\\ LONGLABEL (3.73 GB)", "F:\\ (1.00 MB)"}));
    // No device report at all: figure 0, not large.
    EXPECT_EQ(gValues[1], 0u);
}

TEST_F(DriveWalk, NoRemovableDriveOrNoRootsAddsNothing) {
    gDrives['A'] = {kDriveRemovable, true, 1474560, nullptr, true, kPartition4G};
    gDrives['C'] = {3, true, 100000000000LL, nullptr, true, kPartition4G};
    EXPECT_FALSE(ListRemovableDrives(work, Roots("AC"), kFakeOps));
    EXPECT_FALSE(ListRemovableDrives(work, 0, kFakeOps));
    EXPECT_TRUE(gLines.empty());
    EXPECT_TRUE(gOpened.empty());
}

TEST_F(DriveWalk, SizeFailureWithLabelShowsEmptyBracketsAndTinyPartitionIsLarge) {
    gDrives['E'] = {kDriveRemovable, false, 0, "BACKUP", true, {false, 0, 0, 0, true, 1000}};
    ASSERT_TRUE(ListRemovableDrives(work, Roots("E"), kFakeOps));
    EXPECT_EQ(gLines, (std::vector<std::string>{"E:\\ BACKUP ()"}));
    EXPECT_EQ(gValues[0], 1u);
}
