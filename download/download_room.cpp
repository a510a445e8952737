#include "download/download_room.h"

namespace {

bool Given(const char* text) { return text && text[0]; }

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Paths compare without case, as the file system compares them; a missing closing backslash
// doesn't make another folder.
bool SamePath(const char* a, const char* b) {
    for (;; ++a, ++b) {
        if (!*a || !*b) {
            if (*a == '\\') ++a;
            if (*b == '\\') ++b;
            return !*a && !*b;
        }
        if (Lower(*a) != Lower(*b)) return false;
    }
}

}  // namespace

bool SameVolume(const FolderRoom& a, const FolderRoom& b) {
    if (Given(a.volumeName) && Given(b.volumeName)) return SamePath(a.volumeName, b.volumeName);
    return Given(a.volumePath) && Given(b.volumePath) && SamePath(a.volumePath, b.volumePath);
}

RoomCheck CheckRoom(uint64_t length, const FolderRoom& download, const FolderRoom& cache) {
    if (length == 0 || !download.known) return RoomCheck{RoomVerdict::Fits, 0, 0};
    if (length > download.freeBytes)
        return RoomCheck{RoomVerdict::NoRoomForImage, length, download.freeBytes};
    if (!cache.known) return RoomCheck{RoomVerdict::Fits, 0, 0};
    if (SameVolume(download, cache)) {
        const uint64_t both = length > UINT64_MAX / 2 ? UINT64_MAX : 2 * length;
        if (both > download.freeBytes)
            return RoomCheck{RoomVerdict::NoRoomForBoth, both, download.freeBytes};
    } else if (length > cache.freeBytes) {
        return RoomCheck{RoomVerdict::NoRoomForCache, length, cache.freeBytes};
    }
    return RoomCheck{RoomVerdict::Fits, 0, 0};
}

const char* RoomVerdictName(RoomVerdict verdict) {
    switch (verdict) {
    case RoomVerdict::Fits: return "room for the download";
    case RoomVerdict::NoRoomForImage: return "no room for the image in the download folder";
    case RoomVerdict::NoRoomForBoth:
        return "no room for the image and the cache's copy on the download folder's volume";
    case RoomVerdict::NoRoomForCache: return "no room for the cache's copy on its volume";
    }
    return "";
}
