#include "setup/resources/profile.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/temp_folder.h"

namespace nuva {
namespace {

TEST(Profile, SectionsKeysAndBlanks) {
    const std::string ini =
        "; a comment\r\n"
        "orphan=before any section\r\n"
        "[Setting]\r\n"
        "MainProgram=Setup.exe\r\n"
        "  Language \t=\t FR  \r\n"
        "[ 040c ]\r\n"
        "RESMODULE=lang\\fr.rc\r\n"
        "Help=\"http://x.example/a b\"\r\n"
        "Quoted='one'\r\n"
        "Half=\"open\r\n"
        "Empty=\r\n"
        "NoEquals\r\n"
        "[Image]\n"
        "HIMODEL=hi=1.nb0\n";
    EXPECT_EQ(ProfileLookup(ini, "Setting", "MainProgram"), "Setup.exe");
    EXPECT_EQ(ProfileLookup(ini, "SETTING", "language"), "FR");
    EXPECT_EQ(ProfileLookup(ini, "040C", "resmodule"), "lang\\fr.rc");
    EXPECT_EQ(ProfileLookup(ini, "040c", "Help"), "http://x.example/a b");
    EXPECT_EQ(ProfileLookup(ini, "040c", "Quoted"), "one");
    EXPECT_EQ(ProfileLookup(ini, "040c", "Half"), "\"open");
    EXPECT_EQ(ProfileLookup(ini, "040c", "Empty", "dflt"), "");
    EXPECT_EQ(ProfileLookup(ini, "040c", "NoEquals", "dflt"), "dflt");
    EXPECT_EQ(ProfileLookup(ini, "Image", "HIMODEL"), "hi=1.nb0");  // the first "=" splits
    // Keys of one section are not found in another, nor before any section.
    EXPECT_EQ(ProfileLookup(ini, "Image", "MainProgram"), "");
    EXPECT_EQ(ProfileLookup(ini, "Setting", "orphan", "none"), "none");
    EXPECT_EQ(ProfileLookup(ini, "Missing", "Key", "fallback"), "fallback");
    EXPECT_EQ(ProfileLookup(ini, "Setting", "; a comment"), "");
    EXPECT_EQ(ProfileLookup("", "Image", "HIMODEL"), "");
}

TEST(Profile, FirstSectionAndFirstKeyWin) {
    const std::string ini =
        "[Image]\nHIMODEL=first.nb0\nhimodel=second.nb0\n"
        "[Other]\nX=1\n"
        "[IMAGE]\nHIMODEL=third.nb0\nLOWMODEL=late.nb0\n";
    EXPECT_EQ(ProfileLookup(ini, "Image", "HIMODEL"), "first.nb0");
    // Only the first section of a name counts.
    EXPECT_EQ(ProfileLookup(ini, "Image", "LOWMODEL"), "");
    EXPECT_EQ(ProfileLookup(ini, "Other", "X"), "1");
}

TEST(Profile, ValuesAreCutToTheLimit) {
    std::string longValue(600, 'v');
    std::string ini = "[S]\nK=" + longValue + "\nNul=ab" + std::string(1, '\0') + "cd\n";
    EXPECT_EQ(ProfileLookup(ini, "S", "K"), std::string(511, 'v'));
    EXPECT_EQ(ProfileLookup(ini, "S", "K", "", 10), std::string(10, 'v'));
    EXPECT_EQ(ProfileLookup(ini, "S", "Nul"), "ab");
    EXPECT_EQ(ProfileLookup(ini, "S", "Missing", std::string(600, 'd')).size(), 511u);
}

TEST(Profile, ToleratesGarbageLongLinesAndByteOrderMark) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i) {
        garbage.push_back(static_cast<char>((i * 37) & 0xFF));
    }
    std::string ini = "\xEF\xBB\xBF[Image]\n" + garbage + "\n" + std::string(100 * 1024, 'x') + "=y\n" +
                      "[broken\n" + "HIMODEL=ok.nb0\n";
    EXPECT_EQ(ProfileLookup(ini, "Image", "HIMODEL"), "ok.nb0");
    // The mark does not stick to the first section name.
    EXPECT_EQ(ProfileLookup("\xEF\xBB\xBF[A]\nk=v\n", "A", "k"), "v");
    // No final line end.
    EXPECT_EQ(ProfileLookup("[A]\nk=v", "A", "k"), "v");
}

TEST(Profile, ReadsFiles) {
    nuva::testing::TempFolder dir;
    std::string path = dir.Write("setup.ini", "[Image]\r\nLOWMODEL=lo.nb0\r\n");
    EXPECT_EQ(ReadProfileString(path, "image", "lowmodel"), "lo.nb0");
    EXPECT_EQ(ReadProfileString(dir.path() + "none.ini", "Image", "LOWMODEL", "d"), "d");
    EXPECT_EQ(ReadProfileString(dir.path(), "Image", "LOWMODEL"), "");  // a folder reads as empty
}

}  // namespace
}  // namespace nuva
