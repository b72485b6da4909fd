// The agent's questions to the handheld's platform: the device UUID and its
// model signature, the memory configuration, the ROM build code and the ROM
// version text. Each falls back to the power driver "PWR1:" where the OEM
// layer does not answer, and gives 0 / an empty text when nothing answers.
#pragma once

#include <array>
#include <cstdint>

namespace nuva::agent {

using DeviceUuid = std::array<uint8_t, 16>;

// IOCTL_HAL_GET_UUID; false (and `uuid` zero) when the request fails.
bool ReadDeviceUuid(DeviceUuid& uuid);

// Bytes 10 to 15 of the UUID carry the model signature: the first six bytes
// of HeaderKey, in order.
bool HasModelSignature(const DeviceUuid& uuid);

// The memory configuration code: PlatformCommand 0x1B2A, else the power
// driver, up to 10 attempts. The answer is returned as obtained (possibly a
// code of neither model); 0 when nothing answers.
uint32_t QueryMemoryConfig();

// The ROM build code: PlatformQuery 6, else word 72 (or, when that is 0,
// word 28) of the power driver's information block; 0 when nothing answers.
uint32_t QueryPlatformInfo();

// The ROM version text: PlatformQuery 17 (eight UTF-16 units), else the four
// units in bytes 0 to 7 of the power driver's information block; all zero
// when nothing answers. Not necessarily terminated within the eight units.
std::array<char16_t, 8> QueryRomVersion();

}  // namespace nuva::agent
