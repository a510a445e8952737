#include "download/download_outcome.h"

#include <cstdio>
#include <cstring>

#include "download/download_progress.h"
#include "drives/drive_identity.h"
#include "drives/size_format.h"

namespace {

bool IsFolderFull(uint32_t result) {
    return result == kResultDiskFull || result == kResultHandleDiskFull ||
           result == kResultMediumFull;
}

bool IsFolderReadOnly(uint32_t result) {
    return result == kResultAccessDenied || result == kResultPathNotFound ||
           result == kResultWriteProtect || result == kResultStorageDenied;
}

}  // namespace

bool NoRoomFor(uint64_t length, uint64_t folderFree) { return length > folderFree; }

const char* DownloadCauseName(DownloadCause cause) {
    switch (cause) {
    case DownloadCause::None: return "the image arrived and passed the check";
    case DownloadCause::ServerAnswer: return "the server answered with an error";
    case DownloadCause::NoConnection: return "no connection";
    case DownloadCause::NoData: return "no data within the stall limit";
    case DownloadCause::TempFolderFull: return "the folder of the download is full";
    case DownloadCause::TempFolderReadOnly: return "the folder of the download can't be written";
    case DownloadCause::WebPage: return "a web page arrived instead of the image";
    case DownloadCause::NotAnImage: return "what arrived has no boot signature";
    case DownloadCause::Incomplete: return "the connection closed early";
    case DownloadCause::DiskTooSmall: return "the chosen disk is smaller than the image";
    case DownloadCause::DownloadRoomShort:
        return "no room for the image and the cache's copy on the download folder's drive";
    case DownloadCause::CacheRoomShort: return "no room for the cache's copy on its drive";
    }
    return "";
}

DownloadCause StopAtHeaders(const HeaderFacts& facts) {
    if (!IsSuccessStatus(facts.status)) return DownloadCause::ServerAnswer;
    if (facts.contentLength == 0) return DownloadCause::None;  // nothing to weigh yet
    if (FitOnDisk(static_cast<int64_t>(facts.contentLength), facts.diskLengthKnown,
                  facts.diskLength) == ImageFit::TooSmall)
        return DownloadCause::DiskTooSmall;
    if (facts.folderKnown && NoRoomFor(facts.contentLength, facts.folderFree))
        return DownloadCause::TempFolderFull;
    return DownloadCause::None;
}

DownloadCause DecideDownloadOutcome(const DownloadFacts& facts, uint64_t announcedLength) {
    if (facts.stoppedFor != DownloadCause::None) return facts.stoppedFor;
    const uint32_t status = facts.headers ? facts.headers->status : 0;
    if (!IsSuccessStatus(status)) return DownloadCause::ServerAnswer;
    if (IsFolderFull(facts.result)) return DownloadCause::TempFolderFull;
    if (IsFolderReadOnly(facts.result)) return DownloadCause::TempFolderReadOnly;
    if (facts.result != kResultOk)
        return status == 0 ? DownloadCause::NoConnection : DownloadCause::Incomplete;

    // The call reports success also when the connection closed early or when the copy of
    // the finished download into the temporary folder failed.
    const uint64_t fileSize = facts.fileFound ? facts.fileSize : 0;
    if (!DownloadComplete(fileSize, announcedLength, status)) {
        // More than announced is not the image the server described.
        if (announcedLength != 0 && fileSize > announcedLength) return DownloadCause::NotAnImage;
        if (announcedLength == 0 || facts.received < announcedLength)
            return fileSize == 0 && announcedLength == 0 ? DownloadCause::NotAnImage
                                                         : DownloadCause::Incomplete;
        return NoRoomFor(announcedLength - fileSize, facts.folderFree)
                   ? DownloadCause::TempFolderFull
                   : DownloadCause::TempFolderReadOnly;
    }
    switch (facts.verdict) {
    case ImageVerdict::Image:
        break;
    case ImageVerdict::WebPage:
        return DownloadCause::WebPage;
    case ImageVerdict::TooShort:
    case ImageVerdict::NoSignature:
        return DownloadCause::NotAnImage;
    }
    return DownloadCause::None;
}

bool StallLimitReached(uint64_t received, uint64_t announcedLength, bool endReported,
                       uint32_t sinceLastByteMs, uint32_t limitMs) {
    if (endReported || (announcedLength != 0 && received >= announcedLength)) return false;
    return sinceLastByteMs >= limitMs;
}

namespace {

// "C:\Temp\" reads as "C:\Temp" in a sentence; a drive's root keeps its backslash.
void SentenceFolder(char* out, size_t size, const char* path) {
    snprintf(out, size, "%s", path ? path : "");
    const size_t length = strlen(out);
    if (length > 3 && out[length - 1] == '\\') out[length - 1] = 0;
}

}  // namespace

void DownloadErrorText(char* out, size_t size, DownloadCause cause, const ResponseHeaders* headers,
                       const char* dataFolder, uint32_t stallSeconds, const RoomShortage* room) {
    char folder[kDownloadErrorSize / 2];
    SentenceFolder(folder, sizeof folder, dataFolder);
    char roomFolder[kDownloadErrorSize / 2], needed[kSizeTextCapacity] = "",
         freeText[kSizeTextCapacity] = "";
    SentenceFolder(roomFolder, sizeof roomFolder, room ? room->folder : "");
    if (room) {
        FormatSize(static_cast<int64_t>(room->needed), needed);
        FormatSize(static_cast<int64_t>(room->freeBytes), freeText);
    }
    char line[kDownloadErrorSize];
    line[0] = 0;
    switch (cause) {
    case DownloadCause::None:
        break;
    case DownloadCause::ServerAnswer:
        if (headers && headers->reason[0]) {
            snprintf(line, sizeof line, "The server answered %u %s.", headers->status,
                     headers->reason);
        } else {
            snprintf(line, sizeof line, "The server answered %u.", headers ? headers->status : 0);
        }
        break;
    case DownloadCause::NoConnection:
        snprintf(line, sizeof line, "No connection to the application server could be made.");
        break;
    case DownloadCause::NoData:
        snprintf(line, sizeof line, "The application server sent no data for %u seconds.",
                 stallSeconds);
        break;
    case DownloadCause::TempFolderFull:
        snprintf(line, sizeof line, "There is not enough room for the image in the folder %s.",
                 folder);
        break;
    case DownloadCause::TempFolderReadOnly:
        if (!folder[0]) {
            snprintf(line, sizeof line, "The image can't be saved: there is no folder for it.");
            break;
        }
        snprintf(line, sizeof line, "The image can't be saved in the folder %s.",
                 folder);
        break;
    case DownloadCause::WebPage:
        snprintf(line, sizeof line, "%s", kWebPageText);
        break;
    case DownloadCause::NotAnImage:
        snprintf(line, sizeof line,
                 "The file received from the application server is not a Halcyra image.");
        break;
    case DownloadCause::Incomplete:
        snprintf(line, sizeof line,
                 "The connection to the application server closed before the whole image had arrived.");
        break;
    case DownloadCause::DiskTooSmall:  // told as a drive error, with both sizes
        snprintf(line, sizeof line, "The chosen USB Flash Drive is smaller than the image.");
        break;
    case DownloadCause::DownloadRoomShort:
        snprintf(line, sizeof line,
                 "There is not enough room for the download on the drive of %s: the image and "
                 "the copy that the system keeps of it while it downloads need %s, and %s are "
                 "free.",
                 roomFolder, needed, freeText);
        break;
    case DownloadCause::CacheRoomShort:
        snprintf(line, sizeof line,
                 "There is not enough room on the drive of %s for the copy of the image that the "
                 "system keeps while it downloads: it needs %s, and %s are free.",
                 roomFolder, needed, freeText);
        break;
    }
    if (line[0]) {
        snprintf(out, size, "%s\n\n%s", kDownloadErrorText, line);
    } else {
        snprintf(out, size, "%s", kDownloadErrorText);
    }
}
