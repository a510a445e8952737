// Licence agreement screen (template 136): shows the agreement, Accept or Decline.
#include "common/shared_state.h"

#include <richedit.h>

#include <cstdio>
#include <cstring>

#include "common/system_library.h"
#include "res/resource.h"
#include "ui/page_chrome.h"
#include "wizard/agreement_layout.h"
#include "wizard/agreement_print.h"
#include "wizard/page_flow.h"
#include "wizard/screens.h"

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

// Asks for a file and writes the agreement block into it, byte for byte.
void OnSave(HWND screen) {
    char* filter = ScratchText + 1000;
    snprintf(filter, 1000, "Rich Text Files%c*.rtf%cAll Files%c*.*%c%c", 0, 0, 0, 0, 0);
    strcpy(ScratchText, "Halcyra_License.rtf");
    if (!AskForSaveFile(screen, ScratchText, filter, "Please select where to save file", "rtf"))
        return;

    if (FILE* existing = fopen(ScratchText, "rb")) {
        fclose(existing);
        const size_t pathLength = strlen(ScratchText);
        strcat(ScratchText, " already exists!\r\nDo you wish to overwrite the file?");
        if (MessageBoxA(nullptr, ScratchText, "File already exists",
                        MB_SETFOREGROUND | MB_ICONWARNING | MB_YESNO) == IDNO)
            return;
        ScratchText[pathLength] = 0;
    }
    FILE* file = fopen(ScratchText, "wb+");
    if (!file) {
        MessageBoxA(screen, "An error occured saving the file.", "File Error",
                    MB_SETFOREGROUND | MB_ICONWARNING);
        return;
    }
    DWORD size = 0;
    const char* block = AgreementText(&size);
    const bool written = fwrite(block, 1, size, file) == size;
    const bool closed = fclose(file) == 0;
    // A short write (a full disk) is reported instead of claiming success.
    if (!written || !closed) {
        MessageBoxA(screen, "An error occured saving the file.", "File Error",
                    MB_SETFOREGROUND | MB_ICONWARNING);
        return;
    }
    MessageBoxA(nullptr, "License file has been created successfully.", "License file created",
                MB_ICONINFORMATION);
}

// Prints the agreement as plain text, one rich edit line per printed line, in each copy.
void OnPrint(HWND screen) {
    PRINTDLGA dialog = {};
    dialog.lStructSize = sizeof(dialog);
    dialog.Flags = PD_RETURNDC | PD_NOPAGENUMS | PD_NOSELECTION | PD_HIDEPRINTTOFILE;
    dialog.nMinPage = 1;
    dialog.nMaxPage = 1;
    dialog.nCopies = 1;
    // The dialog needs the spooler's library, which is not a KnownDLL: loaded from the system
    // folder first, the dialog finds it loaded instead of searching for it by name.
    LoadSystemLibrary("winspool.drv");
    const auto choose = SystemFunction<decltype(&PrintDlgA)>(LoadSystemLibrary("comdlg32.dll"),
                                                             "PrintDlgA");
    const BOOL chosen = choose ? choose(&dialog) : FALSE;
    // The dialog hands back its printer settings in two memory blocks that are ours to free.
    if (dialog.hDevMode) GlobalFree(dialog.hDevMode);
    if (dialog.hDevNames) GlobalFree(dialog.hDevNames);
    if (!chosen) return;
    HDC printer = dialog.hDC;
    DOCINFOA document = {};
    document.cbSize = sizeof(document);
    document.lpszDocName = "Halcyra Creator";
    const int width = GetDeviceCaps(printer, PHYSICALWIDTH);
    const int height = GetDeviceCaps(printer, PHYSICALHEIGHT);
    const int offsetX = GetDeviceCaps(printer, PHYSICALOFFSETX);
    const int offsetY = GetDeviceCaps(printer, PHYSICALOFFSETY);
    HFONT font = CreateFontA(0, PrintFontWidth(width, offsetX), 0, 0, FW_THIN, FALSE, FALSE,
                             FALSE, ANSI_CHARSET, 0, 0, 0, 0, "Arial");
    HGDIOBJ oldFont = SelectObject(printer, font);
    TEXTMETRICA metrics = {};
    GetTextMetricsA(printer, &metrics);
    const int advance = metrics.tmHeight + metrics.tmExternalLeading;

    HWND text = GetDlgItem(screen, IDC_AGREEMENT_EDIT);
    const int lineCount = static_cast<int>(SendMessageA(text, EM_GETLINECOUNT, 0, 0));
    const std::vector<PrintedLine> plan = PlanPrintedLines(lineCount, advance, height, offsetY);
    StartDocA(printer, &document);
    for (int copy = 0; copy < dialog.nCopies; ++copy) {
        StartPage(printer);
        for (int line = 0; line < lineCount; ++line) {
            if (line > 0 && plan[line].page != plan[line - 1].page) {
                EndPage(printer);
                StartPage(printer);
            }
            *reinterpret_cast<WORD*>(ScratchText) = static_cast<WORD>(kScratchTextSize - 1);
            const int length = static_cast<int>(
                SendMessageA(text, EM_GETLINE, line, reinterpret_cast<LPARAM>(ScratchText)));
            RECT area = {offsetX, plan[line].top, width - 4 * offsetX, height};
            DrawTextA(printer, ScratchText, length, &area, DT_VCENTER);
        }
        EndPage(printer);
    }
    EndDoc(printer);
    SelectObject(printer, oldFont);
    DeleteObject(font);
    DeleteDC(printer);
}

// Accept and Decline change the option word in memory; start-up stores it.
void OnCommand(HWND screen, int id) {
    if (id == IDC_SAVE_AGREEMENT) {
        OnSave(screen);
        return;
    }
    if (id == IDC_PRINT_AGREEMENT) {
        OnPrint(screen);
        return;
    }
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
