#include "write/drive_fault.h"

#include <cstdio>

#include "common/run_log.h"

DriveFault ClassifyDriveError(uint32_t error) {
    switch (error) {
    case 5:  // ERROR_ACCESS_DENIED
        return DriveFault::AccessDenied;
    case 19:  // ERROR_WRITE_PROTECT
        return DriveFault::WriteProtected;
    case 2:     // ERROR_FILE_NOT_FOUND: the disk or volume no longer exists
    case 3:     // ERROR_PATH_NOT_FOUND
    case 15:    // ERROR_INVALID_DRIVE
    case 21:    // ERROR_NOT_READY
    case 55:    // ERROR_DEV_NOT_EXIST
    case 121:   // ERROR_SEM_TIMEOUT: a USB device that stopped answering
    case 433:   // ERROR_NO_SUCH_DEVICE
    case 1110:  // ERROR_MEDIA_CHANGED
    case 1112:  // ERROR_NO_MEDIA_IN_DRIVE
    case 1167:  // ERROR_DEVICE_NOT_CONNECTED
        return DriveFault::Gone;
    case 23:    // ERROR_CRC
    case 25:    // ERROR_SEEK
    case 27:    // ERROR_SECTOR_NOT_FOUND
    case 29:    // ERROR_WRITE_FAULT
    case 30:    // ERROR_READ_FAULT
    case 31:    // ERROR_GEN_FAILURE
    case 483:   // ERROR_DEVICE_HARDWARE_ERROR
    case 1117:  // ERROR_IO_DEVICE
        return DriveFault::Medium;
    case kShortTransfer:
    case 38:   // ERROR_HANDLE_EOF
    case 39:   // ERROR_HANDLE_DISK_FULL
    case 112:  // ERROR_DISK_FULL
        return DriveFault::NoRoom;
    default:
        return DriveFault::Other;
    }
}

namespace {

// What the user reads for a fault of a known kind; none for the others, which tell the
// system's own text.
const char* KnownFaultText(DriveFault fault) {
    switch (fault) {
    case DriveFault::AccessDenied:
        return "Windows refused access to the drive. Another program may be using it, or a "
               "security program may block writing to drives: close that program or allow "
               "Halcyra Creator in it, then try again.";
    case DriveFault::WriteProtected:
        return "The drive is write-protected. Slide its lock switch off, or use another drive.";
    case DriveFault::Gone:
        return "The drive was removed or stopped answering. Plug it in again, straight into the "
               "computer rather than through a hub, and choose it again.";
    case DriveFault::Medium:
        return "The drive reported a fault: it may be failing. Please try another drive.";
    case DriveFault::NoRoom:
        return "The drive ended before the whole image was written: it is smaller than it "
               "reports. Please use another drive.";
    case DriveFault::Other: return nullptr;
    }
    return nullptr;
}

}  // namespace

void DriveFaultText(char* out, size_t size, const char* text, uint32_t error,
                    const char* systemText) {
    char cause[kDriveFaultTextSize / 2];
    if (const char* known = KnownFaultText(ClassifyDriveError(error))) {
        std::snprintf(cause, sizeof cause, "%s", known);
    } else {
        char system[kDriveFaultTextSize / 2 - 32];
        std::snprintf(system, sizeof system, "%s", systemText ? systemText : "");
        CleanSystemText(system);
        if (system[0]) {
            std::snprintf(cause, sizeof cause, "%s (error %lu).", system,
                          static_cast<unsigned long>(error));
        } else {
            std::snprintf(cause, sizeof cause, "Windows reported error %lu.",
                          static_cast<unsigned long>(error));
        }
    }
    std::snprintf(out, size, "%s\n\n%s", text, cause);
}
