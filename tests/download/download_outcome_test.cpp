#include "download/download_outcome.h"

#include <gtest/gtest.h>

#include <string>

#include "download/download_progress.h"

namespace {

constexpr uint64_t kImage = 4206649;
constexpr uint64_t kBig = 4296201863ull;  // 4 GiB + 1,234,567 bytes

ResponseHeaders Answer(uint32_t status, const char* reason = "") {
    ResponseHeaders headers;
    headers.status = status;
    snprintf(headers.reason, sizeof headers.reason, "%s", reason);
    return headers;
}

// A download whose call returned `result` after `received` bytes, with the run's file of
// `fileSize` bytes (none when negative) judged `verdict`.
DownloadCause Outcome(uint32_t result, const ResponseHeaders& headers, uint64_t announced,
                      uint64_t received, int64_t fileSize,
                      ImageVerdict verdict = ImageVerdict::Image, uint64_t folderFree = 1ull << 40,
                      DownloadCause stoppedFor = DownloadCause::None) {
    DownloadFacts facts;
    facts.result = result;
    facts.headers = &headers;
    facts.stoppedFor = stoppedFor;
    facts.received = received;
    facts.fileFound = fileSize >= 0;
    facts.fileSize = fileSize >= 0 ? static_cast<uint64_t>(fileSize) : 0;
    facts.verdict = verdict;
    facts.folderFree = folderFree;
    return DecideDownloadOutcome(facts, announced);
}

std::string ErrorText(DownloadCause cause, const ResponseHeaders* headers = nullptr,
                      const char* folder = "C:\\Users\\ann\\AppData\\Local\\Temp\\",
                      uint32_t seconds = 60) {
    char text[kDownloadErrorSize];
    DownloadErrorText(text, sizeof text, cause, headers, folder, seconds);
    return text;
}

const std::string kFirst =
    "Unable to connect to the application server - Please check your network connection.\n\n";

}  // namespace

TEST(DownloadOutcome, EachWayADownloadEndsHasItsCause) {
    const ResponseHeaders ok = Answer(200, "OK");
    const ResponseHeaders notFound = Answer(404, "Not Found");
    const ResponseHeaders none;
    // The image, whole and signed; also without a length or an HTTP status.
    EXPECT_EQ(Outcome(kResultOk, ok, kImage, kImage, kImage), DownloadCause::None);
    EXPECT_EQ(Outcome(kResultOk, ok, 0, kImage, kImage), DownloadCause::None);
    EXPECT_EQ(Outcome(kResultOk, none, kImage, kImage, kImage), DownloadCause::None);
    EXPECT_EQ(Outcome(kResultOk, ok, kBig, kBig, kBig), DownloadCause::None);

    // The server's error answer, whatever the call returned.
    EXPECT_EQ(Outcome(kResultOk, notFound, 36, 36, 36), DownloadCause::ServerAnswer);
    EXPECT_EQ(Outcome(0x800C0005u, notFound, 0, 0, 0), DownloadCause::ServerAnswer);
    EXPECT_EQ(Outcome(kResultAborted, Answer(500), 48, 0, 0, ImageVerdict::TooShort, 0,
                      DownloadCause::ServerAnswer),
              DownloadCause::ServerAnswer);
    // No response at all, and a connection lost after the headers.
    EXPECT_EQ(Outcome(0x800C0005u, none, 0, 0, 0), DownloadCause::NoConnection);
    EXPECT_EQ(Outcome(0x800C0008u, ok, kImage, kImage / 2, -1), DownloadCause::Incomplete);
    // The call's success with half the image (the connection closed early).
    EXPECT_EQ(Outcome(kResultOk, ok, kImage, kImage / 2, kImage / 2), DownloadCause::Incomplete);
    // A file cut short by exactly 4 GiB, or a length taken as 32 bits, is never the image.
    EXPECT_EQ(Outcome(kResultOk, ok, kBig, 1234567, 1234567), DownloadCause::Incomplete);
    EXPECT_EQ(Outcome(kResultOk, ok, 1234567, kBig, kBig), DownloadCause::NotAnImage);

    // What arrived is not the image.
    EXPECT_EQ(Outcome(kResultOk, ok, 3000, 3000, 3000, ImageVerdict::WebPage),
              DownloadCause::WebPage);
    EXPECT_EQ(Outcome(kResultOk, ok, kImage, kImage, kImage, ImageVerdict::NoSignature),
              DownloadCause::NotAnImage);
    EXPECT_EQ(Outcome(kResultOk, ok, 0, 100, 100, ImageVerdict::TooShort),
              DownloadCause::NotAnImage);
    EXPECT_EQ(Outcome(kResultOk, ok, 0, 0, 0, ImageVerdict::TooShort), DownloadCause::NotAnImage);
}

TEST(DownloadOutcome, TheTemporaryFolderFullOrNotWritable) {
    const ResponseHeaders ok = Answer(200, "OK");
    // The run stopped the transfer at the headers: no room for the announced length.
    EXPECT_EQ(Outcome(kResultAborted, ok, kImage, 0, 0, ImageVerdict::TooShort, 1000,
                      DownloadCause::TempFolderFull),
              DownloadCause::TempFolderFull);
    // The call's own failures.
    EXPECT_EQ(Outcome(kResultDiskFull, ok, kImage, kImage, -1), DownloadCause::TempFolderFull);
    EXPECT_EQ(Outcome(kResultAccessDenied, ok, kImage, kImage, -1),
              DownloadCause::TempFolderReadOnly);
    // Everything arrived, but the copy into the folder is missing or short: full when the
    // rest has no room, else the folder refused it.
    EXPECT_EQ(Outcome(kResultOk, ok, kImage, kImage, 1 << 20, ImageVerdict::Image, 4096),
              DownloadCause::TempFolderFull);
    EXPECT_EQ(Outcome(kResultOk, ok, kImage, kImage, -1, ImageVerdict::Image, 1ull << 30),
              DownloadCause::TempFolderReadOnly);
}

TEST(DownloadOutcome, TheStallLimitCountsOnlyWhileBytesAreStillDue) {
    // Nothing for the limit while bytes are due.
    EXPECT_TRUE(StallLimitReached(4096, kImage, false, 60000, 60000));
    EXPECT_FALSE(StallLimitReached(4096, kImage, false, 59999, 60000));
    EXPECT_TRUE(StallLimitReached(0, 0, false, 2000, 2000));  // before any answer
    // Once the announced length has arrived, or the platform reported the end of the data,
    // the rest of the call (its copy of a large download) has no limit.
    EXPECT_FALSE(StallLimitReached(kImage, kImage, false, 600000, 60000));
    EXPECT_FALSE(StallLimitReached(kBig, kBig, false, 600000, 2000));
    EXPECT_FALSE(StallLimitReached(1234567, 0, true, 600000, 2000));
    // A count read as 32 bits is still due.
    EXPECT_TRUE(StallLimitReached(1234567, kBig, false, 2000, 2000));
}

TEST(DownloadErrorText, TheDesignsLineThenTheCause) {
    const ResponseHeaders notFound = Answer(404, "Not Found");
    const ResponseHeaders bare = Answer(503);
    EXPECT_EQ(ErrorText(DownloadCause::ServerAnswer, &notFound),
              kFirst + "The server answered 404 Not Found.");
    EXPECT_EQ(ErrorText(DownloadCause::ServerAnswer, &bare), kFirst + "The server answered 503.");
    EXPECT_EQ(ErrorText(DownloadCause::NoConnection),
              kFirst + "No connection to the application server could be made.");
    EXPECT_EQ(ErrorText(DownloadCause::NoData, nullptr, "", 4),
              kFirst + "The application server sent no data for 4 seconds.");
    EXPECT_EQ(ErrorText(DownloadCause::TempFolderFull),
              kFirst + "There is not enough room for the image in the folder "
                       "C:\\Users\\ann\\AppData\\Local\\Temp.");
    EXPECT_EQ(ErrorText(DownloadCause::TempFolderReadOnly, nullptr, "T:\\"),
              kFirst + "The image can't be saved in the folder T:\\.");
    EXPECT_EQ(ErrorText(DownloadCause::TempFolderReadOnly, nullptr, ""),
              kFirst + "The image can't be saved: there is no folder for it.");
    EXPECT_EQ(ErrorText(DownloadCause::WebPage),
              kFirst + "The file received from the application server is not a Halcyra image (it "
                       "looks like a web page). If this network asks you to sign in, sign in with "
                       "your web browser first, then try again.");
    EXPECT_EQ(ErrorText(DownloadCause::NotAnImage),
              kFirst + "The file received from the application server is not a Halcyra image.");
    EXPECT_EQ(ErrorText(DownloadCause::Incomplete),
              kFirst + "The connection to the application server closed before the whole image "
                       "had arrived.");
    // The room causes name the short drive's folder and both sizes.
    const RoomShortage both{"C:\\Users\\ann\\Temp\\", 8589934602ull, 5368709120ull};
    char text[kDownloadErrorSize];
    DownloadErrorText(text, sizeof text, DownloadCause::DownloadRoomShort, nullptr, "", 0, &both);
    EXPECT_EQ(text, kFirst + "There is not enough room for the download on the drive of "
                             "C:\\Users\\ann\\Temp: the image and the copy that the system "
                             "keeps of it while it downloads need 8.00 GB, and 5.00 GB are free.");
    const RoomShortage cache{"D:\\", 4294967301ull, 1048576};
    DownloadErrorText(text, sizeof text, DownloadCause::CacheRoomShort, nullptr, "", 0, &cache);
    EXPECT_EQ(text, kFirst + "There is not enough room on the drive of D:\\ for the copy of the "
                             "image that the system keeps while it downloads: it needs 4.00 GB, "
                             "and 1.00 MB are free.");
    // Without a cause (the worker could not even start), the design's line alone.
    EXPECT_EQ(ErrorText(DownloadCause::None), kFirst.substr(0, kFirst.size() - 2));
}

TEST(ResponseHeaders, StatusLineAndTheHeadersARecordNeeds) {
    const ResponseHeaders headers = ParseResponseHeaders(
        200,
        "HTTP/1.1 200 OK\r\nServer: x\r\ncontent-type:  application/octet-stream \r\n"
        "ETag: W/\"5f-1a2b\"\r\nLast-Modified: Tue, 08 Dec 2026 10:00:00 GMT\r\n"
        "Content-Length: 4296201863\r\n\r\n");
    EXPECT_EQ(headers.status, 200u);
    EXPECT_STREQ(headers.reason, "OK");
    EXPECT_EQ(headers.contentLength, kBig);
    EXPECT_STREQ(headers.contentType, "application/octet-stream");
    EXPECT_STREQ(headers.etag, "W/\"5f-1a2b\"");
    EXPECT_STREQ(headers.lastModified, "Tue, 08 Dec 2026 10:00:00 GMT");

    const ResponseHeaders error =
        ParseResponseHeaders(500, "HTTP/1.0 500 Internal Server Error\nContent-Type: text/html\n");
    EXPECT_STREQ(error.reason, "Internal Server Error");
    EXPECT_STREQ(error.contentType, "text/html");
    EXPECT_EQ(error.contentLength, 0u);
    EXPECT_STREQ(error.etag, "");
    // Without a status line, without headers, and with a value too long for its field.
    EXPECT_STREQ(ParseResponseHeaders(404, "Content-Type: text/html\r\n").reason, "");
    EXPECT_EQ(ParseResponseHeaders(0, nullptr).status, 0u);
    const std::string longTag = "ETag: \"" + std::string(200, 'a') + "\"\r\n";
    EXPECT_STREQ(ParseResponseHeaders(200, longTag.c_str()).etag, "");

    char value[16];
    EXPECT_TRUE(HeaderValue("A: 1\r\nX-Tag: 2\r\nTag: 3\r\n", "tag", value, sizeof value));
    EXPECT_STREQ(value, "3");
}

TEST(DownloadOutcome, TheHeadersAloneStopWhatCannotSucceed) {
    const uint64_t image = 4294967296ull + 5;  // 4 GiB and a few bytes
    struct Row {
        const char* what;
        HeaderFacts facts;
        DownloadCause cause;
    };
    const Row rows[] = {
        {"an error answer", {404, 0, true, 1ull << 40, true, 1LL << 40}, DownloadCause::ServerAnswer},
        {"a disk known to be smaller", {200, image, true, 1ull << 40, true, 4004511744LL},
         DownloadCause::DiskTooSmall},
        {"a disk known to be larger", {200, image, true, 1ull << 40, true, 8004304896LL},
         DownloadCause::None},
        {"a disk of unknown length", {200, image, true, 1ull << 40, false, 0}, DownloadCause::None},
        {"no length announced", {200, 0, true, 0, true, 1}, DownloadCause::None},
        {"no room in the temporary folder", {200, image, true, image - 1, false, 0},
         DownloadCause::TempFolderFull},
        {"the folder's room unknown", {200, image, false, 0, false, 0}, DownloadCause::None},
        {"both too small: the drive is named first", {200, image, true, 1, true, 1},
         DownloadCause::DiskTooSmall},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(StopAtHeaders(row.facts), row.cause);
    }
}
