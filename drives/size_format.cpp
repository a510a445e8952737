#include "drives/size_format.h"

namespace {

struct UnitWords {
    const char* bytes;
    const char* kilo;
    const char* mega;
    const char* giga;
};

const UnitWords kSizeUnits = {" Bytes", " KB", " MB", " GB"};
const UnitWords kRateUnits = {" Bytes/s", " KB/s", " MB/s", " GB/s"};
const UnitWords kDriveListUnits = {" B", " KB", " MB", " GB"};

// Writes the decimal digits of value and returns the position after them.
char* PutDigits(uint64_t value, char* out) {
    char reversed[24];
    int n = 0;
    do {
        reversed[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    while (n > 0) *out++ = reversed[--n];
    return out;
}

void PutText(const char* text, char* out) {
    while (*text) *out++ = *text++;
    *out = '\0';
}

// The count is taken as a double first, as the scale rows are chosen from it; the digits are
// then worked out in integers so that the text does not depend on how a C runtime rounds an
// exact tie (1,152 bytes is exactly 1.125 KB and must show as 1.13 KB).
void FormatByteCount(int64_t count, const UnitWords& units, char* out) {
    const double value = static_cast<double>(count);
    int shift;
    const char* unit;
    if (value < 1024.0) {
        shift = 0;
        unit = units.bytes;
    } else if (value < 1048576.0) {
        shift = 10;
        unit = units.kilo;
    } else if (value < 1073741824.0) {
        shift = 20;
        unit = units.mega;
    } else {
        shift = 30;
        unit = units.giga;
    }

    if (shift == 0) {
        // Whole numbers; every double of a 64-bit count is integral (exact below 2^53).
        if (value < 0) {
            *out++ = '-';
            out = PutDigits(static_cast<uint64_t>(-value), out);
        } else {
            out = PutDigits(static_cast<uint64_t>(value), out);
        }
        PutText(unit, out);
        return;
    }

    // value is at least 1,024 and at most 2^63, so it fits an unsigned 64-bit integer.
    const uint64_t whole = static_cast<uint64_t>(value);
    const uint64_t quotient = whole >> shift;
    const uint64_t remainder = whole & ((uint64_t{1} << shift) - 1);
    // Hundredths of the scaled value, halves rounded upward.
    const uint64_t hundredths =
        quotient * 100 + ((remainder * 100 + (uint64_t{1} << (shift - 1))) >> shift);
    out = PutDigits(hundredths / 100, out);
    *out++ = '.';
    *out++ = static_cast<char>('0' + hundredths % 100 / 10);
    *out++ = static_cast<char>('0' + hundredths % 10);
    PutText(unit, out);
}

}  // namespace

void FormatSize(int64_t count, char* out) { FormatByteCount(count, kSizeUnits, out); }

void FormatRate(int64_t count, char* out) { FormatByteCount(count, kRateUnits, out); }

void DriveListSize(int64_t count, char* out) { FormatByteCount(count, kDriveListUnits, out); }
