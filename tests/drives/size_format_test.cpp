#include "drives/size_format.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace {

std::string Size(int64_t count) {
    char text[kSizeTextCapacity + 8];
    FormatSize(count, text);
    return text;
}
std::string Rate(int64_t count) {
    char text[kSizeTextCapacity + 8];
    FormatRate(count, text);
    return text;
}
std::string ListSize(int64_t count) {
    char text[kSizeTextCapacity + 8];
    DriveListSize(count, text);
    return text;
}

struct Example {
    int64_t count;
    const char* size;
    const char* rate;
    const char* listSize;
};

const Example kExamples[] = {
    {0, "0 Bytes", "0 Bytes/s", "0 B"},
    {512, "512 Bytes", "512 Bytes/s", "512 B"},
    {1023, "1023 Bytes", "1023 Bytes/s", "1023 B"},
    {1024, "1.00 KB", "1.00 KB/s", "1.00 KB"},
    {1152, "1.13 KB", "1.13 KB/s", "1.13 KB"},
    {1536, "1.50 KB", "1.50 KB/s", "1.50 KB"},
    {250000, "244.14 KB", "244.14 KB/s", "244.14 KB"},
    {1048575, "1024.00 KB", "1024.00 KB/s", "1024.00 KB"},
    {1048576, "1.00 MB", "1.00 MB/s", "1.00 MB"},
    {5000000, "4.77 MB", "4.77 MB/s", "4.77 MB"},
    {1073741823, "1024.00 MB", "1024.00 MB/s", "1024.00 MB"},
    {1073741824, "1.00 GB", "1.00 GB/s", "1.00 GB"},
    {2147483647, "2.00 GB", "2.00 GB/s", "2.00 GB"},
    {4002910208, "3.73 GB", "3.73 GB/s", "3.73 GB"},
};

}  // namespace

TEST(SizeFormat, EveryExampleRowGivesTheSameTextInAllThreeFormatters) {
    for (const Example& row : kExamples) {
        SCOPED_TRACE(row.count);
        EXPECT_EQ(Size(row.count), row.size);
        EXPECT_EQ(Rate(row.count), row.rate);
        EXPECT_EQ(ListSize(row.count), row.listSize);
    }
}

// Exact ties of the last shown digit round upward, whatever the C runtime would do.
TEST(SizeFormat, ExactHalvesRoundUpward) {
    EXPECT_EQ(Size(1152), "1.13 KB");         // 1.125
    EXPECT_EQ(Size(1029), "1.00 KB");         // 1.0048828125 stays below the half
    EXPECT_EQ(Size(1034), "1.01 KB");         // 1.009765625
    EXPECT_EQ(Size(1048576 + 1048576 / 8), "1.13 MB");            // 1.125 MB
    EXPECT_EQ(Size(1073741824LL + 1073741824LL / 8), "1.13 GB");  // 1.125 GB
    EXPECT_EQ(Size(1024 * 2 + 1024 * 3 / 8), "2.38 KB");          // 2.375
    EXPECT_EQ(Size(1024 * 2 + 1024 * 5 / 8), "2.63 KB");          // 2.625
}

TEST(SizeFormat, LargestCountsStayInGigabytes) {
    EXPECT_EQ(Size(2199023255552LL), "2048.00 GB");  // 2^41
    EXPECT_EQ(ListSize(2199023255552LL), "2048.00 GB");
    EXPECT_EQ(Size(4294967295LL), "4.00 GB");  // largest unsigned 32-bit download total
    EXPECT_EQ(Rate(INT64_MAX), "8589934592.00 GB/s");
    EXPECT_LE(Rate(INT64_MAX).size(), 18u);
}

TEST(SizeFormat, NegativeCountsPrintTheirSignAndDigitsInTheFirstRow) {
    EXPECT_EQ(Size(-1), "-1 Bytes");
    EXPECT_EQ(Rate(-2048), "-2048 Bytes/s");
    EXPECT_EQ(ListSize(-5000000), "-5000000 B");
    EXPECT_EQ(Size(-2147483647LL - 1), "-2147483648 Bytes");  // a write total taken with its sign
    EXPECT_EQ(Rate(INT64_MIN), "-9223372036854775808 Bytes/s");
    EXPECT_EQ(Rate(INT64_MIN).size(), static_cast<size_t>(kSizeTextCapacity - 1));
}
