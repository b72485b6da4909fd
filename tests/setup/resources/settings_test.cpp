#include "setup/resources/settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/temp_folder.h"

namespace nuva {
namespace {

using nuva::testing::TempFolder;

// Sets (or with nullptr removes) an environment variable for one scope.
class EnvGuard {
  public:
    EnvGuard(const char* name, const char* value) : name_(name) {
        if (const char* old = getenv(name)) {
            old_ = old;
        }
        if (value != nullptr) {
            setenv(name, value, 1);
        } else {
            unsetenv(name);
        }
    }
    ~EnvGuard() {
        if (old_) {
            setenv(name_, old_->c_str(), 1);
        } else {
            unsetenv(name_);
        }
    }
    EnvGuard(const EnvGuard&) = delete;
    EnvGuard& operator=(const EnvGuard&) = delete;

  private:
    const char* name_;
    std::optional<std::string> old_;
};

TEST(InstallDir, ProgramPathsLongerThanTheFirstBufferAreFound) {
    const std::string longPath = "/" + std::string(1500, 'x') + "/setup";
    std::vector<size_t> capacities;
    const auto reader = [&](const std::string& path) {
        return [&capacities, path](char* buffer, size_t capacity) {
            capacities.push_back(capacity);
            const size_t n = std::min(capacity, path.size());
            std::memcpy(buffer, path.data(), n);
            return static_cast<long>(n);
        };
    };
    EXPECT_EQ(ReadProgramPath(reader(longPath)), longPath);
    EXPECT_EQ(capacities, (std::vector<size_t>{512, 1024, 1536}));  // 1507 characters

    // A name that comes within 16 characters of filling the buffer may
    // have been cut: the next buffer is asked for.
    capacities.clear();
    const std::string edge(512 - 16, 'y');
    EXPECT_EQ(ReadProgramPath(reader(edge)), edge);
    EXPECT_EQ(capacities, (std::vector<size_t>{512, 1024}));
    capacities.clear();
    const std::string fits(512 - 17, 'z');
    EXPECT_EQ(ReadProgramPath(reader(fits)), fits);
    EXPECT_EQ(capacities, (std::vector<size_t>{512}));

    EXPECT_EQ(ReadProgramPath([](char*, size_t) { return 0L; }), "");
    EXPECT_EQ(ReadProgramPath([](char*, size_t) { return -1L; }), "");
}

TEST(InstallDir, FolderOfTheRunningProgram) {
    std::string program = RunningProgramPath();
    ASSERT_FALSE(program.empty());
    std::string folder = InstallDirOf(program);
    EXPECT_EQ(folder, std::filesystem::path(program).parent_path().string() + "/");

    size_t needed = 0;
    EXPECT_EQ(GetInstallDir(nullptr, &needed), static_cast<int>(folder.size() + 1));
    EXPECT_EQ(needed, folder.size() + 1);
    EXPECT_EQ(GetInstallDir(nullptr, nullptr), static_cast<int>(folder.size() + 1));

    std::vector<char> buffer(needed + 8, '#');
    size_t length = buffer.size();
    EXPECT_EQ(GetInstallDir(buffer.data(), &length), static_cast<int>(folder.size() + 1));
    EXPECT_EQ(std::string(buffer.data()), folder);

    // Cut to fit: five characters and the terminator.
    std::fill(buffer.begin(), buffer.end(), '#');
    length = 6;
    EXPECT_EQ(GetInstallDir(buffer.data(), &length), 6);
    EXPECT_EQ(std::string(buffer.data()), folder.substr(0, 5));
    EXPECT_EQ(buffer[6], '#');
    length = 0;
    EXPECT_EQ(GetInstallDir(buffer.data(), &length), 0);
    EXPECT_EQ(buffer[0], folder[0]);  // untouched

    EXPECT_EQ(InstallDirOf("/opt/nuva/Setup"), "/opt/nuva/");
    EXPECT_EQ(InstallDirOf("/Setup"), "/");
    EXPECT_EQ(InstallDirOf("Setup"), "");
    std::string deep = "/" + std::string(600, 'd') + "/" + std::string(300, 'e') + "/Setup";
    EXPECT_EQ(InstallDirOf(deep), deep.substr(0, deep.size() - 5));
}

TEST(InstallDir, ValuesNameInstallationFiles) {
    EXPECT_EQ(InstallationFile("/opt/nuva/", "images\\rom.nb0"), "/opt/nuva/images/rom.nb0");
    EXPECT_EQ(InstallationFile("/opt/nuva/", "rom.nb0"), "/opt/nuva/rom.nb0");
}

TEST(CommandLine, OptionsAnywhereWithoutRegardToCase) {
    struct Case {
        const char* line;
        int32_t force;
        uint16_t language;
        bool recognised;
    };
    for (Case c : {
             Case{"setup", 0, 0, false},
             Case{"setup /force", 1, 0, true},
             Case{"setup /language:fr", 1, 0x040C, true},
             Case{"\"/opt/x/Setup\" /language:FR", 1, 0x040C, true},
             Case{"setup /LANGUAGE:de", 1, 0, false},  // unknown code: force still set
             Case{"setup /language:", 1, 0, false},
             Case{"setup /language:s", 1, 0, false},
             Case{"setup /language:scx", 1, 0x0804, true},  // two characters count
             Case{"setup /Language:Tc /FORCE", 1, 0x0404, true},
             Case{"setup /language:de /force", 1, 0, true},
             Case{"setup/forceful", 1, 0, true},  // a plain substring search
             Case{"setup -force", 0, 0, false},
         }) {
        CommandLineOptions o = ParseOptions(c.line);
        EXPECT_EQ(o.force, c.force) << c.line;
        EXPECT_EQ(o.languageId, c.language) << c.line;
        EXPECT_EQ(o.recognised, c.recognised) << c.line;
    }
    for (const char* code : {"EN", "FR", "IT", "SP", "GE", "TC", "SC"}) {
        uint16_t id = LanguageIdForCode(code);
        EXPECT_NE(id, 0) << code;
        EXPECT_EQ(LanguageCodeFor(id), code);
    }
    EXPECT_EQ(LanguageIdForCode("en"), 0);
    EXPECT_EQ(LanguageCodeFor(0x0411), "");
    EXPECT_EQ(LanguageCodeFor(0x10409), "");

    const char* argv[] = {"/opt/Setup", "/language:it"};
    EXPECT_EQ(JoinCommandLine(2, argv), "/opt/Setup /language:it");
    EXPECT_EQ(ParseCommandLine(JoinCommandLine(2, argv)), 1);
    EXPECT_EQ(g_force, 1);
    EXPECT_EQ(g_languageId, 0x0410);
    EXPECT_EQ(ParseCommandLine("setup"), 0);
    EXPECT_EQ(g_force, 0);
    EXPECT_EQ(g_languageId, 0);
}

TEST(SystemLanguage, LocaleNamesMapToLanguageIds) {
    EXPECT_EQ(LanguageIdForLocale("fr_FR.UTF-8"), 0x040C);
    EXPECT_EQ(LanguageIdForLocale("fr_CA.UTF-8"), 0x0C0C);
    EXPECT_EQ(LanguageIdForLocale("fr"), 0x040C);
    EXPECT_EQ(LanguageIdForLocale("de_DE@euro"), 0x0407);
    EXPECT_EQ(LanguageIdForLocale("en_GB.UTF-8"), 0x0809);
    EXPECT_EQ(LanguageIdForLocale("en_US"), 0x0409);
    EXPECT_EQ(LanguageIdForLocale("zh_TW.Big5"), 0x0404);
    EXPECT_EQ(LanguageIdForLocale("zh_CN.UTF-8"), 0x0804);
    EXPECT_EQ(LanguageIdForLocale("es_ES"), 0x040A);
    EXPECT_EQ(LanguageIdForLocale("C.UTF-8"), 0);
    EXPECT_EQ(LanguageIdForLocale("POSIX"), 0);
    EXPECT_EQ(LanguageIdForLocale("frx_FR"), 0);  // not French
    EXPECT_EQ(LanguageIdForLocale(""), 0);

    EnvGuard all("LC_ALL", nullptr);
    EnvGuard messages("LC_MESSAGES", nullptr);
    EnvGuard lang("LANG", nullptr);
    EXPECT_EQ(SystemDefaultLanguageId(), 0x0409);
    setenv("LANG", "it_IT.UTF-8", 1);
    EXPECT_EQ(SystemDefaultLanguageId(), 0x0410);
    setenv("LC_MESSAGES", "de_AT", 1);
    EXPECT_EQ(SystemDefaultLanguageId(), 0x0C07);
    setenv("LC_ALL", "C", 1);  // set but unknown: English
    EXPECT_EQ(SystemDefaultLanguageId(), 0x0409);
}

TEST(LanguageModule, FoundInTheLanguageSection) {
    TempFolder dir;
    dir.Write("setup.ini",
              "[040c]\r\nRESMODULE=lang\\fr.rc\r\n"
              "[0407]\r\nHelp=x\r\n"
              "[0410]\r\nRESMODULE=it.rc\r\n");
    std::string path = "unchanged";
    EXPECT_EQ(FindLanguageModule(dir.path(), path, 0x040C), 1);
    EXPECT_EQ(path, dir.path() + "lang/fr.rc");
    path = "unchanged";
    EXPECT_EQ(FindLanguageModule(dir.path(), path, 0x0407), 0);  // no RESMODULE
    EXPECT_EQ(path, "unchanged");
    EXPECT_EQ(FindLanguageModule(dir.path(), path, 0x0409), 0);  // no section

    // Language 0: the desktop's language chooses the section.
    EnvGuard all("LC_ALL", "it_IT.UTF-8");
    EXPECT_EQ(FindLanguageModule(dir.path(), path, 0), 1);
    EXPECT_EQ(path, dir.path() + "it.rc");
    EXPECT_EQ(FindLanguageModule(dir.path() + "nowhere/", path, 0x040C), 0);
}

TEST(HelpTarget, LanguageSectionThenHelpSectionThenDefault) {
    TempFolder dir;
    dir.Write("setup.ini",
              "[040c]\nHelp=https://aide.example/nuva\n"
              "[0407]\nHelp=help\\de\\index.htm\n"
              "[0410]\nHelp=www.brel.example/help\n"
              "[0809]\nHelp=ftp://files.example/x\n"
              "[Help]\nHelp=HTTP://support.example/\n");
    std::string target;
    EXPECT_EQ(FindHelpTarget(dir.path(), target, 0x040C), 1);
    EXPECT_EQ(target, "https://aide.example/nuva");
    EXPECT_EQ(FindHelpTarget(dir.path(), target, 0x0407), 1);
    EXPECT_EQ(target, dir.path() + "help/de/index.htm");
    EXPECT_EQ(FindHelpTarget(dir.path(), target, 0x0410), 1);  // no scheme: a file
    EXPECT_EQ(target, dir.path() + "www.brel.example/help");
    EXPECT_EQ(FindHelpTarget(dir.path(), target, 0x0809), 1);  // another scheme: a file
    EXPECT_EQ(target, dir.path() + "ftp://files.example/x");
    EXPECT_EQ(FindHelpTarget(dir.path(), target, 0x0411), 1);  // falls back to [Help]
    EXPECT_EQ(target, "HTTP://support.example/");

    dir.Write("setup.ini", "[Setting]\nLanguage=FR\n");
    target = "old";
    EXPECT_EQ(FindHelpTarget(dir.path(), target, 0x040C), 0);
    EXPECT_EQ(target, kDefaultHelpAddress);

    EXPECT_TRUE(IsWebAddress("http://a"));
    EXPECT_TRUE(IsWebAddress("https://a.example:8080/x?y#z"));
    EXPECT_FALSE(IsWebAddress("http://"));
    EXPECT_FALSE(IsWebAddress("http:///path"));
    EXPECT_FALSE(IsWebAddress("http:/a"));
    EXPECT_FALSE(IsWebAddress("file:///etc"));
    EXPECT_FALSE(IsWebAddress("help\\index.htm"));
}

TEST(DocumentsFolder, XdgVariableThenUserDirsThenHomeDocuments) {
    TempFolder home;
    EnvGuard homeVar("HOME", home.path().c_str());
    EnvGuard docs("XDG_DOCUMENTS_DIR", nullptr);
    EnvGuard config("XDG_CONFIG_HOME", nullptr);
    std::string folder = "unchanged";

    EXPECT_EQ(GetDocumentsFolder(folder), 0);
    EXPECT_EQ(folder, "unchanged");

    std::filesystem::create_directories(home.path() + "Documents");
    EXPECT_EQ(GetDocumentsFolder(folder), 1);
    EXPECT_EQ(folder, home.path() + "Documents");

    home.Write(".config/user-dirs.dirs",
               "# written by xdg-user-dirs-update\nXDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
               "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n");
    EXPECT_EQ(GetDocumentsFolder(folder), 1);
    EXPECT_EQ(folder, home.path() + "Dokumente");

    home.Write("cfg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"/srv/docs\"\n");
    setenv("XDG_CONFIG_HOME", (home.path() + "cfg").c_str(), 1);
    EXPECT_EQ(GetDocumentsFolder(folder), 1);
    EXPECT_EQ(folder, "/srv/docs");

    // The folder turned off: back to ~/Documents.
    home.Write("cfg/user-dirs.dirs", "XDG_DOCUMENTS_DIR=\"$HOME/\"\n");
    EXPECT_EQ(GetDocumentsFolder(folder), 1);
    EXPECT_EQ(folder, home.path() + "Documents");

    setenv("XDG_DOCUMENTS_DIR", "/data/papers", 1);
    EXPECT_EQ(GetDocumentsFolder(folder), 1);
    EXPECT_EQ(folder, "/data/papers");
}

}  // namespace
}  // namespace nuva
