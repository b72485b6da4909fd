// The installation and how Setup was started: the installation folder, the
// command line, the language module and help link named in setup.ini, and the
// user's documents folder. The process-wide settings live here.
//
// On this desktop the installation folder is a directory path ending in '/'.
// setup.ini names installation files relative to it with '\' as the separator
// ("images\rom.nb0"); InstallationFile turns such a value into a path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace nuva {

// Set once at start-up, read everywhere after.
extern std::string g_installDir;  // the installation folder, with trailing '/'
extern int32_t g_force;           // 1 when "/FORCE" or "/LANGUAGE:" was given
extern uint16_t g_languageId;     // language chosen on the command line, 0 = none

inline constexpr uint16_t kLangEnglish = 0x0409;

// The running program's installation folder into `buffer` of `*length`
// characters, terminated and cut to fit; returns the folder's length plus one,
// or the characters written plus one when it was cut. A zero `*length` (or no
// `length`) writes nothing and returns 0. Without a buffer, stores the size
// needed (characters plus one) in `*length` when given and returns it.
// Returns 0 when the program's file name cannot be obtained.
int GetInstallDir(char* buffer, size_t* length);
// The folder of a program path, with trailing '/' ("" for a bare name).
std::string InstallDirOf(std::string_view programPath);
// The running program's full path; "" when it cannot be obtained.
std::string RunningProgramPath();
// How it is read: through `read`, which fills at most `capacity` characters
// of the buffer (no terminator) and returns how many, or a negative value on
// failure. The buffer grows by 512 characters for as long as the name comes
// within 16 of filling it, since a reader cuts a longer name silently.
std::string ReadProgramPath(const std::function<long(char* buffer, size_t capacity)>& read);

// A file named by a setup.ini value: the folder followed by the value, its
// '\' separators turned into '/'.
std::string InstallationFile(std::string_view folder, std::string_view value);

// The two-letter language codes of the command line, the launcher and the
// backup file header.
// "EN" 0x0409, "FR" 0x040C, "IT" 0x0410, "SP" 0x040A, "GE" 0x0407,
// "TC" 0x0404, "SC" 0x0804. Anything else gives 0 (no code: "").
uint16_t LanguageIdForCode(std::string_view code);
std::string_view LanguageCodeFor(uint32_t languageId);

struct CommandLineOptions {
    int32_t force = 0;
    uint16_t languageId = 0;
    bool recognised = false;  // "/FORCE", or a known code after "/LANGUAGE:"
};
// Searches the upper-cased command line for "/FORCE" and "/LANGUAGE:" plus
// the two characters after it, anywhere as plain substrings.
CommandLineOptions ParseOptions(std::string_view commandLine);
// ParseOptions into g_force and g_languageId; 1 when recognised, else 0.
int ParseCommandLine(std::string_view commandLine);
// The program's arguments joined with spaces, as one command line.
std::string JoinCommandLine(int argc, const char* const* argv);

// The desktop's default language as a LANGID, from the locale variables
// (LC_ALL, then LC_MESSAGES, then LANG); English when unset or unknown.
uint16_t SystemDefaultLanguageId();
// The LANGID of a locale name such as "fr_FR.UTF-8" or "zh_TW"; 0 when unknown.
uint16_t LanguageIdForLocale(std::string_view locale);

// The language module named by key "RESMODULE" of the language's section
// ("%04x" of the id; the system default when `languageId` is 0) in
// folder + "setup.ini". Returns 1 and the module's path, or 0 when none is
// named.
int FindLanguageModule(std::string_view folder, std::string& path, uint16_t languageId);

// The help link's default target.
inline constexpr std::string_view kDefaultHelpAddress = "https://support.brel.example/nuva";
// The "Additional help" target: key "Help" of the language section, else of
// section "Help". An http or https address is kept as it is; anything else
// names a file of the installation. Returns 1 with the target, or 0 with the
// default address when neither key is set.
int FindHelpTarget(std::string_view folder, std::string& target, uint16_t languageId);
// True when `value` is a web address with an http or https scheme and a host.
bool IsWebAddress(std::string_view value);

// The user's documents folder: $XDG_DOCUMENTS_DIR, else the XDG_DOCUMENTS_DIR
// entry of the user-dirs file ($XDG_CONFIG_HOME or ~/.config), else
// ~/Documents when it exists. Returns 1 with the folder, or 0.
int GetDocumentsFolder(std::string& folder);

}  // namespace nuva
