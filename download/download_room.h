// Whether the image fits where the download puts it. The platform's download function keeps a
// copy of what it fetches in its internet cache until the program removes it after the
// download: while the image arrives, its drive holds both copies when the cache is on the same
// volume as the download folder, and one each otherwise.
#pragma once
#include <cstdint>

// A folder's room as the system answers for it.
struct FolderRoom {
    bool known;              // its free bytes could be asked
    uint64_t freeBytes;
    const char* volumeName;  // "\\?\Volume{...}\", empty when the system names none
    const char* volumePath;  // the root or mount folder of its volume ("C:\", "C:\mnt\x\")
};

// True when both folders are on one volume: by the volumes' names when the system gives both,
// else by their root or mount folders (two letters of one volume then count as two volumes;
// one letter with another volume mounted in a folder of it counts as two, as it is).
bool SameVolume(const FolderRoom& a, const FolderRoom& b);

enum class RoomVerdict : uint8_t {
    Fits,            // room for every copy, or nothing to weigh (no length, no free count)
    NoRoomForImage,  // the download folder can't take even the image
    NoRoomForBoth,   // one volume: room for the image but not for the cache's copy beside it
    NoRoomForCache,  // the cache's own volume can't take its copy
};

struct RoomCheck {
    RoomVerdict verdict;
    uint64_t needed;     // bytes the short volume needs (0 when it fits)
    uint64_t freeBytes;  // bytes free there
};

// The room for an image of `length` bytes in the download folder and, when its room is known,
// the cache folder.
RoomCheck CheckRoom(uint64_t length, const FolderRoom& download, const FolderRoom& cache);

// The cause's name for the run log.
const char* RoomVerdictName(RoomVerdict verdict);
