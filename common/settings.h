// The option word SettingsFlags in the registry of the local machine.
#pragma once
#include <cstdint>

constexpr uint32_t AgreementAccepted = 0x1;
constexpr uint32_t IsoNoticeHidden = 0x10;

// The option word as read from a registry value of `size` bytes (little-endian); a value
// shorter than 4 bytes fills only the low-order bytes.
uint32_t SettingsWordFromBytes(const unsigned char* data, unsigned size);

// Win32 glue (settings_win32.cpp).
// Fills SettingsFlags from the registry; 0 when the key or value can't be read.
void LoadSettings();
// Writes SettingsFlags to the registry; failures are silent.
void SaveSettings();
