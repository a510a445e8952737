// DownloadWorker: fetches the image with URLDownloadToFileA, showing its progress on the page
// that started the run, and hands over to ImageWriter.
#include "create/download_worker.h"

#include <commctrl.h>
#include <urlmon.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/page_flow.h"
#include "app/shared_state.h"
#include "create/download_progress.h"
#include "create/image_writer.h"
#include "res/resource.h"

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
    DWORD status;  // HTTP status of the response, 0 until one arrived
};

// The callback object: the table first, as the interface requires, then the run it reports
// to. It lives in the worker's frame for the duration of the download call.
struct ProgressCallback {
    const ProgressCallbackTable* table;
    WorkerRun* run;
    time_t downloadStart;
    uint32_t lastTotal;  // the last non-zero total the reports carried
    HttpNegotiate http;
    char status[kDownloadStatusSize];
    char request[kRequestAddressSize];
};

// Kept across runs: the once-per-second gate of OnProgress.
std::atomic<int32_t> LastShownSecond{0};
uint32_t DownloadCount = 0;

void ShowStatus(const WorkerRun* run, const char* text) {
    if (RunPageIsOpen(run)) SetDlgItemTextA(run->page, IDC_STATUS, text);
}

void ShowBar(const WorkerRun* run, int position) {
    if (RunPageIsOpen(run))
        SendDlgItemMessageA(run->page, IDC_PROGRESS_BAR, PBM_SETPOS, position, 0);
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
HRESULT STDMETHODCALLTYPE OnProgress(ProgressCallback* self, ULONG received, ULONG total, ULONG,
                                     LPCWSTR) {
    self->run->lastReport = GetTickCount();
    if (total != 0) self->lastTotal = total;
    bool stop = CancelRequested != 0 || !RunPageIsOpen(self->run);
    ProgressStep step = DecideProgress(received, total, stop, time(nullptr), self->downloadStart,
                                       LastShownSecond);
    if (step.abort) return E_ABORT;
    if (!step.show) return S_OK;
    ShowBar(self->run, step.barPosition);
    DownloadStatusLine(self->status, sizeof(self->status), received, total, step.rate);
    ShowStatus(self->run, self->status);
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

HRESULT STDMETHODCALLTYPE OnResponse(HttpNegotiate* self, DWORD status, LPCWSTR, LPCWSTR,
                                     LPWSTR* additionalHeaders) {
    if (additionalHeaders) *additionalHeaders = nullptr;
    self->status = status;
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

// The whole download; true only when it returned S_OK with the whole image in the file.
bool Download(ProgressCallback* callback) {
    srand(RequestSeed(static_cast<uint32_t>(time(nullptr)), GetTickCount(),
                      GetCurrentProcessId(), ++DownloadCount));
    if (!BuildRequestAddress(callback->request, sizeof(callback->request),
                             ImageUrlFrom(getenv(kImageUrlVariable)), RequestRandom(rand())))
        return false;
    if (CancelRequested) return false;
    WorkerRun* run = callback->run;
    run->lastReport = GetTickCount();
    run->downloading = 1;
    DownloadActive = 1;
    HRESULT result = URLDownloadToFileA(nullptr, callback->request, ImagePath, 0,
                                        reinterpret_cast<IBindStatusCallback*>(callback));
    // A later run's flag is not this worker's to clear.
    if (RunPageIsOpen(run)) DownloadActive = 0;
    run->downloading = 0;
    return result == S_OK &&
           DownloadComplete(FileSize(ImagePath), callback->lastTotal, callback->http.status);
}

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

    ShowBar(run, 0);
    ShowStatus(run, kDownloadingText);
    bool downloaded = false;
    if (PrepareImagePath()) {
        callback.table = &kCallbackTable;
        callback.http.table = &kNegotiateTable;
        callback.downloadStart = time(nullptr);
        downloaded = Download(&callback);
    }

    // A page that has gone was closed by the user: the run ends here, without a word to any
    // window and without touching the disk.
    if (!RunPageIsOpen(run)) return 0;
    if (downloaded || CancelRequested) {
        ImageWriter();  // a cancel is reported by the writer's early cancel ending
        return 0;
    }
    MessageBoxA(run->page, kDownloadErrorText, kDownloadErrorCaption, MB_ICONERROR);
    // Sent, not stored here: the page stores the result and closes only if it is still open.
    if (RunPageIsOpen(run)) SendMessageA(run->page, kDownloadFailedMessage, 0, 0);
    return 0;
}
