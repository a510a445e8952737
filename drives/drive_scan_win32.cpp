// The drive scan on the page in CurrentPage: platform queries and the drive list combo box.
#include <windows.h>
#include <winioctl.h>

#include "common/run_log.h"
#include "common/shared_state.h"
#include "drives/drive_scan.h"
#include "res/resource.h"

namespace {

unsigned QueryDriveType(const char* root) { return GetDriveTypeA(root); }

bool QueryVolumeTotalBytes(const char* queryPath, int64_t* totalBytes) {
    ULARGE_INTEGER freeToCaller, total, totalFree;
    if (!GetDiskFreeSpaceExA(queryPath, &freeToCaller, &total, &totalFree)) return false;
    *totalBytes = static_cast<int64_t>(total.QuadPart);
    return true;
}

void QueryVolumeLabel(const char* queryPath, char* label, unsigned labelSize, char* fileSystem,
                      unsigned fileSystemSize) {
    DWORD maximumComponentLength = 0, fileSystemFlags = 0;
    GetVolumeInformationA(queryPath, label, labelSize, nullptr, &maximumComponentLength,
                          &fileSystemFlags, fileSystem, fileSystemSize);
}

// Opens the volume once and asks for its geometry and its partition.
bool QueryDeviceReports(const char* devicePath, DeviceReports* reports) {
    HANDLE device = CreateFileA(devicePath, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING,
                                FILE_FLAG_WRITE_THROUGH | FILE_FLAG_NO_BUFFERING, nullptr);
    if (device == INVALID_HANDLE_VALUE) return false;
    DWORD returned = 0;
    DISK_GEOMETRY geometry = {};
    if (DeviceIoControl(device, IOCTL_DISK_GET_DRIVE_GEOMETRY, nullptr, 0, &geometry,
                        sizeof(geometry), &returned, nullptr)) {
        reports->geometryKnown = true;
        reports->cylinders = geometry.Cylinders.QuadPart;
        reports->tracksPerCylinder = geometry.TracksPerCylinder;
        reports->sectorsPerTrack = geometry.SectorsPerTrack;
    }
    PARTITION_INFORMATION partition = {};
    if (DeviceIoControl(device, IOCTL_DISK_GET_PARTITION_INFO, nullptr, 0, &partition,
                        sizeof(partition), &returned, nullptr)) {
        reports->partitionKnown = true;
        reports->partitionLength = partition.PartitionLength.QuadPart;
    }
    CloseHandle(device);
    return true;
}

int AddDriveLine(const char* text) {
    LogEvent("drive list: %s", text);
    return static_cast<int>(SendDlgItemMessageA(CurrentPage, IDC_DRIVE_LIST, CB_ADDSTRING, 0,
                                                reinterpret_cast<LPARAM>(text)));
}

void SetDriveLineValue(int index, uint32_t largeDevice) {
    SendDlgItemMessageA(CurrentPage, IDC_DRIVE_LIST, CB_SETITEMDATA, static_cast<WPARAM>(index),
                        static_cast<LPARAM>(largeDevice));
}

const DriveScanOps kWin32Ops = {QueryDriveType,     QueryVolumeTotalBytes, QueryVolumeLabel,
                                QueryDeviceReports, AddDriveLine,          SetDriveLineValue};

// The controls a scan takes away from the user while it runs, in the order they go.
const int kScanControls[] = {IDC_EXTRACT_ISO, IDC_REFRESH, IDC_DRIVE_LIST, IDC_MODE_USB,
                             IDC_MODE_ISO};

void EnableControl(int id, BOOL enable) { EnableWindow(GetDlgItem(CurrentPage, id), enable); }

void EnableCloseCommand(UINT state) {
    HMENU menu = GetSystemMenu(CurrentPage, FALSE);
    if (menu) EnableMenuItem(menu, SC_CLOSE, MF_BYCOMMAND | state);
}

}  // namespace

void DriveScan() {
    SendDlgItemMessageA(CurrentPage, IDC_DRIVE_LIST, CB_RESETCONTENT, 0, 0);
    const unsigned count = GetLogicalDriveStringsA(kDriveRootsLength, ScratchText);

    EnableControl(IDOK, FALSE);
    EnableControl(IDCANCEL, FALSE);
    for (int id : kScanControls) EnableControl(id, FALSE);
    EnableCloseCommand(MF_GRAYED);

    const bool added = count != 0 && ListRemovableDrives(ScratchText, count, kWin32Ops);

    EnableControl(IDOK, TRUE);
    if (!added) {
        AddDriveLine(kNoDriveLine);
        EnableControl(IDOK, FALSE);
    }
    SendDlgItemMessageA(CurrentPage, IDC_DRIVE_LIST, CB_SETCURSEL, 0, 0);
    SyncFormatOption();

    EnableControl(IDCANCEL, TRUE);
    for (int id : kScanControls) EnableControl(id, TRUE);
    EnableCloseCommand(MF_ENABLED);
}

void SyncFormatOption() {
    const LRESULT index = SendDlgItemMessageA(CurrentPage, IDC_DRIVE_LIST, CB_GETCURSEL, 0, 0);
    const LRESULT value =
        SendDlgItemMessageA(CurrentPage, IDC_DRIVE_LIST, CB_GETITEMDATA, index, 0);
    HWND box = GetDlgItem(CurrentPage, IDC_FORMAT_DISK);
    if (value != 0) {
        SendMessageA(box, BM_SETCHECK, BST_UNCHECKED, 0);
        EnableWindow(box, FALSE);
    } else {
        SendMessageA(box, BM_SETCHECK, BST_CHECKED, 0);
        EnableWindow(box, TRUE);
    }
}
