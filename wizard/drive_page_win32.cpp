// Drive selection page (template 101): the user picks the removable drive to overwrite and
// confirms that its data will be destroyed.
#include <windows.h>

#include <dbt.h>

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "common/run_log.h"
#include "common/shared_state.h"
#include "drives/drive_scan.h"
#include "res/resource.h"
#include "ui/page_chrome.h"
#include "wizard/drive_notice.h"
#include "wizard/drive_page.h"
#include "wizard/page_flow.h"
#include "write/iso_export.h"

// 1 until the intro message has been shown once in this process.
uint8_t IntroPending = 1;

namespace {

const char kIntroText[] =
    "Halcyra will be downloaded and written to a USB Flash Drive. A computer can then be started "
    "with the Halcyra USB Flash Drive.\r\nPlease select a USB device to write Halcyra to.";
const char kSameDriveText[] =
    "The target removable device and the source removable device cannot be the same. Please move "
    "the Halcyra installation file to another drive or select a different removable device to "
    "write the software to.";
const char kWarningFormat[] =
    "WARNING. Halcyra will be written to Disk %c:. All data on this disk will be permanently "
    "destroyed. Are you sure you want to proceed?";

const SkinSpec kSkins[] = {
    {IDC_HELP_BUTTON, &HelpImage, &HelpPressedImage, &HelpImage, &HelpImage},
    {IDC_REFRESH, &RefreshImage, &RefreshPressedImage, &RefreshDisabledImage, &RefreshHoverImage},
};
const TooltipSpec kTooltips[] = {
    {IDC_CANCEL_PAGE, "Cancel"},
    {IDCANCEL, "Back"},
    {IDC_EXTRACT_ISO, "Extract the ISO file"},
    {IDOK, "Create Halcyra"},
    {IDC_HELP_BUTTON, "Open Help"},
    {IDC_REFRESH, "Refresh Drives"},
};

// Controls a confirmed Create takes away from the user, in the order they go.
const int kCommitControls[] = {IDOK,           IDCANCEL,       IDC_EXTRACT_ISO, IDC_REFRESH,
                               IDC_DRIVE_LIST, IDC_MODE_USB,   IDC_MODE_ISO};

constexpr UINT kRedrawAll = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ERASENOW;

// One-shot timer that gathers a burst of volume notices (a stick with two partitions) into
// one scan.
constexpr UINT_PTR kNoticeTimer = 1025;
constexpr UINT kNoticeSettleMs = 250;

// When volume notices rescan; made anew for each opening of the page, so a notice kept when
// the page closes is dropped with it.
DriveNoticeGate Notices;

// Marks the page busy while one of its boxes or dialogs (or a scan) runs; a notice that came
// meanwhile starts the settle timer when it ends.
class ModalScope {
public:
    explicit ModalScope(HWND page) : page_(page) { Notices.BeginModal(); }
    ~ModalScope() {
        if (Notices.EndModal()) SetTimer(page_, kNoticeTimer, kNoticeSettleMs, nullptr);
    }
    ModalScope(const ModalScope&) = delete;
    ModalScope& operator=(const ModalScope&) = delete;

private:
    HWND page_;
};

std::vector<std::string> DriveListLines(HWND list) {
    std::vector<std::string> lines;
    const LRESULT count = SendMessageA(list, CB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        char line[300] = "";
        if (SendMessageA(list, CB_GETLBTEXTLEN, i, 0) < static_cast<LRESULT>(sizeof(line)))
            SendMessageA(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(line));
        lines.emplace_back(line);
    }
    return lines;
}

// The scan of a volume notice: the list is filled anew and the selection stays on the drive
// selected before when that drive is still listed.
void RescanDrives(HWND page) {
    char selected[100] = "";
    GetDlgItemTextA(page, IDC_DRIVE_LIST, selected, sizeof(selected));
    Notices.ScanStarting();
    ModalScope busy(page);
    DriveScan();
    HWND list = GetDlgItem(page, IDC_DRIVE_LIST);
    const int line = LineToReselect(DriveLetterOfLine(selected), DriveListLines(list));
    if (line == 0) return;  // the scan has selected the first line already
    SendMessageA(list, CB_SETCURSEL, static_cast<WPARAM>(line), 0);
    SyncFormatOption();
}

void ClosePage(HWND page, int32_t result) {
    WizardState = result;
    PostMessageA(page, WM_CLOSE, 0, 0);
}

// Chrome, error mode, the first scan and the hover timer.
INT_PTR OnInitDialog(HWND page) {
    Notices = DriveNoticeGate();
    InitPageChromeBegin(page);
    // Drives without a medium must fail the scan's queries quietly, without a system box.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    CheckDlgButton(page, IDC_FORMAT_DISK, BST_CHECKED);
    // The refresh button takes the size of its images.
    SetWindowPos(GetDlgItem(page, IDC_REFRESH), nullptr, 0, 0, 33, 27, SWP_NOMOVE | SWP_NOZORDER);
    CheckDlgButton(page, IDC_MODE_ISO, BST_CHECKED);  // hidden; the mode lives in UsbMode
    DriveScan();
    SyncFormatOption();
    InitPageChromeEnd(page, kSkins, 2, kTooltips, 6);
    SetTimer(page, HoverTimer, 500, nullptr);
    return FALSE;
}

// The intro message, on the first showing of the page in this process.
void OnWindowPosChanged(HWND page, const WINDOWPOS* position) {
    if (!IntroPending || !(position->flags & SWP_SHOWWINDOW)) return;
    ModalScope busy(page);
    MessageBoxA(page, kIntroText, "Halcyra", MB_OK);
    IntroPending = 0;
}

// Create: confirm the chosen drive, then hand it to the progress page.
void OnCreate(HWND page) {
    // A disabled Create (no drive listed, or already committed) is not acted on.
    if (!IsWindowEnabled(GetDlgItem(page, IDOK))) return;
    GetDlgItemTextA(page, IDC_DRIVE_LIST, ScratchText, 100);
    TargetDrive = ScratchText[0];
    LogEvent("Create on \"%s\"", ScratchText);
    if (TargetDrive == SourceDrive) {
        LogEvent("refused: the program runs from drive %c:", TargetDrive);
        ModalScope busy(page);
        MessageBoxA(page, kSameDriveText, "Installation", MB_ICONINFORMATION);
        return;
    }
    sprintf(ScratchText, kWarningFormat, TargetDrive);
    {
        ModalScope busy(page);
        if (MessageBoxA(page, ScratchText, "Are you sure?", MB_ICONWARNING | MB_YESNO) != IDYES) {
            LogEvent("warning answered No");
            return;
        }
        Notices.Commit();  // before the scope ends, so that a kept notice starts no timer
    }

    for (int id : kCommitControls) EnableWindow(GetDlgItem(page, id), FALSE);
    HMENU menu = GetSystemMenu(page, FALSE);
    if (menu) EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | MF_GRAYED);
    if (UsbMode != 1) return;  // a write in ISO mode is not offered
    EnableWindow(GetDlgItem(page, IDC_FORMAT_DISK), FALSE);
    TargetIdentity = IdentifyDrive(TargetDrive);  // the writer checks that it is still this one
    char identity[kIdentityTextSize];
    DescribeIdentity(identity, sizeof identity, TargetIdentity);
    LogEvent("chosen drive %c: %s", TargetDrive, identity);
    ClosePage(page, kDriveCreate);
}

// The hidden mode radios: relabel the page for the chosen mode and repaint it at once.
void SwitchMode(HWND page, uint8_t usbMode) {
    UsbMode = usbMode;
    SetDlgItemTextA(page, IDC_DRIVE_LABEL, usbMode ? "USB Flash Device:" : "Recording Device:");
    SetDlgItemTextA(page, IDOK, "Create");
    ShowWindow(GetDlgItem(page, IDC_EXTRACT_ISO), usbMode ? SW_HIDE : SW_SHOW);
    ShowWindow(GetDlgItem(page, IDC_FORMAT_DISK), usbMode ? SW_SHOW : SW_HIDE);
    RedrawWindow(page, nullptr, nullptr, kRedrawAll);
    if (usbMode) DriveScan();
}

// Selection changes of the drive list, button clicks, Enter and Escape.
void OnCommand(HWND page, int id, int code) {
    if (code == CBN_SELCHANGE && id == IDC_DRIVE_LIST && UsbMode == 1) SyncFormatOption();
    if (code != 0) return;
    switch (id) {
    case IDOK: OnCreate(page); break;
    case IDCANCEL: ClosePage(page, kDriveBack); break;
    case IDC_CANCEL_PAGE: ClosePage(page, kDriveCancel); break;
    case IDC_EXTRACT_ISO: {
        ModalScope busy(page);
        ExtractIsoCommand(page);
        break;
    }
    case IDC_MODE_ISO: SwitchMode(page, 0); break;
    case IDC_MODE_USB: SwitchMode(page, 1); break;
    case IDC_REFRESH:
        if (UsbMode == 1) DriveScan();
        break;
    case IDC_HELP_BUTTON: {
        ModalScope busy(page);  // the menu, the About box and the guide's messages
        ShowHelpMenu(page);
        break;
    }
    default: break;
    }
}

// A volume arrived or left: rescan once the page is idle and the burst is over.
void OnDeviceChange(HWND page, WPARAM event, const DEV_BROADCAST_HDR* header) {
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    if (!header || header->dbch_devicetype != DBT_DEVTYP_VOLUME) return;
    if (Notices.Notice()) SetTimer(page, kNoticeTimer, kNoticeSettleMs, nullptr);
}

// The hover timer, and the settle timer of volume notices, which scans as the refresh button
// does (nothing in ISO mode).
void OnTimer(HWND page, UINT_PTR id) {
    if (id == HoverTimer) PollHover(page);
    if (id != kNoticeTimer) return;
    KillTimer(page, kNoticeTimer);
    if (Notices.TimerFired() && UsbMode == 1) RescanDrives(page);
}

// Statics draw straight over the page and the panel; the status line gets the panel colour.
INT_PTR OnCtlColorStatic(HDC dc, HWND control) {
    SetBkMode(dc, TRANSPARENT);
    if (GetDlgCtrlID(control) == IDC_DRIVE_STATUS) return reinterpret_cast<INT_PTR>(PanelBrush);
    return reinterpret_cast<INT_PTR>(GetStockObject(NULL_BRUSH));
}

}  // namespace

INT_PTR CALLBACK DriveSelectionPage(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(page);
    case WM_WINDOWPOSCHANGED:
        OnWindowPosChanged(page, reinterpret_cast<const WINDOWPOS*>(lParam));
        return 0;
    case WM_COMMAND:
        OnCommand(page, LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_TIMER:
        OnTimer(page, wParam);
        return 0;
    case WM_DEVICECHANGE:
        OnDeviceChange(page, wParam, reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam));
        return 0;
    case WM_ERASEBKGND:
        return PaintPageBackground(page, reinterpret_cast<HDC>(wParam), true, "Create Halcyra");
    case WM_DRAWITEM:
        DrawSkinnedButton(static_cast<uint32_t>(wParam),
                          reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
        return FALSE;
    case WM_CTLCOLORDLG:
        return reinterpret_cast<INT_PTR>(PageBrush);
    case WM_CTLCOLORSTATIC:
        return OnCtlColorStatic(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_CLOSE:
    case WM_DESTROY:
    case WM_QUERYENDSESSION:
        return HandToDefaultProcedure(page, message, wParam, lParam);
    default:
        return 0;
    }
}
