// Welcome page (template 418): Next starts the wizard, Cancel ends the program.
#include "wizard/page_flow.h"
#include "common/shared_state.h"
#include "res/resource.h"
#include "ui/page_chrome.h"
#include "wizard/screens.h"

namespace {
// The common page set-up; the dialog manager then focuses Next.
INT_PTR OnInitDialog(HWND page) {
    InitPageChromeBegin(page);
    InitPageChromeEnd(page, kHelpButtonSkin, kCancelNextHelpTooltips);
    return TRUE;
}

// Next (also Enter), Cancel (also Esc) and the help button.
void OnCommand(HWND page, int id) {
    if (id == IDOK) {
        if (WizardState == kWelcomeInitial) WizardState = kWelcomeNext;
        PostMessageA(page, WM_CLOSE, 0, 0);
    } else if (id == IDCANCEL) {
        WizardState = kWelcomeCancel;
        PostMessageA(page, WM_CLOSE, 0, 0);
    } else if (id == IDC_HELP_BUTTON) {
        ShowHelpMenu(page);
    }
}
}  // namespace

INT_PTR CALLBACK WelcomePage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(page);
    case WM_ERASEBKGND:
        return PaintPageBackground(page, reinterpret_cast<HDC>(wParam), false, nullptr);
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(PageBrush);
    case WM_DRAWITEM:
        DrawSkinnedButton(static_cast<uint32_t>(wParam),
                          reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return 0;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0) OnCommand(page, LOWORD(wParam));
        return 0;
    case WM_CLOSE:
    case WM_DESTROY:
    case WM_QUERYENDSESSION:
        return HandToDefaultProcedure(page, message, wParam, lParam);
    default:
        return 0;
    }
}
