// The answers of the platform's OEM layer and power driver, built from the
// ROM that runs: the ROM build code (PlatformQuery 6), the version text
// (PlatformQuery 17) and the power driver's PowerInfoBlock.
#pragma once

#include <cstdint>
#include <string_view>

namespace nuva::sim {

inline constexpr uint32_t kPowerInfoBlockBytes = 92;
inline constexpr uint32_t kPowerMemoryAnswerBytes = 24;
inline constexpr uint32_t kVersionTextBytes = 16;

// The ROM build code: the eight date-code digits read as hexadecimal digits
// ("04100300" -> 0x04100300). 0 when the code is not eight decimal digits.
uint32_t PlatformInfoFromDateCode(std::string_view dateCode);

// The version as UTF-16 text in 16 bytes: at most seven characters and a
// terminating zero, zero-padded.
void FillVersionText(uint8_t* out16, std::string_view version);

// The 92-byte PowerInfoBlock: the first four characters of the version as
// UTF-16 in bytes 0-7, the build code in the words at bytes 28 and 72, the
// rest zero.
void FillPowerInfoBlock(uint8_t* out92, std::string_view version, uint32_t platformInfo);

}  // namespace nuva::sim
