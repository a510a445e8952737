// Runs ImageWriter against a small test page and reports what it did.
//
//   writer_probe.exe --drive E --image C:\path\image.bin [--wizard N] [--download-active]
//                    [--cancel-at-start] [--cancel-after-lines N] [--cancel-on-box N]
//                    [--timeout SECONDS]
//
// The page ("Writer Probe") has the status static 1018 and the progress bar 1019 and closes
// like the progress page: a WM_CLOSE while DownloadActive or WriteActive is set is refused
// (and counted), otherwise the page is destroyed. Posting WM_APP+1 to it cancels like the
// page's confirmed Cancel. Message boxes are answered from HALCYRA_PROBE_ANSWERS (a comma
// list of yes/no/ok/cancel, in order); once it is used up they wait for the UI driver.
// The report, one tab-separated line each, on standard output:
//   box <caption> <icon> <buttons> <owned> <text>     for every message box, in order (the text
//                                                    with backslash, CR, LF and tab escaped)
//   result <0|1>, status <text>, bar <pos>, range <low> <high>, wizard <state>,
//   closed <none|posted|sent>, page <open|gone>, refused <n>,
//   flags <download> <write> <cancel>, lines <n> (progress lines shown),
//   elapsed_ms <n> (the whole call), stream_ms <n> (first to last progress line),
//   lead_ms <n> (start to first line), verify_ms <n> (first to last read-back line),
//   tail_ms <n> (last line to the end of the call)
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/shared_state.h"
#include "res/resource.h"
#include "ui/run_display.h"
#include "write/image_writer.h"

namespace {

constexpr UINT kCancelMessage = WM_APP + 1;
constexpr UINT kDoneMessage = WM_APP + 2;

HWND ProbePage = nullptr;
DWORD MainThread = 0;
WNDPROC StaticProc = nullptr;
WNDPROC BarProc = nullptr;
HHOOK BoxHook = nullptr;

std::vector<std::string> Answers;
size_t NextAnswer = 0;
int CancelAfterLines = -1;
int CancelOnBox = -1;
int BoxCount = 0;

// What the page saw.
std::vector<std::string> BoxLines;
std::string LastStatus = "Verifying";
int LastBar = 0, RangeLow = 0, RangeHigh = 1000;
int WrittenLines = 0, VerifiedLines = 0;
DWORD FirstVerifiedTick = 0, LastVerifiedTick = 0;
int Refused = 0;
const char* ClosedHow = "none";
bool WriterResult = false;
DWORD StartTick = 0, EndTick = 0, FirstLineTick = 0, LastLineTick = 0;

// The page's confirmed Cancel.
void CancelLikeThePage() {
    MarkRunCancelled(ProbePage);
    SetDlgItemTextA(ProbePage, IDC_STATUS, "The Halcyra creation process has been cancelled.");
    WizardState = 2;
    CancelRequested = 1;
    DownloadActive = 0;
    WriteActive = 0;
}

LRESULT CALLBACK StatusProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) {
        LastStatus = reinterpret_cast<const char*>(lParam);
        if (LastStatus.find(" Written (") != std::string::npos) {
            DWORD now = GetTickCount();
            if (++WrittenLines == 1) FirstLineTick = now;
            LastLineTick = now;
            if (WrittenLines == CancelAfterLines) CancelLikeThePage();
        } else if (LastStatus.find(" Verified (") != std::string::npos) {
            DWORD now = GetTickCount();
            if (++VerifiedLines == 1) FirstVerifiedTick = now;
            LastVerifiedTick = now;
        }
    }
    return CallWindowProcA(StaticProc, window, message, wParam, lParam);
}

LRESULT CALLBACK ProgressProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == PBM_SETPOS) LastBar = static_cast<int>(wParam);
    if (message == PBM_SETRANGE) {
        RangeLow = LOWORD(lParam);
        RangeHigh = HIWORD(lParam);
    }
    return CallWindowProcA(BarProc, window, message, wParam, lParam);
}

LRESULT CALLBACK PageProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CLOSE:
        ClosedHow = InSendMessage() ? "sent" : "posted";
        if (DownloadActive || WriteActive) {
            ++Refused;  // the progress page would ask first
            return 0;
        }
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        RunPage = nullptr;
        DetachRunDisplay(window);
        return 0;
    case kRunDisplayMessage:
        ApplyRunDisplay(window);
        return 0;
    case kCancelMessage:
        CancelLikeThePage();
        return 0;
    default:
        return DefWindowProcA(window, message, wParam, lParam);
    }
}

struct IconName {
    LPCSTR id;
    const char* name;
};

// The standard icon a message box shows, found among its static controls.
std::string BoxIcon(HWND box) {
    const IconName icons[] = {{IDI_HAND, "error"}, {IDI_EXCLAMATION, "warning"},
                              {IDI_ASTERISK, "information"}, {IDI_QUESTION, "question"}};
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) != SS_ICON) continue;
        HICON shown = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
        if (!shown) continue;
        for (const IconName& icon : icons)
            if (LoadIconA(nullptr, icon.id) == shown) return icon.name;
        return "other";
    }
    return "none";
}

// The box's text on one line: backslash, CR, LF and tab escaped, as the UI driver sends texts.
std::string BoxText(HWND box) {
    char text[2048] = "";
    if (GetDlgItem(box, 0xFFFF)) GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    std::string out;
    for (const char* c = text; *c; ++c) {
        if (*c == '\\') out += "\\\\";
        else if (*c == '\r') out += "\\r";
        else if (*c == '\n') out += "\\n";
        else if (*c == '\t') out += "\\t";
        else out += *c;
    }
    return out;
}

int AnswerId(const std::string& answer) {
    if (answer == "yes") return IDYES;
    if (answer == "no") return IDNO;
    if (answer == "cancel") return IDCANCEL;
    return IDOK;
}

// Records each message box of the writer's thread as it opens, and answers it when the
// script has an answer left.
LRESULT CALLBACK BoxWatch(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE) {
        HWND box = reinterpret_cast<HWND>(wParam);
        char className[32] = "";
        GetClassNameA(box, className, sizeof className);
        if (std::strcmp(className, "#32770") == 0 && !GetPropA(box, "probe.seen")) {
            SetPropA(box, "probe.seen", reinterpret_cast<HANDLE>(1));
            char caption[256] = "";
            GetWindowTextA(box, caption, sizeof caption);
            std::string buttons;
            const struct { int id; const char* name; } kinds[] = {
                {IDOK, "ok"}, {IDYES, "yes"}, {IDNO, "no"}, {IDCANCEL, "cancel"}};
            for (const auto& kind : kinds)
                if (GetDlgItem(box, kind.id)) buttons += buttons.empty() ? kind.name : std::string("+") + kind.name;
            bool owned = GetWindow(box, GW_OWNER) == ProbePage;
            BoxLines.push_back(std::string("box\t") + caption + "\t" + BoxIcon(box) + "\t" + buttons +
                               "\t" + (owned ? "1" : "0") + "\t" + BoxText(box));
            std::printf("%s\n", BoxLines.back().c_str());
            std::fflush(stdout);
            if (++BoxCount == CancelOnBox) SendMessageA(ProbePage, kCancelMessage, 0, 0);
            if (NextAnswer < Answers.size()) {
                int id = AnswerId(Answers[NextAnswer++]);
                PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                             reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
            }
        }
    }
    return CallNextHookEx(BoxHook, code, wParam, lParam);
}

DWORD WINAPI WriterThread(void*) {
    BoxHook = SetWindowsHookExA(WH_CBT, BoxWatch, nullptr, GetCurrentThreadId());
    StartTick = GetTickCount();
    // The image opened once, as the program's worker opens it.
    WriterImage image{};
    HANDLE file = CreateFileA(ImagePath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file != INVALID_HANDLE_VALUE) image.handle = file;
    WriterResult = ImageWriter(&image) == WriterEnding::Success;
    if (image.handle) CloseHandle(file);
    EndTick = GetTickCount();
    UnhookWindowsHookEx(BoxHook);
    PostThreadMessageA(MainThread, kDoneMessage, 0, 0);
    return 0;
}

void SplitAnswers(const char* list) {
    std::string item;
    for (const char* p = list; ; ++p) {
        if (*p == ',' || *p == '\0') {
            if (!item.empty()) Answers.push_back(item);
            item.clear();
            if (*p == '\0') break;
        } else {
            item += *p;
        }
    }
}

HWND CreateProbePage() {
    WNDCLASSA page{};
    page.lpfnWndProc = PageProc;
    page.hInstance = GetModuleHandleA(nullptr);
    page.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
    page.lpszClassName = "WriterProbePage";
    RegisterClassA(&page);
    HWND window = CreateWindowA("WriterProbePage", "Writer Probe", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_VISIBLE,
                                40, 40, 480, 180, nullptr, nullptr, page.hInstance, nullptr);
    HWND bar = CreateWindowA(PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | PBS_SMOOTH,
                             15, 20, 440, 40, window, reinterpret_cast<HMENU>(IDC_PROGRESS_BAR),
                             page.hInstance, nullptr);
    HWND status = CreateWindowA("STATIC", "Verifying", WS_CHILD | WS_VISIBLE | SS_CENTER, 15, 80, 440, 20,
                                window, reinterpret_cast<HMENU>(IDC_STATUS), page.hInstance, nullptr);
    SendMessageA(bar, PBM_SETRANGE, 0, MAKELPARAM(0, 1000));
    StaticProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(status, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(StatusProc)));
    BarProc = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(bar, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ProgressProc)));
    return window;
}

}  // namespace

int main(int argc, char** argv) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&controls);
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    ScratchText = static_cast<char*>(std::calloc(kScratchTextSize, 1));
    ImagePath = static_cast<char*>(std::calloc(kImagePathSize, 1));
    int timeoutSeconds = 120;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : "";
        if (arg == "--drive") TargetDrive = value[0], ++i;
        else if (arg == "--image") std::snprintf(ImagePath, kImagePathSize, "%s", value), ++i;
        else if (arg == "--wizard") WizardState = std::atoi(value), ++i;
        else if (arg == "--download-active") DownloadActive = 1;
        else if (arg == "--cancel-at-start") CancelRequested = 1;
        else if (arg == "--cancel-after-lines") CancelAfterLines = std::atoi(value), ++i;
        else if (arg == "--cancel-on-box") CancelOnBox = std::atoi(value), ++i;
        else if (arg == "--timeout") timeoutSeconds = std::atoi(value), ++i;
    }
    if (const char* script = std::getenv("HALCYRA_PROBE_ANSWERS")) SplitAnswers(script);
    TargetIdentity = IdentifyDrive(TargetDrive);  // chosen now, as the drive page's Create does

    MainThread = GetCurrentThreadId();
    ProbePage = CreateProbePage();
    CurrentPage = ProbePage;
    AttachRunDisplay(ProbePage);
    RunPage = ProbePage;
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);  // the thread's queue, for kDoneMessage
    HANDLE worker = CreateThread(nullptr, 0, WriterThread, nullptr, 0, nullptr);

    UINT_PTR timer = SetTimer(nullptr, 0, static_cast<UINT>(timeoutSeconds) * 1000, nullptr);
    bool done = false, timedOut = false;
    while (!done && GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (message.hwnd == nullptr && message.message == kDoneMessage) done = true;
        else if (message.message == WM_TIMER && message.wParam == timer) timedOut = done = true;
        else {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    if (timedOut) {
        std::printf("timeout\n");
        std::fflush(stdout);
        return 3;
    }
    // Let a posted WM_CLOSE arrive before the report.
    DWORD until = GetTickCount() + 300;
    while (GetTickCount() < until) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
    WaitForSingleObject(worker, INFINITE);

    std::printf("result\t%d\n", WriterResult ? 1 : 0);
    std::printf("status\t%s\n", LastStatus.c_str());
    std::printf("bar\t%d\n", LastBar);
    std::printf("range\t%d %d\n", RangeLow, RangeHigh);
    std::printf("wizard\t%d\n", static_cast<int>(WizardState));
    std::printf("closed\t%s\n", ClosedHow);
    std::printf("page\t%s\n", IsWindow(ProbePage) ? "open" : "gone");
    std::printf("refused\t%d\n", Refused);
    std::printf("flags\t%d %d %d\n", DownloadActive.load(), WriteActive.load(), CancelRequested.load());
    std::printf("lines\t%d\n", WrittenLines);
    std::printf("elapsed_ms\t%lu\n", EndTick - StartTick);
    std::printf("stream_ms\t%lu\n", LastLineTick - FirstLineTick);
    std::printf("lead_ms\t%lu\n", WrittenLines ? FirstLineTick - StartTick : 0);
    std::printf("verify_ms\t%lu\n", LastVerifiedTick - FirstVerifiedTick);
    std::printf("tail_ms\t%lu\n", VerifiedLines ? EndTick - LastVerifiedTick
                                   : WrittenLines ? EndTick - LastLineTick : 0);
    return 0;
}
