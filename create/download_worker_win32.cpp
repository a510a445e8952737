// DownloadWorker: fetches the image with URLDownloadToFileA into a file of the run's own,
// checks what arrived, puts it in place as the image file and hands over to ImageWriter. The
// page that started the run shows the download's progress on its own tick (WatchDownload).
#include "create/download_worker.h"

#include <urlmon.h>
#include <wininet.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/page_flow.h"
#include "app/run_log.h"
#include "app/shared_state.h"
#include "create/download_outcome.h"
#include "create/download_progress.h"
#include "create/image_check.h"
#include "create/image_record.h"
#include "create/image_writer.h"
#include "create/image_writer_core.h"
#include "create/kept_image.h"
#include "create/run_display.h"
#include "drives/drive_identity.h"

namespace {

struct ProgressCallback;
struct HttpNegotiate;

// The eleven operations of IBindStatusCallback, in its slot order.
struct ProgressCallbackTable {
    HRESULT(STDMETHODCALLTYPE* queryInterface)(ProgressCallback*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* addRef)(ProgressCallback*);
    ULONG(STDMETHODCALLTYPE* release)(ProgressCallback*);
    HRESULT(STDMETHODCALLTYPE* onStartBinding)(ProgressCallback*, DWORD, IBinding*);
    HRESULT(STDMETHODCALLTYPE* getPriority)(ProgressCallback*, LONG*);
    HRESULT(STDMETHODCALLTYPE* onLowResource)(ProgressCallback*, DWORD);
    HRESULT(STDMETHODCALLTYPE* onProgress)(ProgressCallback*, ULONG, ULONG, ULONG, LPCWSTR);
    HRESULT(STDMETHODCALLTYPE* onStopBinding)(ProgressCallback*, HRESULT, LPCWSTR);
    HRESULT(STDMETHODCALLTYPE* getBindInfo)(ProgressCallback*, DWORD*, BINDINFO*);
    HRESULT(STDMETHODCALLTYPE* onDataAvailable)(ProgressCallback*, DWORD, DWORD, FORMATETC*,
                                                 STGMEDIUM*);
    HRESULT(STDMETHODCALLTYPE* onObjectAvailable)(ProgressCallback*, REFIID, IUnknown*);
};

// The five operations of IHttpNegotiate, in its slot order: the download asks the callback for
// it and reports the server's HTTP status through OnResponse.
struct HttpNegotiateTable {
    HRESULT(STDMETHODCALLTYPE* queryInterface)(HttpNegotiate*, REFIID, void**);
    ULONG(STDMETHODCALLTYPE* addRef)(HttpNegotiate*);
    ULONG(STDMETHODCALLTYPE* release)(HttpNegotiate*);
    HRESULT(STDMETHODCALLTYPE* beginningTransaction)(HttpNegotiate*, LPCWSTR, LPCWSTR, DWORD,
                                                      LPWSTR*);
    HRESULT(STDMETHODCALLTYPE* onResponse)(HttpNegotiate*, DWORD, LPCWSTR, LPCWSTR, LPWSTR*);
};

struct HttpNegotiate {
    const HttpNegotiateTable* table;
    ProgressCallback* owner;
};

// The callback object: the table first, as the interface requires, then the run it reports
// to and everything of one download. It lives in the worker's frame for the duration of the
// download call; an abandoned worker may still be inside its call while the next run's
// worker runs, so nothing of a download is kept anywhere else.
struct ProgressCallback {
    const ProgressCallbackTable* table;
    WorkerRun* run;
    HttpNegotiate http;
    ResponseHeaders headers;
    DownloadCause stoppedFor;  // set when the headers show that the download can't succeed
    ReceivedCounter received;
    IBinding* binding;         // the platform's binding of the download, while it runs
    FILE* reportLog;           // HALCYRA_DOWNLOAD_LOG: the platform's raw reports, for tests
    char tempFolder[kImagePathSize];
    char downloadFile[kImagePathSize];
    char imageFile[kImagePathSize];
    char request[kRequestAddressSize];
    // The kept image: whether its record may decide this request, the record as read, and
    // whether the headers showed that image (the transfer then stops at the headers).
    const char* address;  // the image address of the run
    bool hashAvailable;
    bool reuseAllowed;
    RecordState recordState;
    ImageRecord record;
    bool askedETag;        // the request asked with the record's ETag (If-None-Match)
    bool reuse;
    uint64_t imageLength;  // the length the headers announce (the kept one's, when kept)
};

// Kept across runs: the once-per-second gate of the progress line.
int32_t LastShownSecond = 0;
uint32_t DownloadCount = 0;

uint32_t StallLimitMs() {
    static const uint32_t limit = DownloadStallLimitMs(getenv(kStallLimitVariable));
    return limit;
}

void ShowStatus(const WorkerRun* run, const char* text) {
    if (RunPageIsOpen(run)) ShowRunStatus(run->page, text);
}

// One line of the report log: the tick count, then the line.
void Log(ProgressCallback* self, const char* format, ...) {
    if (!self->reportLog) return;
    fprintf(self->reportLog, "%lu ", static_cast<unsigned long>(GetTickCount()));
    va_list values;
    va_start(values, format);
    vfprintf(self->reportLog, format, values);
    va_end(values);
}

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

// What has arrived: the reports' count, or the cache file's length when it is ahead.
uint64_t ArrivedCount(const WorkerRun* run) {
    uint64_t count = run->received;
    if (run->cacheFileKnown) {
        const uint64_t cached = OpenFileSize(run->cacheFile);
        if (cached > count) count = cached;
    }
    return count;
}

// The page shows the progress line: only the page's thread calls this, so the lines shown
// follow one another in order, and the count shown never goes back.
void ShowDownloadLine(WorkerRun* run, uint64_t count, bool last) {
    if (!RunPageIsOpen(run)) return;
    if (count < run->counted) count = run->counted;
    const uint64_t announced = run->announced;
    ProgressStep step = DecideProgress(count, announced, false, time(nullptr),
                                       run->downloadStart, LastShownSecond, last);
    if (!step.show) return;
    char line[kDownloadStatusSize];
    DownloadStatusLine(line, sizeof line, count, announced, step.rate);
    ShowRunProgress(run->page, line, step.barPosition);
    LastShownSecond = step.elapsed;
}

// Only the HTTP exchange is of interest: its status and headers decide whether what arrives
// can be the image.
HRESULT STDMETHODCALLTYPE QueryInterface(ProgressCallback* self, REFIID id, void** object) {
    if (!IsEqualIID(id, IID_IHttpNegotiate)) return E_NOTIMPL;
    *object = &self->http;
    return S_OK;
}
ULONG STDMETHODCALLTYPE AddRef(ProgressCallback*) { return 0; }
ULONG STDMETHODCALLTYPE Release(ProgressCallback*) { return 0; }
// The binding is kept for the name of the platform's cache file of the download.
HRESULT STDMETHODCALLTYPE OnStartBinding(ProgressCallback* self, DWORD, IBinding* binding) {
    if (binding && !self->binding) {
        binding->AddRef();
        self->binding = binding;
    }
    return S_OK;
}
HRESULT STDMETHODCALLTYPE GetPriority(ProgressCallback*, LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE OnLowResource(ProgressCallback*, DWORD) { return E_NOTIMPL; }

void ReleaseBinding(ProgressCallback* self) {
    if (self->binding) self->binding->Release();
    self->binding = nullptr;
}

HRESULT STDMETHODCALLTYPE OnStopBinding(ProgressCallback* self, HRESULT, LPCWSTR) {
    ReleaseBinding(self);
    return S_OK;
}
HRESULT STDMETHODCALLTYPE GetBindInfo(ProgressCallback*, DWORD*, BINDINFO*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE OnDataAvailable(ProgressCallback*, DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE OnObjectAvailable(ProgressCallback*, REFIID, IUnknown*) {
    return E_NOTIMPL;
}

// The platform's cache file of the download into the run record, from a report's text (wide)
// or from the binding's data file option (wide under Wine, narrow on Windows).
void NoteCacheFile(WorkerRun* run, const void* name, bool wide) {
    if (run->cacheFileKnown) return;
    if (wide) {
        if (WideCharToMultiByte(CP_ACP, 0, static_cast<const WCHAR*>(name), -1, run->cacheFile,
                                sizeof run->cacheFile, nullptr, nullptr) <= 0)
            return;
    } else if (snprintf(run->cacheFile, sizeof run->cacheFile, "%s",
                        static_cast<const char*>(name)) >= static_cast<int>(sizeof run->cacheFile)) {
        return;
    }
    if (run->cacheFile[0]) run->cacheFileKnown = 1;
}

// Asks the binding for the file the platform stores the download in as it arrives. Wine
// reports that file's name only once the whole body has been read, up to half a minute after
// the headers, so it is asked for at every report until it is known.
void AskCacheFile(ProgressCallback* self) {
    if (self->run->cacheFileKnown || !self->binding) return;
    IWinInetInfo* info = nullptr;
    if (FAILED(self->binding->QueryInterface(IID_IWinInetInfo, reinterpret_cast<void**>(&info))) ||
        !info)
        return;
    WCHAR name[MAX_PATH + 1] = {};
    DWORD size = sizeof name - sizeof(WCHAR);
    if (info->QueryOption(INTERNET_OPTION_DATAFILE_NAME, name, &size) == S_OK && size > 0) {
        // A narrow path never has a zero as its second byte (it starts with a drive letter
        // or a backslash); a wide one does.
        const char* bytes = reinterpret_cast<const char*>(name);
        NoteCacheFile(self->run, name, bytes[0] != 0 && bytes[1] == 0);
    }
    info->Release();
}

// Each report of the platform: notes what has arrived for the page, and stops the download
// once the run has been cancelled or given up, its page has gone, or the headers showed that
// it can't succeed.
//
// What Wine 8's urlmon reports (raw reports of whole runs, HALCYRA_DOWNLOAD_LOG): the received
// count is the true count modulo 2^32 (the last report of a 4 GiB + 1,234,567-byte image
// carries 1,234,567); the total is the Content-Length only below 2 GiB and 2,147,483,647 from
// there on; the reports come irregularly, 6 to 66 of them for 4 GiB, up to 32 s apart while
// the data flows; and after the last one the call still copies its cache file into the run's
// file (16 to 18 s for 4 GiB) without a report. So the count is followed across its wraps,
// the length is taken from the headers, and the page reads the cache file's length between
// reports.
HRESULT STDMETHODCALLTYPE OnProgress(ProgressCallback* self, ULONG reportedReceived,
                                     ULONG reportedTotal, ULONG code, LPCWSTR text) {
    WorkerRun* run = self->run;
    const DWORD now = GetTickCount();
    Log(self, "progress %lu %lu %lu\n", static_cast<unsigned long>(reportedReceived),
        static_cast<unsigned long>(reportedTotal), static_cast<unsigned long>(code));
    run->lastReport = now;
    const bool cacheFileKnown = run->cacheFileKnown;
    if (code == BINDSTATUS_CACHEFILENAMEAVAILABLE && text) NoteCacheFile(run, text, true);
    AskCacheFile(self);
    if (!cacheFileKnown && run->cacheFileKnown) Log(self, "cache file %s\n", run->cacheFile);
    // The body of an error answer is not counted: the page shows no progress for it.
    const bool data = code == BINDSTATUS_BEGINDOWNLOADDATA ||
                      code == BINDSTATUS_DOWNLOADINGDATA || code == BINDSTATUS_ENDDOWNLOADDATA;
    if (data && IsSuccessStatus(self->headers.status) && !self->reuse) {
        const uint64_t received = self->received.Advance(reportedReceived);
        if (received > run->received) {
            run->received = received;
            run->lastByte = now;
        }
        // Without a length in the headers, the reports' total is the only one there is.
        if (!self->headers.contentLength && reportedTotal) run->announced = reportedTotal;
        if (code == BINDSTATUS_ENDDOWNLOADDATA) run->endReported = 1;
    }
    const bool stop = CancelRequested != 0 || !RunPageIsOpen(run) ||
                      run->downloading != kDownloading || self->stoppedFor != DownloadCause::None ||
                      self->reuse;
    return stop ? E_ABORT : S_OK;
}

// Everything the download does with the response headers, once they have arrived: they are
// kept with the run; a response that still describes the kept image, or one that can't
// succeed, is stopped at the next report.
void OnHeaders(ProgressCallback* self, const ResponseHeaders& headers) {
    self->headers = headers;
    if (self->reuseAllowed) {
        const ReuseFacts reuse{self->hashAvailable, self->recordState, &self->record,
                               self->address, self->askedETag, &headers};
        const ReuseVerdict verdict = DecideReuse(reuse);
        self->reuse = verdict == ReuseVerdict::Reuse;
        LogEvent("kept image: %s%s; %s", ReuseVerdictName(verdict),
                 self->askedETag ? " (asked with If-None-Match)" : "",
                 self->reuse ? "the transfer stops at the headers" : "the image is downloaded");
    }
    // The kept image stands for the response's body: it needs no room in the temporary folder,
    // but it must fit on the disk.
    self->imageLength = self->reuse ? self->record.length : headers.contentLength;
    HeaderFacts facts{self->reuse ? 200u : headers.status, self->imageLength, false, 0,
                      TargetIdentity.lengthKnown, TargetIdentity.length};
    ULARGE_INTEGER folderFree;
    if (!self->reuse && GetDiskFreeSpaceExA(self->tempFolder, &folderFree, nullptr, nullptr)) {
        facts.folderKnown = true;
        facts.folderFree = folderFree.QuadPart;
    }
    self->stoppedFor = StopAtHeaders(facts);
    if (self->stoppedFor != DownloadCause::None) {
        self->reuse = false;
        LogEvent("download: stopped at the headers: %s", DownloadCauseName(self->stoppedFor));
    }
    if (IsSuccessStatus(headers.status) && headers.contentLength && !self->reuse)
        self->run->announced = headers.contentLength;
}

HRESULT STDMETHODCALLTYPE NegotiateQueryInterface(HttpNegotiate*, REFIID, void**) {
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE NegotiateAddRef(HttpNegotiate*) { return 0; }
ULONG STDMETHODCALLTYPE NegotiateRelease(HttpNegotiate*) { return 0; }

// With a kept image, the request asks with its ETag: a server that still serves that image
// answers "304 Not Modified" and sends no body at all.
HRESULT STDMETHODCALLTYPE BeginningTransaction(HttpNegotiate* self, LPCWSTR, LPCWSTR, DWORD,
                                               LPWSTR* additionalHeaders) {
    if (!additionalHeaders) return S_OK;
    *additionalHeaders = nullptr;
    ProgressCallback* owner = self->owner;
    char header[sizeof ResponseHeaders::etag + 32];
    if (!owner->reuseAllowed ||
        !ConditionalRequestHeader(header, sizeof header, owner->recordState, owner->record,
                                  owner->address))
        return S_OK;
    const size_t length = strlen(header);
    WCHAR* wide = static_cast<WCHAR*>(CoTaskMemAlloc((length + 1) * sizeof(WCHAR)));
    if (!wide) return S_OK;
    for (size_t i = 0; i <= length; ++i) wide[i] = static_cast<unsigned char>(header[i]);
    *additionalHeaders = wide;
    owner->askedETag = true;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OnResponse(HttpNegotiate* self, DWORD status, LPCWSTR headers, LPCWSTR,
                                     LPWSTR* additionalHeaders) {
    if (additionalHeaders) *additionalHeaders = nullptr;
    // The headers are plain ASCII: their low bytes are enough.
    std::string narrow;
    for (const WCHAR* c = headers; c && *c; ++c) narrow += static_cast<char>(*c & 0x7F);
    const ResponseHeaders parsed = ParseResponseHeaders(status, narrow.c_str());
    LogEvent("download: response %lu %s, Content-Length %llu, Content-Type \"%s\", ETag %s, "
             "Last-Modified \"%s\"",
             static_cast<unsigned long>(status), parsed.reason,
             static_cast<unsigned long long>(parsed.contentLength), parsed.contentType,
             parsed.etag[0] ? parsed.etag : "(none)", parsed.lastModified);
    Log(self->owner, "response %lu %llu\n", static_cast<unsigned long>(status),
        static_cast<unsigned long long>(parsed.contentLength));
    OnHeaders(self->owner, parsed);
    return S_OK;
}

const HttpNegotiateTable kNegotiateTable = {
    NegotiateQueryInterface, NegotiateAddRef, NegotiateRelease, BeginningTransaction, OnResponse,
};

const ProgressCallbackTable kCallbackTable = {
    QueryInterface, AddRef,        Release,     OnStartBinding,  GetPriority,      OnLowResource,
    OnProgress,     OnStopBinding, GetBindInfo, OnDataAvailable, OnObjectAvailable,
};

// `folder` followed by `name` into out (kImagePathSize); false when it doesn't fit.
bool JoinPath(char* out, const char* folder, const char* name) {
    int length = snprintf(out, kImagePathSize, "%s%s", folder, name);
    return length > 0 && length < kImagePathSize;
}

DownloadCause FolderCause(DWORD error) {
    return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL
               ? DownloadCause::TempFolderFull
               : DownloadCause::TempFolderReadOnly;
}

// The run's paths in the temporary directory, and its download file made there (empty): the
// folder must take a file before anything is asked of the server.
DownloadCause PrepareFiles(ProgressCallback* self) {
    DWORD length = GetTempPathA(kImagePathSize, self->tempFolder);
    char name[64];
    if (length == 0 || length >= static_cast<DWORD>(kImagePathSize)) {
        self->tempFolder[0] = 0;
        return DownloadCause::TempFolderReadOnly;
    }
    if (!DownloadFileName(name, sizeof name, GetCurrentProcessId(), self->run->serial) ||
        !JoinPath(self->downloadFile, self->tempFolder, name) ||
        !JoinPath(self->imageFile, self->tempFolder, kImageFileName))
        return DownloadCause::TempFolderReadOnly;
    HANDLE file = CreateFileA(self->downloadFile, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        self->downloadFile[0] = 0;
        return FolderCause(GetLastError());
    }
    CloseHandle(file);
    return DownloadCause::None;
}

void RemoveDownloadFile(ProgressCallback* self) {
    if (self->downloadFile[0]) DeleteFileA(self->downloadFile);
    self->downloadFile[0] = 0;
}

// The check of the finished download, from its file's length and first sector.
void ReadDownloadFile(ProgressCallback* self, DownloadFacts* facts) {
    HANDLE file = CreateFileA(self->downloadFile, GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD high = 0;
    DWORD low = GetFileSize(file, &high);
    uint8_t start[kImageCheckBytes];
    DWORD read = 0;
    if ((low != INVALID_FILE_SIZE || GetLastError() == NO_ERROR) &&
        ReadFile(file, start, sizeof start, &read, nullptr)) {
        facts->fileFound = true;
        facts->fileSize = (static_cast<uint64_t>(high) << 32) | low;
        facts->verdict =
            CheckImageStart(start, read, facts->fileSize, self->headers.contentType);
    }
    CloseHandle(file);
}

enum class Downloaded { Image, Failed, GivenUp };
// One request's end: Kept when its headers showed the kept image.
enum class Fetched { Image, Kept, Failed, GivenUp };

// The run claims the end of its download phase; GivenUp when the page took the run over first.
bool GivenUp(WorkerRun* run) { return run->downloading.exchange(kNotDownloading) == kGivenUp; }

uint32_t CheckPause() {
    static const uint32_t pause = CheckPauseMs(getenv(kCheckPauseVariable));
    return pause;
}

// What a hash of the image file shows on the page while it reads.
struct HashShown {
    WorkerRun* run;
    const char* line;
};

// After each piece of a hash: the bar on the page, and a stop once the run has been cancelled
// or its page has gone.
bool HashGoesOn(void* context, uint64_t done, uint64_t total) {
    const HashShown* shown = static_cast<const HashShown*>(context);
    if (CancelRequested || !RunPageIsOpen(shown->run)) return false;
    const int bar = total ? static_cast<int>(done * static_cast<double>(kDownloadBarSteps) / total)
                          : kDownloadBarSteps;
    ShowRunProgress(shown->run->page, shown->line, bar);
    if (CheckPause()) Sleep(CheckPause());
    return true;
}

// Hashes the image file with the page showing `line` and the bar; the close question stays
// on meanwhile. The time it took goes to the run log.
HashEnd HashShowing(ProgressCallback* self, const char* line, uint64_t expectedLength,
                    uint8_t digest[kSha256Size], uint64_t* length) {
    WorkerRun* run = self->run;
    if (RunPageIsOpen(run)) {
        SetRunBarRange(run->page, kDownloadBarSteps);
        ShowRunStatus(run->page, line);
        DownloadActive = 1;
    }
    HashShown shown{run, line};
    const DWORD started = GetTickCount();
    const HashEnd end =
        HashImageFile(self->imageFile, expectedLength, digest, length, HashGoesOn, &shown);
    const DWORD took = GetTickCount() - started;
    if (RunPageIsOpen(run)) DownloadActive = 0;
    static const char* const kEnds[] = {"done", "the file has another length", "a read failed",
                                        "stopped (cancel or close)", "no SHA-256"};
    LogEvent("kept image: SHA-256 of %s, %llu bytes in %lu ms (%.0f bytes/s): %s",
             self->imageFile, static_cast<unsigned long long>(*length),
             static_cast<unsigned long>(took), took ? *length * 1000.0 / took : 0.0,
             kEnds[static_cast<int>(end)]);
    return end;
}

// The image file now holds a download that passed the check: its record is written, with the
// file's SHA-256, so that later runs can use it while the server still serves it.
void KeepImage(ProgressCallback* self) {
    if (!self->hashAvailable) {
        LogEvent("kept image: the system has no SHA-256; the image is not kept for later runs");
        return;
    }
    uint8_t digest[kSha256Size];
    uint64_t length = 0;
    if (HashShowing(self, kCheckingDownloadText, 0, digest, &length) != HashEnd::Done) return;
    ImageRecord& record = self->record;
    record = ImageRecord{};
    snprintf(record.address, sizeof record.address, "%s", self->address);
    strcpy(record.etag, self->headers.etag);
    strcpy(record.lastModified, self->headers.lastModified);
    record.length = length;
    Sha256Text(digest, record.sha256);
    record.downloaded = RecordDateNow();
    const bool written = WriteImageRecord(self->tempFolder, record);
    LogEvent("kept image: record %s: ETag %s, Last-Modified \"%s\", %llu bytes, SHA-256 %s",
             written ? "written" : "NOT written", record.etag[0] ? record.etag : "(none)",
             record.lastModified, static_cast<unsigned long long>(length), record.sha256);
}

enum class KeptCheck { Intact, Altered, Stopped };

// The kept image is used only while its file still has the recorded length and SHA-256: it is
// read once, with the bar, and a cancel stops the read as it stops a download.
KeptCheck CheckKeptImage(ProgressCallback* self) {
    char line[kKeptImageTextSize];
    KeptImageText(line, sizeof line, self->record.downloaded);
    uint8_t digest[kSha256Size];
    uint64_t length = 0;
    const HashEnd end = HashShowing(self, line, self->record.length, digest, &length);
    if (end == HashEnd::Stopped) return KeptCheck::Stopped;
    char sha256[kSha256TextSize] = "";
    if (end == HashEnd::Done) Sha256Text(digest, sha256);
    if (end == HashEnd::Done && KeptImageIntact(self->record, length, sha256)) {
        LogEvent("kept image: intact; it is written");
        return KeptCheck::Intact;
    }
    LogEvent("kept image: altered (%llu bytes, SHA-256 %s; recorded %llu bytes, %s); the record "
             "is removed and the image downloaded",
             static_cast<unsigned long long>(length), sha256[0] ? sha256 : "(none)",
             static_cast<unsigned long long>(self->record.length), self->record.sha256);
    RemoveImageRecord(self->tempFolder);
    return KeptCheck::Altered;
}

// One request: Image once the image file holds a download that passed the check (and its
// record is written); Kept when the headers showed the kept image (nothing was fetched and
// nothing touched); Failed with its cause; GivenUp when the page took the run over.
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
    Log(self, "result %08lx\n", static_cast<unsigned long>(result));
    const DWORD took = GetTickCount() - started;
    const uint64_t arrived = ArrivedCount(run);
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
    if (self->reuse) {
        RemoveDownloadFile(self);
        return Fetched::Kept;
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
    self->imageLength = 0;
    run->received = 0;
    run->announced = 0;
    run->endReported = 0;
    run->cacheFileKnown = 0;
}

// The run's image: the kept one when the server still serves it and its file is intact, else
// a download. Image once ImagePath names it; Failed with its cause (a cancel leaves the cause
// None); GivenUp when the page took the run over while it downloaded.
Downloaded Download(ProgressCallback* self, DownloadCause* cause) {
    self->address = ImageUrlFrom(getenv(kImageUrlVariable));
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
            // A new request, downloaded whole: the kept file can no longer be trusted.
            ForgetRequest(self);
            self->reuseAllowed = false;
            self->run->downloading = kDownloading;
            if (RunPageIsOpen(self->run)) SetRunBarRange(self->run->page, kDownloadBarSteps);
            ShowStatus(self->run, kDownloadingText);
            fetched = Request(self, cause);
            break;
        }
    }
    switch (fetched) {
    case Fetched::Image:
    case Fetched::Kept:
        strcpy(ImagePath, self->imageFile);
        return Downloaded::Image;
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

// True while process `id` runs (or can't be asked about).
bool ProcessRuns(DWORD id) {
    HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, id);
    if (!process) return GetLastError() == ERROR_ACCESS_DENIED;
    const bool runs = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
    CloseHandle(process);
    return runs;
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
    ShowDownloadLine(run, count, false);
    return StallLimitReached(count, run->announced, run->endReported != 0, now - run->lastByte,
                             stallLimitMs);
}

void ShowLastDownloadLine(WorkerRun* run) {
    const uint64_t count = ArrivedCount(run);
    if (count > run->counted) run->counted = count;
    ShowDownloadLine(run, count, true);
}

void ShowDownloadError(HWND page, DownloadCause cause, const ResponseHeaders* headers,
                       const char* tempFolder) {
    char text[kDownloadErrorSize];
    DownloadErrorText(text, sizeof text, cause, headers, tempFolder, StallLimitMs() / 1000);
    SetRunAlert(page, true);
    FlushRunDisplay(page);
    MessageBoxA(page, text, kDownloadErrorCaption, MB_ICONERROR);
    SetRunAlert(page, false);
}

void RemoveLeftDownloads(bool ownToo) {
    char folder[kImagePathSize], pattern[kImagePathSize], path[kImagePathSize];
    DWORD length = GetTempPathA(kImagePathSize, folder);
    if (length == 0 || length >= static_cast<DWORD>(kImagePathSize) ||
        !JoinPath(pattern, folder, kDownloadFilePattern))
        return;
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    const DWORD self = GetCurrentProcessId();
    do {
        uint32_t owner = 0;
        if (!DownloadFileProcess(found.cFileName, &owner)) continue;
        const bool remove = owner == self ? ownToo : !ProcessRuns(owner);
        // A file still in use stays, and goes at a later start.
        if (remove && JoinPath(path, folder, found.cFileName)) DeleteFileA(path);
    } while (FindNextFileA(search, &found));
    FindClose(search);
}

DWORD WINAPI DownloadWorker(LPVOID parameter) {
    WorkerRun* run = static_cast<WorkerRun*>(parameter);
    // The callback record holds the run's texts and paths too, in the worker's own frame.
    ProgressCallback callback{};
    callback.table = &kCallbackTable;
    callback.http.table = &kNegotiateTable;
    callback.http.owner = &callback;
    callback.run = run;
    StayAwake awake;

    ShowStatus(run, kDownloadingText);
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
        ShowDownloadError(run->page, cause, &callback.headers, callback.tempFolder);
    }
    // Sent, not stored here: the page stores the result and closes only if it is still open.
    if (RunPageIsOpen(run)) SendMessageA(run->page, kDownloadFailedMessage, 0, 0);
    return 0;
}
