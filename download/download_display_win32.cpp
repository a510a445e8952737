// What the progress page shows of a download: the page's own tick reads what has arrived and
// shows the progress line; the "Download Error" message.
#include <cstdlib>
#include <ctime>

#include "common/shared_state.h"
#include "common/tick_count.h"
#include "download/download_request.h"
#include "ui/run_display.h"

// Kept across runs: the once-per-second gate of the progress line.
static int32_t LastShownSecond = 0;

uint32_t StallLimitMs() { return DownloadStallLimitMs(AdminSettings.stallSeconds); }

void ShowWorkerStatus(const WorkerRun* run, const char* text) {
    if (RunPageIsOpen(run)) ShowRunStatus(run->page, text);
}

namespace {

// The size of a file that another handle is writing: asked through a handle of its own that
// requests no access, so that the writer's sharing never refuses it and the size is the file's
// own, not a directory entry's.
uint64_t OpenFileSize(const char* path) {
    HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return 0;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    CloseHandle(file);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return 0;
    return (static_cast<uint64_t>(high) << 32) | low;
}

}  // namespace

uint64_t ArrivedCount(const WorkerRun* run) {
    uint64_t count = run->received;
    if (run->cacheFileKnown) {
        const uint64_t cached = OpenFileSize(run->cacheFile);
        if (cached > count) count = cached;
    }
    return count;
}

namespace {

// The page shows the progress line: only the page's thread calls this, so the lines shown
// follow one another in order, and the count shown never goes back.
void ShowDownloadLine(WorkerRun* run, uint64_t count, bool last) {
    if (!RunPageIsOpen(run)) return;
    if (count < run->counted) count = run->counted;
    const uint64_t announced = run->announced;
    ProgressStep step = DecideProgress(count, announced, false, time(nullptr),
                                       run->downloadStart, LastShownSecond, last);
    if (!step.show) return;
    // The line that ends the download tells no time left.
    char left[kTimeLeftTextSize] = "";
    if (!last) TimeLeftText(&run->timeLeft, left, sizeof left);
    char line[kDownloadStatusSize];
    DownloadStatusLine(line, sizeof line, count, announced, step.rate, left);
    ShowRunProgress(run->page, line, step.barPosition);
    LastShownSecond = step.elapsed;
}

}  // namespace

std::atomic<uint32_t> RunSerial{0};

bool RunPageIsOpen(const WorkerRun* run) {
    return run->page && RunPage.load() == run->page && RunSerial.load() == run->serial;
}

bool WatchDownload(WorkerRun* run, uint32_t stallLimitMs) {
    if (run->downloading != kDownloading) return false;
    if (run->serial != RunSerial.load()) return false;
    const uint64_t count = ArrivedCount(run);
    const DWORD now = GetTickCount();
    if (count > run->counted) {
        run->counted = count;
        run->lastByte = now;
    }
    NoteProgress(&run->timeLeft, now, run->counted, run->announced);
    ShowDownloadLine(run, count, false);
    // The worker may note a byte after `now` was read here.
    return StallLimitReached(count, run->announced, run->endReported != 0,
                             TicksSince(now, run->lastByte), stallLimitMs);
}

void ShowLastDownloadLine(WorkerRun* run) {
    const uint64_t count = ArrivedCount(run);
    if (count > run->counted) run->counted = count;
    ShowDownloadLine(run, count, true);
}

void ShowDownloadError(HWND page, DownloadCause cause, const ResponseHeaders* headers,
                       const char* folder, const RoomShortage* room) {
    char text[kDownloadErrorSize];
    DownloadErrorText(text, sizeof text, cause, headers, folder, StallLimitMs() / 1000, room);
    SetRunAlert(page, true);
    FlushRunDisplay(page);
    MessageBoxA(page, text, kDownloadErrorCaption, MB_ICONERROR);
    SetRunAlert(page, false);
}
