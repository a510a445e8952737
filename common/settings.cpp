#include "common/settings.h"

uint32_t SettingsWordFromBytes(const unsigned char* data, unsigned size) {
    uint32_t word = 0;
    for (unsigned i = 0; i < size && i < 4; ++i) word |= static_cast<uint32_t>(data[i]) << (8 * i);
    return word;
}
