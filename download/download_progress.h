// Decisions of the image download that need no window: the image address and the request
// built from it, the seed of the request's random number, and what each progress report of
// the download shows.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr int32_t kDownloadBarSteps = 1000;    // the progress bar's range while downloading
constexpr size_t kRequestAddressSize = 4096;   // room for the request address
constexpr size_t kDownloadStatusSize = 128;    // room for one download status line
constexpr const char kImageFileName[] = "HalcyraImage.bin";
// Each run downloads into a file of its own in the temporary directory, named
// "HalcyraDownload-<process id>-<run number>.tmp", and moves it over the image file only once
// it has passed the check: a download given up on can't touch another run's image.
constexpr const char kDownloadFilePattern[] = "HalcyraDownload-*.tmp";
constexpr const char kDownloadingText[] = "Downloading application components...";
constexpr const char kDownloadErrorText[] =
    "Unable to connect to the application server - Please check your network connection.";
constexpr const char kDownloadErrorCaption[] = "Download Error";

// The run's download file name into out; false when it doesn't fit.
bool DownloadFileName(char* out, size_t size, uint32_t processId, uint32_t runNumber);
// The process id in a download file name; false for any other name.
bool DownloadFileProcess(const char* name, uint32_t* processId);

// The image address: the ImageAddress an administrator set for the program when it is an
// http:// or https:// address without blanks or control characters, else the address built
// into the program.
const char* ImageAddressFrom(const char* setValue);

// The request address: the image address followed by "&Rand=<value>" ("?Rand=" when the address
// has no query string yet). False, with `out` empty, when it doesn't fit in `size` characters.
bool BuildRequestAddress(char* out, size_t size, const char* imageUrl, int randomValue);

// True when `address` is a request address that BuildRequestAddress makes of `imageUrl`.
bool IsRequestAddressOf(const char* address, const char* imageUrl);

// The random number of a request, 0 to 32,767, from the runtime generator's next value.
inline int RequestRandom(int generatorValue) { return generatorValue & 0x7FFF; }

// Seed of the generator for one download: differs between the runs of one process (the run
// number) and between program starts (time, tick count, process id).
uint32_t RequestSeed(uint32_t timeNow, uint32_t tickCount, uint32_t processId, uint32_t runNumber);

// The received count of a download as a 64-bit number: the reports carry it in 32 bits, which
// wrap past 4 GiB; the count only grows, so a smaller report means one more wrap.
struct ReceivedCounter {
    uint64_t wraps = 0;
    uint32_t last = 0;
    uint64_t Advance(uint32_t reported) {
        if (reported < last) ++wraps;
        last = reported;
        return (wraps << 32) | reported;
    }
};

// The image's length from the response headers ("Content-Length: n", any case), 0 when the
// headers don't give one.
uint64_t ContentLengthOf(const char* headers);

// What to do with one progress report of the download.
struct ProgressStep {
    bool abort;           // answer E_ABORT: the user has cancelled
    bool show;            // update the bar and the status line
    int32_t elapsed;      // whole seconds since the download began (0 when below 1)
    int32_t barPosition;  // 0..kDownloadBarSteps
    int64_t rate;         // bytes per second, 0 during the first second
};

// A cancel aborts at every report, also while the server sends no length (total 0); otherwise
// a report without a total shows nothing, and the page changes at most once per elapsed second
// (never while elapsed equals the second shown last), except for the download's last count
// (`last`), which is always shown.
ProgressStep DecideProgress(uint64_t received, uint64_t total, bool cancelRequested,
                            int64_t now, int64_t downloadStart, int32_t lastShownSecond,
                            bool last = false);

// "<received> of <total> Downloaded (<rate>)" into out (at least kDownloadStatusSize), then
// ", <time left>" when `timeLeft` has a text.
void DownloadStatusLine(char* out, size_t size, uint64_t received, uint64_t total, int64_t rate,
                        const char* timeLeft = nullptr);

// True when a download that reported success delivered the image: the server's HTTP status (0
// when none was reported) is a success, the file has at least one byte and, when the server
// announced a length, exactly that many. The download function also reports success for error
// pages and for connections closed halfway.
bool DownloadComplete(uint64_t fileSize, uint64_t announcedLength, uint32_t httpStatus);

// A download that has received no byte for this long is given up as failed; the test suite
// shortens it (TestStallSeconds, whole seconds below an hour; 0 keeps the default).
constexpr uint32_t kDownloadStallLimitMs = 60000;
uint32_t DownloadStallLimitMs(uint32_t setSeconds);
