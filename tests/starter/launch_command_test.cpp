#include "starter/launch_command.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace nuva {
namespace {

using nuva::testing::TempFolder;
using Words = std::vector<std::string>;

TEST(LaunchCommandLine, QuotesTheProgramPathAndHandsOnTheLanguage) {
    EXPECT_EQ(LaunchCommandLine("/opt/nuva/", "Setup", "FR"), "\"/opt/nuva/Setup\" /language:FR");
    // setup.ini writes installation files with '\'; the folder is left alone.
    EXPECT_EQ(LaunchCommandLine("/opt/a\\b/", "bin\\tools\\Setup", "EN"),
              "\"/opt/a\\b/bin/tools/Setup\" /language:EN");
    EXPECT_EQ(LaunchCommandLine("/My Programs/", "Setup", "tc"), "\"/My Programs/Setup\" /language:tc");
}

TEST(StarterValueLimit, AreasGrowIn128sWithTheFolder) {
    EXPECT_EQ(StarterValueLimit(0), 127u);
    EXPECT_EQ(StarterValueLimit(126), 127u);
    // Folder plus terminator filling an area exactly still takes a new one.
    EXPECT_EQ(StarterValueLimit(127), 255u);
    EXPECT_EQ(StarterValueLimit(254), 255u);
    EXPECT_EQ(StarterValueLimit(255), 383u);
}

TEST(SplitCommandLine, CutsAsAShellDoes) {
    struct Case {
        std::string line;
        Words words;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {" \t\n ", {}},
        {"\"/opt/My Tools/Setup\" /language:FR", {"/opt/My Tools/Setup", "/language:FR"}},
        {"  a \t b\nc  ", {"a", "b", "c"}},
        {"\"\"", {""}},
        {"a \"\" b", {"a", "", "b"}},
        {"a\"b c\"d", {"ab cd"}},
        {"'x \"y\" \\z'", {"x \"y\" \\z"}},
        {"\"a\\\"b\\\\c\\d\\$e\\`f\"", {"a\"b\\c\\d$e`f"}},
        {"a\\ b \\\"c", {"a b", "\"c"}},
        {"a \\\n b", {"a", "b"}},
        {"\"a\\\nb\"", {"ab"}},
        {"end\\", {"end\\"}},
        {"\"open quote runs on", {"open quote runs on"}},
        {"'open single", {"open single"}},
        {"/language:F R", {"/language:F", "R"}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SplitCommandLine(c.line), c.words) << "line: [" << c.line << "]";
    }
}

TEST(SplitCommandLine, GivesBackTheProgramPathOfABuiltCommandLine) {
    for (const char* folder :
         {"/opt/nuva/", "/home/ann/Brel Nuva Q7/", "/tmp/it's $HOME\t(2)/", "/x/a\\b/"}) {
        EXPECT_EQ(SplitCommandLine(LaunchCommandLine(folder, "bin\\Setup", "FR")),
                  (Words{std::string(folder) + "bin/Setup", "/language:FR"}))
            << folder;
    }
}

TEST(LaunchCommandFromSettings, NeedsBothKeysOfSectionSetting) {
    TempFolder install;
    const std::string& folder = install.path();
    struct Case {
        std::string settings;
        std::string expected;
    };
    const std::vector<Case> cases = {
        {"[Setting]\nMainProgram=Setup\nLanguage=FR\n", "\"" + folder + "Setup\" /language:FR"},
        {"[setting]\r\n mainprogram = \"Setup\" \r\nLANGUAGE=EN\r\n", "\"" + folder + "Setup\" /language:EN"},
        {"[Setting]\nMainProgram=bin\\Setup\nLanguage=GE\n", "\"" + folder + "bin/Setup\" /language:GE"},
        {"[Setting]\nMainProgram=Setup\n", ""},
        {"[Setting]\nMainProgram=Setup\nLanguage=\n", ""},
        {"[Setting]\nMainProgram=Setup\nLanguage=  \n", ""},
        {"[Setting]\nLanguage=FR\n", ""},
        {"[Setting]\nMainProgram=\nLanguage=FR\n", ""},
        {"[Settings]\nMainProgram=Setup\nLanguage=FR\n", ""},
        {"MainProgram=Setup\nLanguage=FR\n", ""},
        {std::string("\0\xff[Setting\n\x01=\x02\nMainProgram\n", 27), ""},
    };
    for (const Case& c : cases) {
        install.Write("setup.ini", c.settings);
        EXPECT_EQ(LaunchCommandFromSettings(folder), c.expected) << c.settings;
    }
}

TEST(LaunchCommandFromSettings, NothingWithoutFolderOrFile) {
    TempFolder install;
    EXPECT_EQ(LaunchCommandFromSettings(install.path()), "");
    // Never the settings of whatever folder is current.
    EXPECT_EQ(LaunchCommandFromSettings(""), "");
}

TEST(LaunchCommandFromSettings, ValuesAreCutToTheAreaSize) {
    TempFolder install;
    const std::string& folder = install.path();
    const size_t limit = StarterValueLimit(folder.size());
    const std::string program(limit + 40, 'p');
    const std::string language(limit + 3, 'l');
    install.Write("setup.ini", "[Setting]\nMainProgram=" + program + "\nLanguage=" + language + "\n");
    EXPECT_EQ(LaunchCommandFromSettings(folder),
              "\"" + folder + program.substr(0, limit) + "\" /language:" + language.substr(0, limit));
}

}  // namespace
}  // namespace nuva
