// The command line of nuva-flash, its exit codes and its help text.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace nuva {

// Exit codes, as the help text documents them.
namespace flash_exit {
inline constexpr int kDone = 0;
inline constexpr int kUsage = 1;           // the command line is wrong
inline constexpr int kRefused = 2;         // refused (a reason was shown) or cancelled by the user
inline constexpr int kCheckFailed = 3;     // a check of the handheld, the image or a file failed
inline constexpr int kConnectionLost = 4;  // no handheld connected, or the link was lost
inline constexpr int kRunFailed = 5;       // the update, restore or backup failed
inline constexpr int kNoReturn = 6;        // the handheld did not answer again after its restart
inline constexpr int kVerifyFailed = 7;    // the flash read back differs from the file written
}  // namespace flash_exit

enum class FlashCommand { kHelp, kInfo, kUpdate, kBackup, kRestore, kVerify, kDoctor };

struct FlashOptions {
    FlashCommand command = FlashCommand::kHelp;
    std::string file;        // backup: the file to write; restore: the file to read
    std::string backupFile;  // update --backup FILE: save the ROM before the update
    bool force = false;      // update --force: an older ROM is accepted
    bool yes = false;        // every confirmation answered as the forward button would
    bool json = false;       // one JSON event a line on standard output, the text on standard error
    std::string stateDir;    // doctor --state DIR: the emulated handheld's state folder
    // Real seconds to wait for the handheld after its restart; 0: the default.
    double restartTimeoutSeconds = 0;
    // update, restore: read the flash back after the handheld answers again.
    bool verify = true;
    // update, restore: check and plan only; nothing but the agent is written.
    bool dryRun = false;
    // update, restore: real seconds a cable that drops during the transfer
    // of the parts may take to come back; 0: the run ends as it always did.
    double linkGraceSeconds = 0;
};

// Parses the arguments after the program name. Setup's own options
// ("/FORCE", "/LANGUAGE:xx", in any case) may stand anywhere and are left to
// ParseCommandLine; they are not arguments of the commands. nullopt with
// `error` on a wrong command line.
std::optional<FlashOptions> ParseFlashOptions(const std::vector<std::string>& args, std::string& error);

// True for an argument that is one of Setup's options.
bool IsSetupOption(const std::string& arg);

// How long (real time) the handheld is waited for after a restart: the
// option when given, else 20 minutes on the scaled clock but at least 90
// seconds.
std::chrono::nanoseconds RestartTimeout(const FlashOptions& options);

// How long (real time) the connection test waits: one second on the scaled
// clock, as Setup's test does, but at least two seconds.
std::chrono::nanoseconds ConnectionTestTime();

extern const char* const kFlashHelp;

}  // namespace nuva
