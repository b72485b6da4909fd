// DeviceInfo: the 124-byte record that the agent's information export
// returns and the desktop reads. Little-endian, read and written field by
// field.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace nuva {

inline constexpr size_t kDeviceInfoSize = 124;
inline constexpr uint32_t kMemoryConfigAdvanced = 0x02000200;
inline constexpr uint32_t kMemoryConfigBasic = 0x01000100;
inline constexpr uint32_t kBatteryUnknown = 0xFFFFFFFF;  // as an unsupported device reports it

namespace device_info_offset {
inline constexpr size_t kSupported = 0;
inline constexpr size_t kAcOnline = 4;
inline constexpr size_t kBatteryPercent = 8;
inline constexpr size_t kLanguageId = 12;
inline constexpr size_t kInfoSize = 16;
inline constexpr size_t kRamSizeMB = 20;
inline constexpr size_t kFlashSizeMB = 24;
inline constexpr size_t kMemoryConfig = 28;
inline constexpr size_t kPlatformInfo = 32;
inline constexpr size_t kOsMajorVersion = 36;
inline constexpr size_t kReserved = 40;
inline constexpr size_t kRomVersion = 44;   // 16 UTF-16 units
inline constexpr size_t kModelName = 76;    // 16 UTF-16 units
inline constexpr size_t kDeviceUuid = 108;  // 16 bytes
}  // namespace device_info_offset

struct DeviceInfo {
    uint32_t Supported = 0;
    uint32_t AcOnline = 0;
    uint32_t BatteryPercent = 0;
    uint32_t LanguageId = 0;
    uint32_t InfoSize = kDeviceInfoSize;
    uint32_t RamSizeMB = 0;
    uint32_t FlashSizeMB = 0;
    uint32_t MemoryConfig = 0;
    uint32_t PlatformInfo = 0;
    uint32_t OsMajorVersion = 0;
    uint32_t Reserved = 0;
    std::array<char16_t, 16> RomVersion{};
    std::array<char16_t, 16> ModelName{};
    std::array<uint8_t, 16> DeviceUuid{};

    bool operator==(const DeviceInfo&) const = default;
};

void WriteDeviceInfo(const DeviceInfo& info, uint8_t* out124);
DeviceInfo ReadDeviceInfo(const uint8_t* in124);

// A UTF-16 text field up to its terminator (at most the field's 16 units).
std::u16string FieldText(const std::array<char16_t, 16>& field);
// Stores a text into a 16-unit field, cut to 15 units and terminated.
void SetFieldText(std::array<char16_t, 16>& field, std::u16string_view text);

}  // namespace nuva
