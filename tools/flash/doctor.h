// nuva-flash doctor: what the facts about the cable, the handheld, the
// installation folder and the disk mean, and what to do about each. The
// decisions here are pure: the facts are gathered by doctor_probe, so that a
// test can hand any set of them in.
//
// The same decisions explain, after the program's own message, why a
// command failed (cause lines): they keep the message and add one line.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tools/flash/options.h"

namespace nuva {

enum class FindingLevel { kOk, kNote, kFault };

struct Finding {
    std::string subject;  // "cable", "handheld", "installation", "disk"
    FindingLevel level = FindingLevel::kOk;
    std::string text;
    std::string advice;  // empty: nothing to do
};

// The cable endpoint as NUVA_LINK names it.
struct EndpointFacts {
    std::string variable;  // NUVA_LINK's value; "" when it is not set
    bool parsed = false;
    std::string parseError;
    std::string endpoint;  // as parsed ("unix:/path" or "tcp:127.0.0.1:PORT")
    bool isUnix = false;
    // A unix socket's file.
    bool exists = false;
    bool isSocket = false;
    bool ownedByUser = false;
    uint32_t mode = 0;       // permission bits
    bool reachable = false;  // its folder can be searched and the socket written
    enum class Listen { kNotTried, kListening, kNobody, kDenied, kForeign };
    Listen listen = Listen::kNotTried;
    std::string listenError;
};

// What the handheld said through the cable.
struct HandheldFacts {
    bool answered = false;  // it answered within the connection test's time
    bool agentInstalled = false;
    bool infoRead = false;  // the agent's record was read
    bool supported = false;
    bool acOnline = false;
    std::optional<uint32_t> batteryPercent;  // none: no battery reported
    std::string rom;                         // "A02 (03050300)"
    std::string memoryClass;                 // "Advanced", "Basic" or ""
};

// The emulated handheld's own account of itself, asked through its control
// socket when doctor knows its state folder.
struct EmulatorFacts {
    std::string stateDir;  // "" when not asked
    bool reached = false;
    std::string error;  // when not reached
    bool started = false;
    bool plugged = false;
    bool restarting = false;
    bool link = false;
    bool acOnline = false;
    std::optional<uint32_t> batteryPercent;
    std::string crashed;                    // the reason; "" when it has not crashed
    std::string bricked;                    // the reason; "" when its ROM starts
    std::optional<std::string> messageBox;  // "caption: text"
};

// Reads `nuva-handheld ctl status --json`. False with `error` when the text
// is not such a status (every field is checked for its type).
bool EmulatorFactsFromStatus(const std::string& json, EmulatorFacts& facts, std::string& error);

struct ImageFacts {
    std::string className;  // "Advanced" or "Basic"
    std::string key;        // "HIMODEL" or "LOWMODEL"
    std::string named;      // the value in setup.ini; "" when none
    std::string path;
    bool present = false;
    bool headerAccepted = false;
    std::string rom;               // "A03 (04100300)" when the header is accepted
    std::optional<bool> sumRight;  // not asked when the header is refused
    std::string sumProblem;        // what is wrong when it is not right
};

struct InstallationFacts {
    std::string folder;
    bool iniReadable = false;
    std::vector<ImageFacts> images;
    std::string agentPath;
    bool agentPresent = false;
    std::string flasherPath;
    bool flasherPresent = false;
};

struct SpaceFacts {
    std::string folder;  // where a backup would be saved
    bool exists = false;
    bool writable = false;
    bool enough = false;  // room for a backup (32 MB)
};

struct DoctorFacts {
    EndpointFacts endpoint;
    HandheldFacts handheld;
    EmulatorFacts emulator;
    InstallationFacts installation;
    SpaceFacts space;
};

// Every finding, subject by subject.
std::vector<Finding> Diagnose(const DoctorFacts& facts);
// The cable and the handheld only: what a command that found no handheld
// says after its message.
std::vector<Finding> DiagnoseLink(const EndpointFacts& endpoint, const HandheldFacts& handheld,
                                  const EmulatorFacts& emulator);
// doctor's exit code: 0 with no fault, 4 when the cable or the handheld is
// at fault, else 3.
int DoctorExitCode(const std::vector<Finding>& findings);
// A finding as the terminal shows it: "[ok] cable: ..." and, when there is
// something to do, an indented line saying it.
std::vector<std::string> FindingLines(const Finding& finding);
const char* LevelName(FindingLevel level);

// What is known after a command failed, for its cause line.
struct CauseFacts {
    FlashCommand command = FlashCommand::kHelp;
    bool imageMissingShown = false;    // "The Reflash file can not be found..."
    bool copyIncompleteShown = false;  // "Copy incomplete! ..."
    bool wrongModelShown = false;
    // The backup page could not read the handheld through the agent (its
    // Save stayed disabled).
    bool agentUnread = false;
    InstallationFacts installation;
    std::string memoryClass;  // the handheld's, when known
    // The folder a backup was to be saved in ("" when none was).
    std::string saveFolder;
    bool saveFolderExists = false;
    bool saveFolderWritable = false;
    // After "wrong model": the handheld asked again reports a supported
    // model (nullopt: it could not be asked).
    std::optional<bool> supportedNow;
};

// The cause lines ("Cause: ..."), at most one per message shown.
std::vector<std::string> Causes(const CauseFacts& facts);

}  // namespace nuva
