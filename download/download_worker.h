// The worker thread of a creation run: downloads the image into the temporary directory, then
// hands over to the image writer on the same thread.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

#include "common/time_left.h"
#include "download/download_outcome.h"

// The phase of a run's download: kDownloading from the page's opening until the download call
// has returned, then kNotDownloading. kGivenUp once the page has taken the run over during the
// download (the stall limit, a confirmed cancel or close): the worker then ends without a word
// to any window, without touching a disk or the image file, and removes its own download file.
constexpr uint8_t kNotDownloading = 0, kDownloading = 1, kGivenUp = 2;

// One creation run as its worker sees it, made by the progress page for each opening. The
// worker acts on `page` only while RunPage and RunSerial still name this run.
struct WorkerRun {
    HWND page;
    uint32_t serial;
    std::atomic<uint8_t> downloading{kDownloading};
    std::atomic<DWORD> lastReport{0};  // tick count of the latest sign of life of the download
    std::atomic<DWORD> lastByte{0};    // tick count of the latest byte received
    // The download's figures, from the worker's reports, read by the page's download tick.
    std::atomic<uint64_t> received{0};      // bytes that have arrived (the whole count)
    std::atomic<uint64_t> announced{0};     // the image's announced length, 0 while unknown
    std::atomic<uint8_t> endReported{0};    // the platform has reported the end of the data
    std::atomic<int64_t> downloadStart{0};  // `time` when the download began
    // The platform keeps the download in a cache file of its own while it arrives, and reports
    // that file's name; its size is the count of what has arrived between two reports.
    char cacheFile[MAX_PATH] = {};
    std::atomic<uint8_t> cacheFileKnown{0};
    uint64_t counted = 0;  // page's thread only: the count the page has seen, never less
    TimeLeftClock timeLeft{};  // page's thread only: the time left the progress line shows
};

// Counts the openings of the progress page; with RunPage it tells a worker whether its page
// is still the open one (a later page may even get the same window handle).
extern std::atomic<uint32_t> RunSerial;

// The download's stall limit: nothing received for this long while bytes are still due.
uint32_t StallLimitMs();

// A worker whose download has shown no sign of life for this long (a stalled connection) is
// no longer waited for: it aborts at its first report, and it never reaches the writer.
constexpr DWORD kStalledDownloadMs = 8000;

// Thread routine started by the progress page with its WorkerRun.
DWORD WINAPI DownloadWorker(LPVOID run);

// True while the run's page is open.
bool RunPageIsOpen(const WorkerRun* run);

// The page's download tick, on the page's thread while the run downloads: follows what has
// arrived (reports and cache file), shows the progress line at most once per elapsed second
// and returns true when the stall limit has been reached.
bool WatchDownload(WorkerRun* run, uint32_t stallLimitMs);

// Sent by the worker to its page when its download call has returned: the page shows the
// download's last line, whatever second it is.
constexpr UINT kDownloadEndedMessage = WM_APP + 44;
void ShowLastDownloadLine(WorkerRun* run);

// Sent by the worker to its page after the "Download Error" message: the page stores
// WizardState 2 and closes, so the user is back on the drive selection page.
constexpr UINT kDownloadFailedMessage = WM_APP + 41;

// The "Download Error" message of the run, owned by its page, its cause on the second line
// (`room`: the figures of the room causes).
void ShowDownloadError(HWND page, DownloadCause cause, const ResponseHeaders* headers,
                       const char* folder, const RoomShortage* room = nullptr);

// Removes the download files that runs have left in the temporary directory: those of
// processes that have ended, and with `ownToo` also this process's own (at its end).
void RemoveLeftDownloads(bool ownToo);
