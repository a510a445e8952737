#include "ui/run_display.h"

#include <commctrl.h>

#include <atomic>
#include <cstring>

#include "res/resource.h"
#include "ui/taskbar_button.h"

namespace {

// The figures waiting for the page, guarded by Lock; `page` is the page that holds the
// display, so that a worker whose page has gone hands nothing to a later one.
struct Waiting {
    HWND page;
    char status[256];
    bool statusChanged;
    int bar;
    bool barChanged;
    int rangeHigh;
    bool rangeChanged;
    bool cancelled;
    bool downloading;  // no new range yet: the page's own download range
    bool counted;      // a progress line has been handed over in this phase
    bool alert;        // a fault box of the run is open
};

// A critical section, which every Windows has (slim reader/writer locks came with Vista). It
// is set up before WinMain runs and kept until the process ends, since a worker may still hand
// figures over while the program ends.
struct FiguresLock {
    CRITICAL_SECTION section;
    FiguresLock() { InitializeCriticalSection(&section); }
    void Enter() { EnterCriticalSection(&section); }
    void Leave() { LeaveCriticalSection(&section); }
};
FiguresLock Lock;
Waiting Figures = {};
std::atomic<bool> Posted{false};  // a kRunDisplayMessage is on its way to the page

// Runs `change` on the waiting figures while `page` holds the display; false otherwise.
template <typename Change>
bool Hand(HWND page, Change change) {
    Lock.Enter();
    const bool holds = page != nullptr && Figures.page == page;
    if (holds) change(Figures);
    Lock.Leave();
    return holds;
}

}  // namespace

namespace {

// Progress lines come with every chunk, far more often than anyone can read them; the page
// shows the latest one on this tick, so the worker never posts a message per chunk.
constexpr UINT_PTR kDisplayTimer = 0x4841;
constexpr UINT kDisplayTickMs = 100;

void CALLBACK OnDisplayTick(HWND page, UINT, UINT_PTR, DWORD) { ApplyRunDisplay(page); }

}  // namespace

void AttachRunDisplay(HWND page) {
    SetTimer(page, kDisplayTimer, kDisplayTickMs, OnDisplayTick);
    Lock.Enter();
    Figures = Waiting{};
    Figures.page = page;
    Figures.status[0] = '\x01';  // matches no text, so the first one is always shown
    Figures.downloading = true;
    Lock.Leave();
    Posted = false;
}

void DetachRunDisplay(HWND page) {
    KillTimer(page, kDisplayTimer);
    Lock.Enter();
    if (Figures.page == page) Figures.page = nullptr;
    Lock.Leave();
}

void ApplyRunDisplay(HWND page) {
    Posted = false;  // figures handed over from now on need a message of their own
    Waiting now;
    Lock.Enter();
    now = Figures;
    Figures.statusChanged = Figures.barChanged = Figures.rangeChanged = false;
    Lock.Leave();
    if (now.page != page) return;
    if (now.rangeChanged)
        SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETRANGE, 0, MAKELPARAM(0, now.rangeHigh));
    if (now.barChanged) SendDlgItemMessageA(page, IDC_PROGRESS_BAR, PBM_SETPOS, now.bar, 0);
    if (now.statusChanged) SetDlgItemTextA(page, IDC_STATUS, now.status);
    // The taskbar button follows the bar as it now stands.
    HWND bar = GetDlgItem(page, IDC_PROGRESS_BAR);
    RunFigures figures;
    figures.downloading = now.downloading;
    figures.counted = now.counted;
    figures.position = static_cast<int>(SendMessageA(bar, PBM_GETPOS, 0, 0));
    figures.high = static_cast<int>(SendMessageA(bar, PBM_GETRANGE, FALSE, 0));
    figures.alert = now.alert;
    ShowTaskbarProgress(page, DecideTaskbarProgress(figures));
}

void MarkRunCancelled(HWND page) {
    Hand(page, [](Waiting& w) {
        w.cancelled = true;
        w.statusChanged = w.barChanged = false;
    });
}

namespace {

void PostOnce(HWND page) {
    if (!Posted.exchange(true)) PostMessageA(page, kRunDisplayMessage, 0, 0);
}

void SetStatus(Waiting& w, const char* text) {
    if (!w.statusChanged && std::strcmp(w.status, text) == 0) return;  // already shown
    std::strncpy(w.status, text, sizeof w.status - 1);
    w.status[sizeof w.status - 1] = 0;
    w.statusChanged = true;
}

}  // namespace

// Stored; the page's display tick shows it, except the first line of a phase, which the page
// is told of at once: the user sees the write begin the moment it does.
void ShowRunProgress(HWND page, const char* line, int bar) {
    bool first = false;
    const bool handed = Hand(page, [&](Waiting& w) {
        if (w.cancelled) return;
        first = !w.counted;
        w.counted = true;
        SetStatus(w, line);
        if (w.barChanged || w.bar != bar) {
            w.bar = bar;
            w.barChanged = true;
        }
    });
    if (handed && first) PostOnce(page);
}

void ShowRunStatus(HWND page, const char* text) {
    if (Hand(page, [&](Waiting& w) { SetStatus(w, text); })) PostOnce(page);
}

void SetRunBarRange(HWND page, int high) {
    const bool handed = Hand(page, [&](Waiting& w) {
        w.rangeHigh = high;
        w.rangeChanged = true;
        w.downloading = w.counted = false;
        w.bar = 0;
        w.barChanged = true;
    });
    if (handed) PostOnce(page);
}

void FlushRunDisplay(HWND page) {
    if (Hand(page, [](Waiting&) {})) SendMessageA(page, kRunDisplayMessage, 0, 0);
}

void SetRunAlert(HWND page, bool on) {
    if (Hand(page, [&](Waiting& w) { w.alert = on; })) PostOnce(page);
}
