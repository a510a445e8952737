// Decisions of start-up and of the page loop, free of any window.
#pragma once
#include <cstdint>

#include "common/settings.h"
#include "common/wizard_state.h"

constexpr int kExitNormal = 0;
constexpr int kExitFailed = 1;  // no memory at start-up, or the agreement was not accepted

enum class WizardStep { Welcome, DriveSelection, Progress, End };

// The step that follows a page, from the WizardState it left behind.
WizardStep NextWizardStep(WizardStep page, int32_t wizardState);

// For the run log: the page's name and what its WizardState says the user did.
const char* WizardStepName(WizardStep page);
const char* WizardResultName(WizardStep page, int32_t wizardState);

// Drive letter of the program's own path: its first byte, lower case raised to upper case.
// A path that could not be read (length 0) gives 0xFF, which matches no drive.
char SourceDriveFromModulePath(const char* path, unsigned length);

bool IsWindows2000Version(unsigned major, unsigned minor);

uint32_t FlagsAfterAccept(uint32_t flags);
uint32_t FlagsAfterDecline(uint32_t flags);
bool AgreementGatePasses(uint32_t flags);
