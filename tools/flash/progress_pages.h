// The progress pages of the update, restore and backup runs on the terminal:
// the run controllers of setup/runs driven by the console loop, with the
// page's texts, bars and boxes written to the terminal. The buttons a user
// would press when they become available (the update page's final button,
// the backup-complete OK) are pressed as soon as they are enabled.
#pragma once

#include <chrono>
#include <string>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "setup/runs/backup_run.h"
#include "setup/runs/run_device.h"
#include "setup/runs/update_run.h"
#include "tools/flash/console_loop.h"
#include "tools/flash/terminal.h"

namespace nuva {

// The update (or restore) page; `written`, when given, receives the header
// of the source file as the run read it.
int RunUpdateProgressPage(ConsoleLoop& loop, Terminal& terminal, RunDevice& device, RunMode mode,
                          const std::string& path, const DeviceInfo& info, ImageHeader* written = nullptr);
// The backup page. Its completion dialog waits for the handheld to answer
// again after the restart that ends a backup, for at most `restartTimeout`
// of real time; `handheldBack` tells whether it did.
int RunBackupProgressPage(ConsoleLoop& loop, Terminal& terminal, RunDevice& device, BackupOrigin origin,
                          const std::string& path, const DeviceInfo& info,
                          std::chrono::nanoseconds restartTimeout, bool& handheldBack);

// The texts of the shared dialogs, as the terminal shows them.
void PrintConnectionLost(Terminal& terminal, int mode);
void PrintWrongModel(Terminal& terminal);
void PrintMessageBox(Terminal& terminal, const std::string& caption, const std::string& text);

}  // namespace nuva
