#include "common/settings.h"

#include <gtest/gtest.h>

TEST(Settings, RegistryBytesAreLittleEndianAndShortValuesFillTheLowHalf) {
    const unsigned char four[] = {0x11, 0x00, 0x00, 0x80};
    EXPECT_EQ(SettingsWordFromBytes(four, 4), 0x80000011u);
    const unsigned char two[] = {0x10, 0x01};
    EXPECT_EQ(SettingsWordFromBytes(two, 2), 0x0110u);
    EXPECT_EQ(SettingsWordFromBytes(four, 0), 0u);
}
