// Decisions of start-up and of the page loop, free of any window.
#pragma once
#include <cstdint>

constexpr uint32_t AgreementAccepted = 0x1;
constexpr uint32_t IsoNoticeHidden = 0x10;

// Values the pages leave in WizardState.
constexpr int32_t kWelcomeInitial = 5;
constexpr int32_t kWelcomeNext = 3;
constexpr int32_t kWelcomeCancel = 0;
constexpr int32_t kDriveCreate = 1;
constexpr int32_t kDriveBack = 2;
constexpr int32_t kDriveCancel = 3;
constexpr int32_t kProgressFinished = 0;
constexpr int32_t kProgressNext = 1;
constexpr int32_t kProgressStopped = 2;

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

// The option word as read from a registry value of `size` bytes (little-endian); a value
// shorter than 4 bytes fills only the low-order bytes.
uint32_t SettingsWordFromBytes(const unsigned char* data, unsigned size);
