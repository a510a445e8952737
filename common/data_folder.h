// The folder of the run's files: the download, the kept image, the run log and the user guide.
// The program runs as administrator, so they live where only administrators can change them:
// a folder "Halcyra Creator" in the common application data folder (C:\ProgramData), made by
// the program with a protected access list that grants full control to Administrators and
// SYSTEM only. Without it the program falls back to the user's temporary folder, where any
// program of the user can change files, and keeps no image for later runs.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr const char kDataFolderName[] = "Halcyra Creator";

// The folder's security descriptor in self-relative form: owner Administrators, no group, and
// a protected access list (no entries inherited from the parent) that grants full file access
// to Administrators and SYSTEM, inherited by every folder and file below
// ("O:BAD:P(A;OICI;FA;;;BA)(A;OICI;FA;;;SY)"); without the owner when `withOwner` is false.
// Returns its length, or 0 when `size` is too small.
size_t FolderSecurityDescriptor(uint8_t* out, size_t size, bool withOwner);
constexpr size_t kFolderSecurityDescriptorSize = 88;

// The identity of a folder on its volume (volume serial number and file index), as the
// program records it in the registry when it makes its folder.
struct FolderId {
    uint32_t volumeSerial = 0;
    uint64_t fileIndex = 0;
};
constexpr size_t kFolderIdSize = 12;
void FolderIdToBytes(const FolderId& id, uint8_t out[kFolderIdSize]);
bool FolderIdFromBytes(const uint8_t* data, size_t size, FolderId* id);

// What stands under the folder's name when the program starts.
struct FolderFacts {
    bool exists;          // something has that name
    bool isDirectory;
    bool isReparsePoint;  // a junction, a symbolic link or another reparse point
    bool idKnown;         // the folder could be opened and its identity read
    FolderId id;
    bool recorded;        // the registry holds the identity of the folder the program made
    FolderId recordedId;
};

enum class FolderAction : uint8_t {
    Use,      // the folder the program made: used as it is
    Make,     // nothing there: the folder is made
    Replace,  // something the program didn't make (another program may hold it open or have
              // planted files in it): moved aside ("Halcyra Creator.old-<n>"), then the
              // folder is made anew
};

FolderAction DecideDataFolder(const FolderFacts& facts);
