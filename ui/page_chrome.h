// Look shared by the wizard pages: brushes, bitmaps, icons, skinned buttons, tooltips, help menu.
#pragma once
#include <windows.h>

#include <cstdint>

extern HBITMAP PanelLeftImage, PanelRightImage, PanelMiddleImage;
extern HBITMAP HelpImage, HelpPressedImage;
extern HBITMAP RefreshImage, RefreshPressedImage, RefreshHoverImage, RefreshDisabledImage;

struct SkinSpec {
    uint32_t controlId;
    HBITMAP* normal;
    HBITMAP* pressed;
    HBITMAP* disabled;
    HBITMAP* hover;
};

struct TooltipSpec {
    int controlId;
    const char* text;
};

// The help button's skin, and the tooltips of a page whose buttons are Cancel (2), Next (1) and
// help, in the order they are registered (welcome and progress pages).
extern const SkinSpec kHelpButtonSkin[1];
extern const TooltipSpec kCancelNextHelpTooltips[3];

// Once at start-up: brushes and the shared bitmaps.
void LoadPageChrome();

// Common page set-up, split where pages run steps of their own in between:
// Begin stores CurrentPage, loads the icons, builds HelpMenu and posts WM_SETICON;
// End empties ButtonSkinTable, registers the page's skins and creates its tooltips.
void InitPageChromeBegin(HWND page);
void InitPageChromeEnd(HWND page, const SkinSpec* skins, int skinCount, const TooltipSpec* tips,
                       int tipCount);

// The same, with the page's tables as arrays, so that their sizes come from the tables.
template <int SkinCount, int TipCount>
void InitPageChromeEnd(HWND page, const SkinSpec (&skins)[SkinCount],
                       const TooltipSpec (&tips)[TipCount]) {
    InitPageChromeEnd(page, skins, SkinCount, tips, TipCount);
}

void PostWindowIcons(HWND window);
void BuildHelpMenu();

// Skinned buttons.
void RegisterButtonSkin(uint32_t controlId, HBITMAP normal, HBITMAP pressed, HBITMAP disabled,
                        HBITMAP hover);
void UpdateHover(uint32_t controlId, HWND page);
void DrawSkinnedButton(uint32_t controlId, const DRAWITEMSTRUCT* item);
void PollHover(HWND page);
constexpr UINT_PTR HoverTimer = 1024;

// Tooltips.
HWND CreateTooltipWindow(HWND owner);
void AddTooltip(int controlId, int secondControlId, HWND owner, const char* text, HWND tooltip);

// A wizard page's WM_CLOSE, WM_DESTROY and WM_QUERYENDSESSION: handed to the default window
// procedure (WM_CLOSE then destroys the page, which ends its modal run); its result becomes
// the message's result, so that a session end is not refused by accident. Returns TRUE.
INT_PTR HandToDefaultProcedure(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Background answers: fill the client area white, optionally draw the drive panel, then the
// title text (hidden under the title banner). Returns TRUE.
BOOL PaintPageBackground(HWND page, HDC dc, bool drawPanel, const char* title);

// The help button's popup menu and its commands.
void ShowHelpMenu(HWND page);

// The save dialog of the agreement and the ISO export: the file name in and out in `path`
// (room for 260 characters); `filter` is a double-zero-terminated list. False on cancel.
bool AskForSaveFile(HWND owner, char* path, const char* filter, const char* title,
                    const char* defaultExtension);
