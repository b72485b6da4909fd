// The command line of nuva-handheld: the handheld program's options, and the
// `ctl` form that drives a running one.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "handheld-sim/machine/handheld.h"

namespace nuva::sim::app {

// Exit codes of both forms.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;       // the operation was refused or failed
inline constexpr int kExitUsage = 2;        // the command line is wrong
inline constexpr int kExitUnreachable = 3;  // no handheld runs in that state folder

struct HandheldOptions {
    std::string stateDir;
    std::optional<std::string> romImage;  // the flash contents of a factory-new handheld
    // Factory settings; which were given, so that they can be refused for a
    // handheld that exists already.
    FactorySettings factory;
    bool factoryGiven = false;
};

struct CtlOptions {
    std::string stateDir;
    std::vector<std::string> command;  // the subcommand and its arguments
};

// Parses `nuva-handheld --state DIR ...` (argv without the program name).
// nullopt with `error` on a wrong command line.
std::optional<HandheldOptions> ParseHandheldOptions(const std::vector<std::string>& args, std::string& error);
// Parses `ctl --state DIR SUBCOMMAND ...` (the arguments after "ctl").
std::optional<CtlOptions> ParseCtlOptions(const std::vector<std::string>& args, std::string& error);

// A number in decimal or with a 0x prefix, within [0, max].
std::optional<uint64_t> ParseNumber(const std::string& text, uint64_t max);

// Where a handheld's control socket lies in its state folder.
std::string ControlSocketPath(const std::string& stateDir);

inline constexpr const char* kUsage =
    "usage: nuva-handheld --state DIR [--rom IMAGE] [--class advanced|basic] [--uuid HEX32]\n"
    "                     [--unsupported] [--language 0xNNNN] [--boot-time SECONDS]\n"
    "       nuva-handheld ctl --state DIR SUBCOMMAND [ARGS]\n"
    "subcommands: status [--json] | plug | unplug | ac on|off | battery N|none | reset warm|cold\n"
    "             screenshot FILE.png | dump-flash FILE [--offset N] [--length N]\n"
    "             pull DEVICEPATH FILE | push FILE DEVICEPATH | ls DEVICEPATH | press-ok | quit\n"
    "             fault flash busy|erase-error|program-error|locked|stuck|slow-erase|slow-program\n"
    "                   [--chip 0|1|both] [--block N | --blocks N-M] [--ops N] [--offset N --mask N]\n"
    "                   [--reads N] [--micros N]\n"
    "             fault flash clear | fault cable-drop BYTES | fault write-fail\n"
    "             fault corrupt DEVICEPATH OFFSET [MASK] | fault agent-fail N [--export NAME]\n"
    "             fault version-fail N\n"
    "             fault clear\n";

}  // namespace nuva::sim::app
