// The commands of nuva-flash that do not go through Setup's pages: `verify
// FILE`, and the dry run of an update or a restore. Both need only the
// connection monitor and the agent library, and write nothing else to the
// handheld.
#pragma once

#include <string>

#include "tools/flash/json_events.h"
#include "tools/flash/options.h"
#include "tools/flash/terminal.h"

namespace nuva {

// Runs `options` (verify, or update/restore with dry run) from the program
// at `programPath` with Setup's own `commandLine` options; the exit code.
int RunDirectCommand(Terminal& terminal, FlashEvents& events, const FlashOptions& options,
                     const std::string& programPath, const std::string& commandLine);

}  // namespace nuva
