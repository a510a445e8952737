// Byte counts and rates as short texts with binary units (Bytes, KB, MB, GB).
#pragma once
#include <cstdint>

// Room every caller provides: a negative count prints all its digits, up to 28 characters.
constexpr int kSizeTextCapacity = 29;

// Amounts of data: "512 Bytes", "1.13 KB", "4.77 MB", "3.73 GB".
void FormatSize(int64_t count, char* out);
// Download speed: "512 Bytes/s", "244.14 KB/s", ...
void FormatRate(int64_t count, char* out);
// Volume sizes in the drive list: "512 B", "1.00 KB", ...
void DriveListSize(int64_t count, char* out);
