// Splash screen (template 103): the product picture, closed on the third one-second tick.
#include "wizard/screens.h"
#include "common/shared_state.h"
#include "res/resource.h"
#include "ui/page_chrome.h"

namespace {
constexpr UINT_PTR kSplashTimer = 1024;
constexpr int kSplashCloseTick = 3;
int SplashTicks = 0;

// Sizes the picture and the window, starts the timer and takes the foreground.
void OnInitDialog(HWND splash) {
    PostWindowIcons(splash);
    SetWindowPos(GetDlgItem(splash, IDC_SPLASH_PICTURE), nullptr, 0, 0, 496, 147, 0);
    SetWindowPos(splash, nullptr, 0, 0, 496, 147, SWP_NOMOVE);
    SetTimer(splash, kSplashTimer, 1000, nullptr);
    SplashTicks = 0;
    SetForegroundWindow(splash);
    SetActiveWindow(splash);
}

// Counts the ticks; the third one closes the screen.
void OnTimer(HWND splash) {
    if (++SplashTicks == kSplashCloseTick) {
        KillTimer(splash, kSplashTimer);
        PostMessageA(splash, WM_CLOSE, 0, 0);
    }
}

// Keeps the splash screen in front while it is shown.
void OnActivate(HWND splash, WPARAM wParam) {
    if (LOWORD(wParam) != WA_ACTIVE) {
        SetActiveWindow(splash);
        SetForegroundWindow(splash);
    }
}
}  // namespace

INT_PTR CALLBACK SplashScreen(HWND splash, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: OnInitDialog(splash); break;
    case WM_TIMER: OnTimer(splash); break;
    case WM_ACTIVATE: OnActivate(splash, wParam); break;
    case WM_CLOSE:
    case WM_DESTROY:
    case WM_QUERYENDSESSION: EndDialog(splash, 0); break;
    default: break;
    }
    return 0;
}
