// DownloadWorker: fetches the image with URLDownloadToFileA, showing its progress on the page
// that started the run, and hands over to ImageWriter.
#include "create/download_worker.h"

#include <urlmon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "app/page_flow.h"
#include "app/shared_state.h"
#include "create/download_progress.h"
#include "create/image_writer.h"
#include "create/run_display.h"

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
    DWORD status;            // HTTP status of the response, 0 until one arrived
    uint64_t contentLength;  // the image's length from the response headers, 0 when not given
};

// The callback object: the table first, as the interface requires, then the run it reports
// to. It lives in the worker's frame for the duration of the download call.
struct ProgressCallback {
    const ProgressCallbackTable* table;
    WorkerRun* run;
    time_t downloadStart;
    uint32_t lastTotal;  // the last non-zero total the reports carried (32 bits)
    ReceivedCounter received;
    HttpNegotiate http;
    char status[kDownloadStatusSize];
    char request[kRequestAddressSize];
};

// Kept across runs: the once-per-second gate of OnProgress.
std::atomic<int32_t> LastShownSecond{0};
uint32_t DownloadCount = 0;

void ShowStatus(const WorkerRun* run, const char* text) {
    if (RunPageIsOpen(run)) ShowRunStatus(run->page, text);
}

// Only the HTTP status is of interest: an error page must never count as the image.
HRESULT STDMETHODCALLTYPE QueryInterface(ProgressCallback* self, REFIID id, void** object) {
    if (!IsEqualIID(id, IID_IHttpNegotiate)) return E_NOTIMPL;
    *object = &self->http;
    return S_OK;
}
ULONG STDMETHODCALLTYPE AddRef(ProgressCallback*) { return 0; }
ULONG STDMETHODCALLTYPE Release(ProgressCallback*) { return 0; }
HRESULT STDMETHODCALLTYPE OnStartBinding(ProgressCallback*, DWORD, IBinding*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE GetPriority(ProgressCallback*, LONG*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE OnLowResource(ProgressCallback*, DWORD) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE OnStopBinding(ProgressCallback*, HRESULT, LPCWSTR) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE GetBindInfo(ProgressCallback*, DWORD*, BINDINFO*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE OnDataAvailable(ProgressCallback*, DWORD, DWORD, FORMATETC*, STGMEDIUM*) {
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE OnObjectAvailable(ProgressCallback*, REFIID, IUnknown*) {
    return E_NOTIMPL;
}

// Each progress report: stop on a cancel (or when the run's page has gone), otherwise show
// bar, sizes and rate at most once per elapsed second.
// The counts of the reports are 32-bit: the received count is followed across its wraps, and
// the total is the length from the response headers when they gave one.
HRESULT STDMETHODCALLTYPE OnProgress(ProgressCallback* self, ULONG reportedReceived,
                                     ULONG reportedTotal, ULONG, LPCWSTR) {
    WorkerRun* run = self->run;
    const DWORD now = GetTickCount();
    run->lastReport = now;
    const uint64_t before = (self->received.wraps << 32) | self->received.last;
    const uint64_t received = self->received.Advance(reportedReceived);
    if (received != before) run->lastByte = now;
    if (reportedTotal != 0) self->lastTotal = reportedTotal;
    const uint64_t total =
        reportedTotal == 0 ? 0 : (self->http.contentLength ? self->http.contentLength : reportedTotal);
    bool stop = CancelRequested != 0 || !RunPageIsOpen(run);
    ProgressStep step = DecideProgress(received, total, stop, time(nullptr), self->downloadStart,
                                       LastShownSecond);
    if (step.abort) return E_ABORT;
    if (!step.show) return S_OK;
    DownloadStatusLine(self->status, sizeof(self->status), received, total, step.rate);
    if (RunPageIsOpen(run)) ShowRunProgress(run->page, self->status, step.barPosition);
    LastShownSecond = step.elapsed;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE NegotiateQueryInterface(HttpNegotiate*, REFIID, void**) {
    return E_NOINTERFACE;
}
ULONG STDMETHODCALLTYPE NegotiateAddRef(HttpNegotiate*) { return 0; }
ULONG STDMETHODCALLTYPE NegotiateRelease(HttpNegotiate*) { return 0; }

HRESULT STDMETHODCALLTYPE BeginningTransaction(HttpNegotiate*, LPCWSTR, LPCWSTR, DWORD,
                                               LPWSTR* additionalHeaders) {
    if (additionalHeaders) *additionalHeaders = nullptr;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE OnResponse(HttpNegotiate* self, DWORD status, LPCWSTR headers, LPCWSTR,
                                     LPWSTR* additionalHeaders) {
    if (additionalHeaders) *additionalHeaders = nullptr;
    self->status = status;
    // The headers are plain ASCII: their low bytes are enough to find the length.
    std::string narrow;
    for (const WCHAR* c = headers; c && *c; ++c) narrow += static_cast<char>(*c & 0x7F);
    self->contentLength = ContentLengthOf(narrow.c_str());
    return S_OK;
}

const HttpNegotiateTable kNegotiateTable = {
    NegotiateQueryInterface, NegotiateAddRef, NegotiateRelease, BeginningTransaction, OnResponse,
};

const ProgressCallbackTable kCallbackTable = {
    QueryInterface, AddRef,        Release,     OnStartBinding,  GetPriority,      OnLowResource,
    OnProgress,     OnStopBinding, GetBindInfo, OnDataAvailable, OnObjectAvailable,
};

uint64_t FileSize(const char* path) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

// ImagePath: the temporary directory and the image file name. False when there is no
// temporary directory or the path doesn't fit.
bool PrepareImagePath() {
    DWORD length = GetTempPathA(kImagePathSize, ImagePath);
    if (length == 0 || length + sizeof(kImageFileName) > static_cast<DWORD>(kImagePathSize)) {
        ImagePath[0] = 0;
        return false;
    }
    strcat(ImagePath, kImageFileName);
    return true;
}

enum class Downloaded { Whole, Failed, GivenUp };

// The whole download: Whole only when it returned S_OK with the whole image in the file;
// GivenUp when the page gave up on it while it stalled.
Downloaded Download(ProgressCallback* callback) {
    srand(RequestSeed(static_cast<uint32_t>(time(nullptr)), GetTickCount(),
                      GetCurrentProcessId(), ++DownloadCount));
    if (!BuildRequestAddress(callback->request, sizeof(callback->request),
                             ImageUrlFrom(getenv(kImageUrlVariable)), RequestRandom(rand())))
        return Downloaded::Failed;
    if (CancelRequested) return Downloaded::Failed;
    WorkerRun* run = callback->run;
    run->lastReport = GetTickCount();
    run->lastByte = run->lastReport.load();
    run->downloading = kDownloading;
    DownloadActive = 1;
    HRESULT result = URLDownloadToFileA(nullptr, callback->request, ImagePath, 0,
                                        reinterpret_cast<IBindStatusCallback*>(callback));
    if (run->downloading.exchange(kNotDownloading) == kGivenUp) return Downloaded::GivenUp;
    // A later run's flag is not this worker's to clear.
    if (RunPageIsOpen(run)) DownloadActive = 0;
    const uint64_t announced =
        callback->http.contentLength ? callback->http.contentLength : callback->lastTotal;
    return result == S_OK && DownloadComplete(FileSize(ImagePath), announced, callback->http.status)
               ? Downloaded::Whole
               : Downloaded::Failed;
}

// Keeps the machine from sleeping while the run downloads and writes: a laptop that sleeps in
// the middle of the write leaves a broken stick.
struct StayAwake {
    StayAwake() { SetThreadExecutionState(ES_CONTINUOUS | ES_SYSTEM_REQUIRED); }
    ~StayAwake() { SetThreadExecutionState(ES_CONTINUOUS); }
};

}  // namespace

std::atomic<uint32_t> RunSerial{0};

bool RunPageIsOpen(const WorkerRun* run) {
    return run->page && RunPage.load() == run->page && RunSerial.load() == run->serial;
}

DWORD WINAPI DownloadWorker(LPVOID parameter) {
    WorkerRun* run = static_cast<WorkerRun*>(parameter);
    // The callback record holds the run's texts too, in the worker's own frame: an abandoned
    // worker may still be inside its download while the next run's worker runs.
    ProgressCallback callback = {};
    callback.run = run;
    StayAwake awake;

    ShowStatus(run, kDownloadingText);
    Downloaded downloaded = Downloaded::Failed;
    if (PrepareImagePath()) {
        callback.table = &kCallbackTable;
        callback.http.table = &kNegotiateTable;
        callback.downloadStart = time(nullptr);
        downloaded = Download(&callback);
    }

    // A page that has gone was closed by the user, and a stalled download that the page gave
    // up on has been reported by the page: the run ends here, without a word to any window
    // and without touching the disk.
    if (downloaded == Downloaded::GivenUp || !RunPageIsOpen(run)) return 0;
    if (downloaded == Downloaded::Whole || CancelRequested) {
        ImageWriter();  // a cancel is reported by the writer's early cancel ending
        return 0;
    }
    SetRunAlert(run->page, true);
    FlushRunDisplay(run->page);
    MessageBoxA(run->page, kDownloadErrorText, kDownloadErrorCaption, MB_ICONERROR);
    SetRunAlert(run->page, false);
    // Sent, not stored here: the page stores the result and closes only if it is still open.
    if (RunPageIsOpen(run)) SendMessageA(run->page, kDownloadFailedMessage, 0, 0);
    return 0;
}
