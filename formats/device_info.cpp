#include "formats/device_info.h"

#include <cstring>

#include "formats/le.h"

namespace nuva {
namespace {

void WriteText(uint8_t* out, const std::array<char16_t, 16>& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        StoreLe16(out + 2 * i, static_cast<uint16_t>(text[i]));
    }
}

void ReadText(const uint8_t* in, std::array<char16_t, 16>& text) {
    for (size_t i = 0; i < text.size(); ++i) {
        text[i] = static_cast<char16_t>(LoadLe16(in + 2 * i));
    }
}

}  // namespace

void WriteDeviceInfo(const DeviceInfo& info, uint8_t* out) {
    namespace o = device_info_offset;
    StoreLe32(out + o::kSupported, info.Supported);
    StoreLe32(out + o::kAcOnline, info.AcOnline);
    StoreLe32(out + o::kBatteryPercent, info.BatteryPercent);
    StoreLe32(out + o::kLanguageId, info.LanguageId);
    StoreLe32(out + o::kInfoSize, info.InfoSize);
    StoreLe32(out + o::kRamSizeMB, info.RamSizeMB);
    StoreLe32(out + o::kFlashSizeMB, info.FlashSizeMB);
    StoreLe32(out + o::kMemoryConfig, info.MemoryConfig);
    StoreLe32(out + o::kPlatformInfo, info.PlatformInfo);
    StoreLe32(out + o::kOsMajorVersion, info.OsMajorVersion);
    StoreLe32(out + o::kReserved, info.Reserved);
    WriteText(out + o::kRomVersion, info.RomVersion);
    WriteText(out + o::kModelName, info.ModelName);
    std::memcpy(out + o::kDeviceUuid, info.DeviceUuid.data(), info.DeviceUuid.size());
}

DeviceInfo ReadDeviceInfo(const uint8_t* in) {
    namespace o = device_info_offset;
    DeviceInfo info;
    info.Supported = LoadLe32(in + o::kSupported);
    info.AcOnline = LoadLe32(in + o::kAcOnline);
    info.BatteryPercent = LoadLe32(in + o::kBatteryPercent);
    info.LanguageId = LoadLe32(in + o::kLanguageId);
    info.InfoSize = LoadLe32(in + o::kInfoSize);
    info.RamSizeMB = LoadLe32(in + o::kRamSizeMB);
    info.FlashSizeMB = LoadLe32(in + o::kFlashSizeMB);
    info.MemoryConfig = LoadLe32(in + o::kMemoryConfig);
    info.PlatformInfo = LoadLe32(in + o::kPlatformInfo);
    info.OsMajorVersion = LoadLe32(in + o::kOsMajorVersion);
    info.Reserved = LoadLe32(in + o::kReserved);
    ReadText(in + o::kRomVersion, info.RomVersion);
    ReadText(in + o::kModelName, info.ModelName);
    std::memcpy(info.DeviceUuid.data(), in + o::kDeviceUuid, info.DeviceUuid.size());
    return info;
}

std::u16string FieldText(const std::array<char16_t, 16>& field) {
    size_t length = 0;
    while (length < field.size() && field[length] != u'\0') {
        ++length;
    }
    return std::u16string(field.data(), length);
}

void SetFieldText(std::array<char16_t, 16>& field, std::u16string_view text) {
    field.fill(u'\0');
    for (size_t i = 0; i < text.size() && i + 1 < field.size(); ++i) {
        field[i] = text[i];
    }
}

}  // namespace nuva
