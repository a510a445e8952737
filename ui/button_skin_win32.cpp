// Owner-drawn bitmap buttons with hover images, and the tooltips of the dialogs.
#include "common/shared_state.h"

#include <commctrl.h>
#include "ui/page_chrome.h"

void RegisterButtonSkin(uint32_t controlId, HBITMAP normal, HBITMAP pressed, HBITMAP disabled,
                        HBITMAP hover) {
    ButtonSkinList& table = *ButtonSkinTable;
    uint32_t index = 0;
    while (index < table.count && table.entries[index].controlId != controlId) ++index;
    const bool addition = index == table.count;
    if (addition && index >= static_cast<uint32_t>(kButtonSkinCapacity)) return;  // table full
    ButtonSkin& entry = table.entries[index];
    entry.controlId = controlId;
    entry.normalImage = normal;
    entry.pressedImage = pressed;
    entry.disabledImage = disabled;
    entry.hoverImage = hover;
    entry.hover = 0;
    if (addition) ++table.count;
}

void UpdateHover(uint32_t controlId, HWND page) {
    ButtonSkinList& table = *ButtonSkinTable;
    for (uint32_t i = 0; i < table.count; ++i) {
        ButtonSkin& entry = table.entries[i];
        const uint8_t wanted = (controlId != 0 && controlId == entry.controlId) ? 1 : 0;
        if (entry.hover == wanted) continue;
        entry.hover = wanted;
        RedrawWindow(GetDlgItem(page, static_cast<int>(entry.controlId)), nullptr, nullptr,
                     RDW_INVALIDATE);
    }
    UpdateWindow(page);
}

void DrawSkinnedButton(uint32_t controlId, const DRAWITEMSTRUCT* item) {
    ButtonSkinList& table = *ButtonSkinTable;
    for (uint32_t i = 0; i < table.count; ++i) {
        const ButtonSkin& entry = table.entries[i];
        if (entry.controlId != controlId) continue;
        HBITMAP image = entry.normalImage;
        if (item->itemState & ODS_SELECTED)
            image = entry.pressedImage;
        else if (item->itemState & ODS_DISABLED)
            image = entry.disabledImage;
        else if (entry.hover == 1)
            image = entry.hoverImage;
        if (!image) continue;  // a bitmap that failed to load leaves the button blank
        HDC memory = CreateCompatibleDC(item->hDC);
        HGDIOBJ old = SelectObject(memory, image);
        BitBlt(item->hDC, 0, 0, 130, 46, memory, 0, 0, SRCCOPY);
        SelectObject(memory, old);
        DeleteDC(memory);
    }
}

void PollHover(HWND page) {
    POINT cursor;
    RECT frame;
    GetCursorPos(&cursor);
    GetWindowRect(page, &frame);
    uint32_t id = 0;
    if (PtInRect(&frame, cursor)) id = static_cast<uint32_t>(GetDlgCtrlID(WindowFromPoint(cursor)));
    UpdateHover(id, page);
}

HWND CreateTooltipWindow(HWND owner) {
    HWND tooltip = CreateWindowExA(WS_EX_TOPMOST, "tooltips_class32", nullptr,
                                   WS_POPUP | TTS_NOPREFIX | TTS_ALWAYSTIP, CW_USEDEFAULT,
                                   CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                                   AppInstance, nullptr);
    SetWindowPos(tooltip, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOACTIVATE | SWP_NOMOVE | SWP_NOSIZE);
    SendMessageA(tooltip, TTM_ACTIVATE, TRUE, 0);
    return tooltip;
}

void AddTooltip(int controlId, int secondControlId, HWND owner, const char* text, HWND tooltip) {
    const int ids[2] = {controlId, secondControlId};
    for (int i = 0; i < 2; ++i) {
        if (i == 1 && secondControlId == 0) break;
        HWND control = GetDlgItem(owner, ids[i]);
        TTTOOLINFOA tool = {};
        tool.cbSize = TTTOOLINFOA_V2_SIZE;  // the 44-byte layout ending with lParam
        tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
        tool.hwnd = owner;
        tool.uId = reinterpret_cast<UINT_PTR>(control);
        tool.lpszText = const_cast<char*>(text);
        tool.lParam = reinterpret_cast<LPARAM>(control);
        SendMessageA(tooltip, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
    }
}
