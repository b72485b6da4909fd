#include "handheld-sim/machine/oem_answers.h"

#include <cstring>

#include "formats/le.h"

namespace nuva::sim {

uint32_t PlatformInfoFromDateCode(std::string_view dateCode) {
    if (dateCode.size() != 8) {
        return 0;
    }
    uint32_t value = 0;
    for (char c : dateCode) {
        if (c < '0' || c > '9') {
            return 0;
        }
        value = (value << 4) | static_cast<uint32_t>(c - '0');
    }
    return value;
}

void FillVersionText(uint8_t* out16, std::string_view version) {
    std::memset(out16, 0, kVersionTextBytes);
    for (size_t i = 0; i < version.size() && i < kVersionTextBytes / 2 - 1; ++i) {
        StoreLe16(out16 + 2 * i, static_cast<uint8_t>(version[i]));
    }
}

void FillPowerInfoBlock(uint8_t* out92, std::string_view version, uint32_t platformInfo) {
    std::memset(out92, 0, kPowerInfoBlockBytes);
    for (size_t i = 0; i < version.size() && i < 4; ++i) {
        StoreLe16(out92 + 2 * i, static_cast<uint8_t>(version[i]));
    }
    StoreLe32(out92 + 28, platformInfo);
    StoreLe32(out92 + 72, platformInfo);
}

}  // namespace nuva::sim
