// Progress page (template 416): starts the run's worker, offers Cancel, asks before it closes
// while work runs, and keeps a new run from starting before the previous worker has stopped.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <new>

#include "common/run_log.h"
#include "common/shared_state.h"
#include "common/tick_count.h"
#include "download/download_progress.h"
#include "download/download_worker.h"
#include "res/resource.h"
#include "ui/page_chrome.h"
#include "ui/run_display.h"
#include "ui/taskbar_button.h"
#include "wizard/page_flow.h"
#include "wizard/progress_page.h"

namespace {

const char kCancelQuestion[] = "Are you sure you want to cancel the creation process?";
const char kCancelCaption[] = "Are you sure?";
const char kCancelledText[] = "The Halcyra creation process has been cancelled.";
const char kCancelledCaption[] = "Cancelled";
const char kPageTextFormat[] =
    "The latest version of the application is now being downloaded and installed on to "
    "removable drive %c:";
const char kWaitText[] = "Please wait - the previous creation run is stopping...";
constexpr int kWaitNoticeText = 100;  // control id of the wait notice's text
constexpr UINT kWorkerMissingMessage = WM_APP + 42;
constexpr UINT_PTR kDownloadTimer = 1;  // the download's progress line and stall limit
constexpr UINT kDownloadTickMs = 250;

HANDLE WorkerThread = nullptr;  // the worker of the last run, until it has been waited for
WorkerRun* LastRun = nullptr;   // its run record
char LastRunDrive = 0;          // the drive it writes

const char kStillBusyFormat[] =
    "Drive %c: is still busy with the previous creation run, which has not stopped yet. Please "
    "wait a moment, then click Next again.";
const char kStillBusyCaption[] = "Drive Busy";

bool Asking = false;             // the cancel question is open: the stall limit waits

bool WorkRuns() { return DownloadActive || WriteActive; }

// The cancel question; true on Yes.
bool UserConfirmsCancel(HWND page) {
    Asking = true;
    const int answer =
        MessageBoxA(page, kCancelQuestion, kCancelCaption, MB_ICONINFORMATION | MB_YESNO);
    Asking = false;
    return answer == IDYES;
}

// A small window telling the user why nothing happens while the previous worker stops: a
// dialog-class frame with the text in one static control.
HWND ShowWaitNotice() {
    const int width = 380, height = 100;
    HWND notice = CreateWindowExA(
        WS_EX_TOPMOST, WC_DIALOG, "Halcyra Creator", WS_POPUP | WS_CAPTION,
        (GetSystemMetrics(SM_CXSCREEN) - width) / 2, (GetSystemMetrics(SM_CYSCREEN) - height) / 2,
        width, height, nullptr, nullptr, AppInstance, nullptr);
    if (!notice) return nullptr;
    RECT client;
    GetClientRect(notice, &client);
    HWND text = CreateWindowExA(0, "STATIC", kWaitText,
                                WS_CHILD | WS_VISIBLE | SS_CENTER | SS_CENTERIMAGE, 0, 0,
                                client.right, client.bottom, notice,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kWaitNoticeText)),
                                AppInstance, nullptr);
    SendMessageA(text, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
    ShowWindow(notice, SW_SHOWNORMAL);
    UpdateWindow(notice);
    return notice;
}

// Page set-up in its order, then the run's worker.
// The run's worker starts as soon as the page can take its figures, before the page's chrome:
// what it shows arrives after this handler anyway, and the run doesn't wait for the icons.
INT_PTR OnInitDialog(HWND page) {
    CurrentPage = page;
    SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETPOS, 0, 0);
    SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, kDownloadBarSteps));
    DownloadActive = 0;
    char text[160];
    snprintf(text, sizeof(text), kPageTextFormat, TargetDrive);
    SetDlgItemTextA(page, IDC_PAGE_TEXT, text);
    // The template's status text names the read-back; until the worker's first figures the
    // run is downloading, and the page says so from its first paint.
    SetDlgItemTextA(page, IDC_STATUS, kDownloadingText);

    // A cancel from the moment the page is open counts for this run.
    CancelRequested = 0;
    AttachRunDisplay(page);
    RunPage = page;
    LastRunDrive = TargetDrive;
    LastRun = new (std::nothrow) WorkerRun;
    if (LastRun) {
        LastRun->page = page;
        LastRun->serial = ++RunSerial;
        LastRun->lastReport = GetTickCount();
        LastRun->lastByte = LastRun->lastReport.load();
        WorkerThread = CreateThread(nullptr, 0, DownloadWorker, LastRun, 0, nullptr);
    }
    if (!WorkerThread) {
        // No worker, no run: the same way back as a failed download.
        delete LastRun;
        LastRun = nullptr;
        PostMessageA(page, kWorkerMissingMessage, 0, 0);
    }
    InitPageChromeBegin(page);
    InitPageChromeEnd(page, kHelpButtonSkin, kCancelNextHelpTooltips);
    BeginTaskbarProgress(page);
    SetTimer(page, kDownloadTimer, kDownloadTickMs, nullptr);
    return TRUE;
}

// The run's status line says that it has been cancelled, and stays so: progress lines still
// on their way from the worker are dropped.
void ShowCancelled(HWND page) {
    MarkRunCancelled(page);
    SetDlgItemTextA(page, IDC_STATUS, kCancelledText);
}

// The page takes the run over from a worker that is still downloading: the worker, when its
// download call returns, ends without a word and touches nothing. False once the download
// call has returned, when the worker's own endings follow.
bool TakeOverDownload(HWND page) {
    if (!LastRun || LastRun->page != page) return false;
    uint8_t downloading = kDownloading;
    if (!LastRun->downloading.compare_exchange_strong(downloading, kGivenUp)) return false;
    KillTimer(page, kDownloadTimer);
    CancelRequested = 1;
    DownloadActive = 0;
    return true;
}

// A confirmed cancel of a download the page has taken over ends the run at once, as the
// writer's early cancel ending does: the message, then the drive selection page.
void CancelledEnding(HWND page) {
    FlushRunDisplay(page);
    MessageBoxA(page, kCancelledText, kCancelledCaption, MB_ICONINFORMATION);
    SetDlgItemTextA(page, IDC_STATUS, "");
    WizardState = kProgressStopped;
    PostMessageA(page, WM_CLOSE, 0, 0);
}

// Next (only ever sent), Cancel with its question, and the help button.
void OnCommand(HWND page, int id) {
    if (id == IDOK) {
        WizardState = kProgressNext;
        DownloadActive = 0;
        PostMessageA(page, WM_CLOSE, 0, 0);
    } else if (id == IDCANCEL) {
        const bool confirmed = UserConfirmsCancel(page);
        LogEvent("Cancel on the progress page: %s", confirmed ? "Yes" : "No");
        if (!confirmed) return;
        ShowCancelled(page);
        WizardState = kProgressStopped;
        CancelRequested = 1;
        DownloadActive = 0;
        WriteActive = 0;
        if (TakeOverDownload(page)) CancelledEnding(page);
    } else if (id == IDC_HELP_BUTTON) {
        ShowHelpMenu(page);
    }
}

// The worker's download failed and the user has read why: back to the drive selection page.
void OnDownloadFailed(HWND page) {
    WizardState = kProgressStopped;
    DownloadActive = 0;
    PostMessageA(page, WM_CLOSE, 0, 0);
}

// The run could not start its worker, or its download stalled: the user is told, as for a
// failed download, and is back on the drive selection page.
void FailDownload(HWND page, DownloadCause cause) {
    ShowDownloadError(page, cause, nullptr, nullptr);
    OnDownloadFailed(page);
}

// The download tick: the progress line, and the stall limit. A download that has received
// nothing for the limit while bytes are still due is given up, and the run ends as a failed
// download; the worker learns from its run record that the page took over.
void OnDownloadTick(HWND page) {
    const uint32_t limit = StallLimitMs();
    if (!LastRun || LastRun->page != page) return;
    if (!WatchDownload(LastRun, Asking ? UINT32_MAX : limit)) return;
    if (!TakeOverDownload(page)) return;
    LogEvent("download: nothing arrived for %lu ms while bytes were due; given up",
             static_cast<unsigned long>(limit));
    FailDownload(page, DownloadCause::NoData);
}

// WM_CLOSE and WM_QUERYENDSESSION: while work runs the user is asked first, and No keeps the
// page open. A confirmed close cancels the run; its worker stops on its own and no longer
// touches this page once it is gone. TRUE when the message was refused.
bool RefuseClose(HWND page) {
    if (!WorkRuns()) return false;
    const bool confirmed = UserConfirmsCancel(page);
    LogEvent("close box on the progress page while work runs: %s", confirmed ? "Yes" : "No");
    if (!confirmed) return true;
    if (WorkRuns()) {  // the run may have ended while the question was open
        MarkRunCancelled(page);
        WizardState = kProgressStopped;
        DownloadActive = 0;
        WriteActive = 0;
        CancelRequested = 1;
        TakeOverDownload(page);
    }
    return false;
}

// WM_DESTROY: the page is going; its run must not reach any later window.
void OnDestroy(HWND page) {
    DetachRunDisplay(page);
    EndTaskbarProgress(page);
    if (WorkRuns()) {
        WizardState = kProgressStopped;
        DownloadActive = 0;
        WriteActive = 0;
    }
    TakeOverDownload(page);  // a download still running ends without a word
    CancelRequested = 1;
    RunPage = nullptr;
}

}  // namespace

// True while the worker is stuck in a download that has shown no sign of life for a while.
bool DownloadStalled(const WorkerRun* run) {
    return run->downloading && TicksSince(GetTickCount(), run->lastReport) >= kStalledDownloadMs;
}

bool WaitForPreviousWorker(DWORD limitMs) {
    if (!WorkerThread) return true;
    bool stopped = true, abandoned = false;
    if (WaitForSingleObject(WorkerThread, 0) == WAIT_TIMEOUT) {
        HWND notice = ShowWaitNotice();
        const DWORD start = GetTickCount();
        // Messages keep flowing so that the notice paints while the worker finishes.
        for (;;) {
            DWORD woke = MsgWaitForMultipleObjects(1, &WorkerThread, FALSE, 100, QS_ALLINPUT);
            if (woke == WAIT_OBJECT_0 || woke == WAIT_FAILED) break;
            // A stalled download can no longer reach a page or a disk: it is left behind.
            if (DownloadStalled(LastRun)) {
                abandoned = true;
                break;
            }
            // A worker that takes longer (a device write that doesn't return) is still busy.
            if (GetTickCount() - start >= limitMs) {
                stopped = false;
                break;
            }
            MSG message;
            while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
                TranslateMessage(&message);
                DispatchMessageA(&message);
            }
        }
        if (notice) DestroyWindow(notice);
    }
    if (!stopped) return false;
    CloseHandle(WorkerThread);
    WorkerThread = nullptr;
    if (!abandoned) delete LastRun;  // an abandoned worker keeps using its record
    LastRun = nullptr;
    return true;
}

bool PreviousRunStopped() {
    if (WaitForPreviousWorker(kEndWaitLimitMs)) return true;
    char text[sizeof kStillBusyFormat + 8];
    snprintf(text, sizeof text, kStillBusyFormat, LastRunDrive);
    MessageBoxA(nullptr, text, kStillBusyCaption, MB_ICONWARNING | MB_SETFOREGROUND);
    return false;
}

INT_PTR CALLBACK ProgressPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(page);
    case WM_ERASEBKGND:
        return PaintPageBackground(page, reinterpret_cast<HDC>(wParam), false, "Halcyra Creator");
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(PageBrush);
    case WM_DRAWITEM:
        DrawSkinnedButton(static_cast<uint32_t>(wParam),
                          reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0) OnCommand(page, LOWORD(wParam));
        return 0;
    case kDownloadFailedMessage:
        OnDownloadFailed(page);
        return TRUE;
    case kWorkerMissingMessage:
        FailDownload(page, DownloadCause::None);
        return TRUE;
    case kDownloadEndedMessage:
        if (LastRun && LastRun->page == page) ShowLastDownloadLine(LastRun);
        return TRUE;
    case kRunDisplayMessage:
        ApplyRunDisplay(page);
        return TRUE;
    case WM_TIMER:
        if (wParam == kDownloadTimer) OnDownloadTick(page);
        return TRUE;
    case WM_CLOSE:
    case WM_QUERYENDSESSION:
        if (RefuseClose(page)) {
            SetWindowLongPtrA(page, DWLP_MSGRESULT, FALSE);  // the session end waits too
            return TRUE;
        }
        return HandToDefaultProcedure(page, message, wParam, lParam);
    case WM_DESTROY:
        OnDestroy(page);
        return HandToDefaultProcedure(page, message, wParam, lParam);
    default:
        if (IsTaskbarButtonCreated(message)) {
            OnTaskbarButtonCreated(page);
            return TRUE;
        }
        return 0;
    }
}
