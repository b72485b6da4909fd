#include "setup/device/info_texts.h"

#include <gtest/gtest.h>

#include "setup/resources/string_table.h"
#include "tests/support/temp_folder.h"

namespace nuva {
namespace {

DeviceInfo Device(uint32_t language = 0x0409, uint32_t memory = kMemoryConfigAdvanced) {
    DeviceInfo info;
    info.Supported = 1;
    info.LanguageId = language;
    info.MemoryConfig = memory;
    info.PlatformInfo = 0x03050300;
    info.OsMajorVersion = 4;
    SetFieldText(info.RomVersion, u"A02");
    return info;
}

ImageHeader Image(std::string_view date, std::string_view lang, uint8_t model, uint8_t os,
                  std::string_view name) {
    ImageHeader h;
    h.SetText(header_offset::kDateCode, date, 8);
    h.SetText(header_offset::kLanguageCode, lang, 2);
    h.SetByte(header_offset::kModelByte, model);
    h.SetByte(header_offset::kOsCode, os);
    h.SetText(header_offset::kRomName, name, 8);
    return h;
}

TEST(InfoTexts, DeviceColumn) {
    InfoColumn c = DeviceColumnTexts(Device(), 4);
    EXPECT_EQ(c.model, "Brel Nuva Q7 Advanced");
    EXPECT_EQ(c.romVersion, "A02(03050300EN)");
    EXPECT_EQ(c.osVersion, "Microsoft POCKET PC 2003");
    EXPECT_EQ(c.language, "English");

    // Japanese: no language text and no code; the OS text comes from the
    // version call, not DeviceInfo.
    c = DeviceColumnTexts(Device(0x0411, 0), 3);
    EXPECT_EQ(c.model, "Brel Nuva Q7 ");
    EXPECT_EQ(c.romVersion, "A02(03050300)");
    EXPECT_EQ(c.language, "");
    EXPECT_EQ(c.osVersion, "Microsoft POCKET PC 2002");
    EXPECT_EQ(DeviceColumnTexts(Device(0x040C, kMemoryConfigBasic), 5).osVersion, "Microsoft POCKET PC ");
    EXPECT_EQ(DeviceColumnTexts(Device(0x040C, kMemoryConfigBasic), 5).model, "Brel Nuva Q7 Basic");

    DeviceInfo odd = Device(0x0410);
    odd.PlatformInfo = 0x0000000A;
    SetFieldText(odd.RomVersion, u"R\u00e9v");
    c = DeviceColumnTexts(odd, 4);
    EXPECT_EQ(c.romVersion, "R\xC3\xA9v(0000000aIT)");
    EXPECT_EQ(c.language, "Italian");
}

TEST(InfoTexts, ImageColumn) {
    InfoColumn c = ImageColumnTexts(Image("04100300", "EN", 0x40, 3, "A03"));
    EXPECT_EQ(c.model, "Brel Nuva Q7 Advanced");
    EXPECT_EQ(c.romVersion, "A03(04100300EN)");
    EXPECT_EQ(c.osVersion, "Microsoft POCKET PC 2003");
    EXPECT_EQ(c.language, "English");

    c = ImageColumnTexts(Image("12160200", "SC", 0x20, 0, ""));
    EXPECT_EQ(c.model, "Brel Nuva Q7 Basic");
    EXPECT_EQ(c.romVersion, "(12160200)");
    EXPECT_EQ(c.osVersion, "Microsoft POCKET PC 2002");
    EXPECT_EQ(c.language, "");
    EXPECT_EQ(ImageColumnTexts(Image("12160200", "GE", 0x33, 9, "X")).osVersion, "Microsoft POCKET PC ");
    EXPECT_EQ(ImageColumnTexts(Image("12160200", "GE", 0x33, 9, "X")).model, "Brel Nuva Q7 ");
    // An eight-character name and a date cut by a NUL stay inside their fields.
    c = ImageColumnTexts(Image(std::string_view("0410\0\0\0\0", 8), "FR", 0x40, 2, "ABCDEFGHXX"));
    EXPECT_EQ(c.romVersion, "ABCDEFGH(0410FR)");
    EXPECT_EQ(c.language, "French");
}

TEST(InfoTexts, BackupConfirmationAndFileName) {
    InfoColumn c = BackupConfirmTexts(Device(0x0411, 0));
    EXPECT_EQ(c.model, "Brel Nuva Q7 Basic");
    EXPECT_EQ(c.language, "English");
    EXPECT_EQ(c.romVersion, "A02(03050300EN)");
    EXPECT_EQ(c.osVersion, "Microsoft POCKET PC 2003");
    EXPECT_EQ(BackupConfirmTexts(Device(0x0407)).language, "German");
    EXPECT_EQ(BackupConfirmTexts(Device(0x0407)).romVersion, "A02(03050300GE)");

    EXPECT_EQ(BackupFileName(Device()), "A02H-03050300EN");
    EXPECT_EQ(BackupFileName(Device(0x0404, kMemoryConfigBasic)), "A02L-03050300TC");
    EXPECT_EQ(BackupFileName(Device(0x0411)), "A02H-03050300");
}

TEST(InfoTexts, DowngradeLine) {
    DeviceInfo d = Device();
    SetFieldText(d.RomVersion, u"R");
    EXPECT_EQ(DowngradeReasonLine(d, Image("11110200", "EN", 0x40, 2, "A00")),
              "* You cannot downgrade Microsoft Pocket PC 2003(R) to Pocket PC 2002(A00).\n");
    d.OsMajorVersion = 3;
    EXPECT_EQ(DowngradeReasonLine(d, Image("11110200", "EN", 0x40, 0, "A00")),
              "* You cannot downgrade Microsoft Pocket PC 2002(R) to Pocket PC 2003(A00).\n");
}

TEST(InfoTexts, TranslatedFormatsAreUsed) {
    nuva::testing::TempFolder dir;
    std::string module =
        dir.Write("fr.rc", "140 \"Brel Nuva Q7 (%s)\"\n119 \"Avanc\xC3\xA9\"\n143 \"<%s>\"\n");
    ASSERT_TRUE(LoadLanguageModule(module).ok);
    InfoColumn c = DeviceColumnTexts(Device(0x040C), 4);
    EXPECT_EQ(c.model, "Brel Nuva Q7 (Avanc\xC3\xA9)");
    EXPECT_EQ(c.language, "<French>");
    UnloadLanguageModule();
}

TEST(InfoTexts, WideText) {
    EXPECT_EQ(WideFromUtf16(std::u16string(1, char16_t(0xD800)) + u"x"), L"\uFFFDx");
    EXPECT_EQ(WideFromUtf16(u"\U0001F600"), std::wstring(1, static_cast<wchar_t>(0x1F600)));
}

}  // namespace
}  // namespace nuva
