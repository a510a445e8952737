#include "common/settings.h"

#include "common/shared_state.h"

namespace {
const char kSettingsKey[] = "Software\\Halcyra\\Halcyra";
const char kSettingsValue[] = "Halcyra";
}  // namespace

void LoadSettings() {
    SettingsFlags = 0;
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return;
    // Read into a byte buffer of the word's size: a shorter value fills the low-order bytes,
    // and a value that fails to read (missing, or longer than 4 bytes) leaves the word at 0.
    unsigned char bytes[4] = {0, 0, 0, 0};
    DWORD type = 0;
    DWORD size = sizeof(bytes);
    if (RegQueryValueExA(key, kSettingsValue, nullptr, &type, bytes, &size) == ERROR_SUCCESS)
        SettingsFlags = SettingsWordFromBytes(bytes, size);
    RegCloseKey(key);
}

void SaveSettings() {
    SECURITY_ATTRIBUTES attributes = {};
    attributes.nLength = sizeof(attributes);
    attributes.lpSecurityDescriptor = nullptr;
    attributes.bInheritHandle = TRUE;
    HKEY key = nullptr;
    char emptyClass[] = "";
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, kSettingsKey, 0, emptyClass, 0, KEY_WRITE, &attributes,
                        &key, nullptr) != ERROR_SUCCESS)
        return;
    unsigned char bytes[4];
    for (int i = 0; i < 4; ++i) bytes[i] = static_cast<unsigned char>(SettingsFlags >> (8 * i));
    RegSetValueExA(key, kSettingsValue, 0, REG_BINARY, bytes, sizeof(bytes));
    RegCloseKey(key);
}
