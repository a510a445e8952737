// DownloadWorker: fetches the image with URLDownloadToFileA into a file of the run's own,
// checks what arrived, puts it in place as the image file and hands over to ImageWriter. The
// page that started the run shows the download's progress on its own tick (WatchDownload).
#include "download/download_worker.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/run_log.h"
#include "common/shared_state.h"
#include "download/download_request.h"
#include "download/kept_image.h"
#include "drives/drive_identity.h"
#include "ui/run_display.h"
#include "write/image_writer.h"
#include "write/image_writer_core.h"

namespace {

uint32_t DownloadCount = 0;  // requests of this process: part of each request's seed

enum class Downloaded { Image, Failed, GivenUp };
// One request's end: Kept when its headers showed the kept image, AskAgain when a 304 to its
// condition didn't.
enum class Fetched { Image, Kept, AskAgain, Failed, GivenUp };

// The run claims the end of its download phase; GivenUp when the page took the run over first.
bool GivenUp(WorkerRun* run) { return run->downloading.exchange(kNotDownloading) == kGivenUp; }

// One request: Image once the image file holds a download that passed the check (and its
// record is written); Kept when the headers showed the kept image (nothing was fetched and
// nothing touched); AskAgain for a 304 that doesn't show it; Failed with its cause; GivenUp
// when the page took the run over.
Fetched Request(ProgressCallback* self, DownloadCause* cause) {
    WorkerRun* run = self->run;
    *cause = PrepareFiles(self);
    if (*cause == DownloadCause::None) {
        srand(RequestSeed(static_cast<uint32_t>(time(nullptr)), GetTickCount(),
                          GetCurrentProcessId(), ++DownloadCount));
        if (!BuildRequestAddress(self->request, sizeof(self->request), self->address,
                                 RequestRandom(rand())))
            *cause = DownloadCause::NoConnection;
    }
    if (*cause != DownloadCause::None || CancelRequested || run->downloading != kDownloading) {
        RemoveDownloadFile(self);
        return GivenUp(run) ? Fetched::GivenUp : Fetched::Failed;
    }
    if (self->reuseAllowed) {
        self->recordState = self->hashAvailable
                                ? ReadImageRecord(self->tempFolder, &self->record)
                                : RecordState::None;
        if (self->recordState == RecordState::Read)
            LogEvent("kept image: record read: ETag %s, Last-Modified \"%s\", %llu bytes, "
                     "downloaded %04d-%02d-%02d",
                     self->record.etag[0] ? self->record.etag : "(none)",
                     self->record.lastModified, static_cast<unsigned long long>(self->record.length),
                     self->record.downloaded.year, self->record.downloaded.month,
                     self->record.downloaded.day);
    }

    run->lastReport = GetTickCount();
    run->lastByte = run->lastReport.load();
    run->downloadStart = static_cast<int64_t>(time(nullptr));
    DownloadActive = 1;
    LogEvent("download: request %s into %s", self->request, self->downloadFile);
    const DWORD started = GetTickCount();
    const char* logPath = getenv("HALCYRA_DOWNLOAD_LOG");
    self->reportLog = logPath && *logPath ? fopen(logPath, "a") : nullptr;
    HRESULT result = URLDownloadToFileA(nullptr, self->request, self->downloadFile, 0,
                                        reinterpret_cast<IBindStatusCallback*>(self));
    ReleaseBinding(self);
    ReportLog(self, "result %08lx\n", static_cast<unsigned long>(result));
    const DWORD took = GetTickCount() - started;
    const uint64_t arrived = ArrivedCount(run);
    // The platform's cache copy goes now, whatever the end: the count it gave stays with the run.
    if (arrived > run->received) run->received = arrived;
    RemoveCacheCopy(self);
    LogEvent("download: call returned %08lx after %lu ms, %llu bytes (%.0f bytes/s)",
             static_cast<unsigned long>(result), static_cast<unsigned long>(took),
             static_cast<unsigned long long>(arrived), took ? arrived * 1000.0 / took : 0.0);
    if (self->reportLog) fclose(self->reportLog);
    self->reportLog = nullptr;
    // A download given up on may still have been finished by the platform, or copied in part:
    // its file is removed and nothing else is touched. So is a download whose page has gone.
    if (GivenUp(run) || !RunPageIsOpen(run)) {
        LogEvent("download: the page took the run over (cancel, close or stall); its file is removed");
        RemoveDownloadFile(self);
        return Fetched::GivenUp;
    }
    // Stopped at the headers: the run's own download file goes, the kept image stays as it is.
    if (self->reuse || self->askAgain) {
        RemoveDownloadFile(self);
        *cause = self->stoppedFor;
        return self->reuse ? Fetched::Kept : Fetched::AskAgain;
    }
    // A later run's flag is not this worker's to clear.
    if (RunPageIsOpen(run)) {
        DownloadActive = 0;
        SendMessageA(run->page, kDownloadEndedMessage, 0, 0);
    }

    DownloadFacts facts;
    facts.result = static_cast<uint32_t>(result);
    facts.headers = &self->headers;
    facts.stoppedFor = self->stoppedFor;
    facts.received = ArrivedCount(run);
    ReadDownloadFile(self, &facts);
    ULARGE_INTEGER folderFree;
    if (GetDiskFreeSpaceExA(self->tempFolder, &folderFree, nullptr, nullptr))
        facts.folderFree = folderFree.QuadPart;
    *cause = DecideDownloadOutcome(facts, run->announced);
    LogEvent("download: file of %llu bytes, image check %s; outcome: %s",
             static_cast<unsigned long long>(facts.fileSize), ImageVerdictName(facts.verdict),
             DownloadCauseName(*cause));
    if (*cause == DownloadCause::None) {
        // The record describes the file it stands beside, or nothing: it goes before the
        // file is replaced.
        RemoveImageRecord(self->tempFolder);
        if (!MoveFileExA(self->downloadFile, self->imageFile, MOVEFILE_REPLACE_EXISTING)) {
            const DWORD error = GetLastError();
            LogFailure("MoveFileExA of the download over the image file", error);
            *cause = FolderCause(error);
        }
    }
    if (*cause != DownloadCause::None) {
        RemoveDownloadFile(self);
        return Fetched::Failed;
    }
    KeepImage(self);
    return Fetched::Image;
}

// Everything of one request, cleared for the next.
void ForgetRequest(ProgressCallback* self) {
    WorkerRun* run = self->run;
    self->headers = ResponseHeaders{};
    self->stoppedFor = DownloadCause::None;
    self->received = ReceivedCounter{};
    self->askedETag = false;
    self->reuse = false;
    self->askAgain = false;
    self->imageLength = 0;
    self->room = RoomShortage{};
    self->cacheFolder[0] = 0;
    run->received = 0;
    run->announced = 0;
    run->endReported = 0;
    run->cacheFileKnown = 0;
}

// A new request, without the kept image: downloaded whole.
Fetched RequestWhole(ProgressCallback* self, DownloadCause* cause) {
    ForgetRequest(self);
    self->reuseAllowed = false;
    self->run->downloading = kDownloading;
    if (RunPageIsOpen(self->run)) SetRunBarRange(self->run->page, kDownloadBarSteps);
    ShowWorkerStatus(self->run, kDownloadingText);
    return Request(self, cause);
}

// The run's image: the kept one when the server still serves it and its file is intact, else
// a download. Image once ImagePath names it; Failed with its cause (a cancel leaves the cause
// None); GivenUp when the page took the run over while it downloaded.
Downloaded Download(ProgressCallback* self, DownloadCause* cause) {
    self->address = ImageUrlFrom(getenv(kImageUrlVariable));
    RemoveEarlierCopies(self->address);
    self->hashAvailable = Sha256Available();
    self->reuseAllowed = true;
    Fetched fetched = Request(self, cause);
    if (fetched == Fetched::Kept) {
        switch (CheckKeptImage(self)) {
        case KeptCheck::Intact:
            fetched = Fetched::Image;
            break;
        case KeptCheck::Stopped:
            return Downloaded::Failed;
        case KeptCheck::Altered:
            // The kept file can no longer be trusted.
            fetched = RequestWhole(self, cause);
            break;
        }
    } else if (fetched == Fetched::AskAgain) {
        // The record stays until a download replaces it: a later run asks with it again.
        *cause = DownloadCause::None;
        fetched = RequestWhole(self, cause);
    }
    switch (fetched) {
    case Fetched::Image:
    case Fetched::Kept:
        strcpy(ImagePath, self->imageFile);
        return Downloaded::Image;
    case Fetched::AskAgain:  // only a request with the condition asks again
    case Fetched::Failed:
        return Downloaded::Failed;
    case Fetched::GivenUp:
        break;
    }
    return Downloaded::GivenUp;
}


// Keeps the machine from sleeping while the run downloads and writes: a laptop that sleeps in
// the middle of the write leaves a broken stick.
struct StayAwake {
    StayAwake() { SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED); }
    ~StayAwake() { SetThreadExecutionState(ES_CONTINUOUS); }
};

}  // namespace

DWORD WINAPI DownloadWorker(LPVOID parameter) {
    WorkerRun* run = static_cast<WorkerRun*>(parameter);
    // The callback record holds the run's texts and paths too, in the worker's own frame.
    ProgressCallback callback{};
    callback.table = &kCallbackTable;
    callback.http.table = &kNegotiateTable;
    callback.http.owner = &callback;
    callback.run = run;
    StayAwake awake;

    ShowWorkerStatus(run, kDownloadingText);
    DownloadCause cause = DownloadCause::None;
    const Downloaded downloaded = Download(&callback, &cause);

    // A page that has gone was closed by the user, and a download that the page took over
    // has been reported by the page: the run ends here, without a word to any window and
    // without touching the disk.
    if (downloaded == Downloaded::GivenUp || !RunPageIsOpen(run)) return 0;
    if (downloaded == Downloaded::Image || CancelRequested) {
        ImageWriter();  // a cancel is reported by the writer's early cancel ending
        return 0;
    }
    if (cause == DownloadCause::DiskTooSmall) {
        // Nobody waits for gigabytes to learn that they won't fit: the drive error of the
        // writer, before anything was fetched or written.
        char text[kTooSmallTextSize];
        TooSmallText(text, sizeof text, static_cast<int64_t>(callback.imageLength),
                     TargetDrive, TargetIdentity.length);
        SetRunAlert(run->page, true);
        FlushRunDisplay(run->page);
        MessageBoxA(run->page, text, kDriveErrorCaption, MB_ICONERROR);
        SetRunAlert(run->page, false);
    } else {
        ShowDownloadError(run->page, cause, &callback.headers, callback.tempFolder,
                          &callback.room);
    }
    // Sent, not stored here: the page stores the result and closes only if it is still open.
    if (RunPageIsOpen(run)) SendMessageA(run->page, kDownloadFailedMessage, 0, 0);
    return 0;
}
