// One download request of a run, as the platform's download call and the worker share it.
// Win32 only: the worker, its callback object, its files and the kept image's check use it.
#pragma once
#include <windows.h>
#include <urlmon.h>

#include <cstdint>
#include <cstdio>

#include "common/shared_state.h"
#include "download/download_outcome.h"
#include "download/download_progress.h"
#include "download/download_room.h"
#include "download/download_worker.h"
#include "download/image_record.h"
#include "download/response_headers.h"

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
    FILE* reportLog;           // TestDownloadLog: the platform's raw reports, for tests
    char folder[kImagePathSize];  // the folder of the run's files
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
    bool askAgain;         // a 304 that doesn't show the kept image: asked again without it
    bool kept;             // the run writes the kept image (the headers showed it)
    HANDLE download;       // a download that passed its check, open for the write
    uint64_t imageLength;  // the length the headers announce (the kept one's, when kept)
    // The room the headers found short (DownloadRoomShort, CacheRoomShort), and the platform's
    // cache folder it was weighed in.
    RoomShortage room;
    char cacheFolder[kImagePathSize];
};

// The callback object's two tables.
extern const ProgressCallbackTable kCallbackTable;
extern const HttpNegotiateTable kNegotiateTable;

// Lets go of the platform's binding of the download, once the download call has returned.
void ReleaseBinding(ProgressCallback* self);
// One line of the report log (TestDownloadLog): the tick count, then the line.
void ReportLog(ProgressCallback* self, const char* format, ...)
    __attribute__((format(printf, 2, 3)));

// The platform's cache copy of the download (download_cache_win32.cpp).
// A folder's room and volume as the system answers for them.
struct FolderSpace {
    FolderRoom room;
    char volumeName[MAX_PATH];
    char volumePath[kImagePathSize];
};
void AskFolderSpace(const char* folder, FolderSpace* space);
// The folder the platform keeps the download's cache copy in: that of the binding's cache
// file once it is known, else the system's internet cache folder. False when neither is.
bool CacheFolder(const WorkerRun* run, char* out);
// Removes the platform's cache entry of the request, and so its copy of the download, once
// the download call has returned.
void RemoveCacheCopy(ProgressCallback* self);
// Removes the cache entries that earlier requests for the image address left (those the
// platform still held open then, and those of runs that ended before their removal).
void RemoveEarlierCopies(const char* imageUrl);

// The run's files (download_files_win32.cpp).
// `folder` followed by `name` into out (kImagePathSize); false when it doesn't fit.
bool JoinPath(char* out, const char* folder, const char* name);
DownloadCause FolderCause(DWORD error);
// The run's paths in the temporary directory, and its download file made there (empty): the
// folder must take a file before anything is asked of the server.
DownloadCause PrepareFiles(ProgressCallback* self);
void RemoveDownloadFile(ProgressCallback* self);
// The finished download, opened once for its check (its length and first sector) and, when it
// passes, for the whole write: for reading, and nobody else may write or delete it while it is
// open. Null when it can't be opened.
HANDLE OpenDownloadFile(ProgressCallback* self, DownloadFacts* facts);
// After the write: the download replaces the image file (ImagePath names it), and the record of
// the image it replaces goes.
void PlaceDownload(ProgressCallback* self);

// What the page shows of the download (download_display_win32.cpp).
// A status line of the run, while its page is open.
void ShowWorkerStatus(const WorkerRun* run, const char* text);
// What has arrived: the reports' count, or the cache file's length when it is ahead.
uint64_t ArrivedCount(const WorkerRun* run);

// The kept image (kept_image_win32.cpp).
// The image file holds a download that the stick now holds, proven: its record is written,
// with the SHA-256 taken as it was written, so that later runs can use it while the server
// still serves it.
void KeepImage(ProgressCallback* self, const uint8_t digest[kSha256Size], uint64_t length);
