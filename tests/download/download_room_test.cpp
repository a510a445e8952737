#include "download/download_room.h"

#include <gtest/gtest.h>

namespace {

constexpr uint64_t kImage = 4294967296ull + 5;  // 4 GiB and a few bytes
constexpr const char kC[] = "\\\\?\\Volume{c0}\\";
constexpr const char kD[] = "\\\\?\\Volume{d0}\\";

FolderRoom Room(uint64_t freeBytes, const char* name, const char* path) {
    return FolderRoom{true, freeBytes, name, path};
}

}  // namespace

TEST(DownloadRoom, TheCacheCopyNeedsRoomBesideTheImageOnItsVolume) {
    const FolderRoom unknown{false, 0, "", ""};
    struct Row {
        const char* what;
        uint64_t length;
        FolderRoom download, cache;
        RoomVerdict verdict;
        uint64_t needed, freeBytes;
    } rows[] = {
        {"one volume, room for both", kImage, Room(2 * kImage, kC, "C:\\"), Room(0, kC, "C:\\"),
         RoomVerdict::Fits, 0, 0},
        {"one volume, room for one copy only", kImage, Room(2 * kImage - 1, kC, "C:\\"),
         Room(2 * kImage - 1, kC, "C:\\"), RoomVerdict::NoRoomForBoth, 2 * kImage, 2 * kImage - 1},
        {"not even one copy", kImage, Room(kImage - 1, kC, "C:\\"), Room(0, kD, "D:\\"),
         RoomVerdict::NoRoomForImage, kImage, kImage - 1},
        {"two volumes, one copy each", kImage, Room(kImage, kC, "C:\\"), Room(kImage, kD, "D:\\"),
         RoomVerdict::Fits, 0, 0},
        {"two volumes, the cache's too small", kImage, Room(1ull << 40, kC, "C:\\"),
         Room(kImage - 1, kD, "D:\\"), RoomVerdict::NoRoomForCache, kImage, kImage - 1},
        // Two letters of one volume are one volume; a volume mounted in a folder of C: is
        // another one, also where the system names no volume (Wine for a mount in a folder).
        {"two letters, one volume", kImage, Room(kImage, kC, "C:\\"), Room(kImage, kC, "E:\\"),
         RoomVerdict::NoRoomForBoth, 2 * kImage, kImage},
        {"a volume in a folder of C:", kImage, Room(kImage, "", "C:\\Users\\ann\\Temp\\"),
         Room(kImage, kC, "C:\\"), RoomVerdict::Fits, 0, 0},
        {"one mount folder, no names, other case", kImage, Room(kImage, "", "C:\\Mnt\\"),
         Room(kImage, "", "c:\\mnt"), RoomVerdict::NoRoomForBoth, 2 * kImage, kImage},
        // The cache's room unknown leaves the image's own.
        {"the cache's room unknown", kImage, Room(kImage, kC, "C:\\"), unknown, RoomVerdict::Fits,
         0, 0},
        {"a length past half of 64 bits", UINT64_MAX - 1, Room(UINT64_MAX - 1, kC, "C:\\"),
         Room(0, kC, "C:\\"), RoomVerdict::NoRoomForBoth, UINT64_MAX, UINT64_MAX - 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const RoomCheck check = CheckRoom(row.length, row.download, row.cache);
        EXPECT_EQ(check.verdict, row.verdict);
        EXPECT_EQ(check.needed, row.needed);
        EXPECT_EQ(check.freeBytes, row.freeBytes);
    }
}
