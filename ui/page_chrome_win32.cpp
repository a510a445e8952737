#include "ui/page_chrome.h"

#include <commdlg.h>

#include <cstring>

#include "common/shared_state.h"
#include "common/system_library.h"
#include "common/system_paths.h"
#include "res/resource.h"

HBITMAP PanelLeftImage, PanelRightImage, PanelMiddleImage;
HBITMAP HelpImage, HelpPressedImage;
HBITMAP RefreshImage, RefreshPressedImage, RefreshHoverImage, RefreshDisabledImage;

const SkinSpec kHelpButtonSkin[1] = {
    {IDC_HELP_BUTTON, &HelpImage, &HelpPressedImage, &HelpImage, &HelpImage},
};
const TooltipSpec kCancelNextHelpTooltips[3] = {
    {IDCANCEL, "Cancel"},
    {IDOK, "Next"},
    {IDC_HELP_BUTTON, "Open Help"},
};

namespace {
HBITMAP LoadBitmapResource(int id) {
    return static_cast<HBITMAP>(
        LoadImageA(AppInstance, MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
}

void DrawImage(HDC dc, HBITMAP image, int x, int y, int width, int height, int sourceWidth,
               int sourceHeight) {
    HDC memory = CreateCompatibleDC(dc);
    HGDIOBJ old = SelectObject(memory, image);
    StretchBlt(dc, x, y, width, height, memory, 0, 0, sourceWidth, sourceHeight, SRCCOPY);
    SelectObject(memory, old);
    DeleteDC(memory);
}
}  // namespace

void LoadPageChrome() {
    PanelBrush = CreateSolidBrush(RGB(245, 246, 246));
    PageBrush = CreateSolidBrush(RGB(255, 255, 255));
    PanelLeftImage = LoadBitmapResource(IDB_PANEL_LEFT);
    PanelRightImage = LoadBitmapResource(IDB_PANEL_RIGHT);
    PanelMiddleImage = LoadBitmapResource(IDB_PANEL_MIDDLE);
    HelpImage = LoadBitmapResource(IDB_HELP);
    HelpPressedImage = LoadBitmapResource(IDB_HELP_PRESSED);
    RefreshPressedImage = LoadBitmapResource(IDB_REFRESH_PRESSED);
    RefreshImage = LoadBitmapResource(IDB_REFRESH);
    RefreshHoverImage = LoadBitmapResource(IDB_REFRESH_HOVER);
    RefreshDisabledImage = LoadBitmapResource(IDB_REFRESH_DISABLED);
}

void PostWindowIcons(HWND window) {
    PostMessageA(window, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(SmallIcon));
    PostMessageA(window, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(BigIcon));
}

void BuildHelpMenu() {
    HelpMenu = CreatePopupMenu();
    InsertMenuA(HelpMenu, static_cast<UINT>(-1), MF_BYPOSITION | MF_STRING, 2, "User Guide");
    InsertMenuA(HelpMenu, static_cast<UINT>(-1), MF_BYPOSITION | MF_STRING, 3, "Online Support");
    InsertMenuA(HelpMenu, static_cast<UINT>(-1), MF_BYPOSITION | MF_STRING, 4, "E-Mail Support");
    InsertMenuA(HelpMenu, static_cast<UINT>(-1), MF_SEPARATOR, 0, "");
    InsertMenuA(HelpMenu, static_cast<UINT>(-1), MF_BYPOSITION | MF_STRING, 1, "About");
}

void InitPageChromeBegin(HWND page) {
    CurrentPage = page;
    // The previous page has gone: its icons and help menu go with it.
    if (SmallIcon) DestroyIcon(SmallIcon);
    if (BigIcon) DestroyIcon(BigIcon);
    if (HelpMenu) DestroyMenu(HelpMenu);
    SmallIcon = static_cast<HICON>(LoadImageA(AppInstance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON,
                                              16, 16, LR_VGACOLOR | LR_LOADTRANSPARENT));
    BigIcon = static_cast<HICON>(
        LoadImageA(AppInstance, MAKEINTRESOURCEA(IDI_APP), IMAGE_ICON, 32, 32, LR_DEFAULTCOLOR));
    BuildHelpMenu();
    PostWindowIcons(page);
}

void InitPageChromeEnd(HWND page, const SkinSpec* skins, int skinCount, const TooltipSpec* tips,
                       int tipCount) {
    ButtonSkinTable->count = 0;
    for (int i = 0; i < skinCount; ++i)
        RegisterButtonSkin(skins[i].controlId, *skins[i].normal, *skins[i].pressed,
                           *skins[i].disabled, *skins[i].hover);
    HWND tooltip = CreateTooltipWindow(page);
    for (int i = 0; i < tipCount; ++i) AddTooltip(tips[i].controlId, 0, page, tips[i].text, tooltip);
}

INT_PTR HandToDefaultProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    // A page destroyed by a WM_CLOSE sent from another thread goes while the modal loop waits
    // in GetMessage, and a sent message doesn't end that wait. A posted empty message does:
    // the loop wakes, sees that its page has gone and ends, and the page loop goes on.
    if (message == WM_DESTROY) PostMessageA(nullptr, WM_NULL, 0, 0);
    const LRESULT result = DefWindowProcA(page, message, wParam, lParam);
    if (IsWindow(page)) SetWindowLongPtrA(page, DWLP_MSGRESULT, result);
    return TRUE;
}

BOOL PaintPageBackground(HWND page, HDC dc, bool drawPanel, const char* title) {
    RECT client;
    GetClientRect(page, &client);
    FillRect(dc, &client, PageBrush);
    if (drawPanel) {
        DrawImage(dc, PanelLeftImage, 12, 71, 15, 140, 15, 140);
        DrawImage(dc, PanelRightImage, 412, 71, 15, 140, 15, 140);
        DrawImage(dc, PanelMiddleImage, 27, 71, 385, 140, 5, 140);
    }
    if (title) {
        client.left += 15;
        client.top += 10;
        DrawTextA(dc, title, -1, &client, 0);
    }
    return TRUE;
}

namespace {
// Plain ASCII text, `count` characters of it (its ends included), as wide characters.
void Widen(WCHAR* out, const char* text, size_t count) {
    for (size_t i = 0; i < count; ++i) out[i] = static_cast<unsigned char>(text[i]);
}
}  // namespace

// The wide dialog: a folder the user picks may be named with letters outside the ANSI code
// page, which the A dialog would hand back as '?'.
bool AskForSaveFile(HWND owner, char* path, const char* filter, const char* title,
                    const char* defaultExtension) {
    size_t filterLength = 0;
    while (filter[filterLength] || filter[filterLength + 1]) ++filterLength;
    WCHAR wideFilter[256], wideTitle[128], wideExtension[8], widePath[MAX_PATH];
    if (filterLength + 2 > 256 || std::strlen(title) + 1 > 128 ||
        std::strlen(defaultExtension) + 1 > 8 || std::strlen(path) + 1 > MAX_PATH)
        return false;
    Widen(wideFilter, filter, filterLength + 2);
    Widen(wideTitle, title, std::strlen(title) + 1);
    Widen(wideExtension, defaultExtension, std::strlen(defaultExtension) + 1);
    if (!MultiByteToWideChar(CP_ACP, 0, path, -1, widePath, MAX_PATH)) return false;
    OPENFILENAMEW dialog = {};
    dialog.lStructSize = OPENFILENAME_SIZE_VERSION_400W;
    dialog.hwndOwner = owner;
    dialog.lpstrFilter = wideFilter;
    dialog.nFilterIndex = 1;
    dialog.lpstrFile = widePath;
    dialog.nMaxFile = MAX_PATH;
    dialog.lpstrTitle = wideTitle;
    dialog.Flags = OFN_HIDEREADONLY;
    dialog.lpstrDefExt = wideExtension;
    // The common dialogs from the system folder when first needed, so that the libraries they
    // import are searched there first as well.
    const auto ask = SystemFunction<decltype(&GetSaveFileNameW)>(
        LoadSystemLibrary("comdlg32.dll"), "GetSaveFileNameW");
    if (!ask || !ask(&dialog)) return false;
    if (SavePathFromWide(widePath, path, MAX_PATH)) return true;
    // A name the A calls can't reach: said as the failure to save it.
    path[0] = 0;
    return true;
}
