// Entry point: shared state, the licence agreement gate, splash, welcome page and page loop.
#include <windows.h>

#include <cstdlib>

#include "common/data_folder_files.h"
#include "common/run_log.h"
#include "common/settings.h"
#include "common/sha256.h"
#include "common/shared_state.h"
#include "common/system_library.h"
#include "download/download_worker.h"
#include "res/resource.h"
#include "ui/page_chrome.h"
#include "wizard/drive_page.h"
#include "wizard/page_flow.h"
#include "wizard/progress_page.h"
#include "wizard/screens.h"

namespace {

// The drive letter of the program's own path. Asked with the wide call: the ANSI one gives '?'
// for letters outside the code page, though the first letter is always the drive's.
char ProgramDrive() {
    WCHAR path[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    char first[2] = {static_cast<char>(length && path[0] < 0x80 ? path[0] : 0), 0};
    return SourceDriveFromModulePath(first, first[0] ? length : 0);
}

// Runs one screen as a modal dialog; its result is what it leaves in WizardState.
void RunDialog(int templateId, DLGPROC procedure) {
    DialogBoxParamA(AppInstance, MAKEINTRESOURCEA(templateId), nullptr, procedure, 0);
}

bool AllocateSharedBuffers() {
    ScratchText = static_cast<char*>(calloc(kScratchTextSize, 1));
    ImagePath = static_cast<char*>(calloc(kImagePathSize, 1));
    ButtonSkinTable = static_cast<ButtonSkinList*>(calloc(1, sizeof(ButtonSkinList)));
    if (ButtonSkinTable)
        ButtonSkinTable->entries =
            static_cast<ButtonSkin*>(calloc(kButtonSkinCapacity, sizeof(ButtonSkin)));
    return ScratchText && ImagePath && ButtonSkinTable && ButtonSkinTable->entries;
}

void NoteWindowsVersion() {
    OSVERSIONINFOA version = {};
    version.dwOSVersionInfoSize = sizeof(version);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop
    IsWindows2000 = IsWindows2000Version(version.dwMajorVersion, version.dwMinorVersion) ? 1 : 0;
}

// Registers the classes of the progress bar and the tooltips ("msctls_progress32",
// "tooltips_class32") before the first dialog. The common controls library is not one that
// every Windows takes from the system folder only, so it is not imported: a comctl32.dll in
// the program's folder would be loaded before the system's.
void LoadCommonControls() {
    using Initialize = void(WINAPI*)();
    if (auto initialize = SystemFunction<Initialize>(LoadSystemLibrary("comctl32.dll"),
                                                     "InitCommonControls"))
        initialize();
}

DWORD WINAPI AskForSha256(void*) {
    Sha256Available();
    return 0;
}

// The wizard's pages after the welcome page, until a page result ends the program.
void RunPageLoop() {
    // The SHA-256 provider is loaded while the user chooses the drive, beside the page rather
    // than on its thread, and not when a run starts.
    if (HANDLE asking = CreateThread(nullptr, 0, AskForSha256, nullptr, 0, nullptr))
        CloseHandle(asking);
    WizardStep step = WizardStep::DriveSelection;
    while (step != WizardStep::End) {
        WizardState = 0;
        LogEvent("page: %s", WizardStepName(step));
        if (step == WizardStep::DriveSelection) {
            RunDialog(IDD_DRIVE_PAGE, DriveSelectionPage);
        } else if (PreviousRunStopped()) {
            RunDialog(IDD_PROGRESS_PAGE, ProgressPage);
        } else {
            WizardState = kProgressStopped;  // back to the drive selection page
        }
        LogEvent("page %s ended: %s (%d)", WizardStepName(step),
                 WizardResultName(step, WizardState), static_cast<int>(WizardState));
        step = NextWizardStep(step, WizardState);
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    NarrowLibrarySearch();
    // What the program reads and where it keeps its files come next: only an administrator
    // can change either.
    LoadProgramSettings();
    PrepareDataFolder();
    LoadCommonControls();
    if (!AllocateSharedBuffers()) {
        MessageBoxA(nullptr, "Unable to start program due to insufficient memory", "Out of Memory",
                    MB_ICONERROR);
        return kExitFailed;
    }
    LoadSystemLibrary("riched32.dll");  // registers the "RICHEDIT" class of the agreement screen

    OpenRunLog();
    SourceDrive = ProgramDrive();
    AppInstance = instance;
    LoadPageChrome();
    UsbMode = 1;
    LoadSettings();
    RemoveLeftDownloads(false);  // what the runs of an earlier start left behind

    if (!AgreementGatePasses(SettingsFlags)) {
        LogEvent("page: licence agreement");
        RunDialog(IDD_AGREEMENT, AgreementScreen);
        SaveSettings();
        const bool accepted = AgreementGatePasses(SettingsFlags);
        LogEvent("licence agreement %s", accepted ? "accepted" : "declined");
        if (!accepted) return kExitFailed;
    }

    NoteWindowsVersion();
    RunDialog(IDD_SPLASH, SplashScreen);

    WizardState = kWelcomeInitial;
    LogEvent("page: welcome");
    RunDialog(IDD_WELCOME_PAGE, WelcomePage);
    LogEvent("page welcome ended: %s", WizardResultName(WizardStep::Welcome, WizardState));
    if (NextWizardStep(WizardStep::Welcome, WizardState) != WizardStep::End) RunPageLoop();

    if (!WaitForPreviousWorker(kEndWaitLimitMs))
        LogEvent("end: the last run's worker is still in a device write; it is left behind");
    RemoveLeftDownloads(true);
    LogEvent("end: exit code %d", kExitNormal);
    return kExitNormal;
}
