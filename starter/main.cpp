// Starter: starts the installation's main program with the language named in
// setup.ini beside it ("MainProgram" and "Language" of section "Setting"),
// and ends at once. It has nothing to say to anybody: whatever goes wrong,
// nothing is started and it ends with 0.
#include <string>
#include <vector>

#include "setup/resources/settings.h"
#include "starter/launch_command.h"
#include "starter/process_start.h"

int main() {
    try {
        const std::string folder = nuva::InstallDirOf(nuva::RunningProgramPath());
        const std::string commandLine = nuva::LaunchCommandFromSettings(folder);
        if (!commandLine.empty()) {
            nuva::StartDetachedProgram(nuva::SplitCommandLine(commandLine));
        }
    } catch (...) {
        // Out of memory while reading the settings: nothing is started.
    }
    return 0;
}
