// The run log's file: opened once at start-up, one WriteFile per line under a lock, so that
// the page and the worker may both write and neither waits for long.
#include <windows.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/data_folder_files.h"
#include "common/run_log.h"
#include "version.h"

namespace {

CRITICAL_SECTION Guard;
HANDLE File = INVALID_HANDLE_VALUE;
DWORD StartTick = 0;
char Path[MAX_PATH + sizeof kRunLogName] = "";

// Keeps only the last kRunLogLimit bytes of an earlier log, from a line start.
void Trim(const char* path) {
    HANDLE file = OpenDataFile(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL);
    if (file == INVALID_HANDLE_VALUE) return;
    LARGE_INTEGER size{};
    char* tail = nullptr;
    if (GetFileSizeEx(file, &size) && size.QuadPart > kRunLogLimit &&
        (tail = static_cast<char*>(std::malloc(kRunLogLimit)))) {
        LARGE_INTEGER from;
        from.QuadPart = size.QuadPart - kRunLogLimit;
        DWORD got = 0;
        if (SetFilePointerEx(file, from, nullptr, FILE_BEGIN) &&
            ReadFile(file, tail, kRunLogLimit, &got, nullptr) && got == kRunLogLimit) {
            const size_t start = KeptLogStart(tail, got);
            DWORD written = 0;
            LARGE_INTEGER zero{};
            if (SetFilePointerEx(file, zero, nullptr, FILE_BEGIN))
                WriteFile(file, tail + start, static_cast<DWORD>(got - start), &written, nullptr);
            SetEndOfFile(file);
        }
        std::free(tail);
    }
    CloseHandle(file);
}

void WriteLine(const char* text) {
    if (File == INVALID_HANDLE_VALUE) return;
    char line[kRunLogLineSize];
    const size_t length =
        FormatLogLine(line, sizeof line, GetTickCount() - StartTick, GetCurrentThreadId(), text);
    EnterCriticalSection(&Guard);
    DWORD written = 0;
    WriteFile(File, line, static_cast<DWORD>(length), &written, nullptr);
    LeaveCriticalSection(&Guard);
}

// "32-bit process on 64-bit Windows" and the like; IsWow64Process exists from XP SP2 on.
const char* Bitness() {
    if (sizeof(void*) == 8) return "64-bit process on 64-bit Windows";
    typedef BOOL(WINAPI * IsWow64ProcessCall)(HANDLE, PBOOL);
    IsWow64ProcessCall isWow64 = reinterpret_cast<IsWow64ProcessCall>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleA("kernel32.dll"), "IsWow64Process")));
    BOOL wow64 = FALSE;
    if (isWow64 && isWow64(GetCurrentProcess(), &wow64) && wow64)
        return "32-bit process on 64-bit Windows";
    return "32-bit process on 32-bit Windows";
}

void LogStart() {
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogEvent("==== Halcyra Creator %s started %04u-%02u-%02u %02u:%02u:%02u ====",
             HALCYRA_VERSION_TEXT, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute,
             now.wSecond);
    OSVERSIONINFOEXA version{};
    version.dwOSVersionInfoSize = sizeof version;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    const BOOL known = GetVersionExA(reinterpret_cast<OSVERSIONINFOA*>(&version));
#pragma GCC diagnostic pop
    if (known)
        LogEvent("Windows %lu.%lu build %lu %s, %s", version.dwMajorVersion,
                 version.dwMinorVersion, version.dwBuildNumber, version.szCSDVersion, Bitness());
}

}  // namespace

void OpenRunLog() {
    InitializeCriticalSection(&Guard);
    StartTick = GetTickCount();
    const char* folder = DataFolder();
    if (!folder[0] || std::strlen(folder) >= MAX_PATH) {
        Path[0] = 0;
        return;
    }
    std::strcpy(Path, folder);
    std::strcat(Path, kRunLogName);
    Trim(Path);
    // Appended, and readable by the user while the program runs.
    File = OpenDataFile(Path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL);
    LogStart();
    LogEvent("%s", DataFolderReport());
}

void LogEvent(const char* format, ...) {
    if (File == INVALID_HANDLE_VALUE) return;
    char text[kRunLogLineSize];
    va_list arguments;
    va_start(arguments, format);
    std::vsnprintf(text, sizeof text, format, arguments);
    va_end(arguments);
    WriteLine(text);
}

void LogFailure(const char* what, unsigned long error) {
    char text[256] = "";
    if (!FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
                        0, text, sizeof text, nullptr))
        text[0] = 0;
    CleanSystemText(text);
    LogEvent("%s failed: error %lu (%s)", what, error, text[0] ? text : "no text");
}

const char* RunLogPath() { return Path; }
