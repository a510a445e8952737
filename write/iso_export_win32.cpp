// ISO export: copies the downloaded image into a chosen .iso file, then shows the notice.
#include "write/iso_export.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/settings.h"
#include "common/shared_state.h"
#include "res/resource.h"
#include "ui/page_chrome.h"
#include "write/iso_copy_plan.h"

namespace {

// Asks for the destination in ScratchText; false when the user cancelled.
bool AskForDestination() {
    strcpy(ScratchText, "Halcyra.iso");
    char* filter = ScratchText + 1000;
    snprintf(filter, 1000, "ISO Images%c*.iso%cAll Files%c*.*%c%c", 0, 0, 0, 0, 0);
    return AskForSaveFile(CurrentPage, ScratchText, filter,
                          "Please select a location for the ISO file.", "iso");
}

// True when the destination doesn't exist yet or the user agrees to overwrite it.
bool MayWrite(const char* path) {
    FILE* existing = fopen(path, "r");
    if (!existing) return true;
    fclose(existing);
    snprintf(ScratchText + 1000, 1000, "%s already exists!\r\nDo you wish to overwrite this file?",
             path);
    return MessageBoxA(CurrentPage, ScratchText + 1000, "File already exists",
                       MB_ICONWARNING | MB_YESNO) == IDYES;
}

bool Seek(FILE* file, uint64_t position) {
    return fseeko64(file, static_cast<off64_t>(position), SEEK_SET) == 0;
}

}  // namespace

bool ExtractIso(const char* destination) {
    char* buffer = static_cast<char*>(malloc(kIsoBufferSize));
    if (!buffer) return false;
    // The source is opened first, so that a missing image never empties an existing file.
    FILE* source = fopen(ImagePath, "rb");
    if (!source) {
        char number[32];
        snprintf(number, sizeof(number), "%i", errno);
        MessageBoxA(nullptr, number, ImagePath, MB_OK);
        free(buffer);
        return false;
    }
    FILE* target = fopen(destination, "wb");
    if (!target) {
        fclose(source);
        free(buffer);
        return false;
    }
    fseeko64(source, 0, SEEK_END);
    const off64_t end = ftello64(source);
    const uint64_t size = end > 0 ? static_cast<uint64_t>(end) : 0;
    rewind(source);
    bool success = true;
    uint64_t position = 0;
    while (const uint64_t chunk = IsoChunkLength(position, size)) {
        bool moved = Seek(target, position) && Seek(source, position) &&
                     fread(buffer, 1, static_cast<size_t>(chunk), source) == chunk &&
                     fwrite(buffer, 1, static_cast<size_t>(chunk), target) == chunk;
        if (fflush(target) != 0) moved = false;
        if (!moved) {
            success = false;
            break;
        }
        position += chunk;
    }
    if (fclose(target) != 0) success = false;
    fclose(source);
    free(buffer);
    return success;
}

void ExtractIsoCommand(HWND page) {
    if (!AskForDestination()) return;
    char destination[260];
    snprintf(destination, sizeof(destination), "%s", ScratchText);
    if (!MayWrite(destination)) return;
    if (ExtractIso(destination)) {
        MessageBoxA(page, "ISO image has been extracted successfully.", "Extraction Complete",
                    MB_ICONINFORMATION);
        if (!(SettingsFlags & IsoNoticeHidden))
            DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(IDD_ISO_NOTICE), page, IsoNotice, 0);
    } else {
        MessageBoxA(page,
                    "ISO image extraction has failed! Please check you have available disk space.",
                    "Failed", MB_ICONWARNING);
    }
}

namespace {
// Icons, the OK tooltip and the information icon.
void OnNoticeInit(HWND notice) {
    PostWindowIcons(notice);
    HWND tooltip = CreateTooltipWindow(notice);
    AddTooltip(IDOK, 0, notice, "OK", tooltip);
    SendDlgItemMessageA(notice, IDC_NOTICE_ICON, STM_SETICON,
                        reinterpret_cast<WPARAM>(LoadIconA(nullptr, IDI_INFORMATION)), 0);
}

// OK stores "Do not show this again" when it is checked, then closes the notice.
void OnNoticeOk(HWND notice) {
    if (IsDlgButtonChecked(notice, IDC_DONT_SHOW) == BST_CHECKED) {
        SettingsFlags |= IsoNoticeHidden;
        SaveSettings();
    }
    PostMessageA(notice, WM_CLOSE, 0, 0);
}
}  // namespace

INT_PTR CALLBACK IsoNotice(HWND notice, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        OnNoticeInit(notice);
        return FALSE;
    case WM_COMMAND:
        if (HIWORD(wParam) == 0 && LOWORD(wParam) == IDOK) OnNoticeOk(notice);
        return FALSE;
    case WM_CLOSE:
    case WM_DESTROY:
    case WM_QUERYENDSESSION:
        EndDialog(notice, 0);
        return FALSE;
    default:
        return FALSE;
    }
}
