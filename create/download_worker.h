// The worker thread of a creation run: downloads the image into the temporary directory, then
// hands over to the image writer on the same thread.
#pragma once
#include <windows.h>

#include <atomic>
#include <cstdint>

// One creation run as its worker sees it, made by the progress page for each opening. The
// worker acts on `page` only while RunPage and RunSerial still name this run.
struct WorkerRun {
    HWND page;
    uint32_t serial;
    // kNotDownloading, kDownloading while inside the download call, kGivenUp once the page has
    // given up on a download that stalled: the worker then ends without another word.
    std::atomic<uint8_t> downloading{0};
    std::atomic<DWORD> lastReport{0};  // tick count of the latest sign of life of the download
    std::atomic<DWORD> lastByte{0};    // tick count of the latest byte received
};
constexpr uint8_t kNotDownloading = 0, kDownloading = 1, kGivenUp = 2;

// Counts the openings of the progress page; with RunPage it tells a worker whether its page
// is still the open one (a later page may even get the same window handle).
extern std::atomic<uint32_t> RunSerial;

// A worker whose download has shown no sign of life for this long (a stalled connection) is
// no longer waited for: it aborts at its first report, and it never reaches the writer.
constexpr DWORD kStalledDownloadMs = 8000;

// Thread routine started by the progress page with its WorkerRun.
DWORD WINAPI DownloadWorker(LPVOID run);

// True while the run's page is open.
bool RunPageIsOpen(const WorkerRun* run);

// Sent by the worker to its page after the "Download Error" message: the page stores
// WizardState 2 and closes, so the user is back on the drive selection page.
constexpr UINT kDownloadFailedMessage = WM_APP + 41;
