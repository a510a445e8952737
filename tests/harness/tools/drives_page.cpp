// Runs the drive selection page in this process, as the page loop does, and reports what the
// page left behind and the state of its controls at the moments that matter.
//   drives_page.exe <openings> <source drive letter or ->
// Output lines (close=1: the Close command is grayed; disabled: ids of disabled controls;
// format: the Format Disk box's check state):
//   scan close=<0|1> disabled=<ids> format=<0|1>    when a scan adds its first line
//   close close=<0|1> disabled=<ids> format=<0|1>   when the page receives WM_CLOSE
//   page state=<WizardState> target=<TargetDrive or -> intro=<IntroPending>
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "common/shared_state.h"
#include "res/resource.h"
#include "ui/page_chrome.h"
#include "wizard/drive_page.h"

extern uint8_t IntroPending;

namespace {

const int kWatched[] = {IDOK,           IDCANCEL,        IDC_EXTRACT_ISO, IDC_REFRESH,
                        IDC_DRIVE_LIST, IDC_MODE_USB,    IDC_MODE_ISO,    IDC_FORMAT_DISK,
                        IDC_CANCEL_PAGE, IDC_HELP_BUTTON};
bool gScanSeen = false;

void Report(const char* what) {
    HWND page = CurrentPage;
    HMENU menu = GetSystemMenu(page, FALSE);
    const UINT state = menu ? GetMenuState(menu, SC_CLOSE, MF_BYCOMMAND) : 0xFFFFFFFF;
    std::string disabled;
    for (int id : kWatched) {
        if (IsWindowEnabled(GetDlgItem(page, id))) continue;
        if (!disabled.empty()) disabled += ",";
        disabled += std::to_string(id);
    }
    const int grayed = (state != 0xFFFFFFFF && (state & MF_GRAYED)) ? 1 : 0;
    printf("%s close=%d disabled=%s format=%d\n", what, grayed, disabled.c_str(),
           static_cast<int>(IsDlgButtonChecked(page, IDC_FORMAT_DISK)));
    fflush(stdout);
}

// Sees every message sent on this thread before its window procedure does.
LRESULT CALLBACK Watch(int code, WPARAM wParam, LPARAM lParam) {
    const CWPSTRUCT* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
    if (code == HC_ACTION && CurrentPage) {
        HWND page = CurrentPage;
        if (message->message == CB_RESETCONTENT && GetDlgCtrlID(message->hwnd) == IDC_DRIVE_LIST)
            gScanSeen = false;
        if (message->message == CB_ADDSTRING && !gScanSeen &&
            message->hwnd == GetDlgItem(page, IDC_DRIVE_LIST)) {
            gScanSeen = true;
            Report("scan");
        }
        if (message->message == WM_CLOSE && message->hwnd == page) Report("close");
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

// Sees every message posted to this thread as it is taken from the queue.
LRESULT CALLBACK WatchQueue(int code, WPARAM wParam, LPARAM lParam) {
    const MSG* message = reinterpret_cast<const MSG*>(lParam);
    if (code == HC_ACTION && wParam == PM_REMOVE && CurrentPage && message->message == WM_CLOSE &&
        message->hwnd == CurrentPage)
        Report("close");
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    InitCommonControls();
    ScratchText = static_cast<char*>(calloc(kScratchTextSize, 1));
    ImagePath = static_cast<char*>(calloc(kImagePathSize, 1));
    ButtonSkinTable = static_cast<ButtonSkinList*>(calloc(1, sizeof(ButtonSkinList)));
    ButtonSkinTable->entries =
        static_cast<ButtonSkin*>(calloc(kButtonSkinCapacity, sizeof(ButtonSkin)));
    AppInstance = GetModuleHandleA(nullptr);  // the tool carries the program's resources
    LoadPageChrome();
    UsbMode = 1;
    SourceDrive = argv[2][0] == '-' ? static_cast<char>(0xFF) : argv[2][0];
    SetWindowsHookExA(WH_CALLWNDPROC, Watch, nullptr, GetCurrentThreadId());
    SetWindowsHookExA(WH_GETMESSAGE, WatchQueue, nullptr, GetCurrentThreadId());

    const int openings = atoi(argv[1]);
    for (int i = 0; i < openings; ++i) {
        WizardState = 0;
        DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_DRIVE_PAGE), nullptr, DriveSelectionPage,
                        0);
        printf("page state=%d target=%c intro=%d\n", static_cast<int>(WizardState),
               TargetDrive == static_cast<char>(0xFF) ? '-' : TargetDrive, IntroPending);
        fflush(stdout);
    }
    return 0;
}
