// The JSON the programs write must be read back exactly by a strict reader,
// and the reader must refuse everything RFC 8259 does not allow.
#include "formats/json.h"

#include <gtest/gtest.h>

namespace nuva {
namespace {

std::optional<JsonValue> Parse(const std::string& text) {
    std::string error;
    return ParseJson(text, error);
}

TEST(Json, QuotedTextReadsBackAsItWasWhateverItHolds) {
    const std::string texts[] = {
        "plain",
        "quote \" and backslash \\ and slash /",
        std::string("controls \x01\x1f\n\r\t\b\f and NUL ") + '\0' + " inside",
        "UTF-8: \xC3\xA9t\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80",
    };
    for (const std::string& text : texts) {
        const std::string quoted = JsonQuote(text);
        for (char c : quoted) {
            EXPECT_GE(static_cast<unsigned char>(c), 0x20) << "a raw control character in " << quoted;
        }
        std::optional<JsonValue> back = Parse(quoted);
        ASSERT_TRUE(back) << quoted;
        EXPECT_EQ(back->AsString(), text);
    }
    // Bytes that are not UTF-8 (a lone continuation, an overlong form, a
    // cut sequence) become U+FFFD so that the line stays valid.
    std::optional<JsonValue> mended = Parse(JsonQuote("a\x80z \xC0\xAF \xE2\x82"));
    ASSERT_TRUE(mended);
    EXPECT_EQ(mended->AsString(), "a\xEF\xBF\xBDz \xEF\xBF\xBD\xEF\xBF\xBD \xEF\xBF\xBD\xEF\xBF\xBD");
}

TEST(Json, ReadsWhatTheStandardAllows) {
    std::optional<JsonValue> v =
        Parse(" {\"a\":[1,-0.5,2e3,true,false,null],\"s\":\"\\u00e9\\ud83d\\ude00\\/\",\"o\":{}} \n");
    ASSERT_TRUE(v);
    const JsonValue* a = v->Find("a");
    ASSERT_TRUE(a != nullptr && a->IsArray());
    ASSERT_EQ(a->Items().size(), 6u);
    EXPECT_EQ(a->Items()[1].AsNumber(), -0.5);
    EXPECT_EQ(a->Items()[2].AsNumber(), 2000);
    EXPECT_TRUE(a->Items()[3].AsBool());
    EXPECT_TRUE(a->Items()[5].IsNull());
    EXPECT_EQ(v->Find("s")->AsString(), "\xC3\xA9\xF0\x9F\x98\x80/");
    EXPECT_TRUE(v->Find("o")->IsObject());
    EXPECT_EQ(v->Find("missing"), nullptr);
}

TEST(Json, RefusesWhatTheStandardDoesNot) {
    const char* bad[] = {
        "",
        "{",
        "{\"a\":1,}",
        "[1,]",
        "01",
        "1.",
        "-",
        ".5",
        "1e",
        "{'a':1}",
        "\"tab\there\"",
        "\"\\x\"",
        "\"\\ud800\"",
        "\"\\udc00\"",
        "\"\\u12\"",
        "{\"a\":1,\"a\":2}",
        "[1] [2]",
        "nul",
        "\"\xC0\xAF\"",
        "\"\xED\xA0\x80\"",
        "{\"a\" 1}",
        "[1 2]",
        "1e999",
    };
    for (const char* text : bad) {
        std::string error;
        EXPECT_FALSE(ParseJson(text, error)) << text;
        EXPECT_FALSE(error.empty()) << text;
    }
    std::string deep(kJsonMaxDepth + 1, '[');
    deep += std::string(kJsonMaxDepth + 1, ']');
    EXPECT_FALSE(Parse(deep));
    EXPECT_TRUE(Parse(std::string(kJsonMaxDepth, '[') + std::string(kJsonMaxDepth, ']')));
}

}  // namespace
}  // namespace nuva
