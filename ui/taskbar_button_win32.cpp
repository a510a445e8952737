#include "ui/taskbar_button.h"

#include <shobjidl.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/shared_state.h"

namespace {

ITaskbarList3* Taskbar = nullptr;  // while the page holds the button
HWND Window = nullptr;
TaskbarProgress Latest = {TaskbarMode::None, 0, 0};  // what the page wants shown
TaskbarProgress Shown = {TaskbarMode::None, 0, 0};   // what the button was told

UINT ButtonCreatedMessage() {
    static const UINT message = RegisterWindowMessageA("TaskbarButtonCreated");
    return message;
}

// One line per call on the interface, for the tests.
__attribute__((format(printf, 1, 2))) void Log(const char* format, ...) {
    const char* path = AdminSettings.taskbarLog;
    if (!*path) return;
    if (FILE* file = fopen(path, "a")) {
        va_list arguments;
        va_start(arguments, format);
        vfprintf(file, format, arguments);
        va_end(arguments);
        fputc('\n', file);
        fclose(file);
    }
}

const char* ModeName(TaskbarMode mode) {
    switch (mode) {
    case TaskbarMode::Indeterminate: return "indeterminate";
    case TaskbarMode::Normal: return "normal";
    case TaskbarMode::Error: return "error";
    default: return "none";
    }
}

TBPFLAG Flag(TaskbarMode mode) {
    switch (mode) {
    case TaskbarMode::Indeterminate: return TBPF_INDETERMINATE;
    case TaskbarMode::Normal: return TBPF_NORMAL;
    case TaskbarMode::Error: return TBPF_ERROR;
    default: return TBPF_NOPROGRESS;
    }
}

// The state first: a value set in the error state keeps it red.
void Send(const TaskbarProgress& progress, bool always) {
    if (!Taskbar) return;
    if (always || progress.mode != Shown.mode) {
        Taskbar->SetProgressState(Window, Flag(progress.mode));
        Log("state %s", ModeName(progress.mode));
    }
    const bool counts = progress.mode == TaskbarMode::Normal || progress.mode == TaskbarMode::Error;
    if (counts && (always || progress != Shown)) {
        Taskbar->SetProgressValue(Window, progress.completed, progress.total);
        Log("value %u %u", progress.completed, progress.total);
    }
    Shown = progress;
}

// The interface, or nothing on systems before Windows 7 (no ITaskbarList3) and where the
// shell has none. COM stays initialized on the page's thread until the process ends.
void Create() {
    if (Taskbar) return;
    if (AdminSettings.taskbarUnavailable != 1) {
        // S_FALSE, or COM already set up otherwise on this thread, still lets the call work.
        static const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        (void)com;
        void* object = nullptr;
        if (SUCCEEDED(CoCreateInstance(CLSID_TaskbarList, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_ITaskbarList3, &object)) &&
            object) {
            Taskbar = static_cast<ITaskbarList3*>(object);
            if (FAILED(Taskbar->HrInit())) {
                Taskbar->Release();
                Taskbar = nullptr;
            }
        }
    }
    Log(Taskbar ? "ready" : "unavailable");
}

}  // namespace

void BeginTaskbarProgress(HWND window) {
    Window = window;
    Latest = Shown = TaskbarProgress{TaskbarMode::None, 0, 0};
    // The program runs elevated, and the message comes from the shell, which does not: it has
    // to be let through (Windows 7 and later; looked up, since older systems lack it).
    using Filter = BOOL(WINAPI*)(HWND, UINT, DWORD, void*);
    if (auto allow = reinterpret_cast<Filter>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("user32.dll"), "ChangeWindowMessageFilterEx"))))
        allow(window, ButtonCreatedMessage(), 1 /* MSGFLT_ALLOW */, nullptr);
    Create();
}

bool IsTaskbarButtonCreated(UINT message) { return message == ButtonCreatedMessage(); }

void OnTaskbarButtonCreated(HWND window) {
    if (window != Window) return;
    Log("button created");
    Create();
    // What was sent before the button existed went nowhere.
    Send(Latest, true);
}

void ShowTaskbarProgress(HWND window, const TaskbarProgress& progress) {
    if (window != Window) return;
    Latest = progress;
    Send(progress, false);
}

void EndTaskbarProgress(HWND window) {
    if (window != Window) return;
    if (Taskbar) {
        Send(TaskbarProgress{TaskbarMode::None, 0, 0}, true);
        Taskbar->Release();
        Taskbar = nullptr;
        Log("released");
    }
    Window = nullptr;
}
