// What Starter starts: the command line made from section "Setting" of the
// installation's setup.ini, and that command line cut into the arguments of
// the new process. Nothing here starts anything, so all of it can be tried
// without a process.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace nuva {

// The most characters Starter reads of a setup.ini value: its value areas
// are the folder's length plus one rounded up to the next multiple of 128
// (a whole 128 more when it already is one), less the terminator.
size_t StarterValueLimit(size_t folderLength);

// "\"<folder><program>\" /language:<language>": the program is a setup.ini
// value, a file of the installation with '\' as the separator. Only a
// folder holding '"', or a '\' before '$', '`', '"' or '\', does not come
// back whole from SplitCommandLine (the start then tries another path).
std::string LaunchCommandLine(std::string_view folder, std::string_view mainProgram,
                              std::string_view language);

// The command line for the installation in `folder` (with trailing '/'),
// from keys "MainProgram" and "Language" of section "Setting" of its
// setup.ini; "" when the folder is unknown, the file cannot be read or
// either key is missing or empty, which means nothing is to be started.
std::string LaunchCommandFromSettings(std::string_view folder);

// A command line cut into arguments as a POSIX shell cuts a simple command,
// without any expansion: blanks (space, tab, newline) separate words; a
// backslash keeps the next character as it is; single quotes keep
// everything up to the next single quote; inside double quotes a backslash
// keeps only '$', '`', '"' and '\' as they are; a backslash before a
// newline removes both. The quotes themselves go, and "" makes an empty
// word. A quote left open runs to the end of the line.
std::vector<std::string> SplitCommandLine(std::string_view commandLine);

}  // namespace nuva
