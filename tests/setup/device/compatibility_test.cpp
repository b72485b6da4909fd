#include "setup/device/compatibility.h"

#include <gtest/gtest.h>

namespace nuva {
namespace {

// A 2003 "Advanced" English handheld running A02 of 03050300.
DeviceInfo Device() {
    DeviceInfo info;
    info.Supported = 1;
    info.LanguageId = 0x0409;
    info.MemoryConfig = kMemoryConfigAdvanced;
    info.PlatformInfo = 0x03050300;
    info.OsMajorVersion = 4;
    for (size_t i = 0; i < 16; ++i) {
        info.DeviceUuid[i] = static_cast<uint8_t>(0x10 + i);
    }
    return info;
}

ImageHeader Image(std::string_view date, uint8_t osCode, uint8_t model = 0x40, std::string_view lang = "EN") {
    ImageHeader h;
    h.SetText(header_offset::kDateCode, date, 8);
    h.SetByte(header_offset::kOsCode, osCode);
    h.SetByte(header_offset::kModelByte, model);
    h.SetText(header_offset::kLanguageCode, lang, 2);
    return h;
}

ImageHeader BackupOf(const DeviceInfo& info, std::string_view date, uint8_t osCode) {
    ImageHeader h = Image(date, osCode);
    for (size_t i = 0; i < 16; ++i) {
        h.SetByte(header_offset::kUuid + i, info.DeviceUuid[i]);
    }
    return h;
}

int32_t Update(const ImageHeader& h, const DeviceInfo& d, CompatibilityVerdict& v, bool force = false) {
    return CheckCompatibility(h, d, v, 1, force ? 0 : 1, 0);
}

TEST(CheckCompatibility, NewerImageOfTheSameFamilyPasses) {
    CompatibilityVerdict v;
    v.SameRom = 7;  // stale values from an earlier test are cleared
    EXPECT_EQ(Update(Image("04100300", 3), Device(), v), 0);
    EXPECT_EQ(v, (CompatibilityVerdict{0, 0, 0, 0, 0, 1, 0}));
}

TEST(CheckCompatibility, ModelAndLanguage) {
    CompatibilityVerdict v;
    // Same date and family but the other model byte: a model refusal, not the same ROM.
    EXPECT_EQ(Update(Image("03050300", 3, 0x20), Device(), v), 1);
    EXPECT_EQ(v.ModelMismatch, 1);
    EXPECT_EQ(v.SameRom, 0);
    EXPECT_EQ(ChooseUpdateRefusal(v), UpdateRefusal::kImageCorrupt);
    EXPECT_EQ(UpdateRefusalResult(ChooseUpdateRefusal(v)), 3);

    DeviceInfo basic = Device();
    basic.MemoryConfig = kMemoryConfigBasic;
    EXPECT_EQ(Update(Image("04100300", 3, 0x20), basic, v), 0);
    basic.MemoryConfig = 0;  // never fits
    EXPECT_EQ(Update(Image("04100300", 3, 0x20), basic, v), 1);
    EXPECT_EQ(v.ModelMismatch, 1);

    // An unknown handheld language refuses every image.
    DeviceInfo japanese = Device();
    japanese.LanguageId = 0x0411;
    EXPECT_EQ(Update(Image("04100300", 3, 0x40, "EN"), japanese, v), 1);
    EXPECT_EQ(v.LanguageMismatch, 1);
    EXPECT_EQ(ChooseUpdateRefusal(v), UpdateRefusal::kReasonLanguage);
    EXPECT_EQ(Update(Image("04100300", 3, 0x40, "FR"), Device(), v), 1);
    EXPECT_EQ(v.LanguageMismatch, 1);
    // Language not refusing: recorded only.
    EXPECT_EQ(CheckCompatibility(Image("04100300", 3, 0x40, "FR"), Device(), v, 0, 1, 0), 0);
    EXPECT_EQ(v.LanguageMismatch, 1);
    // The model outranks the language when both fail.
    EXPECT_EQ(Update(Image("04100300", 3, 0x20, "FR"), Device(), v), 1);
    EXPECT_EQ(ChooseUpdateRefusal(v), UpdateRefusal::kImageCorrupt);
}

TEST(CheckCompatibility, DowngradesAndTheForceSwitch) {
    CompatibilityVerdict v;
    // One day older, same family.
    EXPECT_EQ(Update(Image("03040300", 3), Device(), v), 1);
    EXPECT_EQ(v.OsStep, 0);
    EXPECT_LT(v.RomOrder, 0);
    EXPECT_EQ(ChooseUpdateRefusal(v), UpdateRefusal::kReasonDowngrade);
    EXPECT_EQ(Update(Image("03040300", 3), Device(), v, true), 0);

    // A 2002 image on a 2003 handheld is a downgrade even with a newer date.
    EXPECT_EQ(Update(Image("12160300", 2), Device(), v), 1);
    EXPECT_EQ(v.OsStep, -1);
    EXPECT_GT(v.RomOrder, 0);
    EXPECT_EQ(ChooseUpdateRefusal(v), UpdateRefusal::kReasonDowngrade);
    EXPECT_EQ(Update(Image("12160300", 2), Device(), v, true), 0);

    // A 2003 image on a 2002 handheld with an older date passes.
    DeviceInfo old = Device();
    old.OsMajorVersion = 3;
    EXPECT_EQ(Update(Image("01010200", 3), old, v), 0);
    EXPECT_EQ(v.OsStep, 1);
    EXPECT_LT(v.RomOrder, 0);

    // OS major 0 wraps to 255 before the subtraction.
    DeviceInfo odd = Device();
    odd.OsMajorVersion = 0;
    Update(Image("04100300", 3), odd, v);
    EXPECT_EQ(v.OsStep, 3 - 255);
}

TEST(CheckCompatibility, SameRomIsRefusedEvenWhenForced) {
    CompatibilityVerdict v;
    EXPECT_EQ(Update(Image("03050300", 3), Device(), v, true), 1);
    EXPECT_EQ(v.SameRom, 1);
    EXPECT_EQ(ChooseUpdateRefusal(v), UpdateRefusal::kReasonSameRom);
    EXPECT_EQ(UpdateRefusalResult(UpdateRefusal::kReasonSameRom), 2);
    // Same date, other family: not the same ROM.
    DeviceInfo old = Device();
    old.OsMajorVersion = 3;
    EXPECT_EQ(Update(Image("03050300", 3), old, v), 0);
    EXPECT_EQ(v.SameRom, 0);
}

TEST(CheckCompatibility, RestoreRules) {
    DeviceInfo d = Device();
    CompatibilityVerdict v;
    // An older backup of the same handheld passes: no downgrade rule.
    EXPECT_EQ(CheckCompatibility(BackupOf(d, "11110200", 2), d, v, 1, 0, 1), 0);
    EXPECT_EQ(ChooseRestoreRefusal(v), RestoreRefusal::kSilent);

    // Another handheld.
    DeviceInfo other = d;
    other.DeviceUuid[15] ^= 1;
    EXPECT_EQ(CheckCompatibility(BackupOf(d, "11110200", 2), other, v, 1, 0, 1), 1);
    EXPECT_EQ(v.OtherDevice, 1);
    EXPECT_EQ(ChooseRestoreRefusal(v), RestoreRefusal::kReasonOtherDevice);

    // Another handheld's backup of the very ROM it runs: sameness is told first.
    EXPECT_EQ(CheckCompatibility(BackupOf(d, "03050300", 3), other, v, 1, 0, 1), 1);
    EXPECT_EQ(v.SameRom, 1);
    EXPECT_EQ(v.OtherDevice, 1);
    EXPECT_EQ(ChooseRestoreRefusal(v), RestoreRefusal::kReasonSameRom);

    // Language before sameness, model before all.
    DeviceInfo french = d;
    french.LanguageId = 0x040C;
    EXPECT_EQ(CheckCompatibility(BackupOf(d, "03050300", 3), french, v, 1, 0, 1), 1);
    EXPECT_EQ(ChooseRestoreRefusal(v), RestoreRefusal::kReasonLanguage);
    DeviceInfo basic = french;
    basic.MemoryConfig = kMemoryConfigBasic;
    EXPECT_EQ(CheckCompatibility(BackupOf(d, "03050300", 3), basic, v, 1, 0, 1), 1);
    EXPECT_EQ(ChooseRestoreRefusal(v), RestoreRefusal::kImageCorrupt);

    // The update page does not compare devices.
    EXPECT_EQ(CheckCompatibility(Image("04100300", 3), other, v, 1, 1, 0), 0);
    EXPECT_EQ(v.OtherDevice, 0);
}

TEST(CheckCompatibility, UpdateRefusalOrderCoversEveryLine) {
    CompatibilityVerdict v;
    v.Refuse = 1;
    v.OsStep = 1;
    EXPECT_EQ(ChooseUpdateRefusal(v), UpdateRefusal::kSilent);
    EXPECT_EQ(UpdateRefusalResult(UpdateRefusal::kSilent), 3);
    v.OsStep = -2;
    v.RomOrder = 0;
    EXPECT_EQ(ChooseUpdateRefusal(v), UpdateRefusal::kReasonDowngrade);
    v.OsStep = 0;
    EXPECT_EQ(ChooseUpdateRefusal(v), UpdateRefusal::kReasonSameRom);
}

}  // namespace
}  // namespace nuva
