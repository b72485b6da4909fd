#include "tools/flash/options.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>

#include "platform/clock/clock.h"

namespace nuva {
namespace {

std::string Upper(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace

const char* const kFlashHelp =
    "usage: nuva-flash info\n"
    "       nuva-flash update [--force] [--backup FILE] [--yes] [--no-verify]\n"
    "                         [--link-grace SECONDS] [--dry-run]\n"
    "       nuva-flash backup FILE [--yes]\n"
    "       nuva-flash restore FILE [--yes] [--no-verify] [--link-grace SECONDS]\n"
    "                         [--dry-run]\n"
    "       nuva-flash verify FILE\n"
    "       nuva-flash doctor [FILE] [--state DIR]\n"
    "       nuva-flash --help\n"
    "\n"
    "The command-line twin of Setup: it runs from an installation folder (the\n"
    "folder of this program, with setup.ini, the update images, NUVA7INVOKE.DLL\n"
    "and Reflash.exe), goes through the same checks and shows the same texts.\n"
    "\n"
    "commands:\n"
    "  info            the handheld and the update image for its class, side by\n"
    "                  side, and whether an update would be accepted\n"
    "  update          writes the installation's update image to the handheld,\n"
    "                  then follows it through its restarts until it answers with\n"
    "                  its new ROM\n"
    "  backup FILE     saves the handheld's ROM into FILE (a .RIS backup file)\n"
    "  restore FILE    writes the backup FILE back onto the handheld it was saved\n"
    "                  from, then follows it as an update does\n"
    "  verify FILE     compares the handheld's flash with an update image or a\n"
    "                  backup FILE, range by range of what writing it would\n"
    "                  write; nothing is written but the agent library\n"
    "  doctor [FILE]   checks and explains, each with what to do: the cable\n"
    "                  endpoint (NUVA_LINK), the handheld, the installation\n"
    "                  folder (setup.ini, the images and their sums, the agent\n"
    "                  and the flasher) and the room for a backup FILE (by\n"
    "                  default in the current folder)\n"
    "\n"
    "options:\n"
    "  --json          one JSON object a line on standard output for every step\n"
    "                  (pages, questions, checks, progress, the result); the\n"
    "                  text goes to standard error\n"
    "  --state DIR     (doctor) the emulated handheld's state folder: asks it\n"
    "                  whether it is started, crashed, bricked or restarting\n"
    "  --force         accept an update image older than the handheld's ROM\n"
    "  --backup FILE   (update) save the current ROM into FILE before the update\n"
    "  --yes           answer every confirmation as pressing the forward button\n"
    "                  would; without it each is asked on the terminal (y/N), and\n"
    "                  an answer that never comes (end of input) is a no\n"
    "  --restart-timeout SECONDS\n"
    "                  how long (real time) to wait for the handheld to answer\n"
    "                  again after its restart; by default 20 minutes on the\n"
    "                  scaled clock, but never less than 90 seconds\n"
    "  --no-verify     (update, restore) do not read the flash back once the\n"
    "                  handheld answers with its new ROM; by default every range\n"
    "                  written is compared with the file (block sums from the\n"
    "                  handheld, a differing block byte for byte)\n"
    "  --dry-run       (update, restore) make every check of the real run and\n"
    "                  print the plan: parts, storage kept or erased, generation\n"
    "                  change, refusals, expected times; only the agent library\n"
    "                  is copied, nothing is restarted\n"
    "  --link-grace SECONDS\n"
    "                  (update, restore) a cable that drops while the parts are\n"
    "                  copied and is back within SECONDS (real time) does not\n"
    "                  end the run: the parts already confirmed are checked by\n"
    "                  their sums on the handheld and the copy goes on with the\n"
    "                  first part not confirmed\n"
    "  /FORCE, /LANGUAGE:xx\n"
    "                  Setup's options, accepted anywhere on the command line in\n"
    "                  any case: /FORCE as --force; /LANGUAGE: with EN, FR, IT,\n"
    "                  SP, GE, TC or SC chooses the language module that setup.ini\n"
    "                  names (and, as in Setup, also forces)\n"
    "\n"
    "The handheld must be connected: the connection test waits one second, as\n"
    "Setup's does, but never less than two seconds of real time, so that a\n"
    "small NUVA_TIME_SCALE leaves the link time to come up.\n"
    "\n"
    "environment:\n"
    "  NUVA_LINK         the cable endpoint (unix:/path or tcp:127.0.0.1:PORT)\n"
    "  NUVA_TIME_SCALE   scales every pause and timer (1 = real time)\n"
    "  NUVA_HANDHELD_STATE\n"
    "                    the emulated handheld's state folder, for doctor and for\n"
    "                    the diagnosis after a command that found no handheld\n"
    "\n"
    "exit codes:\n"
    "  0  done: the handheld runs the new ROM, or the backup is saved\n"
    "  1  the command line is wrong\n"
    "  2  refused (the reason is shown) or cancelled\n"
    "  3  a check failed: handheld model, update image, backup file, agent\n"
    "  4  no handheld connected, or the connection was lost\n"
    "  5  the update, restore or backup failed (nothing was written as done)\n"
    "  6  the handheld did not answer again in time after its restart\n"
    "  7  verification: the flash differs from the file (the first differing\n"
    "     addresses are shown)\n";

std::chrono::nanoseconds RestartTimeout(const FlashOptions& options) {
    using namespace std::chrono;
    if (options.restartTimeoutSeconds > 0) {
        return duration_cast<nanoseconds>(duration<double>(options.restartTimeoutSeconds));
    }
    return std::max<nanoseconds>(Scaled(minutes(20)), seconds(90));
}

std::chrono::nanoseconds ConnectionTestTime() {
    using namespace std::chrono;
    return std::max<nanoseconds>(Scaled(seconds(1)), seconds(2));
}

bool IsSetupOption(const std::string& arg) {
    std::string upper = Upper(arg);
    return upper == "/FORCE" || upper.rfind("/LANGUAGE:", 0) == 0;
}

std::optional<FlashOptions> ParseFlashOptions(const std::vector<std::string>& args, std::string& error) {
    FlashOptions options;
    std::vector<std::string> positional;
    bool restartTimeoutGiven = false;
    bool noVerifyGiven = false;
    bool graceGiven = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (IsSetupOption(arg)) {
            continue;
        }
        if (arg == "--help" || arg == "-h" || arg == "help") {
            options.command = FlashCommand::kHelp;
            return options;
        }
        if (arg == "--yes" || arg == "-y") {
            options.yes = true;
        } else if (arg == "--json") {
            options.json = true;
        } else if (arg == "--state") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            options.stateDir = args[++i];
        } else if (arg == "--force") {
            options.force = true;
        } else if (arg == "--no-verify") {
            options.verify = false;
            noVerifyGiven = true;
        } else if (arg == "--dry-run") {
            options.dryRun = true;
        } else if (arg == "--link-grace") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            char* end = nullptr;
            double seconds = std::strtod(value.c_str(), &end);
            if (end == value.c_str() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
                seconds > 86400) {
                error = "--link-grace takes a number of seconds (above 0, up to 86400), not '" + value + "'";
                return std::nullopt;
            }
            options.linkGraceSeconds = seconds;
            graceGiven = true;
        } else if (arg == "--backup" || arg == "--restart-timeout") {
            if (i + 1 >= args.size() || args[i + 1].empty()) {
                error = arg + " needs a value";
                return std::nullopt;
            }
            const std::string& value = args[++i];
            if (arg == "--backup") {
                options.backupFile = value;
            } else {
                char* end = nullptr;
                double seconds = std::strtod(value.c_str(), &end);
                if (end == value.c_str() || *end != '\0' || !std::isfinite(seconds) || seconds <= 0 ||
                    seconds > 1e6) {
                    error = "--restart-timeout takes a number of seconds (above 0, up to 1000000), not '" +
                            value + "'";
                    return std::nullopt;
                }
                options.restartTimeoutSeconds = seconds;
                restartTimeoutGiven = true;
            }
        } else if (arg.size() > 1 && arg[0] == '-') {
            error = "unknown option '" + arg + "'";
            return std::nullopt;
        } else {
            positional.push_back(arg);
        }
    }
    if (positional.empty()) {
        error = "no command given";
        return std::nullopt;
    }
    const std::string& command = positional[0];
    size_t wantFiles = 0;
    if (command == "info") {
        options.command = FlashCommand::kInfo;
    } else if (command == "update") {
        options.command = FlashCommand::kUpdate;
    } else if (command == "backup") {
        options.command = FlashCommand::kBackup;
        wantFiles = 1;
    } else if (command == "restore") {
        options.command = FlashCommand::kRestore;
        wantFiles = 1;
    } else if (command == "verify") {
        options.command = FlashCommand::kVerify;
        wantFiles = 1;
    } else if (command == "doctor") {
        options.command = FlashCommand::kDoctor;
        // The backup file whose folder is checked for room is optional.
        wantFiles = positional.size() > 1 ? 1 : 0;
    } else {
        error = "unknown command '" + command + "'";
        return std::nullopt;
    }
    if (positional.size() != 1 + wantFiles) {
        error = wantFiles == 1 ? command + " takes one FILE" : command + " takes no file";
        return std::nullopt;
    }
    if (wantFiles == 1) {
        options.file = positional[1];
    }
    if (options.force && options.command != FlashCommand::kUpdate) {
        error = "--force belongs to update";
        return std::nullopt;
    }
    if (!options.backupFile.empty() && options.command != FlashCommand::kUpdate) {
        error = "--backup belongs to update";
        return std::nullopt;
    }
    const bool writes = options.command == FlashCommand::kUpdate || options.command == FlashCommand::kRestore;
    if (!options.stateDir.empty() && options.command != FlashCommand::kDoctor) {
        error = "--state belongs to doctor";
        return std::nullopt;
    }
    if (restartTimeoutGiven && options.command == FlashCommand::kDoctor) {
        error = "--restart-timeout does not belong to doctor";
        return std::nullopt;
    }
    if (restartTimeoutGiven && options.command == FlashCommand::kInfo) {
        error = "--restart-timeout does not belong to info";
        return std::nullopt;
    }
    if (restartTimeoutGiven && (options.command == FlashCommand::kVerify || options.dryRun)) {
        error = "--restart-timeout does not belong to verify or a dry run: nothing restarts";
        return std::nullopt;
    }
    if ((noVerifyGiven || options.dryRun || graceGiven) && !writes) {
        error = std::string(noVerifyGiven ? "--no-verify" : options.dryRun ? "--dry-run" : "--link-grace") +
                " belongs to update and restore";
        return std::nullopt;
    }
    if (options.dryRun && (!options.backupFile.empty() || graceGiven)) {
        error = "--dry-run copies nothing: it takes neither --backup nor --link-grace";
        return std::nullopt;
    }
    return options;
}

}  // namespace nuva
