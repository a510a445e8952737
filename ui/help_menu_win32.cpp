// The help popup menu of the wizard pages, its links and the About box.
#include "common/shared_state.h"
#include "res/resource.h"
#include "ui/page_chrome.h"
#include "ui/user_guide.h"

namespace {
const char HomePageLink[] = "https://www.quorvane.example/";
const char SupportPageLink[] = "https://www.quorvane.example/support/";
const char SupportMailLink[] = "mailto:support@quorvane.example";

void OpenLink(HWND owner, const char* link) {
    ShellExecuteA(owner, "open", link, nullptr, nullptr, SW_HIDE);
}

// About box (template 182): closed by its button (id 1), Enter and the close box.
INT_PTR CALLBACK AboutBox(HWND box, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG: {
        PostWindowIcons(box);
        HWND tooltip = CreateTooltipWindow(box);
        AddTooltip(IDC_HOME_LINK, 0, box, "Quorvane Software Home Page", tooltip);
        AddTooltip(IDOK, 0, box, "Cancel", tooltip);
        return 0;
    }
    case WM_COMMAND:
        if (HIWORD(wParam) != 0) return 0;
        if (LOWORD(wParam) == IDOK) PostMessageA(box, WM_CLOSE, 0, 0);
        if (LOWORD(wParam) == IDC_HOME_LINK) OpenLink(box, HomePageLink);
        return 0;
    case WM_CLOSE:
    case WM_DESTROY:
    case WM_QUERYENDSESSION:
        EndDialog(box, 0);
        return 0;
    case WM_ERASEBKGND:
        return PaintPageBackground(box, reinterpret_cast<HDC>(wParam), false, nullptr);
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
        return reinterpret_cast<INT_PTR>(PageBrush);
    default:
        return 0;
    }
}
}  // namespace

void ShowHelpMenu(HWND page) {
    POINT cursor;
    GetCursorPos(&cursor);
    const int command = TrackPopupMenu(HelpMenu, TPM_RETURNCMD | TPM_RIGHTBUTTON, cursor.x,
                                       cursor.y, 0, page, nullptr);
    switch (command) {
    case 1:
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ABOUT), page, AboutBox, 0);
        break;
    case 2:
        OpenUserGuide(page);
        break;
    case 3:
        OpenLink(page, SupportPageLink);
        break;
    case 4:
        OpenLink(page, SupportMailLink);
        break;
    default:
        break;
    }
}
