#include "setup/resources/string_table.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cwchar>
#include <filesystem>
#include <fstream>

#include "setup/resources/string_ids.h"

namespace nuva {
namespace {

using A = FormatArg;

std::vector<FormatArg> Args(std::string_view format) {
    std::vector<FormatArg> args;
    std::string reason;
    EXPECT_TRUE(FormatArguments(format, args, reason)) << format << ": " << reason;
    return args;
}

std::string Refusal(std::string_view format) {
    std::vector<FormatArg> args;
    std::string reason;
    EXPECT_FALSE(FormatArguments(format, args, reason)) << format;
    return reason;
}

TableError ParseError(std::string_view text) {
    StringTable table;
    TableError error;
    EXPECT_FALSE(ParseStringTable(text, table, error)) << text;
    EXPECT_TRUE(table.empty());
    return error;
}

class ModuleFile {
  public:
    explicit ModuleFile(std::string_view text) {
        path_ = (std::filesystem::temp_directory_path() /
                 ("nuva-module-" + std::to_string(::getpid()) + "-" + std::to_string(counter_++) + ".rc"))
                    .string();
        std::ofstream(path_, std::ios::binary) << text;
    }
    ~ModuleFile() { std::filesystem::remove(path_); }
    const std::string& path() const { return path_; }

  private:
    static inline int counter_ = 0;
    std::string path_;
};

TEST(BuiltInStrings, HoldTheProgramTextsExactly) {
    const StringTable& table = BuiltInStrings();
    EXPECT_EQ(table.size(), 66u);
    EXPECT_EQ(LoadString(101), "&About Vantor...");
    EXPECT_EQ(LoadString(109), "Copy Complete.\n");
    EXPECT_EQ(LoadString(128),
              "Connect your device to a computer using a sync cable or cradle before running the reflash. "
              "Ensure that "
              "ActiveSync is installed on the computer and that the ActiveSync connection is successful.  ");
    EXPECT_EQ(LoadString(130), "Copy incomplete! The reflash  procedure CANNOT proceed.");
    EXPECT_EQ(LoadString(134), "The Reflash file can not be found. Reinstall the Reflash .");
    EXPECT_EQ(LoadString(135),
              "The integrity check on the system image file failed. \nReinstall the Reflash program.");
    EXPECT_EQ(LoadString(166), "* Battery power is less than 40%.\n");
    EXPECT_EQ(LoadString(177), "ROM Image Saved File(*.RIS)|*.RIS||");
    EXPECT_EQ(LoadString(184), "\n\n\n\n\n\n\n\n\n       Copying files ");
    EXPECT_EQ(LoadString(185), "\n\n\n\n\n\n\n\n\n Copying backup ROM image");
    EXPECT_EQ(LoadString(182), "\n\n\n\n\n\n\n\n\n     ROM Backup complete");
    EXPECT_EQ(LoadString(112), LoadString(113));
    EXPECT_EQ(LoadString(112).substr(0, 6), "\nYour ");
    EXPECT_EQ(LoadString(112).substr(LoadString(112).size() - 4), ".\n\n\n");
    for (uint32_t id : {137u, 138u, 139u, 159u, 160u, 161u}) {
        EXPECT_EQ(LoadString(id), "The procedure CANNOT proceed due to the following reason:") << id;
    }
    EXPECT_EQ(LoadString(187), "&Next >");
    EXPECT_EQ(LoadString(188), "&Exit");
    // Ids without a text read as empty, like an absent string resource.
    EXPECT_EQ(LoadString(131), "");
    EXPECT_EQ(LoadString(100), "");
    EXPECT_EQ(LoadString(189), "");
    for (const auto& [id, text] : table) {
        EXPECT_GE(id, string_id::kFirst);
        EXPECT_LE(id, string_id::kLast);
        EXPECT_FALSE(text.empty()) << id;
    }
}

TEST(BuiltInStrings, FormatsTakeTheirArguments) {
    EXPECT_EQ(Args(LoadString(string_id::kModelFormat)), std::vector<A>{A::kString});
    EXPECT_EQ(Args(LoadString(string_id::kDeviceRomFormat)),
              (std::vector<A>{A::kWideString, A::kInt, A::kString}));
    EXPECT_EQ(Args(LoadString(string_id::kBackupFileNameFormat)),
              (std::vector<A>{A::kWideString, A::kInt, A::kInt, A::kString}));
    EXPECT_EQ(Args(LoadString(string_id::kBackupProgressFormat)), std::vector<A>{A::kInt});
    EXPECT_EQ(Args(LoadString(string_id::kReasonDowngradeFormat)), std::vector<A>(4, A::kString));
    EXPECT_EQ(Args(LoadString(string_id::kReasonLowBattery)), std::vector<A>{A::kNone});
    EXPECT_TRUE(Args(LoadString(string_id::kCaution)).empty());

    EXPECT_EQ(FormatText(141, L"A02", 0x03050300u, "EN"), "A02(03050300EN)");
    EXPECT_EQ(FormatText(148, L"A02", 'H', 0x03050300u, "TC"), "A02H-03050300TC");
    EXPECT_EQ(FormatText(150, 7), "Copying files and saving ROM image ...  7%");
    EXPECT_EQ(FormatText(140, ""), "Brel Nuva Q7 ");
    EXPECT_EQ(FormatText(170, "2003", "R", "2002", "A00"),
              "* You cannot downgrade Microsoft Pocket PC 2003(R) to Pocket PC 2002(A00).\n");
}

TEST(FormatText, RefusesArgumentsTheTextDoesNotTake) {
    // A call that does not match the text gives nothing rather than letting
    // printf read the wrong thing.
    EXPECT_EQ(FormatText(141, "A02", 0x03050300u, "EN"), "");
    EXPECT_EQ(FormatText(141, L"A02", 0x03050300u), "");
    EXPECT_EQ(FormatText(150, "7"), "");
    EXPECT_EQ(FormatText(150, 7L), "");
    EXPECT_EQ(FormatText(126), "Caution");
    EXPECT_EQ(FormatText(131), "");
    EXPECT_EQ(FormatWithArguments("%d-%s", {FormatArg::kInt, FormatArg::kString}, 5, "x"), "5-x");
    EXPECT_EQ(FormatWithArguments("%s", {FormatArg::kInt}, 5), "");
    EXPECT_EQ(FormatWithArguments("%n", {FormatArg::kPointer}, nullptr), "");
    std::string longText =
        FormatWithArguments("%s%s", {FormatArg::kString, FormatArg::kString}, std::string(3000, 'a').c_str(),
                            std::string(3000, 'b').c_str());
    EXPECT_EQ(longText.size(), 6000u);
}

TEST(StringTableFile, AcceptsTheDocumentedForm) {
    StringTable table;
    TableError error;
    std::map<uint32_t, size_t> lines;
    ASSERT_TRUE(
        ParseStringTable("\xEF\xBB\xBF# comment\r\n\r\n   # indented comment\n"
                         "  140 \t\"Brel Nuva Q7 %s\"  \r\n"
                         "141 \"a\\tb\\\\c\\\"d\\r\\n\\x41\\xc3\\xA9\"\n"
                         "122 \"Fran\xC3\xA7"
                         "ais\"\n"
                         "188 \"\"",
                         table, error, &lines))
        << error.line << ": " << error.message;
    EXPECT_EQ(table.size(), 4u);
    EXPECT_EQ(table[140], "Brel Nuva Q7 %s");
    EXPECT_EQ(table[141], "a\tb\\c\"d\r\nA\xC3\xA9");
    EXPECT_EQ(table[122],
              "Fran\xC3\xA7"
              "ais");
    EXPECT_EQ(table[188], "");
    EXPECT_EQ(lines[140], 4u);
    EXPECT_EQ(lines[188], 7u);
}

TEST(StringTableFile, RefusesMalformedLinesByNumber) {
    struct Case {
        std::string text;
        size_t line;
    };
    for (const Case& c : std::vector<Case>{
             {"140 \"ok\"\n141 \"no end\n", 2},
             {"140 \"ok\"\n\n141 \"bad \\q escape\"\n", 3},
             {"141 \"\\x00\"\n", 1},
             {"141 \"\\x4\"\n", 1},
             {"141 \"\\\"\n", 1},  // the only quote is escaped
             {"100 \"below\"\n", 1},
             {"189 \"above\"\n", 1},
             {"0141 \"four digits\"\n", 1},
             {"99999999999 \"huge\"\n", 1},
             {"abc \"x\"\n", 1},
             {"141\"no blank\"\n", 1},
             {"141 text\n", 1},
             {"141 \"a\" b\n", 1},
             {"141 \"a\"\n#\n141 \"again\"\n", 3},
             {"141 \"tab\there\"\n", 1},  // a raw tab inside the quotes
             {"141 \"bad \xC3\x28 utf8\"\n", 1},
             {"141 \"overlong \xC0\xAF\"\n", 1},
             {"141 \"cut \xE2\x82\"\n", 1},
             {std::string("140 \"ok\"\n141 \"a\0b\"\n", 19), 2},
             {"141 \"" + std::string(4097, 'x') + "\"\n", 1},
         }) {
        TableError e = ParseError(c.text);
        EXPECT_EQ(e.line, c.line) << c.text.substr(0, 40) << " -> " << e.message;
        EXPECT_FALSE(e.message.empty());
    }
    EXPECT_NE(ParseError("141 \"a\"\n141 \"b\"\n").message.find("line 1"), std::string::npos);
}

TEST(FormatArguments, ReadsWhatPrintfReads) {
    EXPECT_TRUE(Args("plain text").empty());
    EXPECT_TRUE(Args("100%% sure %%s").empty());
    EXPECT_EQ(Args("%s"), std::vector<A>{A::kString});
    EXPECT_EQ(Args("%ls %S"), (std::vector<A>{A::kWideString, A::kWideString}));
    EXPECT_EQ(Args("%-08.3x|%+i|% d|%#o|%hhu|%hd|%c"), std::vector<A>(7, A::kInt));
    EXPECT_EQ(Args("%lc%C"), (std::vector<A>{A::kWideChar, A::kWideChar}));
    EXPECT_EQ(Args("%*d"), (std::vector<A>{A::kInt, A::kInt}));
    EXPECT_EQ(Args("%-*.*s"), (std::vector<A>{A::kInt, A::kInt, A::kString}));
    EXPECT_EQ(
        Args("%ld %lld %qd %zu %Zu %jd %td"),
        (std::vector<A>{A::kLong, A::kLongLong, A::kLongLong, A::kSize, A::kSize, A::kIntMax, A::kPtrDiff}));
    EXPECT_EQ(Args("%f %lf %Le %g %A"),
              (std::vector<A>{A::kDouble, A::kDouble, A::kLongDouble, A::kDouble, A::kDouble}));
    EXPECT_EQ(Args("%p"), std::vector<A>{A::kPointer});
    // Percent signs that start no conversion read nothing, but count.
    EXPECT_EQ(Args("40%.\n"), std::vector<A>{A::kNone});
    EXPECT_EQ(Args("40 %"), std::vector<A>{A::kNone});
    EXPECT_EQ(Args("40%!"), std::vector<A>{A::kNone});
    // ... except that a '*' before them still reads an int.
    EXPECT_EQ(Args("%.*\n"), (std::vector<A>{A::kInt, A::kNone}));

    EXPECT_NE(Refusal("%n").find("%n"), std::string::npos);
    EXPECT_NE(Refusal("%hhn").size(), 0u);
    EXPECT_NE(Refusal("%1$s").find("numbered"), std::string::npos);
    EXPECT_NE(Refusal("%*2$d").find("numbered"), std::string::npos);
    EXPECT_NE(Refusal("%.*1$d").find("numbered"), std::string::npos);
    Refusal("%hs");
    Refusal("%Ld");
    Refusal("%lp");
    Refusal("%b");  // binary in newer C libraries: reads an unsigned
    Refusal("%m");
    Refusal("%y");
    Refusal("%hhf");
    Refusal("%l");
    Refusal("%ll\n");
    // One length modifier, as the C library takes it ("hh" and "ll" are the
    // only pairs): what follows it is the conversion. Read as two modifiers
    // and a percent sign, these passed as a text of one integer and then had
    // printf read a string, or write through an argument, never passed.
    Refusal("%2d%zl%s");
    Refusal("%2d%hl%n");
    Refusal("%lh%1$s");
    Refusal("%Lh%s");
    // Only "%%" is a percent sign; with modifiers it is refused.
    Refusal("%5%");
    Refusal("%l%");
    // A field of a billion characters passed as text 150's single integer
    // and had every progress step format a gigabyte.
    EXPECT_NE(Refusal("%999999999d%%").find("width or precision"), std::string::npos);
    Refusal("%.101s");
    Refusal("%0000000000000000000000101x");
    EXPECT_EQ(Args("%100d %.100s"), (std::vector<A>{A::kInt, A::kString}));
}

TEST(ModuleFormats, MustTakeTheProgramsArguments) {
    const StringTable& own = BuiltInStrings();
    uint32_t bad = 0;
    std::string reason;
    auto check = [&](StringTable module) { return CheckModuleFormats(own, module, bad, reason); };

    EXPECT_TRUE(check({{141, "%ls[%08X%s]"}, {150, "Copie de l'image ROM ... %2d %%"}, {126, "Attention"}}));
    EXPECT_TRUE(check({{166, "* La batterie est sous 40 %.\n"}}));
    EXPECT_TRUE(check({{170, "* %s(%s) -> %s(%s) impossible.\n"}}));
    EXPECT_TRUE(check({}));

    EXPECT_FALSE(check({{126, "Attention"}, {141, "%s(%08x%s)"}}));  // narrow where wide is passed
    EXPECT_EQ(bad, 141u);
    EXPECT_NE(reason.find("wide string"), std::string::npos);
    EXPECT_FALSE(check({{141, "%08x(%ls%s)"}}));    // reordered
    EXPECT_FALSE(check({{141, "%ls(%08x%s%s)"}}));  // one more
    EXPECT_FALSE(check({{141, "%ls(%08x)"}}));      // one fewer
    EXPECT_FALSE(check({{140, "Brel Nuva Q7 %d"}}));
    EXPECT_FALSE(check({{150, "... %2d%"}}));  // a stray % where "%%" was meant
    EXPECT_FALSE(check({{150, "%s %2d%%"}}));
    EXPECT_FALSE(check({{126, "Caution %s"}}));    // a plain text must stay plain
    EXPECT_FALSE(check({{126, "50% discount"}}));  // "% d" reads an int
    EXPECT_FALSE(check({{166, "* Battery below 40 percent\n"}}));
    EXPECT_FALSE(check({{166, "* Battery %*\n"}}));
    EXPECT_FALSE(check({{140, "%1$s"}}));
    EXPECT_FALSE(check({{140, "%s%n"}}));
    EXPECT_FALSE(check({{131, "no such program text"}}));
    EXPECT_EQ(bad, 131u);
}

TEST(LanguageModule, ReplacesTextsOnlyWhenSound) {
    UnloadLanguageModule();
    ASSERT_FALSE(LanguageModuleLoaded());

    ModuleFile french("# French\n126 \"Attention\"\n141 \"%ls [%08x%s]\"\n");
    ModuleLoadResult r = LoadLanguageModule(french.path());
    ASSERT_TRUE(r.ok) << r.message;
    EXPECT_TRUE(LanguageModuleLoaded());
    EXPECT_EQ(LoadString(126), "Attention");
    EXPECT_EQ(LoadString(141), "%ls [%08x%s]");
    EXPECT_EQ(LoadString(134), "The Reflash file can not be found. Reinstall the Reflash .");  // falls back

    // A refused module leaves the loaded one in place.
    ModuleFile wrongArgs("126 \"Achtung\"\n\n141 \"%s(%08x%s)\"\n");
    r = LoadLanguageModule(wrongArgs.path());
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("line 3"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find("string 141"), std::string::npos) << r.message;
    EXPECT_NE(r.message.find(wrongArgs.path()), std::string::npos) << r.message;
    EXPECT_EQ(LoadString(126), "Attention");

    ModuleFile malformed("126 \"Achtung\"\n127 \"open\n");
    r = LoadLanguageModule(malformed.path());
    EXPECT_FALSE(r.ok);
    EXPECT_NE(r.message.find("line 2"), std::string::npos) << r.message;

    r = LoadLanguageModule(french.path() + ".missing");
    EXPECT_FALSE(r.ok);
    EXPECT_FALSE(r.message.empty());
    r = LoadLanguageModule(std::filesystem::temp_directory_path().string());
    EXPECT_FALSE(r.ok);

    ModuleFile big(std::string(1024 * 1024 + 1, '#'));
    r = LoadLanguageModule(big.path());
    EXPECT_FALSE(r.ok);

    UnloadLanguageModule();
    EXPECT_FALSE(LanguageModuleLoaded());
    EXPECT_EQ(LoadString(126), "Caution");
}

}  // namespace
}  // namespace nuva
