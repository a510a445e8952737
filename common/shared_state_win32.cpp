#include "common/shared_state.h"

HINSTANCE AppInstance = nullptr;
std::atomic<HWND> CurrentPage{nullptr};
char* ScratchText = nullptr;
char* ImagePath = nullptr;
ButtonSkinList* ButtonSkinTable = nullptr;

std::atomic<int32_t> WizardState{0};
std::atomic<uint8_t> CancelRequested{0};
std::atomic<uint8_t> DownloadActive{0};
std::atomic<uint8_t> WriteActive{0};

char TargetDrive = static_cast<char>(0xFF);
DriveIdentity TargetIdentity = {};
char SourceDrive = static_cast<char>(0xFF);
uint8_t UsbMode = 0;
uint8_t IsWindows2000 = 0;
uint32_t SettingsFlags = 0;
ProgramSettings AdminSettings = {};

HICON SmallIcon = nullptr;
HICON BigIcon = nullptr;
HMENU HelpMenu = nullptr;
HBRUSH PageBrush = nullptr;
HBRUSH PanelBrush = nullptr;

std::atomic<HWND> RunPage{nullptr};
