#include "common/settings.h"

#include <cstring>

#include "common/shared_state.h"

namespace {

const char kSettingsKey[] = "Software\\Halcyra\\Halcyra";
const char kSettingsValue[] = "Halcyra";

// The key for reading (false when it is missing) or, made when missing, for writing.
bool OpenKey(bool forWriting, HKEY* key) {
    if (!forWriting)
        return RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, key) == ERROR_SUCCESS;
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.bInheritHandle = TRUE;
    char emptyClass[] = "";
    return RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, emptyClass, 0, KEY_WRITE,
                           &attributes, key, nullptr) == ERROR_SUCCESS;
}

// A value of `type` into out; its length, or 0.
size_t ReadValue(const char* name, DWORD type, void* out, size_t size) {
    HKEY key = nullptr;
    if (!OpenKey(false, &key)) return 0;
    DWORD found = 0;
    DWORD length = static_cast<DWORD>(size);
    const bool read = RegQueryValueExA(key, name, nullptr, &found, static_cast<BYTE*>(out),
                                       &length) == ERROR_SUCCESS;
    RegCloseKey(key);
    return read && found == type ? length : 0;
}

bool WriteValue(const char* name, DWORD type, const void* data, size_t size) {
    HKEY key = nullptr;
    if (!OpenKey(true, &key)) return false;
    const bool written = RegSetValueExA(key, name, 0, type, static_cast<const BYTE*>(data),
                                        static_cast<DWORD>(size)) == ERROR_SUCCESS;
    RegCloseKey(key);
    return written;
}

uint32_t ReadNumber(const char* name) {
    DWORD value = 0;
    return ReadValue(name, REG_DWORD, &value, sizeof value) == sizeof value ? value : 0;
}

}  // namespace

void LoadSettings() {
    SettingsFlags = 0;
    HKEY key = nullptr;
    if (!OpenKey(false, &key)) return;
    // Read into a byte buffer of the word's size: a shorter value fills the low-order bytes,
    // and a value that fails to read (missing, or longer than 4 bytes) leaves the word at 0.
    // Any type is taken as it is.
    unsigned char bytes[4] = {0, 0, 0, 0};
    DWORD type = 0;
    DWORD size = sizeof(bytes);
    if (RegQueryValueExA(key, kSettingsValue, nullptr, &type, bytes, &size) == ERROR_SUCCESS)
        SettingsFlags = SettingsWordFromBytes(bytes, size);
    RegCloseKey(key);
}

void SaveSettings() {
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(SettingsFlags >> (8 * i));
    WriteValue(kSettingsValue, REG_BINARY, bytes, sizeof(bytes));
}

void LoadProgramSettings() {
    AdminSettings = ProgramSettings{};
    ReadSettingString("ImageAddress", AdminSettings.imageAddress, sizeof AdminSettings.imageAddress);
    AdminSettings.stallSeconds = ReadNumber("TestStallSeconds");
    AdminSettings.refuseLocks = ReadNumber("TestRefuseLocks");
    ReadSettingString("TestDownloadLog", AdminSettings.downloadLog, sizeof AdminSettings.downloadLog);
    ReadSettingString("TestTaskbarLog", AdminSettings.taskbarLog, sizeof AdminSettings.taskbarLog);
    AdminSettings.taskbarUnavailable = ReadNumber("TestTaskbarUnavailable");
}

size_t ReadSettingBinary(const char* name, uint8_t* out, size_t size) {
    return ReadValue(name, REG_BINARY, out, size);
}

bool WriteSettingBinary(const char* name, const uint8_t* data, size_t size) {
    return WriteValue(name, REG_BINARY, data, size);
}

size_t ReadSettingString(const char* name, char* out, size_t size) {
    if (size == 0) return 0;
    const size_t length = ReadValue(name, REG_SZ, out, size - 1);
    // A string read back may lack its end; one too long for the buffer is no value at all.
    out[length] = 0;
    if (length && out[length - 1] == 0) return length - 1;
    return std::strlen(out);
}

bool WriteSettingString(const char* name, const char* text) {
    return WriteValue(name, REG_SZ, text, std::strlen(text) + 1);
}

void DeleteSetting(const char* name) {
    HKEY key = nullptr;
    if (!OpenKey(true, &key)) return;
    RegDeleteValueA(key, name);
    RegCloseKey(key);
}
