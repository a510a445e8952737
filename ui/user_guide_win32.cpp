// The "User Guide" command: writes the embedded guide into the temporary directory and opens
// it with the HTML Help control, loaded at run time from the system folder.
#include "ui/user_guide.h"

#include <cstdlib>
#include <cstring>

#include "common/data_folder_files.h"
#include "common/shared_state.h"
#include "common/system_library.h"
#include "res/resource.h"
#include "ui/embedded_file.h"

namespace {
typedef HWND(WINAPI* HtmlHelpProc)(HWND caller, const char* file, UINT command, DWORD_PTR data);

const char kGuideTitle[] = "Halcyra Creator User Guide";
constexpr UINT HH_DISPLAY_TOC_COMMAND = 1;

HMODULE HtmlHelpModule = nullptr;
HtmlHelpProc HtmlHelpEntry = nullptr;
bool HtmlHelpFailed = false;

const void* UserGuideData(DWORD* size) {
    *size = 0;
    HRSRC found = FindResourceA(AppInstance, MAKEINTRESOURCEA(IDR_USER_GUIDE), RT_RCDATA);
    if (!found) return nullptr;
    HGLOBAL loaded = LoadResource(AppInstance, found);
    *size = SizeofResource(AppInstance, found);
    return loaded ? LockResource(loaded) : nullptr;
}
}  // namespace

HWND OpenHtmlHelp(HWND caller, const char* file, UINT command, DWORD_PTR data) {
    if (HtmlHelpFailed) return nullptr;
    if (!HtmlHelpModule) {
        // From the system folder only. Neither the search order (the program's folder first)
        // nor the control's registration chooses the file: HKEY_CLASSES_ROOT shows the user's
        // own HKEY_CURRENT_USER\Software\Classes first, which any program of the user can write.
        HtmlHelpModule = LoadSystemLibrary("hhctrl.ocx");
        if (!HtmlHelpModule) {
            HtmlHelpFailed = true;
            return nullptr;
        }
    }
    if (!HtmlHelpEntry) {
        HtmlHelpEntry = SystemFunction<HtmlHelpProc>(HtmlHelpModule, MAKEINTRESOURCEA(14));
        if (!HtmlHelpEntry) {
            HtmlHelpFailed = true;
            return nullptr;
        }
    }
    return HtmlHelpEntry(caller, file, command, data);
}

void OpenUserGuide(HWND page) {
    char* path = static_cast<char*>(malloc(4096));
    if (!path) {
        MessageBoxA(page, "Insufficient memory to load help", "Out of Memory",
                    MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
        return;
    }
    // The guide is written into the folder of the run's files; without one (or with one whose
    // path doesn't fit) there is nothing to open.
    const size_t length = strlen(DataFolder());
    if (length == 0 || length >= 1024) {
        free(path);
        return;
    }
    strcpy(path, DataFolder());
    strcpy(path + length, "userguide.chm");
    DWORD size = 0;
    const void* data = UserGuideData(&size);
    // A link planted under the guide's name is replaced by a file of the program's own first.
    HANDLE own = OpenDataFile(path, GENERIC_WRITE, FILE_SHARE_READ, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL);
    if (own != INVALID_HANDLE_VALUE) CloseHandle(own);
    if (data) WriteEmbeddedFile(data, size, path, IsWindows2000 ? 0 : kEmbeddedPieceSize);
    // One guide window at a time: an open one is left as it is.
    if (!FindWindowExA(GetDesktopWindow(), nullptr, nullptr, kGuideTitle))
        OpenHtmlHelp(GetDesktopWindow(), path, HH_DISPLAY_TOC_COMMAND, 0);
    free(path);
}
