// Licence agreement screen (template 136): shows the agreement, Accept or Decline.
#include "app/shared_state.h"

#include <richedit.h>

#include "app/agreement_layout.h"
#include "app/page_flow.h"
#include "app/screens.h"
#include "res/resource.h"
#include "ui/page_chrome.h"

namespace {

// The agreement as stored in the resources: RTF followed by two zero bytes.
const char* AgreementText(DWORD* size) {
    HRSRC found = FindResourceA(AppInstance, MAKEINTRESOURCEA(IDR_AGREEMENT_TEXT), RT_RCDATA);
    if (!found) return "";
    HGLOBAL loaded = LoadResource(AppInstance, found);
    if (size) *size = SizeofResource(AppInstance, found);
    return loaded ? static_cast<const char*>(LockResource(loaded)) : "";
}

void Place(HWND window, const PixelRect& r) {
    SetWindowPos(window, nullptr, r.x, r.y, r.width, r.height, 0);
}

// Loads the RTF into the rich edit control and sizes the screen to the desktop.
void OnInitDialog(HWND screen) {
    PostWindowIcons(screen);
    HWND text = GetDlgItem(screen, IDC_AGREEMENT_EDIT);
    SendMessageA(text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(""));
    SendMessageA(text, EM_SETTEXTMODE, TM_RICHTEXT, 0);
    SendMessageA(text, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(AgreementText(nullptr)));
    // Shown as a normal window, not maximized: a maximized window would be restored to the
    // template's size when the dialog manager activates it, undoing the placement below.
    ShowWindow(screen, SW_SHOW);
    RECT desktop;
    GetClientRect(GetDesktopWindow(), &desktop);
    Place(screen, AgreementWindowPlacement(desktop.right, desktop.bottom));
}

// Lays the controls out over the client area.
void OnSize(HWND screen) {
    RECT client;
    GetClientRect(screen, &client);
    static const int ids[kAgreementControlCount] = {IDC_AGREEMENT_EDIT, IDC_SAVE_AGREEMENT,
                                                    IDC_PRINT_AGREEMENT, IDC_DECLINE, IDC_ACCEPT};
    for (int c = 0; c < kAgreementControlCount; ++c)
        Place(GetDlgItem(screen, ids[c]),
              AgreementControlPlacement(static_cast<AgreementControl>(c), client.right, client.bottom));
}

// Accept and Decline change the option word in memory; start-up stores it.
void OnCommand(HWND screen, int id) {
    if (id == IDC_ACCEPT) {
        SettingsFlags = FlagsAfterAccept(SettingsFlags);
        PostMessageA(screen, WM_CLOSE, 0, 0);
    } else if (id == IDC_DECLINE) {
        SettingsFlags = FlagsAfterDecline(SettingsFlags);
        PostMessageA(screen, WM_CLOSE, 0, 0);
    }
}

}  // namespace

INT_PTR CALLBACK AgreementScreen(HWND screen, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnInitDialog(screen);
        break;
    case WM_SIZE:
        OnSize(screen);
        break;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0) OnCommand(screen, LOWORD(wParam));
        break;
    case WM_CLOSE:
    case WM_DESTROY:
    case WM_QUERYENDSESSION:
        EndDialog(screen, 0);
        break;
    default:
        break;
    }
    return 0;
}
