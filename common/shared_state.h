// Process-wide state shared by the pages, the drive scan and the download worker.
// Defined once in shared_state_win32.cpp; only Win32 code includes this header.
#pragma once
#include <windows.h>
#include <atomic>
#include <cstdint>

#include "common/settings.h"
#include "drives/drive_identity.h"

constexpr int kScratchTextSize = 16384;
constexpr int kImagePathSize = 4096;
constexpr int kButtonSkinCapacity = 5;

// One owner-drawn bitmap button of the current page.
struct ButtonSkin {
    uint32_t controlId;
    uint8_t hover;
    HBITMAP disabledImage;
    HBITMAP pressedImage;
    HBITMAP normalImage;
    HBITMAP hoverImage;
};

struct ButtonSkinList {
    uint32_t count;
    ButtonSkin* entries;  // room for kButtonSkinCapacity
};

extern HINSTANCE AppInstance;
extern std::atomic<HWND> CurrentPage;    // the wizard page that is open
extern char* ScratchText;                // kScratchTextSize characters, main-thread work space
extern char* ImagePath;                  // kImagePathSize characters, path of the downloaded image
extern ButtonSkinList* ButtonSkinTable;

extern std::atomic<int32_t> WizardState; // result of the page that closed last
extern std::atomic<uint8_t> CancelRequested;
extern std::atomic<uint8_t> DownloadActive;
extern std::atomic<uint8_t> WriteActive;

extern char TargetDrive;   // letter of the chosen drive, 0xFF until chosen
extern DriveIdentity TargetIdentity;  // what that drive was when the user confirmed it
extern char SourceDrive;   // letter of the drive the program runs from, 0xFF when unknown
extern uint8_t UsbMode;    // 1: write a USB drive, 0: ISO export mode
extern uint8_t IsWindows2000;
extern uint32_t SettingsFlags;
extern ProgramSettings AdminSettings;  // what an administrator set for the program

extern HICON SmallIcon;
extern HICON BigIcon;
extern HMENU HelpMenu;
extern HBRUSH PageBrush;
extern HBRUSH PanelBrush;

// The progress page that the current creation run belongs to: stored by the page before it
// starts its worker and cleared when the page is destroyed. Code on the worker thread (the
// download and the writer) takes the page from here once, at its start, and before every
// control update, message box, WM_CLOSE or WizardState store checks that RunPage still holds
// that page; once it doesn't, the run does nothing more to any window or to WizardState, so
// nothing of it reaches a later page. The texts of a run are built in the worker's own
// buffers, never in ScratchText, which the main thread uses for the pages that follow.
// Only one worker exists at a time: a new progress page opens only after the previous worker
// has stopped (WaitForPreviousWorker).
extern std::atomic<HWND> RunPage;
