#include "starter/launch_command.h"

#include <utility>

#include "setup/resources/profile.h"
#include "setup/resources/settings.h"

namespace nuva {

namespace {

constexpr size_t kValueAreaStep = 128;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n';
}

// The characters a backslash keeps as they are inside double quotes.
bool EscapableInDoubleQuotes(char c) {
    return c == '$' || c == '`' || c == '"' || c == '\\';
}

}  // namespace

size_t StarterValueLimit(size_t folderLength) {
    return ((folderLength + 1) / kValueAreaStep + 1) * kValueAreaStep - 1;
}

std::string LaunchCommandLine(std::string_view folder, std::string_view mainProgram,
                              std::string_view language) {
    std::string line = "\"";
    line += InstallationFile(folder, mainProgram);
    line += "\" /language:";
    line += language;
    return line;
}

std::string LaunchCommandFromSettings(std::string_view folder) {
    // Without its folder Starter would read whatever setup.ini the current
    // folder holds and start a program of somebody else's installation.
    if (folder.empty()) {
        return "";
    }
    const std::string settings = std::string(folder) + "setup.ini";
    const size_t limit = StarterValueLimit(folder.size());
    std::string mainProgram = ReadProfileString(settings, "Setting", "MainProgram", "", limit);
    if (mainProgram.empty()) {
        return "";
    }
    std::string language = ReadProfileString(settings, "Setting", "Language", "", limit);
    if (language.empty()) {
        return "";
    }
    return LaunchCommandLine(folder, mainProgram, language);
}

std::vector<std::string> SplitCommandLine(std::string_view commandLine) {
    std::vector<std::string> words;
    std::string word;
    bool inWord = false;  // a quote pair with nothing between still makes a word
    size_t i = 0;
    while (i < commandLine.size()) {
        const char c = commandLine[i];
        if (IsBlank(c)) {
            if (inWord) {
                words.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            ++i;
            continue;
        }
        // A backslash before a newline continues the line: both go, and
        // they start no word of their own.
        if (c == '\\' && i + 1 < commandLine.size() && commandLine[i + 1] == '\n') {
            i += 2;
            continue;
        }
        inWord = true;
        if (c == '\\') {
            // A backslash at the very end has nothing to keep and stays itself.
            if (i + 1 < commandLine.size()) {
                word.push_back(commandLine[i + 1]);
                i += 2;
            } else {
                word.push_back(c);
                ++i;
            }
        } else if (c == '\'') {
            size_t close = commandLine.find('\'', i + 1);
            size_t end = close == std::string_view::npos ? commandLine.size() : close;
            word.append(commandLine.substr(i + 1, end - i - 1));
            i = close == std::string_view::npos ? end : close + 1;
        } else if (c == '"') {
            ++i;
            while (i < commandLine.size() && commandLine[i] != '"') {
                if (commandLine[i] == '\\' && i + 1 < commandLine.size()) {
                    if (commandLine[i + 1] == '\n') {
                        i += 2;
                        continue;
                    }
                    if (EscapableInDoubleQuotes(commandLine[i + 1])) {
                        ++i;
                    }
                }
                word.push_back(commandLine[i]);
                ++i;
            }
            if (i < commandLine.size()) {
                ++i;  // the closing quote
            }
        } else {
            word.push_back(c);
            ++i;
        }
    }
    if (inWord) {
        words.push_back(std::move(word));
    }
    return words;
}

}  // namespace nuva
