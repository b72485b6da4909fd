#include "tools/flash/doctor_run.h"

#include <cstdlib>
#include <filesystem>

#include "formats/device_info.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"
#include "tools/flash/doctor_probe.h"

namespace nuva {
namespace {

void Report(Terminal& terminal, FlashEvents& events, const std::vector<Finding>& findings) {
    for (const Finding& finding : findings) {
        for (const std::string& line : FindingLines(finding)) {
            terminal.Line(line);
        }
        events.Finding(finding.subject, LevelName(finding.level), finding.text, finding.advice);
    }
}

// The folder a backup FILE would be saved in.
std::string FolderOf(const std::string& file) {
    std::error_code ec;
    std::filesystem::path path = std::filesystem::absolute(file.empty() ? "." : file, ec);
    return ec ? file : path.parent_path().string();
}

}  // namespace

const char* CommandName(FlashCommand command) {
    switch (command) {
        case FlashCommand::kHelp:
            return "help";
        case FlashCommand::kInfo:
            return "info";
        case FlashCommand::kUpdate:
            return "update";
        case FlashCommand::kBackup:
            return "backup";
        case FlashCommand::kRestore:
            return "restore";
        case FlashCommand::kVerify:
            return "verify";
        case FlashCommand::kDoctor:
            return "doctor";
    }
    return "help";
}

std::string HandheldStateDir(const FlashOptions& options) {
    if (!options.stateDir.empty()) {
        return options.stateDir;
    }
    const char* variable = std::getenv("NUVA_HANDHELD_STATE");
    return variable != nullptr ? variable : "";
}

int RunDoctor(Terminal& terminal, FlashEvents& events, const FlashOptions& options,
              const std::string& installFolder) {
    DoctorFacts facts;
    facts.endpoint = ProbeEndpoint();
    if (facts.endpoint.listen == EndpointFacts::Listen::kListening) {
        RapiHandheldPort port;
        facts.handheld = ProbeHandheld(port, ConnectionTestTime());
    }
    facts.emulator = ProbeEmulator(HandheldStateDir(options), installFolder);
    facts.installation = ProbeInstallation(installFolder);
    facts.space = ProbeSpace(FolderOf(options.file));
    std::vector<Finding> findings = Diagnose(facts);
    Report(terminal, events, findings);
    return DoctorExitCode(findings);
}

void ExplainNoHandheld(Terminal& terminal, FlashEvents& events, const FlashOptions& options,
                       const std::string& installFolder) {
    // The program has just waited for the handheld in vain: it is not asked
    // again, only where the cable leads and what the handheld says of itself.
    EndpointFacts endpoint = ProbeEndpoint();
    EmulatorFacts emulator = ProbeEmulator(HandheldStateDir(options), installFolder);
    terminal.Line("Diagnosis (nuva-flash doctor tells more):");
    Report(terminal, events, DiagnoseLink(endpoint, HandheldFacts{}, emulator));
}

void ExplainCauses(Terminal& terminal, FlashEvents& events, const FlashOptions& options,
                   const TerminalHost& host, HandheldPort& port, const std::string& installFolder,
                   int exitCode) {
    CauseFacts facts;
    facts.command = options.command;
    facts.imageMissingShown = host.ShowedBox(LoadString(string_id::kImageMissing));
    facts.copyIncompleteShown = host.ShowedBox(LoadString(string_id::kCopyIncomplete));
    facts.wrongModelShown = host.Showed(dialog_id::kWrongModel);
    // The one check that fails on the backup page is the handheld read
    // through the agent.
    facts.agentUnread = exitCode == flash_exit::kCheckFailed && host.Showed(dialog_id::kBackupConfirm);
    if (!facts.imageMissingShown && !facts.copyIncompleteShown && !facts.wrongModelShown &&
        !facts.agentUnread) {
        return;
    }
    facts.installation = ProbeInstallation(installFolder);
    const std::string saved = options.command == FlashCommand::kBackup ? options.file : options.backupFile;
    if (!saved.empty()) {
        facts.saveFolder = FolderOf(saved);
        ProbeFolder(facts.saveFolder, facts.saveFolderExists, facts.saveFolderWritable);
    }
    if (port.IsConnected()) {
        DeviceInfo info;
        if (port.QueryDeviceInfo(&info) == 0) {
            facts.memoryClass = info.MemoryConfig == kMemoryConfigAdvanced ? "Advanced" : "Basic";
            if (facts.wrongModelShown) {
                facts.supportedNow = info.Supported != 0;
            }
        }
    }
    for (const std::string& cause : Causes(facts)) {
        terminal.Line(cause);
        events.Cause(cause);
    }
}

}  // namespace nuva
