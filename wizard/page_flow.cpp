#include "wizard/page_flow.h"

WizardStep NextWizardStep(WizardStep page, int32_t wizardState) {
    switch (page) {
    case WizardStep::Welcome:
        // 0 (Cancel) and 5 (closed otherwise) end the program.
        return (wizardState == 0 || wizardState == kWelcomeInitial) ? WizardStep::End
                                                                    : WizardStep::DriveSelection;
    case WizardStep::DriveSelection:
        if (wizardState == kDriveBack) return WizardStep::DriveSelection;
        if (wizardState == kDriveCreate) return WizardStep::Progress;
        return WizardStep::End;
    case WizardStep::Progress:
        return wizardState == kProgressStopped ? WizardStep::DriveSelection : WizardStep::End;
    case WizardStep::End:
        break;
    }
    return WizardStep::End;
}

const char* WizardStepName(WizardStep page) {
    switch (page) {
    case WizardStep::Welcome: return "welcome";
    case WizardStep::DriveSelection: return "drive selection";
    case WizardStep::Progress: return "progress";
    case WizardStep::End: break;
    }
    return "end";
}

const char* WizardResultName(WizardStep page, int32_t wizardState) {
    switch (page) {
    case WizardStep::Welcome:
        return wizardState == kWelcomeNext ? "Next" : "Cancel or closed";
    case WizardStep::DriveSelection:
        if (wizardState == kDriveCreate) return "Create";
        if (wizardState == kDriveBack) return "Back";
        if (wizardState == kDriveCancel) return "Cancel";
        return "closed";
    case WizardStep::Progress:
        if (wizardState == kProgressStopped) return "stopped, back to the drive selection";
        if (wizardState == kProgressNext) return "Next";
        return "finished or closed";
    case WizardStep::End:
        break;
    }
    return "";
}

char SourceDriveFromModulePath(const char* path, unsigned length) {
    if (length == 0 || path == nullptr) return static_cast<char>(0xFF);
    unsigned char c = static_cast<unsigned char>(path[0]);
    if (c > 0x60) c = static_cast<unsigned char>(c - 0x20);
    return static_cast<char>(c);
}

bool IsWindows2000Version(unsigned major, unsigned minor) { return major == 5 && minor == 0; }

uint32_t FlagsAfterAccept(uint32_t flags) { return flags | AgreementAccepted; }

uint32_t FlagsAfterDecline(uint32_t) { return 0; }

bool AgreementGatePasses(uint32_t flags) { return (flags & AgreementAccepted) != 0; }
