#include "setup/device/device_texts.h"

#include <gtest/gtest.h>

namespace nuva {
namespace {

TEST(DeviceTexts, LanguageTableServesBothColumns) {
    struct Row {
        uint32_t id;
        const char* code;
        uint32_t name;
    };
    for (Row r : {Row{0x0407, "GE", 123}, Row{0x0409, "EN", 121}, Row{0x040A, "SP", 124},
                  Row{0x040C, "FR", 122}, Row{0x0410, "IT", 125}}) {
        const LanguageRow* byId = LanguageRowForId(r.id);
        ASSERT_NE(byId, nullptr) << r.code;
        EXPECT_EQ(byId->code, r.code);
        EXPECT_EQ(byId->nameId, r.name);
        EXPECT_EQ(LanguageRowForCode(r.code), byId);
    }
    // Japanese, the two Chinese variants and the modern Spanish sort have no
    // row; neither have lower-case or one-letter codes.
    for (uint32_t id : {0x0411u, 0x0404u, 0x0804u, 0x0C0Au, 0u, 0x10409u}) {
        EXPECT_EQ(LanguageRowForId(id), nullptr) << std::hex << id;
    }
    for (const char* code : {"en", "E", "TC", "SC", "", "ENG"}) {
        EXPECT_EQ(LanguageRowForCode(code), nullptr) << code;
    }
}

TEST(DeviceTexts, DateCodesPrintAndOrder) {
    EXPECT_EQ(RomDateCode(0x03050300), "03050300");  // leading zero kept
    EXPECT_EQ(RomDateCode(0x12160200), "12160200");
    EXPECT_EQ(RomDateCode(0xABCDEF01), "abcdef01");
    EXPECT_EQ(RomDateCode(0), "00000000");

    // December 2002 is older than March 2003: the year pair comes first.
    EXPECT_LT(CompareRomDates("12160200", "03050300"), 0);
    EXPECT_GT(CompareRomDates("03050300", "12160200"), 0);
    EXPECT_LT(CompareRomDates("03050300", "04100300"), 0);  // month
    EXPECT_LT(CompareRomDates("04090300", "04100300"), 0);  // day
    EXPECT_LT(CompareRomDates("04100300", "04100301"), 0);  // trailing pair
    EXPECT_GT(CompareRomDates("04100310", "04100301"), 0);
    EXPECT_EQ(CompareRomDates("04100300", "04100300"), 0);
    // The difference of the first differing characters.
    EXPECT_EQ(CompareRomDates("01010500", "01010300"), '5' - '3');
    // A short code compares as padded, never reading past its end.
    EXPECT_LT(CompareRomDates("041003", "04100300"), 0);
    EXPECT_EQ(CompareRomDates("", ""), 0);
}

TEST(DeviceTexts, Utf16ToAnsi) {
    EXPECT_EQ(AnsiFromUtf16(u"A02"), "A02");
    EXPECT_EQ(AnsiFromUtf16(u"B\u00e9\u20ac"), std::string("B\xe9?"));
    EXPECT_EQ(AnsiFromUtf16(std::u16string_view(u"A0\0zz", 5)), "A0");
}

}  // namespace
}  // namespace nuva
