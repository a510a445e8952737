// Why a call on the drive failed, told so that the user can act on it: the writer's failure
// texts get a last line, below an empty line, that says what happened and what to do, chosen
// from the system error code of the call that failed (an open, a lock, a write, a read). No
// window and no device here; the system's own text for a code is handed in.
#pragma once
#include <cstddef>
#include <cstdint>

// What the codes of a failed call on a drive tell apart.
enum class DriveFault : uint8_t {
    AccessDenied,    // refused: a program holds the drive, or a guard program blocks the write
    WriteProtected,  // the lock switch of a card or stick
    Gone,            // pulled out, or no longer answering (a hub that dropped it)
    Medium,          // the device reported a fault of its medium
    NoRoom,          // the disk ended before the image did
    Other,           // told with the system's own text
};

// The code of a write or read that moved fewer bytes than asked without an error: the end of
// the disk was reached early.
constexpr uint32_t kShortTransfer = 0;

DriveFault ClassifyDriveError(uint32_t error);

constexpr size_t kDriveFaultTextSize = 1024;

// `text`, an empty line, then the cause of `error`: its fault's line, or for a code of no known
// fault the system's text for it (`systemText`, as FormatMessage gives it; may be empty) with
// the code.
void DriveFaultText(char* out, size_t size, const char* text, uint32_t error,
                    const char* systemText);
