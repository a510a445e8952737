// Drive selection page (template 101). Navigation only for now.
#include "app/page_flow.h"
#include "app/shared_state.h"
#include "create/drive_page.h"
#include "res/resource.h"

INT_PTR CALLBACK DriveSelectionPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        CurrentPage = page;
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) != 0) return 0;
        switch (LOWORD(wParam)) {
        case IDOK: WizardState = kDriveCreate; PostMessageA(page, WM_CLOSE, 0, 0); break;
        case IDCANCEL: WizardState = kDriveBack; PostMessageA(page, WM_CLOSE, 0, 0); break;
        case IDC_CANCEL_PAGE: WizardState = kDriveCancel; PostMessageA(page, WM_CLOSE, 0, 0); break;
        default: break;
        }
        return 0;
    case WM_CLOSE:
    case WM_DESTROY:
    case WM_QUERYENDSESSION:
        DefWindowProcA(CurrentPage, message, wParam, lParam);
        return TRUE;
    default:
        return 0;
    }
}
