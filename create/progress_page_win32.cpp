// Progress page (template 416). Navigation only for now.
#include "app/page_flow.h"
#include "app/shared_state.h"
#include "create/progress_page.h"
#include "res/resource.h"

void WaitForPreviousWorker() {}

INT_PTR CALLBACK ProgressPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        CurrentPage = page;
        return TRUE;
    case WM_COMMAND:
        if (HIWORD(wParam) != 0) return 0;
        if (LOWORD(wParam) == IDCANCEL) {
            WizardState = kProgressStopped;
            PostMessageA(page, WM_CLOSE, 0, 0);
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
