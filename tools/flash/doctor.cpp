#include "tools/flash/doctor.h"

#include <cstdio>

#include "formats/json.h"
#include "setup/device/reasons.h"

namespace nuva {
namespace {

Finding Ok(const char* subject, std::string text) {
    return Finding{subject, FindingLevel::kOk, std::move(text), {}};
}
Finding Note(const char* subject, std::string text, std::string advice) {
    return Finding{subject, FindingLevel::kNote, std::move(text), std::move(advice)};
}
Finding Fault(const char* subject, std::string text, std::string advice) {
    return Finding{subject, FindingLevel::kFault, std::move(text), std::move(advice)};
}

std::string Octal(uint32_t mode) {
    char text[8];
    std::snprintf(text, sizeof text, "%04o", mode & 07777u);
    return text;
}

std::string Ctl(const EmulatorFacts& emulator, const std::string& command) {
    return "nuva-handheld ctl --state " + emulator.stateDir + " " + command;
}

std::string PowerText(bool acOnline, std::optional<uint32_t> battery) {
    return std::string(acOnline ? "AC adapter connected" : "on battery") + ", battery " +
           (battery ? std::to_string(*battery) + " %" : std::string("none"));
}

void PowerFindings(bool acOnline, std::optional<uint32_t> battery, std::vector<Finding>& out) {
    if (!acOnline) {
        out.push_back(Note("handheld", "It runs on battery: an update or a restore waits for the AC adapter.",
                           "Connect the AC adapter before an update or a restore."));
    }
    if (battery && !BatteryEnough(*battery)) {
        out.push_back(Note("handheld",
                           "Its battery holds " + std::to_string(*battery) +
                               " %: below 40 % an update or a restore is refused.",
                           "Charge the handheld first."));
    }
}

void EndpointFindings(const EndpointFacts& e, std::vector<Finding>& out) {
    const std::string named = e.variable.empty()
                                  ? std::string("the default cable endpoint (NUVA_LINK is not set)")
                                  : "NUVA_LINK=" + e.variable;
    if (!e.parsed) {
        out.push_back(Fault("cable", named + " is not a cable endpoint: " + e.parseError + ".",
                            "Set NUVA_LINK to unix:/PATH or tcp:127.0.0.1:PORT, as nuva-handheld prints it "
                            "when it starts."));
        return;
    }
    const std::string start =
        "Start the handheld with this NUVA_LINK (nuva-handheld --state DIR), or set "
        "NUVA_LINK to the cable a running handheld prints.";
    if (e.isUnix) {
        const std::string path = e.endpoint.substr(5);
        if (!e.exists) {
            out.push_back(Fault("cable", "No cable socket at " + path + " (" + named + ").", start));
            return;
        }
        if (!e.isSocket) {
            out.push_back(Fault("cable", path + " is not a socket (" + named + ").",
                                "NUVA_LINK must name the socket a running handheld listens on."));
            return;
        }
        if (!e.ownedByUser) {
            out.push_back(
                Fault("cable",
                      "The socket " + path +
                          " belongs to another user: the cable is private to the user who "
                          "started the handheld.",
                      "Start a handheld of your own, or run nuva-flash as the user who started it."));
            return;
        }
        if (!e.reachable) {
            out.push_back(Fault("cable",
                                "The socket " + path + " cannot be opened by you (mode " + Octal(e.mode) +
                                    ", or its folder cannot be searched).",
                                "chmod 600 " + path +
                                    " (the handheld makes it so), or restart the handheld to make it anew."));
            return;
        }
    }
    switch (e.listen) {
        case EndpointFacts::Listen::kListening:
            out.push_back(Ok("cable", "A handheld listens at " + e.endpoint + "."));
            break;
        case EndpointFacts::Listen::kNobody:
            out.push_back(Fault("cable",
                                "Nothing listens at " + e.endpoint +
                                    (e.isUnix ? ": the handheld that made the socket has ended." : "."),
                                start));
            break;
        case EndpointFacts::Listen::kDenied:
            out.push_back(Fault("cable",
                                "Connecting to " + e.endpoint + " is not permitted: " + e.listenError + ".",
                                "Check the socket's permissions (it must be yours, mode 0600)."));
            break;
        case EndpointFacts::Listen::kForeign:
            out.push_back(Fault("cable", "What listens at " + e.endpoint + " belongs to another user.",
                                "Start a handheld of your own and point NUVA_LINK at its cable."));
            break;
        case EndpointFacts::Listen::kNotTried:
            break;
    }
}

void EmulatorFindings(const EmulatorFacts& m, bool answered, std::vector<Finding>& out) {
    if (m.stateDir.empty()) {
        if (!answered) {
            out.push_back(Fault("handheld",
                                "The handheld does not answer on the cable: it is unplugged, still starting "
                                "or restarting, crashed, or its ROM does not start.",
                                "Run nuva-flash doctor --state DIR with the handheld's state folder to learn "
                                "which, or look at its screen (nuva-handheld ctl --state DIR screenshot "
                                "FILE.png)."));
        }
        return;
    }
    if (!m.reached) {
        out.push_back(Fault("handheld", "No emulated handheld runs in " + m.stateDir + ": " + m.error + ".",
                            "Start it: nuva-handheld --state " + m.stateDir + "."));
        return;
    }
    if (!m.bricked.empty()) {
        out.push_back(Fault("handheld",
                            "The handheld does not start: its flash holds no ROM it can start (" + m.bricked +
                                "). It is bricked; nothing can reach it through the cable.",
                            "Only writing its flash outside the handheld helps: make a new handheld from a "
                            "factory ROM (nuva-handheld --state NEWDIR --rom IMAGE)."));
        return;
    }
    if (!m.crashed.empty()) {
        out.push_back(Fault("handheld", "The handheld has crashed: " + m.crashed + ".",
                            "Restart it: " + Ctl(m, "reset warm") + " (reset cold if it crashes again)."));
        return;
    }
    if (m.messageBox) {
        out.push_back(Note("handheld", "A message box is up on the handheld: " + *m.messageBox + ".",
                           "Answer it: " + Ctl(m, "press-ok") + "."));
    }
    if (m.restarting) {
        out.push_back(Note("handheld", "The handheld is restarting.",
                           "Wait until it has started, then run the command again."));
    } else if (!m.started) {
        out.push_back(Fault("handheld", "The handheld has not started.",
                            "Wait for it to start, or restart it: " + Ctl(m, "reset warm") + "."));
    }
    if (!m.plugged) {
        out.push_back(Fault("handheld", "The handheld is not plugged into the cable.",
                            "Plug it in: " + Ctl(m, "plug") + "."));
    }
    if (!answered && m.started && m.plugged && !m.restarting) {
        out.push_back(Fault("handheld",
                            "The handheld is started and plugged in but does not answer on the cable " +
                                std::string(m.link ? "(its link is up)." : "(its link is down)."),
                            "Check that NUVA_LINK names the cable this handheld serves."));
    }
    if (!answered && m.started) {
        out.push_back(Ok("handheld", "Power: " + PowerText(m.acOnline, m.batteryPercent) + "."));
        PowerFindings(m.acOnline, m.batteryPercent, out);
    }
}

void HandheldFindings(const HandheldFacts& h, const EmulatorFacts& m, std::vector<Finding>& out) {
    if (h.answered) {
        if (!h.agentInstalled) {
            out.push_back(Fault("handheld",
                                "The handheld answers, but the agent library could not be copied to it.",
                                "Check that NUVA7INVOKE.DLL is in the installation folder (see below)."));
        } else if (!h.infoRead) {
            out.push_back(Fault("handheld", "The handheld answers, but its agent library does not.",
                                "Run the command again; if it persists, restart the handheld."));
        } else if (!h.supported) {
            out.push_back(Fault("handheld", "The handheld answers, but it is not a supported model.",
                                "This system updates the Brel Nuva Q7 only."));
        } else {
            out.push_back(Ok("handheld", "The handheld answers: ROM " + h.rom + ", " + h.memoryClass + ", " +
                                             PowerText(h.acOnline, h.batteryPercent) + "."));
            PowerFindings(h.acOnline, h.batteryPercent, out);
        }
    }
    if (!m.stateDir.empty() || !h.answered) {
        EmulatorFindings(m, h.answered, out);
    }
}

void InstallationFindings(const InstallationFacts& i, std::vector<Finding>& out) {
    if (!i.iniReadable) {
        out.push_back(Fault("installation", "setup.ini cannot be read in " + i.folder + ".",
                            "Run nuva-flash from its installation folder, or reinstall it."));
    }
    bool anyImage = false;
    for (const ImageFacts& image : i.images) {
        const std::string what = "The update image for the " + image.className + " class";
        if (image.named.empty()) {
            if (i.iniReadable) {
                out.push_back(Note("installation",
                                   "setup.ini names no update image for the " + image.className + " class (" +
                                       image.key + ").",
                                   "A handheld of this class cannot be updated from this installation."));
            }
        } else if (!image.present) {
            out.push_back(Fault("installation", what + ", " + image.path + ", is missing.",
                                "Reinstall it, or correct " + image.key + " in setup.ini."));
        } else if (!image.headerAccepted) {
            out.push_back(Fault("installation",
                                image.path + " is not an update image: its header is refused.",
                                "Reinstall the update image."));
        } else if (image.sumRight && !*image.sumRight) {
            out.push_back(Fault("installation", image.path + " is damaged: " + image.sumProblem + ".",
                                "Reinstall the update image."));
        } else {
            anyImage = true;
            out.push_back(
                Ok("installation", what + " is " + image.path + " (" + image.rom + "), its sum right."));
        }
    }
    if (i.iniReadable && !anyImage) {
        out.push_back(Fault("installation", "No usable update image is installed.",
                            "Reinstall the update images named in setup.ini."));
    }
    out.push_back(i.agentPresent ? Ok("installation", "The agent library is " + i.agentPath + ".")
                                 : Fault("installation", "The agent library " + i.agentPath + " is missing.",
                                         "Reinstall nuva-flash's installation folder."));
    out.push_back(i.flasherPresent ? Ok("installation", "The flasher is " + i.flasherPath + ".")
                                   : Fault("installation", "The flasher " + i.flasherPath + " is missing.",
                                           "Reinstall nuva-flash's installation folder."));
}

void SpaceFindings(const SpaceFacts& s, std::vector<Finding>& out) {
    if (!s.exists) {
        out.push_back(Fault("disk", "The folder " + s.folder + " does not exist.",
                            "Name a backup file in a folder that exists."));
    } else if (!s.writable) {
        out.push_back(Fault("disk",
                            "The folder " + s.folder + " is read-only: a backup cannot be saved there.",
                            "Name a backup file in a folder you can write to."));
    } else if (!s.enough) {
        out.push_back(Fault("disk", "Less than 32 MB are free for a backup in " + s.folder + ".",
                            "Free some space, or save the backup elsewhere."));
    } else {
        out.push_back(Ok("disk", "There is room for a backup in " + s.folder + "."));
    }
}

bool AsOptionalPercent(const JsonValue* value, std::optional<uint32_t>& out) {
    if (value == nullptr) {
        return false;
    }
    if (value->IsNull()) {
        out.reset();
        return true;
    }
    if (!value->IsNumber() || value->AsNumber() < 0 || value->AsNumber() > 100) {
        return false;
    }
    out = static_cast<uint32_t>(value->AsNumber());
    return true;
}

bool AsReason(const JsonValue* value, std::string& out) {
    if (value == nullptr || !(value->IsNull() || value->IsString())) {
        return false;
    }
    out = value->AsString();
    return true;
}

bool AsFlag(const JsonValue* value, bool& out) {
    if (value == nullptr || !value->IsBool()) {
        return false;
    }
    out = value->AsBool();
    return true;
}

std::string ImageProblems(const InstallationFacts& installation, const std::string& memoryClass) {
    std::string problems;
    for (const ImageFacts& image : installation.images) {
        if (!memoryClass.empty() && image.className != memoryClass) {
            continue;
        }
        std::string problem;
        if (image.named.empty()) {
            problem = "setup.ini in " + installation.folder + " names no update image for the " +
                      image.className + " class (" + image.key + ")";
        } else if (!image.present) {
            problem = "the update image " + image.path + " that setup.ini names is missing";
        }
        if (!problem.empty()) {
            problems += (problems.empty() ? "" : "; ") + problem;
        }
    }
    return problems;
}

}  // namespace

bool EmulatorFactsFromStatus(const std::string& json, EmulatorFacts& facts, std::string& error) {
    std::optional<JsonValue> status = ParseJson(json, error);
    if (!status) {
        return false;
    }
    if (!status->IsObject()) {
        error = "the status is not an object";
        return false;
    }
    const JsonValue* box = status->Find("message_box");
    if (!AsFlag(status->Find("started"), facts.started) || !AsFlag(status->Find("plugged"), facts.plugged) ||
        !AsFlag(status->Find("restarting"), facts.restarting) || !AsFlag(status->Find("link"), facts.link) ||
        !AsFlag(status->Find("ac"), facts.acOnline) ||
        !AsOptionalPercent(status->Find("battery"), facts.batteryPercent) ||
        !AsReason(status->Find("crashed"), facts.crashed) ||
        !AsReason(status->Find("bricked"), facts.bricked) || box == nullptr ||
        !(box->IsNull() || box->IsObject())) {
        error = "the status lacks a field or has one of the wrong type";
        return false;
    }
    facts.messageBox.reset();
    if (box->IsObject()) {
        const JsonValue* caption = box->Find("caption");
        const JsonValue* text = box->Find("text");
        if (caption == nullptr || text == nullptr || !caption->IsString() || !text->IsString()) {
            error = "the message box lacks its caption or text";
            return false;
        }
        facts.messageBox = caption->AsString() + ": " + text->AsString();
    }
    facts.reached = true;
    return true;
}

std::vector<Finding> DiagnoseLink(const EndpointFacts& endpoint, const HandheldFacts& handheld,
                                  const EmulatorFacts& emulator) {
    std::vector<Finding> out;
    EndpointFindings(endpoint, out);
    bool cableFault = !out.empty() && out.back().level == FindingLevel::kFault;
    if (!cableFault || !emulator.stateDir.empty()) {
        HandheldFindings(handheld, emulator, out);
    }
    return out;
}

std::vector<Finding> Diagnose(const DoctorFacts& facts) {
    std::vector<Finding> out = DiagnoseLink(facts.endpoint, facts.handheld, facts.emulator);
    InstallationFindings(facts.installation, out);
    SpaceFindings(facts.space, out);
    return out;
}

int DoctorExitCode(const std::vector<Finding>& findings) {
    int code = flash_exit::kDone;
    for (const Finding& finding : findings) {
        if (finding.level != FindingLevel::kFault) {
            continue;
        }
        if (finding.subject == "cable" || finding.subject == "handheld") {
            return flash_exit::kConnectionLost;
        }
        code = flash_exit::kCheckFailed;
    }
    return code;
}

const char* LevelName(FindingLevel level) {
    switch (level) {
        case FindingLevel::kOk:
            return "ok";
        case FindingLevel::kNote:
            return "note";
        case FindingLevel::kFault:
            return "fault";
    }
    return "fault";
}

std::vector<std::string> FindingLines(const Finding& finding) {
    std::vector<std::string> lines{"[" + std::string(LevelName(finding.level)) + "] " + finding.subject +
                                   ": " + finding.text};
    if (!finding.advice.empty()) {
        lines.push_back("        What to do: " + finding.advice);
    }
    return lines;
}

std::vector<std::string> Causes(const CauseFacts& facts) {
    std::vector<std::string> causes;
    if (facts.imageMissingShown) {
        std::string problem = ImageProblems(facts.installation, facts.memoryClass);
        if (!problem.empty()) {
            causes.push_back("Cause: " + problem + ".");
        }
    }
    if (facts.agentUnread && !facts.installation.agentPresent) {
        causes.push_back("Cause: the agent library " + facts.installation.agentPath + " is missing.");
    }
    if (facts.copyIncompleteShown) {
        const bool writesFlash =
            facts.command == FlashCommand::kUpdate || facts.command == FlashCommand::kRestore;
        if (!facts.installation.agentPresent) {
            causes.push_back("Cause: the agent library " + facts.installation.agentPath + " is missing.");
        } else if (writesFlash && !facts.installation.flasherPresent) {
            causes.push_back("Cause: the flasher " + facts.installation.flasherPath + " is missing.");
        } else if (!facts.saveFolder.empty() && !facts.saveFolderExists) {
            causes.push_back("Cause: the folder " + facts.saveFolder + " does not exist.");
        } else if (!facts.saveFolder.empty() && !facts.saveFolderWritable) {
            causes.push_back("Cause: the folder " + facts.saveFolder + " is read-only.");
        }
    }
    if (facts.wrongModelShown && facts.supportedNow && *facts.supportedNow) {
        causes.push_back(
            "Cause: one call of the agent library on the handheld failed; asked again, the handheld reports "
            "a "
            "supported model. Run the command again.");
    }
    return causes;
}

}  // namespace nuva
