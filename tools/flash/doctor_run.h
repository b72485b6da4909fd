// doctor as a command, and the explanations nuva-flash adds after a command
// that failed: the short diagnosis when no handheld was found, and the cause
// lines under the program's own messages. Findings go to the terminal and,
// with --json, as events.
#pragma once

#include <string>

#include "setup/link/handheld_port.h"
#include "tools/flash/doctor.h"
#include "tools/flash/json_events.h"
#include "tools/flash/options.h"
#include "tools/flash/terminal.h"
#include "tools/flash/terminal_pages.h"

namespace nuva {

// The emulated handheld's state folder: --state, else NUVA_HANDHELD_STATE,
// else "" (not known).
std::string HandheldStateDir(const FlashOptions& options);

// `nuva-flash doctor`: every check, its exit code.
int RunDoctor(Terminal& terminal, FlashEvents& events, const FlashOptions& options,
              const std::string& installFolder);

// After "Connect your device ...": what the cable and the handheld say.
void ExplainNoHandheld(Terminal& terminal, FlashEvents& events, const FlashOptions& options,
                       const std::string& installFolder);

// After a command that failed: a cause line for each message whose cause is
// known, the message itself left as it was.
void ExplainCauses(Terminal& terminal, FlashEvents& events, const FlashOptions& options,
                   const TerminalHost& host, HandheldPort& port, const std::string& installFolder,
                   int exitCode);

// The command's name as the command line spells it.
const char* CommandName(FlashCommand command);

}  // namespace nuva
