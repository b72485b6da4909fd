#include "formats/image_header.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace nuva {
namespace {

TEST(ImageHeader, ScrambleTouchesOnlyTheFirst36BytesAndUndoesItself) {
    std::array<uint8_t, kImageHeaderSize> plain{};
    for (size_t i = 0; i < plain.size(); ++i) {
        plain[i] = static_cast<uint8_t>(i * 7 + 3);
    }
    auto bytes = plain;
    ScrambleHeader(bytes.data());
    for (size_t i = 0; i < kImageHeaderSize; ++i) {
        uint8_t expected = i < 36 ? static_cast<uint8_t>(plain[i] ^ kHeaderKey[i % 8]) : plain[i];
        ASSERT_EQ(bytes[i], expected) << "byte " << i;
    }
    ScrambleHeader(bytes.data());
    EXPECT_EQ(bytes, plain);
}

TEST(ImageHeader, FileFormRoundTrips) {
    ImageHeader h;
    h.SetText(header_offset::kMagic, "BREL", 4);
    h.SetText(header_offset::kDateCode, "04100300", 8);
    h.SetText(header_offset::kLanguageCode, "EN", 2);
    h.SetByte(header_offset::kModelByte, kModelByteAdvanced);
    auto stored = h.ToFile();
    EXPECT_NE(std::memcmp(stored.data(), "BREL", 4), 0);  // stored scrambled
    EXPECT_EQ(stored[0], static_cast<uint8_t>('B' ^ 0x3A));
    ImageHeader back = ImageHeader::FromFile(stored.data());
    EXPECT_EQ(back, h);
    EXPECT_TRUE(back.HasMagic());
    EXPECT_EQ(back.DateCode(), "04100300");
    EXPECT_EQ(back.LanguageCode(), "EN");
    EXPECT_EQ(back.ModelByte(), 0x40);
}

TEST(ImageHeader, AccessorsReadTheirFieldsLittleEndian) {
    ImageHeader h;
    EXPECT_FALSE(h.HasMagic());
    EXPECT_FALSE(h.HasMarker());
    h.SetText(header_offset::kMarker, "NUVA7", 5);
    EXPECT_TRUE(h.HasMarker());
    h.SetWord16(header_offset::kKind, 0x0102);
    EXPECT_EQ(h.Byte(0x44), 0x02);
    EXPECT_EQ(h.Byte(0x45), 0x01);
    EXPECT_EQ(h.Kind(), 0x0102);
    h.SetWord16(header_offset::kWord48, 0x0342);
    EXPECT_EQ(h.Byte(0x48), 0x42);
    EXPECT_EQ(h.OsCode(), 3);
    h.SetWord32(header_offset::kByteCount, 0x01980000);
    h.SetWord32(header_offset::kByteSumField, 0xA1B2C3D4);
    EXPECT_EQ(h.Byte(0x68), 0x00);
    EXPECT_EQ(h.Byte(0x6A), 0x98);
    EXPECT_EQ(h.ByteCount(), 0x01980000u);
    EXPECT_EQ(h.Byte(0x6C), 0xD4);
    EXPECT_EQ(h.ByteSumField(), 0xA1B2C3D4u);
    for (size_t i = 0; i < 16; ++i) {
        h.SetByte(header_offset::kUuid + i, static_cast<uint8_t>(0xF0 + i));
    }
    auto uuid = h.Uuid();
    EXPECT_EQ(uuid[0], 0xF0);
    EXPECT_EQ(uuid[15], 0xFF);
    // Writes past the end are refused rather than spilling.
    EXPECT_THROW(h.SetWord32(kImageHeaderSize - 2, 1), std::out_of_range);
    EXPECT_THROW(h.SetWord16(kImageHeaderSize - 1, 1), std::out_of_range);
}

TEST(ImageHeader, RomNameStopsAtZeroOrAtTheFieldEnd) {
    ImageHeader h;
    EXPECT_EQ(h.RomName(), "");
    h.SetText(header_offset::kRomName, "A02", 8);
    EXPECT_EQ(h.RomName(), "A02");
    // Eight characters fill the field with no terminator: the name must not
    // run on into the byte count behind it.
    h.SetText(header_offset::kRomName, "ABCDEFGHIJ", 8);
    h.SetWord32(header_offset::kByteCount, 0x41414141);
    EXPECT_EQ(h.RomName(), "ABCDEFGH");
    EXPECT_EQ(h.Byte(header_offset::kByteCount), 0x41);  // the cut text did not overwrite it
}

}  // namespace
}  // namespace nuva
