// UI driver for the tests under Wine: reads one command per line on standard input
// (fields separated by tabs) and answers one line, "ok <result>" or "err <reason>".
// It finds the program's windows, reads and presses their controls, answers message boxes
// and reads and writes the registry of the prefix.
#include <windows.h>

#include <commctrl.h>
#include <dbt.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& line) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (;;) {
        size_t tab = line.find('\t', start);
        fields.push_back(line.substr(start, tab == std::string::npos ? std::string::npos : tab - start));
        if (tab == std::string::npos) break;
        start = tab + 1;
    }
    return fields;
}

// Texts travel on one line: backslash, CR, LF and the list separator are escaped.
std::string Escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\') out += "\\\\";
        else if (c == '\r') out += "\\r";
        else if (c == '\n') out += "\\n";
        else if (c == '\t') out += "\\t";
        else out += c;
    }
    return out;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) return {};
    int size = WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, &out[0], size, nullptr, nullptr);
    return out;
}

HWND ParseWindow(const std::string& field) {
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(strtoull(field.c_str(), nullptr, 10)));
}

std::string WindowId(HWND window) {
    return std::to_string(reinterpret_cast<uintptr_t>(window));
}

// Window texts are read with the W messages: the A forms come back garbled across processes.
std::string WindowText(HWND window) {
    wchar_t buffer[8192];
    buffer[0] = 0;
    DWORD_PTR ignored;
    SendMessageTimeoutW(window, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(buffer), SMTO_BLOCK,
                        5000, &ignored);
    return Narrow(buffer);
}

std::string ClassName(HWND window) {
    char name[256] = "";
    GetClassNameA(window, name, sizeof(name));
    return name;
}

struct FindRequest {
    std::string caption;
    int control;
    std::string className;
    HWND found;
};

BOOL CALLBACK FindTopLevel(HWND window, LPARAM data) {
    FindRequest& request = *reinterpret_cast<FindRequest*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    if (!request.className.empty() && ClassName(window) != request.className) return TRUE;
    if (WindowText(window) != request.caption) return TRUE;
    if (request.control != 0 && GetDlgItem(window, request.control) == nullptr) return TRUE;
    request.found = window;
    return FALSE;
}

HWND FindWindowOf(const std::string& caption, int control, const std::string& className,
                  int timeoutMs) {
    DWORD start = GetTickCount();
    for (;;) {
        FindRequest request{caption, control, className, nullptr};
        EnumWindows(FindTopLevel, reinterpret_cast<LPARAM>(&request));
        if (request.found) return request.found;
        if (static_cast<int>(GetTickCount() - start) >= timeoutMs) return nullptr;
        Sleep(50);
    }
}

BOOL CALLBACK ListTopLevel(HWND window, LPARAM data) {
    std::string& out = *reinterpret_cast<std::string*>(data);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process == GetCurrentProcessId() || !IsWindowVisible(window)) return TRUE;
    out += WindowId(window) + "|" + ClassName(window) + "|" + WindowText(window) + "\x1f";
    return TRUE;
}

BOOL CALLBACK ListChildren(HWND window, LPARAM data) {
    std::string& out = *reinterpret_cast<std::string*>(data);
    out += std::to_string(GetDlgCtrlID(window)) + "|" + ClassName(window) + "|" +
           WindowText(window) + "|" + (IsWindowVisible(window) ? "visible" : "hidden") + "|" +
           (IsWindowEnabled(window) ? "enabled" : "disabled") + "\x1f";
    return TRUE;
}

// The text of a message box: its static text control (id 0xFFFF), or else the longest static.
std::string MessageBoxText(HWND box) {
    HWND text = GetDlgItem(box, 0xFFFF);
    if (text) return WindowText(text);
    std::string best;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        if (ClassName(child) == "Static") {
            std::string candidate = WindowText(child);
            if (candidate.size() > best.size()) best = candidate;
        }
    return best;
}

HKEY RootKey(const std::string& name) {
    if (name == "HKLM") return HKEY_LOCAL_MACHINE;
    if (name == "HKCU") return HKEY_CURRENT_USER;
    if (name == "HKCR") return HKEY_CLASSES_ROOT;
    return nullptr;
}

std::string Hex(const unsigned char* data, DWORD size) {
    static const char digits[] = "0123456789abcdef";
    std::string out;
    for (DWORD i = 0; i < size; ++i) {
        out += digits[data[i] >> 4];
        out += digits[data[i] & 15];
    }
    return out;
}

std::vector<unsigned char> Unhex(const std::string& hex) {
    std::vector<unsigned char> out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(static_cast<unsigned char>(strtoul(hex.substr(i, 2).c_str(), nullptr, 16)));
    return out;
}

int AnswerId(const std::string& answer) {
    if (answer == "yes") return IDYES;
    if (answer == "no") return IDNO;
    if (answer == "ok") return IDOK;
    if (answer == "cancel") return IDCANCEL;
    return atoi(answer.c_str());
}

std::string Run(const std::vector<std::string>& f) {
    const std::string& command = f[0];
    auto arg = [&](size_t i) -> const std::string& {
        static const std::string empty;
        return i < f.size() ? f[i] : empty;
    };
    auto control = [&](size_t windowField, size_t idField) {
        return GetDlgItem(ParseWindow(arg(windowField)), atoi(arg(idField).c_str()));
    };
    if (command == "wait_window") {  // caption, control id or 0, timeout ms
        HWND found = FindWindowOf(arg(1), atoi(arg(2).c_str()), "", atoi(arg(3).c_str()));
        return found ? "ok " + WindowId(found) : "err timeout";
    }
    if (command == "wait_message_box") {  // caption, timeout ms
        HWND found = FindWindowOf(arg(1), 0, "#32770", atoi(arg(2).c_str()));
        return found ? "ok " + WindowId(found) : "err timeout";
    }
    if (command == "wait_gone") {  // window, timeout ms
        HWND window = ParseWindow(arg(1));
        DWORD start = GetTickCount();
        while (IsWindow(window) && IsWindowVisible(window)) {
            if (static_cast<int>(GetTickCount() - start) >= atoi(arg(2).c_str())) return "err timeout";
            Sleep(50);
        }
        return "ok";
    }
    if (command == "exists") return IsWindow(ParseWindow(arg(1))) ? "ok 1" : "ok 0";
    if (command == "windows") {
        std::string out;
        EnumWindows(ListTopLevel, reinterpret_cast<LPARAM>(&out));
        return "ok " + Escape(out);
    }
    if (command == "children") {
        std::string out;
        EnumChildWindows(ParseWindow(arg(1)), ListChildren, reinterpret_cast<LPARAM>(&out));
        return "ok " + Escape(out);
    }
    if (command == "window_text") return "ok " + Escape(WindowText(ParseWindow(arg(1))));
    if (command == "message_text") return "ok " + Escape(MessageBoxText(ParseWindow(arg(1))));
    if (command == "rect") {
        RECT r;
        if (!GetWindowRect(ParseWindow(arg(1)), &r)) return "err no window";
        return "ok " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
               std::to_string(r.right) + " " + std::to_string(r.bottom);
    }
    if (command == "control_rect") {  // window, control id -> screen rectangle
        HWND c = control(1, 2);
        RECT r;
        if (!c || !GetWindowRect(c, &r)) return "err no control";
        return "ok " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
               std::to_string(r.right) + " " + std::to_string(r.bottom);
    }
    if (command == "client_rect") {  // window -> screen rectangle of its client area
        HWND window = ParseWindow(arg(1));
        RECT r;
        POINT origin = {0, 0};
        if (!GetClientRect(window, &r) || !ClientToScreen(window, &origin)) return "err no window";
        return "ok " + std::to_string(origin.x) + " " + std::to_string(origin.y) + " " +
               std::to_string(origin.x + r.right) + " " + std::to_string(origin.y + r.bottom);
    }
    if (command == "tooltip") {  // text of the visible tooltip window, if any
        HWND tip = nullptr;
        while ((tip = FindWindowExW(nullptr, tip, L"tooltips_class32", nullptr)) != nullptr)
            if (IsWindowVisible(tip)) return "ok " + Escape(WindowText(tip));
        return "err no tooltip";
    }
    if (command == "text") {
        HWND c = control(1, 2);
        return c ? "ok " + Escape(WindowText(c)) : "err no control";
    }
    if (command == "set_text_wide") {  // window, control id, hex of the UTF-16LE text
        HWND c = control(1, 2);
        if (!c) return "err no control";
        std::vector<unsigned char> bytes = Unhex(arg(3));
        std::wstring wide(bytes.size() / 2, L'\0');
        for (size_t i = 0; i < wide.size(); ++i)
            wide[i] = static_cast<wchar_t>(bytes[2 * i] | bytes[2 * i + 1] << 8);
        DWORD_PTR ignored;
        SendMessageTimeoutW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), SMTO_BLOCK,
                            5000, &ignored);
        return "ok";
    }
    if (command == "set_text") {  // window, control id, text
        HWND c = control(1, 2);
        if (!c) return "err no control";
        int size = MultiByteToWideChar(CP_ACP, 0, arg(3).c_str(), -1, nullptr, 0);
        std::wstring wide(size, L'\0');
        MultiByteToWideChar(CP_ACP, 0, arg(3).c_str(), -1, &wide[0], size);
        DWORD_PTR ignored;
        SendMessageTimeoutW(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()), SMTO_BLOCK,
                            5000, &ignored);
        return "ok";
    }
    if (command == "enabled" || command == "visible" || command == "checked") {
        HWND c = control(1, 2);
        if (!c) return "err no control";
        if (command == "enabled") return IsWindowEnabled(c) ? "ok 1" : "ok 0";
        if (command == "visible") return IsWindowVisible(c) ? "ok 1" : "ok 0";
        return "ok " + std::to_string(SendMessageW(c, BM_GETCHECK, 0, 0));
    }
    if (command == "click") {  // posted, so that a modal box it opens doesn't block the driver
        HWND c = control(1, 2);
        if (!c) return "err no control";
        PostMessageW(c, BM_CLICK, 0, 0);
        return "ok";
    }
    if (command == "command") {  // WM_COMMAND as the dialog manager sends it for Enter and Esc
        PostMessageW(ParseWindow(arg(1)), WM_COMMAND, MAKEWPARAM(atoi(arg(2).c_str()), 0), 0);
        return "ok";
    }
    if (command == "post") {  // window, message, wParam, lParam
        PostMessageW(ParseWindow(arg(1)), static_cast<UINT>(strtoul(arg(2).c_str(), nullptr, 0)),
                     static_cast<WPARAM>(strtoull(arg(3).c_str(), nullptr, 0)),
                     static_cast<LPARAM>(strtoll(arg(4).c_str(), nullptr, 0)));
        return "ok";
    }
    if (command == "send") {  // window, message, wParam, lParam -> the message's result
        DWORD_PTR result = 0;
        if (!SendMessageTimeoutW(ParseWindow(arg(1)),
                                 static_cast<UINT>(strtoul(arg(2).c_str(), nullptr, 0)),
                                 static_cast<WPARAM>(strtoull(arg(3).c_str(), nullptr, 0)),
                                 static_cast<LPARAM>(strtoll(arg(4).c_str(), nullptr, 0)),
                                 SMTO_NORMAL, 10000, &result))
            return "err no answer";
        return "ok " + std::to_string(static_cast<long long>(result));
    }
    if (command == "register") {  // name -> the registered window message of that name
        return "ok " + std::to_string(RegisterWindowMessageA(arg(1).c_str()));
    }
    if (command == "close") {  // the close box's command
        PostMessageW(ParseWindow(arg(1)), WM_SYSCOMMAND, SC_CLOSE, 0);
        return "ok";
    }
    if (command == "answer") {  // message box, yes/no/ok/cancel
        HWND box = ParseWindow(arg(1));
        HWND button = GetDlgItem(box, AnswerId(arg(2)));
        if (!button) return "err no such button";
        PostMessageW(button, BM_CLICK, 0, 0);
        return "ok";
    }
    if (command == "combo_items") {
        HWND c = control(1, 2);
        if (!c) return "err no control";
        // The page may rescan while the lines are read: a line that went (or grew) meanwhile
        // makes the whole list be read again.
        for (int attempt = 0; attempt < 20; ++attempt) {
            std::string out;
            bool whole = true;
            LRESULT count = SendMessageW(c, CB_GETCOUNT, 0, 0);
            for (LRESULT i = 0; i < count && whole; ++i) {
                LRESULT length = SendMessageW(c, CB_GETLBTEXTLEN, i, 0);
                if (length < 0 || length > 1000) {
                    whole = false;
                    break;
                }
                std::wstring item(1024, L'\0');
                LRESULT got = SendMessageW(c, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(&item[0]));
                if (got < 0 || got > 1000) {
                    whole = false;
                    break;
                }
                item.resize(static_cast<size_t>(got));
                out += Narrow(item) + "\x1f";
            }
            if (whole) return "ok " + Escape(out);
            Sleep(50);
        }
        return "err the list kept changing";
    }
    if (command == "combo_selection") {
        HWND c = control(1, 2);
        return c ? "ok " + std::to_string(SendMessageW(c, CB_GETCURSEL, 0, 0)) : "err no control";
    }
    if (command == "combo_select") {  // window, id, index: as the user picks a line
        HWND page = ParseWindow(arg(1));
        int id = atoi(arg(2).c_str());
        HWND c = GetDlgItem(page, id);
        if (!c) return "err no control";
        SendMessageW(c, CB_SETCURSEL, atoi(arg(3).c_str()), 0);
        PostMessageW(page, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(c));
        return "ok";
    }
    if (command == "progress") {
        HWND c = control(1, 2);
        return c ? "ok " + std::to_string(SendMessageW(c, PBM_GETPOS, 0, 0)) : "err no control";
    }
    if (command == "ping") {  // how long the window takes to answer a message, in ms
        DWORD_PTR ignored;
        DWORD start = GetTickCount();
        if (!SendMessageTimeoutW(ParseWindow(arg(1)), WM_NULL, 0, 0, SMTO_BLOCK,
                                 atoi(arg(2).c_str()), &ignored))
            return "err no answer";
        return "ok " + std::to_string(GetTickCount() - start);
    }
    if (command == "volume_notice") {  // arrival|removal, drive letters
        // As the system announces a volume: sent to every top-level window, with a unit mask
        // naming the letters. (Wine's BroadcastSystemMessage doesn't carry the structure.)
        DEV_BROADCAST_VOLUME volume = {};
        volume.dbcv_size = sizeof(volume);
        volume.dbcv_devicetype = DBT_DEVTYP_VOLUME;
        for (char letter : arg(2)) volume.dbcv_unitmask |= 1u << ((letter | 0x20) - 'a');
        const WPARAM event = arg(1) == "arrival" ? DBT_DEVICEARRIVAL : DBT_DEVICEREMOVECOMPLETE;
        DWORD_PTR ignored;
        if (!SendMessageTimeoutA(HWND_BROADCAST, WM_DEVICECHANGE, event,
                                 reinterpret_cast<LPARAM>(&volume), SMTO_ABORTIFHUNG, 5000,
                                 &ignored))
            return "err broadcast failed";
        return "ok";
    }
    if (command == "reg_get") {  // root, key, value -> "type hex"
        HKEY key;
        if (RegOpenKeyExA(RootKey(arg(1)), arg(2).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
            return "err no key";
        unsigned char data[4096];
        DWORD size = sizeof(data), type = 0;
        LONG result = RegQueryValueExA(key, arg(3).c_str(), nullptr, &type, data, &size);
        RegCloseKey(key);
        if (result != ERROR_SUCCESS) return "err no value";
        return "ok " + std::to_string(type) + " " + Hex(data, size);
    }
    if (command == "reg_set") {  // root, key, value, type, hex data
        HKEY key;
        if (RegCreateKeyExA(RootKey(arg(1)), arg(2).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            return "err no key";
        std::vector<unsigned char> data = Unhex(arg(5));
        LONG result = RegSetValueExA(key, arg(3).c_str(), 0, atoi(arg(4).c_str()),
                                     data.empty() ? nullptr : data.data(),
                                     static_cast<DWORD>(data.size()));
        RegCloseKey(key);
        return result == ERROR_SUCCESS ? "ok" : "err set failed";
    }
    if (command == "reg_set_wide") {  // root, key, value, type, hex data (UTF-16LE for strings)
        HKEY key;
        if (RegCreateKeyExA(RootKey(arg(1)), arg(2).c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            return "err no key";
        std::vector<unsigned char> data = Unhex(arg(5));
        std::wstring name(arg(3).begin(), arg(3).end());
        LONG result = RegSetValueExW(key, name.c_str(), 0, atoi(arg(4).c_str()),
                                     data.empty() ? nullptr : data.data(),
                                     static_cast<DWORD>(data.size()));
        RegCloseKey(key);
        return result == ERROR_SUCCESS ? "ok" : "err set failed";
    }
    if (command == "reg_delete_key") {  // root, key
        LONG result = RegDeleteKeyA(RootKey(arg(1)), arg(2).c_str());
        return (result == ERROR_SUCCESS || result == ERROR_FILE_NOT_FOUND) ? "ok" : "err delete failed";
    }
    return "err unknown command";
}

}  // namespace

int main() {
    setvbuf(stdout, nullptr, _IONBF, 0);
    char line[65536];
    while (fgets(line, sizeof(line), stdin)) {
        std::string text(line);
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text == "quit") break;
        std::string answer = Run(Split(text));
        fputs((answer + "\n").c_str(), stdout);
        fflush(stdout);
    }
    return 0;
}
