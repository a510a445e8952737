// DownloadWorker: fetches the image with URLDownloadToFileA into a file of the run's own,
// checks what arrived, puts it in place as the image file and hands over to ImageWriter. The
// page that started the run shows the download's progress on its own tick (WatchDownload).
#include "download/download_worker.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/data_folder_files.h"
#include "common/run_log.h"
#include "common/sha256.h"
#include "common/shared_state.h"
#include "common/system_library.h"
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

// The platform's download call, from the system's urlmon.dll: a urlmon.dll in the program's
// folder (the downloads folder) would be loaded first by name, and urlmon is not one of the
// libraries every Windows takes from the system folder only.
HRESULT DownloadToFile(const char* address, const char* file, IBindStatusCallback* callback) {
    static const auto download = SystemFunction<decltype(&URLDownloadToFileA)>(
        LoadSystemLibrary("urlmon.dll"), "URLDownloadToFileA");
    if (!download) {
        LogFailure("loading URLDownloadToFileA from the system folder's urlmon.dll", GetLastError());
        return HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND);
    }
    return download(nullptr, address, file, 0, callback);
}

// The run claims the end of its download phase; GivenUp when the page took the run over first.
bool GivenUp(WorkerRun* run) { return run->downloading.exchange(kNotDownloading) == kGivenUp; }

// One request: Image once the run's download file holds a download that passed the check,
// open in `download` for the write; Kept when the headers showed the kept image (nothing was
// fetched and nothing touched); AskAgain for a 304 that doesn't show it; Failed with its cause;
// GivenUp when the page took the run over.
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
                                ? ReadImageRecord(&self->record)
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
    const char* logPath = AdminSettings.downloadLog;
    self->reportLog = *logPath ? fopen(logPath, "a") : nullptr;
    HRESULT result = DownloadToFile(self->request, self->downloadFile,
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
    HANDLE file = OpenDownloadFile(self, &facts);
    ULARGE_INTEGER folderFree;
    if (GetDiskFreeSpaceExA(self->folder, &folderFree, nullptr, nullptr))
        facts.folderFree = folderFree.QuadPart;
    *cause = DecideDownloadOutcome(facts, run->announced);
    LogEvent("download: file of %llu bytes, image check %s; outcome: %s",
             static_cast<unsigned long long>(facts.fileSize), ImageVerdictName(facts.verdict),
             DownloadCauseName(*cause));
    // A file that can't be had alone (another program holds it open) has no length to check,
    // and is told as a folder the download can't be saved in.
    if (*cause != DownloadCause::None || !file) {
        if (file) CloseHandle(file);
        if (*cause == DownloadCause::None) *cause = DownloadCause::TempFolderReadOnly;
        RemoveDownloadFile(self);
        return Fetched::Failed;
    }
    self->download = file;
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

// The next request goes without the kept image, and is downloaded whole.
void WithoutKeptImage(ProgressCallback* self) {
    ForgetRequest(self);
    self->reuseAllowed = false;
    self->run->downloading = kDownloading;
    if (RunPageIsOpen(self->run)) SetRunBarRange(self->run->page, kDownloadBarSteps);
    ShowWorkerStatus(self->run, kDownloadingText);
}

// The run's image: the kept one when the server still serves it (`kept`), else a download,
// open in `download`. Failed with its cause (a cancel leaves the cause None); GivenUp when the
// page took the run over while it downloaded.
Downloaded Download(ProgressCallback* self, DownloadCause* cause) {
    RemoveEarlierCopies(self->address);
    Fetched fetched = Request(self, cause);
    if (fetched == Fetched::AskAgain) {
        // The record stays until a download replaces it: a later run asks with it again.
        *cause = DownloadCause::None;
        WithoutKeptImage(self);
        fetched = Request(self, cause);
    }
    switch (fetched) {
    case Fetched::Image:
        self->kept = false;
        return Downloaded::Image;
    case Fetched::Kept:
        self->kept = true;
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

// The kept image file, opened once for the whole write: for reading, and nobody else may write
// or delete it while it is open. A link under its name is never opened. Null when it can't be
// opened (another program holding it open for writing, say).
HANDLE OpenKeptImage(ProgressCallback* self, uint64_t* length) {
    HANDLE file = OpenDataFile(self->imageFile, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN);
    LARGE_INTEGER size{};
    if (file == INVALID_HANDLE_VALUE) {
        LogFailure("CreateFileA of the image file, to be read alone", GetLastError());
        return nullptr;
    }
    if (!GetFileSizeEx(file, &size)) size.QuadPart = 0;
    *length = static_cast<uint64_t>(size.QuadPart);
    return file;
}

// The kept image may be written when its file could be had alone, has the recorded length and
// the record a SHA-256: the writer then compares that with the image's own as it writes it.
bool UseKeptImage(ProgressCallback* self, HANDLE file, uint64_t length,
                  uint8_t recorded[kSha256Size]) {
    const char* why = nullptr;
    if (!file) {
        why = "its file can't be had alone (another program may hold it open)";
    } else if (length != self->record.length) {
        why = "its file has another length than the recorded one";
    } else if (!Sha256FromText(self->record.sha256, recorded)) {
        why = "its record holds no SHA-256";
    }
    if (why) {
        LogEvent("kept image: %s; the image is downloaded", why);
        return false;
    }
    char line[kKeptImageTextSize];
    KeptImageText(line, sizeof line, self->record.downloaded);
    ShowWorkerStatus(self->run, line);
    LogEvent("kept image: written, and its SHA-256 compared with the record as it is written");
    return true;
}

// The kept image can't be used: its record goes, and the run downloads the image whole.
void DownloadAfterAll(ProgressCallback* self) {
    RemoveImageRecord();
    if (RunPageIsOpen(self->run)) {
        // Work still runs: the close question stays on, now for the download.
        DownloadActive = 1;
        WriteActive = 0;
    }
    WithoutKeptImage(self);
}

// Writes the run's image (without one, after a cancel, the writer reports the cancel). False
// when the kept image turned out not to be the recorded one, or could not be had alone: the run
// then downloads the image after all.
bool WriteImage(ProgressCallback* self, bool haveImage) {
    WriterImage image{};
    uint64_t length = 0;
    uint8_t recorded[kSha256Size];
    const bool fresh = haveImage && !self->kept;
    if (fresh) {
        image.handle = self->download;
        self->download = nullptr;
    } else if (haveImage) {
        image.handle = OpenKeptImage(self, &length);
        if (!UseKeptImage(self, static_cast<HANDLE>(image.handle), length, recorded)) {
            if (image.handle) CloseHandle(image.handle);
            return false;
        }
        image.expectedSha256 = recorded;
    }
    const WriterEnding ending = ImageWriter(&image);
    if (image.handle) {
        LARGE_INTEGER size{};
        if (GetFileSizeEx(image.handle, &size)) length = static_cast<uint64_t>(size.QuadPart);
        CloseHandle(image.handle);
    }
    if (ending == WriterEnding::ImageAltered) return false;
    if (fresh) {
        // The download becomes the image file; it is kept for later runs once the stick holds
        // it, proven.
        PlaceDownload(self);
        if (ending == WriterEnding::Success && image.hashed) KeepImage(self, image.sha256, length);
    }
    return true;
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
    callback.address = ImageAddressFrom(AdminSettings.imageAddress);
    callback.hashAvailable = Sha256Available();
    // A kept image is only trusted where nobody but an administrator could have changed it.
    callback.reuseAllowed = DataFolderIsSecure();
    DownloadCause cause = DownloadCause::None;
    for (;;) {
        const Downloaded downloaded = Download(&callback, &cause);
        // A page that has gone was closed by the user, and a download that the page took over
        // has been reported by the page: the run ends here, without a word to any window and
        // without touching the disk.
        if (downloaded == Downloaded::GivenUp || !RunPageIsOpen(run)) {
            if (callback.download) {
                CloseHandle(callback.download);
                RemoveDownloadFile(&callback);
            }
            return 0;
        }
        if (downloaded != Downloaded::Image && !CancelRequested) break;
        // A cancel is reported by the writer's early cancel ending.
        if (WriteImage(&callback, downloaded == Downloaded::Image)) return 0;
        DownloadAfterAll(&callback);
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
        ShowDownloadError(run->page, cause, &callback.headers, callback.folder, &callback.room);
    }
    // Sent, not stored here: the page stores the result and closes only if it is still open.
    if (RunPageIsOpen(run)) SendMessageA(run->page, kDownloadFailedMessage, 0, 0);
    return 0;
}
