// nuva-flash: Setup's update, backup and restore from the command line. It
// starts as Setup does (installation folder, command line, language module,
// the connection threads), runs the same checks and wizards with pages that
// write to the terminal, and after an update or a restore follows the
// handheld until it answers with its new ROM.
#include <cstdio>
#include <string>
#include <vector>

#include "platform/clock/clock.h"
#include "setup/device/device_texts.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/info_texts.h"
#include "setup/device/start_checks.h"
#include "setup/frame/dialog_kit.h"
#include "setup/frame/link_monitor.h"
#include "setup/frame/settings.h"
#include "setup/frame/wizards.h"
#include "setup/link/agent_calls.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"
#include "setup/runs/run_device.h"
#include "tools/flash/answers.h"
#include "tools/flash/console_loop.h"
#include "tools/flash/flash_pages.h"
#include "tools/flash/follow_restart.h"
#include "tools/flash/options.h"
#include "tools/flash/progress_pages.h"
#include "tools/flash/terminal.h"

namespace nuva {
namespace {

constexpr uint32_t kConnectionPollMs = 100;

// The main loop's connection test.
bool WaitForLink() {
    const auto deadline = std::chrono::steady_clock::now() + ConnectionTestTime();
    while (g_connected.load() != 1) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        ScaledSleepMs(kConnectionPollMs);
    }
    return true;
}

// An update image for the large class or, failing that, the small one.
bool CheckImageConfigured() {
    return LocateUpdateImage(g_installDir, 1, nullptr, nullptr) == 1 ||
           LocateUpdateImage(g_installDir, 0, nullptr, nullptr) == 1;
}

void PrintBox(Terminal& terminal, MessageBoxKind kind) {
    MessageBoxTexts box = MessageBoxFor(kind);
    PrintMessageBox(terminal, box.caption, box.text);
}

class LinkFollowDevice : public FollowDevice {
  public:
    bool IsConnected() override { return g_connected.load() == 1; }
    uint32_t ReadHandheld(DeviceInfo* out) override {
        if (InstallAgent() != 0) {
            return 0x80004005;
        }
        return QueryDeviceInfo(out);
    }
};

int RunInfo(Terminal& terminal, StartCheckDevice& checks) {
    StartCheckResult menu = MainMenuStartCheck(checks);
    if (menu.endWith) {
        ReportStartCheck(terminal, menu);
        return ExitCodeForStartCheck(menu);
    }
    StartCheckResult check = UpdateInfoStartCheck(checks, g_force);
    if (check.deviceValid || check.imageValid) {
        PrintColumns(terminal, "Update Information", check.deviceValid ? &check.deviceInfo : nullptr,
                     check.imageValid ? &check.header : nullptr);
    }
    if (!check.endWith) {
        terminal.Line("An update would be accepted.");
        return flash_exit::kDone;
    }
    if (check.show == ShowWhat::kReason) {
        terminal.Line("An update would be refused:");
        ReportStartCheck(terminal, check);
        return flash_exit::kDone;
    }
    ReportStartCheck(terminal, check);
    return ExitCodeForStartCheck(check);
}

int FollowTheHandheld(Terminal& terminal, const FlashOptions& options, const ImageHeader& written) {
    LinkFollowDevice device;
    std::chrono::nanoseconds timeout = RestartTimeout(options);
    FollowReport report = FollowRestart(device, terminal, written, timeout);
    if (report.result == FollowResult::kTimedOut) {
        terminal.Line(std::string(report.linkDropped ? "The handheld has not answered again"
                                                     : "The handheld has not restarted") +
                      " within " +
                      std::to_string(std::chrono::duration_cast<std::chrono::seconds>(timeout).count()) +
                      " s.");
        return flash_exit::kNoReturn;
    }
    InfoColumn now = DeviceColumnTexts(report.info, HandheldOsMajor(report.info.OsMajorVersion));
    InfoColumn expected = ImageColumnTexts(written);
    if (report.result == FollowResult::kRunsOther) {
        terminal.Line("The handheld answers again, but it runs " + now.romVersion + ", " + now.osVersion +
                      ", not " + expected.romVersion + ", " + expected.osVersion + ".");
        return flash_exit::kRunFailed;
    }
    terminal.Line("The handheld answers again with its new ROM:");
    terminal.Line("  date code   " + RomDateCode(report.info.PlatformInfo));
    terminal.Line("  version     " + Utf8FromUtf16(FieldText(report.info.RomVersion)) + "  (" +
                  now.romVersion + ")");
    terminal.Line("  OS          " + now.osVersion);
    return flash_exit::kDone;
}

int RunCommand(const FlashOptions& options, Terminal& terminal, ConsoleLoop& loop, Answers& answers) {
    if (!WaitForLink()) {
        PrintBox(terminal, MessageBoxKind::kConnectHint);
        return flash_exit::kConnectionLost;
    }
    if (!CheckImageConfigured()) {
        PrintBox(terminal, MessageBoxKind::kImageMissing);
        return flash_exit::kCheckFailed;
    }
    LinkStartCheckDevice checks;
    if (options.command == FlashCommand::kInfo) {
        return RunInfo(terminal, checks);
    }
    StartCheckResult menu = MainMenuStartCheck(checks);
    if (menu.endWith) {
        ReportStartCheck(terminal, menu);
        return ExitCodeForStartCheck(menu);
    }
    LinkRunDevice runDevice;
    TerminalWizardPages pages(loop, terminal, answers, options, runDevice, checks);
    int wizard =
        options.command == FlashCommand::kUpdate ? RunUpdateWizard(pages) : RunBackupRestoreWizard(pages);
    if (pages.RunCompleted()) {
        return FollowTheHandheld(terminal, options, pages.WrittenHeader());
    }
    if (pages.Failure()) {
        return *pages.Failure();
    }
    if (wizard == page_result::kConnectionLost) {
        return flash_exit::kConnectionLost;
    }
    if (pages.BackupSaved()) {
        return pages.BackupRestartLost() ? flash_exit::kNoReturn : flash_exit::kDone;
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

    // As Setup starts: the installation folder, the command line, the
    // language module, then the connection threads.
    g_installDir = InstallDirOf(RunningProgramPath());
    if (g_installDir.empty()) {
        std::fprintf(stderr, "nuva-flash: cannot find the folder this program runs from\n");
        return flash_exit::kCheckFailed;
    }
    ParseCommandLine(JoinCommandLine(argc, argv));
    if (options->force) {
        g_force = 1;
    }
    std::string module;
    if (FindLanguageModule(g_installDir, module, g_languageId) == 1) {
        ModuleLoadResult loaded = LoadLanguageModule(module);
        if (!loaded.ok) {
            // Setup carries on silently with its own texts; say why here.
            std::fprintf(stderr, "nuva-flash: language module %s not used: %s\n", module.c_str(),
                         loaded.message.c_str());
        }
    }

    Terminal terminal(stdout);
    if (StartLinkInit() != 0) {
        PrintMessageBox(terminal, "", "CeRapiInit() ... Filed ");
    }
    std::jthread watch = StartLinkWatch();
    ConsoleLoop loop;
    Answers answers(options->yes, 0);
    int code = RunCommand(*options, terminal, loop, answers);

    StopLinkInit();
    watch.request_stop();
    watch.join();
    UnloadLanguageModule();
    return code;
}

}  // namespace
}  // namespace nuva

int main(int argc, char** argv) {
    return nuva::Main(argc, argv);
}
