#include "setup/device/update_plan.h"

#include <gtest/gtest.h>

#include <string>

namespace nuva {
namespace {

ImageHeader Header(uint8_t osCode, uint8_t modelByte, std::string_view romName) {
    ImageHeader h;
    h.SetByte(header_offset::kOsCode, osCode);
    h.SetByte(header_offset::kModelByte, modelByte);
    h.SetText(header_offset::kRomName, romName, 8);
    return h;
}

std::u16string Name(const ImagePart& p) {
    std::u16string s;
    for (char16_t c : p.PartName) {
        if (c == 0)
            break;
        s.push_back(c);
    }
    return s;
}

TEST(UpdatePlan, PartsCoverTheContentsExactly) {
    for (OsFamily os : {OsFamily::kPocketPc2003, OsFamily::kPocketPc2002}) {
        UpdateHandoff r;
        uint32_t items = BuildUpdatePlan({os, ModelClass::kAdvanced}, r);
        ASSERT_EQ(items, 13u);
        ASSERT_EQ(r.Items, 13u);
        uint32_t total = os == OsFamily::kPocketPc2003 ? 0x1980000 : 0x19C0000;
        EXPECT_EQ(r.TotalBytes, total);
        uint32_t expectedOffset = 0;
        for (uint32_t i = 0; i < items; ++i) {
            const ImagePart& p = r.parts[i];
            EXPECT_EQ(p.ImageOffset, expectedOffset) << i;
            EXPECT_EQ(p.FlashAddress, 0xA0040000u + p.ImageOffset) << i;
            EXPECT_EQ(p.Slot, 12u - i) << i;
            EXPECT_EQ(p.FirstFlag, i == 0 ? 1u : 0u) << i;
            EXPECT_EQ(p.LateFlag, i > 3 ? 1u : 0u) << i;
            EXPECT_EQ(p.PartSum, 0u);
            std::u16string expected = u"\\TEMP\\";
            for (char c : std::to_string(i)) {
                expected.push_back(static_cast<char16_t>(c));
            }
            EXPECT_EQ(Name(p), expected) << i;
            if (i == 0) {
                EXPECT_EQ(p.PartLength, 0x300000u);
            } else if (i < 12) {
                EXPECT_EQ(p.PartLength, 0x200000u) << i;
            }
            expectedOffset += p.PartLength;
        }
        EXPECT_EQ(expectedOffset, total);
        EXPECT_EQ(r.parts[12].PartLength, os == OsFamily::kPocketPc2003 ? 0x80000u : 0xC0000u);
        for (size_t i = 13; i < kMaxImageParts; ++i) {
            EXPECT_EQ(r.parts[i], ImagePart{}) << i;
        }
    }
    // The last 2003 part: 0x80000 bytes at 0xA1940000, slot 0.
    UpdateHandoff r;
    BuildUpdatePlan({OsFamily::kPocketPc2003, ModelClass::kAdvanced}, r);
    EXPECT_EQ(r.parts[12].FlashAddress, 0xA1940000u);
    EXPECT_EQ(r.parts[12].Slot, 0u);
    EXPECT_EQ(r.parts[0].Slot, 12u);
}

TEST(UpdatePlan, VariantsCarryTheirAddresses) {
    struct Row {
        PlanVariant v;
        uint32_t total, absoluate, frsvd, psm;
    };
    for (Row row :
         {Row{{OsFamily::kPocketPc2003, ModelClass::kAdvanced}, 0x1980000, 0xA7FCE000, 0x87FEC004, 0x1600000},
          Row{{OsFamily::kPocketPc2003, ModelClass::kBasic}, 0x1980000, 0xA5FCE000, 0x85FEC004, 0x600000},
          Row{{OsFamily::kPocketPc2002, ModelClass::kAdvanced}, 0x19C0000, 0xA7FCE000, 0x87FEC004, 0x1600000},
          Row{{OsFamily::kPocketPc2002, ModelClass::kBasic}, 0x19C0000, 0xA5FCE000, 0x85FEC004, 0x600000}}) {
        UpdateHandoff r;
        BuildUpdatePlan(row.v, r);
        EXPECT_EQ(r.RecordSize, 4488u);
        EXPECT_EQ(r.TotalBytes, row.total);
        EXPECT_EQ(r.UI, 0xBE042000u);
        EXPECT_EQ(r.absoluate, row.absoluate);
        EXPECT_EQ(r.FRsvd, row.frsvd);
        EXPECT_EQ(r.PSMStart, 0xA1A00000u);
        EXPECT_EQ(r.PSMLength, row.psm);
        EXPECT_EQ(r.FlashOffset, 0x40000u);
    }
}

TEST(UpdatePlan, VariantChoice) {
    auto v = PlanVariantForImage(Header(3, 0x40, ""));
    EXPECT_EQ(v.os, OsFamily::kPocketPc2003);
    EXPECT_EQ(v.model, ModelClass::kAdvanced);
    v = PlanVariantForImage(Header(0, 0x20, ""));
    EXPECT_EQ(v.os, OsFamily::kPocketPc2002);
    EXPECT_EQ(v.model, ModelClass::kBasic);
    v = PlanVariantForImage(Header(7, 0x41, ""));
    EXPECT_EQ(v.os, OsFamily::kPocketPc2002);
    EXPECT_EQ(v.model, ModelClass::kBasic);

    DeviceInfo info;
    info.OsMajorVersion = 4;
    info.MemoryConfig = kMemoryConfigAdvanced;
    v = PlanVariantForDevice(info);
    EXPECT_EQ(v.os, OsFamily::kPocketPc2003);
    EXPECT_EQ(v.model, ModelClass::kAdvanced);
    info.OsMajorVersion = 5;
    info.MemoryConfig = 0;
    v = PlanVariantForDevice(info);
    EXPECT_EQ(v.os, OsFamily::kPocketPc2002);
    EXPECT_EQ(v.model, ModelClass::kBasic);
}

TEST(UpdatePlan, ImageWriteKeepsStorageOnlyWithinTheFamily) {
    // 2003 image on a 2003 handheld: storage kept.
    UpdateHandoff r = PlanImageWrite(Header(3, 0x40, "A03"), 4, PlanMode::kUpdate);
    EXPECT_EQ(r.PSMStart, 0u);
    EXPECT_EQ(r.PSMLength, 0u);
    EXPECT_EQ(std::string(r.ROMNAME.data()), "2003(A03)");
    EXPECT_EQ(r.Status[0], 0);
    EXPECT_EQ(r.Status[1], 1);
    EXPECT_EQ(r.Items, 13u);
    // 2003 image on a 2002 handheld: the region is erased.
    r = PlanImageWrite(Header(3, 0x20, "A03"), 3, PlanMode::kRestore);
    EXPECT_EQ(r.PSMStart, 0xA1A00000u);
    EXPECT_EQ(r.PSMLength, 0x600000u);
    EXPECT_EQ(r.Status[0], 1);
    // 2002 image on a 2002 handheld, and an unknown code counted as 2002.
    r = PlanImageWrite(Header(2, 0x40, "A00"), 3, PlanMode::kUpdate);
    EXPECT_EQ(r.PSMLength, 0u);
    EXPECT_EQ(std::string(r.ROMNAME.data()), "2002(A00)");
    r = PlanImageWrite(Header(0, 0x40, "X"), 3, PlanMode::kUpdate);
    EXPECT_EQ(r.PSMLength, 0u);
    EXPECT_EQ(r.TotalBytes, 0x19C0000u);
    EXPECT_EQ(std::string(r.ROMNAME.data()), "(X)");
    r = PlanImageWrite(Header(2, 0x40, "A00"), 4, PlanMode::kUpdate);
    EXPECT_EQ(r.PSMLength, 0x1600000u);
    // A name of all eight characters still fits, zero-padded.
    r = PlanImageWrite(Header(3, 0x40, "ABCDEFGHIJ"), 4, PlanMode::kUpdate);
    EXPECT_EQ(std::string(r.ROMNAME.data()), "2003(ABCDEFGH)");
    for (size_t i = 14; i < r.ROMNAME.size(); ++i) {
        EXPECT_EQ(r.ROMNAME[i], '\0');
    }
}

TEST(UpdatePlan, GenerationChangeWarnsWheneverStorageIsErased) {
    EXPECT_FALSE(ChangesGeneration(3, 4));
    EXPECT_FALSE(ChangesGeneration(2, 3));
    EXPECT_TRUE(ChangesGeneration(3, 3));
    EXPECT_TRUE(ChangesGeneration(2, 4));
    // Images of an unknown code are written with the 2002 plan.
    EXPECT_FALSE(ChangesGeneration(0, 3));
    EXPECT_TRUE(ChangesGeneration(0, 4));
    for (uint8_t code : {uint8_t{0}, uint8_t{2}, uint8_t{3}, uint8_t{9}}) {
        for (uint32_t major : {3u, 4u, 5u}) {
            EXPECT_EQ(ChangesGeneration(code, major), !KeepsBuiltInStorage(code, major));
            UpdateHandoff r = PlanImageWrite(Header(code, 0x40, ""), major, PlanMode::kUpdate);
            EXPECT_EQ(r.PSMLength != 0, ChangesGeneration(code, major)) << int(code) << " " << major;
        }
    }
}

}  // namespace
}  // namespace nuva
