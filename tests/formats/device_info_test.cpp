#include "formats/device_info.h"

#include <gtest/gtest.h>

#include <array>

#include "formats/le.h"

namespace nuva {
namespace {

DeviceInfo Sample() {
    DeviceInfo info;
    info.Supported = 1;
    info.AcOnline = 1;
    info.BatteryPercent = 87;
    info.LanguageId = 0x040C;
    info.RamSizeMB = 64;
    info.FlashSizeMB = 48;
    info.MemoryConfig = kMemoryConfigAdvanced;
    info.PlatformInfo = 0x03050300;
    info.OsMajorVersion = 4;
    info.Reserved = 0;
    SetFieldText(info.RomVersion, u"A02");
    SetFieldText(info.ModelName, u"NUVA7");
    for (size_t i = 0; i < 16; ++i) {
        info.DeviceUuid[i] = static_cast<uint8_t>(0xA0 + i);
    }
    return info;
}

TEST(DeviceInfo, FieldsLandAtTheirOffsetsAndReadBack) {
    DeviceInfo info = Sample();
    std::array<uint8_t, kDeviceInfoSize + 4> block{};
    block.fill(0xEE);
    WriteDeviceInfo(info, block.data());
    EXPECT_EQ(LoadLe32(block.data() + 0), 1u);
    EXPECT_EQ(LoadLe32(block.data() + 4), 1u);
    EXPECT_EQ(LoadLe32(block.data() + 8), 87u);
    EXPECT_EQ(LoadLe32(block.data() + 12), 0x040Cu);
    EXPECT_EQ(LoadLe32(block.data() + 16), 124u);
    EXPECT_EQ(LoadLe32(block.data() + 20), 64u);
    EXPECT_EQ(LoadLe32(block.data() + 24), 48u);
    EXPECT_EQ(LoadLe32(block.data() + 28), 0x02000200u);
    EXPECT_EQ(block[32], 0x00);  // 0x03050300, low byte first
    EXPECT_EQ(block[33], 0x03);
    EXPECT_EQ(block[35], 0x03);
    EXPECT_EQ(LoadLe32(block.data() + 36), 4u);
    EXPECT_EQ(LoadLe32(block.data() + 40), 0u);
    EXPECT_EQ(block[44], 'A');
    EXPECT_EQ(block[45], 0);
    EXPECT_EQ(block[46], '0');
    EXPECT_EQ(LoadLe16(block.data() + 50), 0u);  // terminator
    EXPECT_EQ(block[76], 'N');
    EXPECT_EQ(block[84], '7');
    EXPECT_EQ(block[108], 0xA0);
    EXPECT_EQ(block[123], 0xAF);
    EXPECT_EQ(block[124], 0xEE);  // nothing written past the record
    EXPECT_EQ(ReadDeviceInfo(block.data()), info);
}

TEST(DeviceInfo, TextFieldsAreCutAndTerminated) {
    std::array<char16_t, 16> field{};
    SetFieldText(field, u"0123456789ABCDEFGHIJ");
    EXPECT_EQ(field[15], u'\0');
    EXPECT_EQ(FieldText(field), u"0123456789ABCDE");
    // A field filled to the end without terminator reads as all 16 units.
    field.fill(u'x');
    EXPECT_EQ(FieldText(field).size(), 16u);
    SetFieldText(field, u"");
    EXPECT_EQ(FieldText(field), u"");
}

}  // namespace
}  // namespace nuva
