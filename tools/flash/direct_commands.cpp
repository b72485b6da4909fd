#include "tools/flash/direct_commands.h"

#include <chrono>
#include <cstdio>
#include <thread>

#include "formats/image_header.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/image_files.h"
#include "setup/device/update_plan.h"
#include "setup/link/handheld_port.h"
#include "setup/program/program.h"
#include "setup/resources/settings.h"
#include "tools/flash/dry_run.h"
#include "tools/flash/terminal.h"
#include "tools/flash/verify.h"

namespace nuva {
namespace {

// Waits, as the connection test of the pages does, for the link flag.
bool WaitForHandheld(HandheldPort& port) {
    const auto deadline = std::chrono::steady_clock::now() + ConnectionTestTime();
    while (!port.IsConnected()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

// `verify FILE`: the handheld must be of the file's model class, the file an
// update image or a backup whole enough to have been written.
int VerifyFile(Terminal& terminal, FlashEvents& events, HandheldPort& port, const std::string& path) {
    ImageHeader header;
    const uint64_t length = CheckImageFile(path, header);
    if (length == 0) {
        terminal.Line(path + ": not an update image or a backup file.");
        return flash_exit::kCheckFailed;
    }
    const bool backup = header.Kind() == 1;
    const PlanVariant variant = PlanVariantForImage(header);
    if (backup) {
        const std::string fault = BackupShapeFault(header, length);
        if (!fault.empty()) {
            terminal.Line(path + ": " + fault + ".");
            return flash_exit::kCheckFailed;
        }
    } else if (length < kImageHeaderSize + uint64_t{ContentBytesFor(variant.os)}) {
        terminal.Line(path + ": the image is shorter than its contents.");
        return flash_exit::kCheckFailed;
    }
    if (port.InstallAgent() != 0) {
        terminal.Line("The agent library cannot be copied to the handheld.");
        return port.IsConnected() ? flash_exit::kCheckFailed : flash_exit::kConnectionLost;
    }
    DeviceInfo info;
    if (port.QueryDeviceInfo(&info) != 0 || info.Supported != 1) {
        terminal.Line("The handheld is not a model this system updates, or its agent does not answer.");
        return flash_exit::kCheckFailed;
    }
    if (PlanVariantForDevice(info).model != variant.model) {
        terminal.Line(path + " is for the other memory class; this handheld's flash cannot hold it.");
        return flash_exit::kCheckFailed;
    }
    const UpdateHandoff plan =
        PlanImageWrite(header, info.OsMajorVersion, backup ? PlanMode::kRestore : PlanMode::kUpdate);
    AgentFlash flash;
    return VerifyOnTerminal(terminal, events, flash, path, plan);
}

}  // namespace

int RunDirectCommand(Terminal& terminal, FlashEvents& events, const FlashOptions& options,
                     const std::string& programPath, const std::string& commandLine) {
    MonitorLink link;
    if (link.StartInit() != 0 || !link.StartWatch()) {
        std::fprintf(stderr, "nuva-flash: the connection monitor cannot be started\n");
        return flash_exit::kCheckFailed;
    }
    g_installDir = InstallDirOf(programPath);
    ParseCommandLine(commandLine);
    RapiHandheldPort port;
    int code = flash_exit::kConnectionLost;
    if (!WaitForHandheld(port)) {
        terminal.Line("No handheld is connected.");
    } else if (options.command == FlashCommand::kVerify) {
        code = VerifyFile(terminal, events, port, options.file);
    } else {
        InstalledImageFiles images;
        const DryRunKind kind =
            options.command == FlashCommand::kRestore ? DryRunKind::kRestore : DryRunKind::kUpdate;
        const DryRunReport report = DryRun(port, images, kind, options.file, options.force || g_force == 1);
        for (const std::string& text : report.lines) {
            terminal.Line(text);
        }
        code = report.exitCode;
    }
    link.StopInit();
    return code;
}

}  // namespace nuva
