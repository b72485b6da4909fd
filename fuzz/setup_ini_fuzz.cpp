// setup.ini as the installation hands it over: the profile reader with any
// section, key and limit, and every lookup Setup and Starter make through the
// file itself (the image of each class, the language module, the help
// target, Starter's command line).
//
// Input: a section name, a key name, a limit and a byte that says whether the
// lookups go through a file this time (as FuzzedDataProvider takes them),
// then the file's contents. The file costs a write and a dozen reads (a
// hundred times the rest), so only inputs whose byte is 0 take that way.

#include <fuzzer/FuzzedDataProvider.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "setup/device/image_catalogue.h"
#include "setup/resources/profile.h"
#include "setup/resources/settings.h"
#include "starter/launch_command.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "setup_ini_fuzz: %s\n", what);
    std::abort();
}

// The scratch folder's parent: $TMPDIR when set, else the memory-backed
// /dev/shm where there is one (every input that goes through the file is a
// write and a dozen reads of it), else /tmp.
std::string ScratchBase() {
    const char* base = std::getenv("TMPDIR");
    if (base != nullptr && *base != '\0') {
        return base;
    }
    struct stat shm {};
    return stat("/dev/shm", &shm) == 0 && S_ISDIR(shm.st_mode) && access("/dev/shm", W_OK) == 0 ? "/dev/shm"
                                                                                                : "/tmp";
}

// One installation folder for the whole run; each input replaces its
// setup.ini. The name outlives every static (it is removed at exit).
const std::string& Folder() {
    static const std::string* const folder = [] {
        std::string pattern = ScratchBase() + "/nuva-ini-XXXXXX";
        std::vector<char> name(pattern.begin(), pattern.end());
        name.push_back('\0');
        if (mkdtemp(name.data()) == nullptr) {
            Fail("no scratch folder for setup.ini");
        }
        return new std::string(std::string(name.data()) + "/");
    }();
    static const bool removedAtExit = std::atexit([] {
                                          std::remove((*folder + "setup.ini").c_str());
                                          rmdir(folder->c_str());
                                      }) == 0;
    (void)removedAtExit;
    return *folder;
}

void CheckValue(const std::string& value, size_t maxChars) {
    if (value.size() > maxChars || value.find('\0') != std::string::npos) {
        Fail("a value is longer than its limit or holds a NUL");
    }
}

bool HasAny(const std::string& text, const char* characters) {
    return text.find_first_of(characters) != std::string::npos;
}

// Starter's command line must split back into the program and its language
// argument whenever neither value holds a character the split gives a
// meaning (the folder is ours and holds none).
void CheckStarterLine(const std::string& program, const std::string& language) {
    if (program.empty() || language.empty()) {
        return;
    }
    const std::string& folder = Folder();
    const std::string line = nuva::LaunchCommandLine(folder, program, language);
    const std::vector<std::string> words = nuva::SplitCommandLine(line);
    if (HasAny(program, "\"") || HasAny(language, "\"'\\ \t\n")) {
        return;
    }
    if (words.size() != 2 || words[0] != nuva::InstallationFile(folder, program) ||
        words[1] != "/language:" + language) {
        Fail("Starter's command line does not split into its program and language");
    }
}

// The same through the file, as Starter reads it.
void CheckStarter(std::string_view contents) {
    const std::string& folder = Folder();
    const std::string line = nuva::LaunchCommandFromSettings(folder);
    const size_t limit = nuva::StarterValueLimit(folder.size());
    const std::string program = nuva::ProfileLookup(contents, "Setting", "MainProgram", "", limit);
    const std::string language = nuva::ProfileLookup(contents, "Setting", "Language", "", limit);
    const bool both = !program.empty() && !language.empty();
    if (line != (both ? nuva::LaunchCommandLine(folder, program, language) : std::string())) {
        Fail("Starter's command line is not made of the values of its file");
    }
}

void CheckImageLookup(bool highModel) {
    const auto found = nuva::FindUpdateImage(Folder(), highModel);
    std::array<char, 16> buffer{};
    size_t length = buffer.size();
    const int located = nuva::LocateUpdateImage(Folder(), highModel ? 1 : 0, buffer.data(), &length);
    if (located != (found ? 1 : 0)) {
        Fail("the two image lookups disagree");
    }
    if (found && (length != found->size() ||
                  std::strlen(buffer.data()) != std::min(found->size(), buffer.size() - 1) ||
                  found->compare(0, std::strlen(buffer.data()), buffer.data()) != 0)) {
        Fail("the located image's path is not the one found, cut to the buffer");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider input(data, size);
    const std::string section = input.ConsumeRandomLengthString(40);
    const std::string key = input.ConsumeRandomLengthString(40);
    const size_t maxChars = input.ConsumeIntegralInRange<size_t>(0, 2 * nuva::kProfileValueChars);
    const bool throughFile = input.ConsumeIntegral<uint8_t>() == 0;
    const std::string contents = input.ConsumeRemainingBytesAsString();

    CheckValue(nuva::ProfileLookup(contents, section, key, "fallback", maxChars), maxChars);
    for (const auto& [s, k] : {std::pair{"Setting", "MainProgram"}, std::pair{"Setting", "Language"},
                               std::pair{"Image", "HIMODEL"}, std::pair{"Image", "LOWMODEL"},
                               std::pair{"0409", "RESMODULE"}, std::pair{"Help", "Help"}}) {
        CheckValue(nuva::ProfileLookup(contents, s, k), nuva::kProfileValueChars);
    }
    // Starter's command line from the values as Starter reads them.
    const std::string& folder = Folder();
    const size_t limit = nuva::StarterValueLimit(folder.size());
    CheckStarterLine(nuva::ProfileLookup(contents, "Setting", "MainProgram", "", limit),
                     nuva::ProfileLookup(contents, "Setting", "Language", "", limit));
    if (!throughFile) {
        return 0;
    }

    {
        std::ofstream file(Folder() + "setup.ini", std::ios::binary | std::ios::trunc);
        file.write(contents.data(), static_cast<std::streamsize>(contents.size()));
        if (!file) {
            Fail("cannot write the scratch setup.ini");
        }
    }
    CheckStarter(contents);
    CheckImageLookup(true);
    CheckImageLookup(false);
    for (const uint16_t language : {nuva::kLangEnglish, uint16_t{0x040C}}) {
        std::string module;
        if (nuva::FindLanguageModule(Folder(), module, language) == 1 && module.empty()) {
            Fail("a language module was found with no path");
        }
        std::string help;
        const int named = nuva::FindHelpTarget(Folder(), help, language);
        if (named == 0 && help != nuva::kDefaultHelpAddress) {
            Fail("without a help key the help target is not the default address");
        }
        (void)nuva::IsWebAddress(help);
    }
    return 0;
}
