#include "formats/text_encoding.h"

#include <gtest/gtest.h>

namespace nuva {
namespace {

TEST(TextEncoding, BothDirectionsKeepEveryCharacterAndReplaceWhatDoesNotDecode) {
    EXPECT_EQ(Utf16FromUtf8("\\Windows\\StartUp"), u"\\Windows\\StartUp");
    EXPECT_EQ(Utf16FromUtf8("Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80"), u"Caf\u00e9 \u20ac \U0001F600");
    EXPECT_EQ(Utf8FromUtf16(u"Caf\u00e9 \u20ac \U0001F600"), "Caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80");
    // A NUL is a character: fixed fields are cut before they are converted.
    EXPECT_EQ(Utf8FromUtf16(std::u16string_view(u"ab\0cd", 5)), std::string("ab\0cd", 5));
    EXPECT_EQ(Utf16FromUtf8(std::string("ab\0cd", 5)), std::u16string(u"ab\0cd", 5));
    // Broken input becomes replacement characters, never a crash: a byte
    // that starts nothing, a sequence cut short, an overlong form, an
    // encoded surrogate, an unpaired surrogate either way round.
    EXPECT_EQ(Utf16FromUtf8("a\xff"
                            "b\xe2\x82"),
              u"a\uFFFDb\uFFFD");
    EXPECT_EQ(Utf16FromUtf8("\xe0\x80\xaf"), u"\uFFFD");
    EXPECT_EQ(Utf16FromUtf8("\xed\xa0\x80"), u"\uFFFD");
    EXPECT_EQ(Utf8FromUtf16(std::u16string(1, char16_t{0xD800}) + u"x"), "\xef\xbf\xbdx");
    EXPECT_EQ(Utf8FromUtf16(std::u16string(1, char16_t{0xDC00})), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace nuva
