// How a download ended, decided from what is known once the download call has returned, and
// the "Download Error" text that tells the user why: the first line is the same for every
// failure, the last names the cause.
#pragma once
#include <cstddef>
#include <cstdint>

#include "download/image_check.h"
#include "download/response_headers.h"

enum class DownloadCause : uint8_t {
    None,                // the image arrived whole and passed the check
    ServerAnswer,        // the server answered with an error status
    NoConnection,        // no response at all
    NoData,              // nothing arrived for the stall limit
    TempFolderFull,      // no room for the image in the temporary folder
    TempFolderReadOnly,  // the temporary folder can't be written
    WebPage,             // a web page arrived instead of the image
    NotAnImage,          // a file without the boot signature arrived
    Incomplete,          // the connection closed before the whole image had arrived
    DiskTooSmall,        // the chosen disk is known to be smaller than the announced image
    DownloadRoomShort,   // the download folder's volume can't take the image and the cache's copy
    CacheRoomShort,      // the internet cache's volume can't take its copy of the image
};

// Result codes of the download call the outcome tells apart (HRESULT values).
constexpr uint32_t kResultOk = 0;
constexpr uint32_t kResultAborted = 0x80004004u;         // E_ABORT
constexpr uint32_t kResultAccessDenied = 0x80070005u;    // E_ACCESSDENIED
constexpr uint32_t kResultPathNotFound = 0x80070003u;    // ERROR_PATH_NOT_FOUND
constexpr uint32_t kResultWriteProtect = 0x80070013u;    // ERROR_WRITE_PROTECT
constexpr uint32_t kResultDiskFull = 0x80070070u;        // ERROR_DISK_FULL
constexpr uint32_t kResultHandleDiskFull = 0x80070027u;  // ERROR_HANDLE_DISK_FULL
constexpr uint32_t kResultMediumFull = 0x80030070u;      // STG_E_MEDIUMFULL
constexpr uint32_t kResultStorageDenied = 0x80030005u;   // STG_E_ACCESSDENIED

// What is known about one download once its call has returned.
struct DownloadFacts {
    uint32_t result = kResultOk;           // what the download call returned
    const ResponseHeaders* headers = nullptr;  // the response's headers (status 0: none came)
    DownloadCause stoppedFor = DownloadCause::None;  // the run stopped the transfer itself
    uint64_t received = 0;                 // bytes of the body that arrived
    bool fileFound = false;                // the run's download file exists and was read
    uint64_t fileSize = 0;                 // its length
    ImageVerdict verdict = ImageVerdict::TooShort;  // the check of its start
    uint64_t folderFree = 0;               // free bytes in the temporary folder now
};

// The announced length: the headers' Content-Length, else a non-zero total of the reports.
DownloadCause DecideDownloadOutcome(const DownloadFacts& facts, uint64_t announcedLength);

// True when a response announcing `length` bytes can't fit into `folderFree` bytes.
bool NoRoomFor(uint64_t length, uint64_t folderFree);

// What the response headers alone decide, before the body is fetched: an error answer, an
// image that can't fit into the temporary folder (`folderFree`, when `folderKnown`) or onto
// the chosen disk (its length, when its device answered it) stops the download at once.
struct HeaderFacts {
    uint32_t status;
    uint64_t contentLength;  // 0 when the headers give none
    bool folderKnown;
    uint64_t folderFree;
    bool diskLengthKnown;
    int64_t diskLength;
};
DownloadCause StopAtHeaders(const HeaderFacts& facts);

// The stall limit counts only time spent waiting for bytes still due: true when none has
// arrived for `limitMs` while the announced length (when there is one) has not yet arrived
// and the platform has not reported the end of the data.
bool StallLimitReached(uint64_t received, uint64_t announcedLength, bool endReported,
                       uint32_t sinceLastByteMs, uint32_t limitMs);

// The cause's name for the run log.
const char* DownloadCauseName(DownloadCause cause);

constexpr const char kWebPageText[] =
    "The file received from the application server is not a Halcyra image (it looks like a web "
    "page). If this network asks you to sign in, sign in with your web browser first, then try "
    "again.";

constexpr size_t kDownloadErrorSize = 5120;  // room for the whole text, a long folder included

// The two room causes: the folder whose volume is short of room, the bytes it needs there
// and the bytes free.
struct RoomShortage {
    const char* folder;
    uint64_t needed;
    uint64_t freeBytes;
};

// "Unable to connect ... connection.", an empty line, then the cause, into out. `headers`
// gives the server's answer, `dataFolder` the folder of the two folder causes (shown without
// its closing backslash), `stallSeconds` the limit of NoData, `room` the room causes' figures.
void DownloadErrorText(char* out, size_t size, DownloadCause cause, const ResponseHeaders* headers,
                       const char* dataFolder, uint32_t stallSeconds,
                       const RoomShortage* room = nullptr);
