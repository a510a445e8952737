// The callback object of the download call: IBindStatusCallback for the reports, with
// IHttpNegotiate for the request's extra header and the response's headers.
#include "download/download_request.h"

#include <wininet.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string>

#include "common/run_log.h"
#include "common/shared_state.h"
#include "drives/drive_identity.h"

// One line of the report log: the tick count, then the line.
void ReportLog(ProgressCallback* self, const char* format, ...) {
    if (!self->reportLog) return;
    fprintf(self->reportLog, "%lu ", static_cast<unsigned long>(GetTickCount()));
    va_list values;
    va_start(values, format);
    vfprintf(self->reportLog, format, values);
    va_end(values);
}

namespace {

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

}  // namespace

void ReleaseBinding(ProgressCallback* self) {
    if (self->binding) self->binding->Release();
    self->binding = nullptr;
}

namespace {

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
// What Wine 8's urlmon reports (raw reports of whole runs, TestDownloadLog): the received
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
    ReportLog(self, "progress %lu %lu %lu\n", static_cast<unsigned long>(reportedReceived),
        static_cast<unsigned long>(reportedTotal), static_cast<unsigned long>(code));
    run->lastReport = now;
    const bool cacheFileKnown = run->cacheFileKnown;
    if (code == BINDSTATUS_CACHEFILENAMEAVAILABLE && text) NoteCacheFile(run, text, true);
    AskCacheFile(self);
    if (!cacheFileKnown && run->cacheFileKnown) ReportLog(self, "cache file %s\n", run->cacheFile);
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

// The room of the download folder and of the platform's cache folder for an image of
// `length` bytes: the cache's copy stays until the download call has returned, so both must
// fit. A cause when they don't, with the short folder's figures in the callback's record.
DownloadCause CheckRoomAtHeaders(ProgressCallback* self, const FolderSpace& download,
                                 uint64_t length) {
    AskCacheFile(self);
    FolderSpace cache;
    cache.room = FolderRoom{false, 0, "", ""};
    if (CacheFolder(self->run, self->cacheFolder)) AskFolderSpace(self->cacheFolder, &cache);
    const RoomCheck check = CheckRoom(length, download.room, cache.room);
    LogEvent("download: room: %llu bytes free in %s (volume %s %s); %llu bytes free in the cache "
             "folder %s (volume %s %s); %s",
             static_cast<unsigned long long>(download.room.freeBytes), self->folder,
             download.volumePath, download.volumeName,
             static_cast<unsigned long long>(cache.room.freeBytes), self->cacheFolder,
             cache.room.volumePath, cache.room.volumeName, RoomVerdictName(check.verdict));
    switch (check.verdict) {
    case RoomVerdict::Fits:
        return DownloadCause::None;
    case RoomVerdict::NoRoomForImage:
        return DownloadCause::TempFolderFull;
    case RoomVerdict::NoRoomForBoth:
        self->room = RoomShortage{self->folder, check.needed, check.freeBytes};
        return DownloadCause::DownloadRoomShort;
    case RoomVerdict::NoRoomForCache:
        self->room = RoomShortage{self->cacheFolder, check.needed, check.freeBytes};
        return DownloadCause::CacheRoomShort;
    }
    return DownloadCause::None;
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
        self->askAgain = AskAgainWithoutCondition(headers.status, self->askedETag, verdict);
        LogEvent("kept image: %s%s; %s", ReuseVerdictName(verdict),
                 self->askedETag ? " (asked with If-None-Match)" : "",
                 self->reuse      ? "the transfer stops at the headers"
                 : self->askAgain ? "the request is made again without If-None-Match"
                                  : "the image is downloaded");
    }
    // The kept image stands for the response's body: it needs no room in the temporary folder,
    // but it must fit on the disk.
    self->imageLength = self->reuse ? self->record.length : headers.contentLength;
    HeaderFacts facts{self->reuse ? 200u : headers.status, self->imageLength, false, 0,
                      TargetIdentity.lengthKnown, TargetIdentity.length};
    FolderSpace download;
    download.room = FolderRoom{false, 0, "", ""};
    if (!self->reuse) {
        AskFolderSpace(self->folder, &download);
        facts.folderKnown = download.room.known;
        facts.folderFree = download.room.freeBytes;
    }
    self->stoppedFor = StopAtHeaders(facts);
    if (self->stoppedFor == DownloadCause::None && !self->reuse && self->imageLength)
        self->stoppedFor = CheckRoomAtHeaders(self, download, self->imageLength);
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
    ReportLog(self->owner, "response %lu %llu\n", static_cast<unsigned long>(status),
        static_cast<unsigned long long>(parsed.contentLength));
    OnHeaders(self->owner, parsed);
    return S_OK;
}

}  // namespace

const HttpNegotiateTable kNegotiateTable = {
    NegotiateQueryInterface, NegotiateAddRef, NegotiateRelease, BeginningTransaction, OnResponse,
};

const ProgressCallbackTable kCallbackTable = {
    QueryInterface, AddRef,        Release,     OnStartBinding,  GetPriority,      OnLowResource,
    OnProgress,     OnStopBinding, GetBindInfo, OnDataAvailable, OnObjectAvailable,
};
