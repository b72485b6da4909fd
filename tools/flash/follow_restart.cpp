#include "tools/flash/follow_restart.h"

#include <chrono>
#include <thread>

#include "formats/generation.h"
#include "formats/text_encoding.h"
#include "platform/clock/clock.h"
#include "setup/device/device_texts.h"
#include "setup/device/info_texts.h"
#include "setup/runs/update_run.h"

namespace nuva {
namespace {

// How often the link flag is looked at, and how long a handheld that is back
// on the link but does not answer yet is left before it is asked again (the
// update worker's pause between agent installations).
constexpr uint32_t kPollMs = 500;
constexpr uint32_t kAskAgainMs = 2000;

// At scale 0 the waits would otherwise spin on a processor that the
// handheld needs, as it restarts and writes its flash meanwhile.
void Pause(uint32_t milliseconds) {
    std::this_thread::sleep_for(ScaledPollMs(milliseconds));
}

}  // namespace

bool RunsRomOf(const DeviceInfo& info, const ImageHeader& header) {
    if (RomDateCode(info.PlatformInfo) != header.DateCode()) {
        return false;
    }
    if (!KeepsBuiltInStorage(header.OsCode(), info.OsMajorVersion)) {
        return false;  // another Pocket PC generation
    }
    std::string name = header.RomName();
    return name.empty() || Utf8FromUtf16(FieldText(info.RomVersion)) == name;
}

FollowReport FollowRestart(HandheldPort& device, Terminal& terminal, const ImageHeader& written,
                           std::chrono::nanoseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    FollowReport report;
    uint32_t step = 0;
    auto waiting = [&](const char* what) { terminal.Status(std::string(what) + " " + SpinnerText(step++)); };

    while (device.IsConnected()) {
        if (Clock::now() >= deadline) {
            terminal.KeepStatus();
            return report;
        }
        waiting("The handheld restarts into the flasher");
        Pause(kPollMs);
    }
    report.linkDropped = true;
    for (;;) {
        if (Clock::now() >= deadline) {
            terminal.KeepStatus();
            return report;
        }
        if (!device.IsConnected()) {
            waiting("The handheld writes its flash; waiting for it to answer again");
            Pause(kPollMs);
            continue;
        }
        waiting("The handheld is back on the link; asking it for its ROM");
        DeviceInfo info;
        if (device.InstallAgent() == 0 && device.QueryDeviceInfo(&info) == 0) {
            terminal.KeepStatus();
            report.info = info;
            report.result = RunsRomOf(info, written) ? FollowResult::kRunsImage : FollowResult::kRunsOther;
            return report;
        }
        Pause(kAskAgainMs);
    }
}

}  // namespace nuva
