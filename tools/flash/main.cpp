// nuva-flash: Setup's update, backup and restore from the command line. It
// runs Setup itself (the same start-up, main loop, pages and runs) with
// pages that write to the terminal and a user that presses what the command
// line asks for, and after an update or a restore follows the handheld
// until it answers with its new ROM.
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "formats/text_encoding.h"
#include "setup/device/device_texts.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/image_files.h"
#include "setup/device/info_texts.h"
#include "setup/device/update_plan.h"
#include "setup/program/program.h"
#include "setup/resources/settings.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"
#include "tools/flash/answers.h"
#include "tools/flash/console_loop.h"
#include "tools/flash/direct_commands.h"
#include "tools/flash/doctor_run.h"
#include "tools/flash/flash_user.h"
#include "tools/flash/follow_restart.h"
#include "tools/flash/grace_port.h"
#include "tools/flash/options.h"
#include "tools/flash/terminal.h"
#include "tools/flash/terminal_pages.h"
#include "tools/flash/verify.h"

namespace nuva {
namespace {

int FollowTheHandheld(Terminal& terminal, FlashEvents& events, HandheldPort& port,
                      const FlashOptions& options, const ImageHeader& written, const RunRecord& run) {
    std::chrono::nanoseconds timeout = RestartTimeout(options);
    events.Restart("flasher");
    FollowReport report = FollowRestart(port, terminal, written, timeout);
    if (report.result == FollowResult::kTimedOut) {
        events.Handheld(false, "", "", "", std::nullopt);
        terminal.Line(std::string(report.linkDropped ? "The handheld has not answered again"
                                                     : "The handheld has not restarted") +
                      " within " +
                      std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) +
                      " s.");
        return flash_exit::kNoReturn;
    }
    uint32_t osMajor = report.info.OsMajorVersion;
    port.QueryOsMajorVersion(osMajor);
    InfoColumn now = DeviceColumnTexts(report.info, osMajor);
    InfoColumn expected = ImageColumnTexts(written);
    events.Handheld(true, RomDateCode(report.info.PlatformInfo),
                    Utf8FromUtf16(FieldText(report.info.RomVersion)), now.osVersion,
                    report.result == FollowResult::kRunsImage);
    if (report.result == FollowResult::kRunsOther) {
        terminal.Line("The handheld answers again, but it runs " + now.romVersion + ", " + now.osVersion +
                      ", not " + expected.romVersion + ", " + expected.osVersion + ".");
        // A flasher that stops before writing restarts the handheld cold (a
        // handheld whose flash it had begun to write would not answer).
        terminal.Line(kFlasherStoppedAdvice);
        return flash_exit::kRunFailed;
    }
    terminal.Line("The handheld answers again with its new ROM:");
    terminal.Line("  date code   " + RomDateCode(report.info.PlatformInfo));
    terminal.Line("  version     " + Utf8FromUtf16(FieldText(report.info.RomVersion)) + "  (" +
                  now.romVersion + ")");
    terminal.Line("  OS          " + now.osVersion);
    if (!options.verify) {
        return flash_exit::kDone;
    }
    // The ranges do not depend on the built-in storage, so the plan made for
    // the handheld as it answers now names the same ones as the run's.
    const UpdateHandoff plan =
        PlanImageWrite(written, report.info.OsMajorVersion,
                       run.kind == RunRecord::Kind::kRestore ? PlanMode::kRestore : PlanMode::kUpdate);
    AgentFlash flash;
    return VerifyOnTerminal(terminal, events, flash, run.path, plan);
}

// What the program's run came to, as an exit code.
int Outcome(const SetupProgram& program, const FlashUser& user, const FlashOptions& options,
            Terminal& terminal, FlashEvents& events, HandheldPort& port, ImageFiles& images) {
    const std::optional<RunRecord>& run = program.LastRun();
    if (run && run->result == 1 && run->kind != RunRecord::Kind::kBackup) {
        // The handheld restarts into the flasher to write this file.
        ImageHeader written;
        if (images.CheckImageFile(run->path, written) == 0) {
            terminal.Line("[Caution]");
            terminal.Line(run->path + ": the file written can no longer be read.");
            return flash_exit::kCheckFailed;
        }
        return FollowTheHandheld(terminal, events, port, options, written, *run);
    }
    if (user.Failure()) {
        return *user.Failure();
    }
    if (options.command == FlashCommand::kInfo && user.InfoAnswered()) {
        return flash_exit::kDone;
    }
    if (run && run->result == 1) {
        return user.BackupRestartLost() ? flash_exit::kNoReturn : flash_exit::kDone;
    }
    terminal.Line("Cancelled.");
    return flash_exit::kRefused;
}

int Main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    std::string error;
    std::optional<FlashOptions> options = ParseFlashOptions(args, error);
    if (!options) {
        std::fprintf(stderr, "nuva-flash: %s\n(nuva-flash --help tells how to use it)\n", error.c_str());
        return flash_exit::kUsage;
    }
    if (options->command == FlashCommand::kHelp) {
        std::fputs(kFlashHelp, stdout);
        return flash_exit::kDone;
    }
    std::string programPath = RunningProgramPath();
    if (programPath.empty()) {
        std::fprintf(stderr, "nuva-flash: cannot find the folder this program runs from\n");
        return flash_exit::kCheckFailed;
    }

    // With --json the events own standard output and the text moves aside.
    Terminal terminal(options->json ? stderr : stdout);
    FlashEvents events(options->json ? stdout : nullptr);
    terminal.SetStatusListener([&events](const std::string& status) { events.Waiting(status); });
    events.Started(CommandName(options->command));
    const std::string installFolder = InstallDirOf(programPath);
    if (options->command == FlashCommand::kDoctor) {
        int code = RunDoctor(terminal, events, *options, installFolder);
        events.Result(code, ExitMeaning(code));
        return code;
    }
    if (options->command == FlashCommand::kVerify || options->dryRun) {
        int code = RunDirectCommand(terminal, events, *options, programPath, JoinCommandLine(argc, argv));
        events.Result(code, ExitMeaning(code));
        return code;
    }
    ConsoleLoop loop;
    Answers answers(options->yes, 0);
    GracePort port(std::chrono::duration_cast<std::chrono::nanoseconds>(
        std::chrono::duration<double>(options->linkGraceSeconds)));
    InstalledImageFiles images;
    FlashUser user(*options, answers, port);
    user.TakeNotesFrom([&port] { return port.TakeNotes(); });
    // The connection test's ten pauses take at least the command line's
    // real-time floor in all.
    TerminalHost host(loop, terminal, user, ConnectionTestTime() / 10);
    host.SetEvents(events);
    MonitorLink link;
    SetupProgram program(host, port, images, link);

    if (!program.StartUp({programPath, JoinCommandLine(argc, argv)})) {
        std::fprintf(stderr, "nuva-flash: the connection watch thread cannot be started\n");
        return flash_exit::kCheckFailed;
    }
    if (options->force) {
        g_force = 1;
    }
    if (program.LanguageModuleRefusal()) {
        // Setup carries on silently with its own texts; say why here.
        std::fprintf(stderr, "nuva-flash: language module %s not used\n",
                     program.LanguageModuleRefusal()->c_str());
    }
    program.MainLoop();
    int code = Outcome(program, user, *options, terminal, events, port, images);
    if (code != flash_exit::kDone) {
        if (host.ShowedBox(LoadString(string_id::kConnectHint))) {
            ExplainNoHandheld(terminal, events, *options, installFolder);
        }
        ExplainCauses(terminal, events, *options, host, port, installFolder, code);
    }
    program.CleanUp();
    events.Result(code, ExitMeaning(code));
    return code;
}

}  // namespace
}  // namespace nuva

int main(int argc, char** argv) {
    return nuva::Main(argc, argv);
}
