#include "setup/resources/settings.h"

#include <unistd.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "setup/resources/profile.h"

namespace nuva {

std::string g_installDir;
int32_t g_force = 0;
uint16_t g_languageId = 0;

namespace {

char Upper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

std::string UpperCopy(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = Upper(c);
    }
    return out;
}

struct CodeRow {
    std::string_view code;
    uint16_t id;
};
constexpr std::array<CodeRow, 7> kLanguageCodes = {{
    {"EN", 0x0409},
    {"FR", 0x040C},
    {"IT", 0x0410},
    {"SP", 0x040A},
    {"GE", 0x0407},
    {"TC", 0x0404},
    {"SC", 0x0804},
}};

// Locale names to Windows language identifiers: the region where it picks a
// different sub-language, else the language's default.
struct LocaleRow {
    std::string_view name;
    uint16_t id;
};
constexpr std::array<LocaleRow, 34> kLocales = {{
    {"en_GB", 0x0809}, {"en_AU", 0x0C09}, {"en_CA", 0x1009}, {"en_NZ", 0x1409}, {"en_IE", 0x1809},
    {"en", 0x0409},    {"fr_BE", 0x080C}, {"fr_CA", 0x0C0C}, {"fr_CH", 0x100C}, {"fr", 0x040C},
    {"de_CH", 0x0807}, {"de_AT", 0x0C07}, {"de", 0x0407},    {"it_CH", 0x0810}, {"it", 0x0410},
    {"es_MX", 0x080A}, {"es", 0x040A},    {"zh_TW", 0x0404}, {"zh_HK", 0x0C04}, {"zh_SG", 0x1004},
    {"zh", 0x0804},    {"ja", 0x0411},    {"ko", 0x0412},    {"nl_BE", 0x0813}, {"nl", 0x0413},
    {"pt_BR", 0x0416}, {"pt", 0x0816},    {"ru", 0x0419},    {"sv", 0x041D},    {"da", 0x0406},
    {"nb", 0x0414},    {"fi", 0x040B},    {"pl", 0x0415},    {"cs", 0x0405},
}};

std::string SectionFor(uint16_t languageId) {
    char section[8];
    std::snprintf(section, sizeof section, "%04x", languageId);
    return section;
}

std::string SettingsFile(std::string_view folder) {
    return std::string(folder) + "setup.ini";
}

std::string EnvText(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// The XDG_DOCUMENTS_DIR entry of a user-dirs file: a shell assignment of a
// quoted absolute path or of one starting with "$HOME".
std::string UserDirsEntry(const std::string& file, const std::string& home) {
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        std::string_view text = line;
        while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
            text.remove_prefix(1);
        }
        constexpr std::string_view kKey = "XDG_DOCUMENTS_DIR=";
        if (text.substr(0, kKey.size()) != kKey) {
            continue;
        }
        text.remove_prefix(kKey.size());
        while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
            text.remove_suffix(1);
        }
        if (text.size() < 2 || text.front() != '"' || text.back() != '"') {
            return "";
        }
        text = text.substr(1, text.size() - 2);
        // "$HOME" itself means the user turned the folder off.
        if (text == "$HOME" || text == "$HOME/") {
            return "";
        }
        if (text.substr(0, 6) == "$HOME/") {
            return (std::filesystem::path(home) / text.substr(6)).string();
        }
        return !text.empty() && text.front() == '/' ? std::string(text) : "";
    }
    return "";
}

}  // namespace

std::string ReadProgramPath(const std::function<long(char* buffer, size_t capacity)>& read) {
    constexpr size_t kMaxPath = 64 * 1024;
    for (size_t size = 512; size <= kMaxPath; size += 512) {
        std::vector<char> buffer(size);
        const long n = read(buffer.data(), buffer.size());
        if (n <= 0) {
            return "";
        }
        if (static_cast<size_t>(n) < size - 16) {
            return std::string(buffer.data(), static_cast<size_t>(n));
        }
    }
    return "";
}

std::string RunningProgramPath() {
    return ReadProgramPath([](char* buffer, size_t capacity) {
        return static_cast<long>(readlink("/proc/self/exe", buffer, capacity));
    });
}

std::string InstallDirOf(std::string_view programPath) {
    size_t slash = programPath.rfind('/');
    if (slash == std::string_view::npos) {
        return "";
    }
    return std::string(programPath.substr(0, slash + 1));
}

int GetInstallDir(char* buffer, size_t* length) {
    std::string program = RunningProgramPath();
    if (program.empty()) {
        return 0;
    }
    std::string folder = InstallDirOf(program);
    size_t needed = folder.size() + 1;
    if (buffer == nullptr) {
        if (length != nullptr) {
            *length = needed;
        }
        return static_cast<int>(needed);
    }
    if (length == nullptr || *length == 0) {
        return 0;
    }
    size_t copied = folder.size() < *length ? folder.size() : *length - 1;
    std::memcpy(buffer, folder.data(), copied);
    buffer[copied] = '\0';
    return static_cast<int>(copied + 1);
}

std::string InstallationFile(std::string_view folder, std::string_view value) {
    std::string path(folder);
    for (char c : value) {
        path.push_back(c == '\\' ? '/' : c);
    }
    return path;
}

uint16_t LanguageIdForCode(std::string_view code) {
    for (const CodeRow& row : kLanguageCodes) {
        if (row.code == code) {
            return row.id;
        }
    }
    return 0;
}

std::string_view LanguageCodeFor(uint32_t languageId) {
    for (const CodeRow& row : kLanguageCodes) {
        if (row.id == languageId) {
            return row.code;
        }
    }
    return "";
}

CommandLineOptions ParseOptions(std::string_view commandLine) {
    std::string upper = UpperCopy(commandLine);
    CommandLineOptions options;
    if (upper.find("/FORCE") != std::string::npos) {
        options.force = 1;
        options.recognised = true;
    }
    constexpr std::string_view kLanguage = "/LANGUAGE:";
    size_t at = upper.find(kLanguage);
    if (at != std::string::npos) {
        options.force = 1;
        options.languageId = LanguageIdForCode(std::string_view(upper).substr(at + kLanguage.size(), 2));
        if (options.languageId != 0) {
            options.recognised = true;
        }
    }
    return options;
}

int ParseCommandLine(std::string_view commandLine) {
    CommandLineOptions options = ParseOptions(commandLine);
    g_force = options.force;
    g_languageId = options.languageId;
    return options.recognised ? 1 : 0;
}

std::string JoinCommandLine(int argc, const char* const* argv) {
    std::string line;
    for (int i = 0; i < argc; ++i) {
        if (i > 0) {
            line.push_back(' ');
        }
        line += argv[i];
    }
    return line;
}

uint16_t LanguageIdForLocale(std::string_view locale) {
    // "fr_FR.UTF-8@euro": only language and region count.
    size_t cut = locale.find_first_of(".@");
    if (cut != std::string_view::npos) {
        locale = locale.substr(0, cut);
    }
    // Rows with a region come before their language's row.
    for (const LocaleRow& row : kLocales) {
        bool languageOnly = row.name.find('_') == std::string_view::npos;
        if (locale == row.name ||
            (languageOnly && locale.size() > row.name.size() &&
             locale.substr(0, row.name.size()) == row.name && locale[row.name.size()] == '_')) {
            return row.id;
        }
    }
    return 0;
}

uint16_t SystemDefaultLanguageId() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        std::string value = EnvText(name);
        if (!value.empty()) {
            uint16_t id = LanguageIdForLocale(value);
            return id != 0 ? id : kLangEnglish;
        }
    }
    return kLangEnglish;
}

int FindLanguageModule(std::string_view folder, std::string& path, uint16_t languageId) {
    if (languageId == 0) {
        languageId = SystemDefaultLanguageId();
    }
    std::string value = ReadProfileString(SettingsFile(folder), SectionFor(languageId), "RESMODULE");
    if (value.empty()) {
        return 0;
    }
    path = InstallationFile(folder, value);
    return 1;
}

bool IsWebAddress(std::string_view value) {
    std::string upper = UpperCopy(value);
    for (std::string_view scheme : {"HTTP://", "HTTPS://"}) {
        if (upper.substr(0, scheme.size()) == scheme) {
            std::string_view rest = value.substr(scheme.size());
            size_t hostEnd = rest.find_first_of("/?#");
            std::string_view host = rest.substr(0, hostEnd);
            return !host.empty() && host.find_first_of(" \t\\") == std::string_view::npos;
        }
    }
    return false;
}

int FindHelpTarget(std::string_view folder, std::string& target, uint16_t languageId) {
    if (languageId == 0) {
        languageId = SystemDefaultLanguageId();
    }
    std::string settings = SettingsFile(folder);
    std::string value = ReadProfileString(settings, SectionFor(languageId), "Help");
    if (value.empty()) {
        target = std::string(kDefaultHelpAddress);
        value = ReadProfileString(settings, "Help", "Help");
        if (value.empty()) {
            return 0;
        }
    }
    target = IsWebAddress(value) ? value : InstallationFile(folder, value);
    return 1;
}

int GetDocumentsFolder(std::string& folder) {
    std::string home = EnvText("HOME");
    std::string found = EnvText("XDG_DOCUMENTS_DIR");
    if (found.empty() && !home.empty()) {
        std::string config = EnvText("XDG_CONFIG_HOME");
        if (config.empty()) {
            config = (std::filesystem::path(home) / ".config").string();
        }
        found = UserDirsEntry(config + "/user-dirs.dirs", home);
    }
    if (found.empty() && !home.empty()) {
        std::error_code ec;
        std::string documents = (std::filesystem::path(home) / "Documents").string();
        if (std::filesystem::is_directory(documents, ec)) {
            found = documents;
        }
    }
    if (found.empty()) {
        return 0;
    }
    folder = found;
    return 1;
}

}  // namespace nuva
