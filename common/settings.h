// The program's settings under its key of the local machine, HKLM\Software\Halcyra\Halcyra: the
// option word, what an administrator may set (the image's address, and the test suite's
// seams), and what the program keeps there itself. Nothing is read from the environment or
// from the user's own registry: a program of the user can write both, and this program runs
// as administrator.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr uint32_t AgreementAccepted = 0x1;
constexpr uint32_t IsoNoticeHidden = 0x10;

// The option word as read from a registry value of `size` bytes (little-endian); a value
// shorter than 4 bytes fills only the low-order bytes.
uint32_t SettingsWordFromBytes(const unsigned char* data, unsigned size);

constexpr size_t kSettingPathSize = 260;
constexpr size_t kImageAddressSize = 2048;

// Read once at start-up. Every value is optional; an empty or 0 value means "not set".
struct ProgramSettings {
    char imageAddress[kImageAddressSize];  // ImageAddress (string): an enterprise mirror
    // The test suite's seams:
    uint32_t stallSeconds;        // TestStallSeconds: the download's stall limit
    uint32_t refuseLocks;         // TestRefuseLocks: the first n volume locks fail
    char downloadLog[kSettingPathSize];  // TestDownloadLog: the download's raw reports
    char taskbarLog[kSettingPathSize];   // TestTaskbarLog: the calls on the taskbar button
    uint32_t taskbarUnavailable;  // TestTaskbarUnavailable: 1 hides the taskbar interface
};

// Win32 glue (settings_win32.cpp).
// Fills SettingsFlags from the registry; 0 when the key or value can't be read.
void LoadSettings();
// Writes SettingsFlags to the registry; failures are silent.
void SaveSettings();
// Fills AdminSettings from the registry.
void LoadProgramSettings();

// Values of the program's key, for what the program keeps there itself. A read returns the
// value's length (0 when it is missing, of another type, or longer than `size`); a string is
// read with its end and always ends.
size_t ReadSettingBinary(const char* name, uint8_t* out, size_t size);
bool WriteSettingBinary(const char* name, const uint8_t* data, size_t size);
size_t ReadSettingString(const char* name, char* out, size_t size);
bool WriteSettingString(const char* name, const char* text);
void DeleteSetting(const char* name);
