#include "tools/flash/dry_run.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <optional>

#include "formats/generation.h"
#include "platform/clock/clock.h"
#include "setup/device/info_texts.h"
#include "setup/device/start_checks.h"
#include "setup/device/update_plan.h"
#include "setup/frame/dialog_kit.h"
#include "setup/link/desktop_file.h"
#include "setup/link/handover.h"
#include "setup/link/transfer.h"
#include "tools/flash/options.h"

namespace nuva {
namespace {

// What the speed is measured with: flash read through the agent in the
// pieces a backup reads, from the start of the image's place in flash.
constexpr uint32_t kProbeBytes = 256 * 1024;
constexpr uint32_t kProbePiece = 16 * 1024;

// The flash chips' typical times (28F128J3 datasheet): a 128 KB block of
// each chip erased in one second, the two chips side by side making a 256 KB
// block of the bus; a buffered program of 32 bytes per chip (64 on the bus)
// in 218 microseconds.
constexpr double kEraseSecondsPerBlock = 1.0;
constexpr uint32_t kBusBlockBytes = 256 * 1024;
constexpr double kProgramSecondsPer64Bytes = 218e-6;
// The flasher's own pauses: its start, the screen it waits on, its end.
constexpr double kFlasherPausesSeconds = 5.0 + 2.0 + 0.5;

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

std::string Seconds(double seconds) {
    char text[32];
    if (seconds < 120) {
        std::snprintf(text, sizeof text, "%.1f s", seconds);
    } else {
        std::snprintf(text, sizeof text, "%.1f min", seconds / 60);
    }
    return text;
}

// A check that ended the start of the run: its exit code and its words.
struct Stop {
    int exitCode;
    std::string why;
};

std::optional<Stop> StopOf(const StartCheckResult& checked) {
    switch (checked.show) {
        case ShowWhat::kNone:
            break;
        case ShowWhat::kConnectionLost:
            return Stop{flash_exit::kConnectionLost, "The connection to the handheld was lost."};
        case ShowWhat::kWrongModel:
            return Stop{flash_exit::kCheckFailed,
                        "The handheld is not a model this system updates, or its agent does not answer."};
        case ShowWhat::kImageMissing:
            return Stop{flash_exit::kCheckFailed, MessageBoxFor(MessageBoxKind::kImageMissing).text};
        case ShowWhat::kImageCorrupt:
            return Stop{flash_exit::kCheckFailed, MessageBoxFor(MessageBoxKind::kImageCorrupt).text};
        case ShowWhat::kOutOfMemory:
            return Stop{flash_exit::kCheckFailed, MessageBoxFor(MessageBoxKind::kOutOfMemory).text};
        case ShowWhat::kCopyIncomplete:
            return Stop{flash_exit::kCheckFailed, MessageBoxFor(MessageBoxKind::kCopyIncomplete).text};
        case ShowWhat::kQuestionBeep:
            return Stop{flash_exit::kCheckFailed, "The handheld did not answer."};
        case ShowWhat::kReason:
            return std::nullopt;  // a refusal: the plan is still shown
    }
    if (checked.endWith && !checked.imageValid) {
        // A page that ends without a word: the agent or the file failed.
        return Stop{flash_exit::kCheckFailed, "The handheld's agent library or the file could not be read."};
    }
    return std::nullopt;
}

// Runs a check that may leave a sum pending, and its second half.
template <typename Finish>
StartCheckResult WithSum(StartCheckResult checked, ImageFiles& files, Finish finish) {
    if (checked.pendingSum && checked.show == ShowWhat::kNone) {
        SumOutcome outcome = SumContents(files, *checked.pendingSum);
        return finish(std::move(checked), outcome);
    }
    return checked;
}

// The link's speed in bytes per second; 0 when the handheld did not answer.
double MeasureLink(HandheldPort& port) {
    std::vector<uint8_t> buffer(kProbePiece);
    const auto start = std::chrono::steady_clock::now();
    for (uint32_t done = 0; done < kProbeBytes; done += kProbePiece) {
        if (port.ReadDeviceFlash(kImageFlashAddress + done, buffer.data(), kProbePiece) != 0) {
            return 0;
        }
    }
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return kProbeBytes / std::max(seconds, 1e-6);
}

}  // namespace

RunEstimate EstimateRun(const UpdateHandoff& plan, uint32_t memoryConfig, double bytesPerSecond,
                        double timeScale) {
    RunEstimate estimate;
    uint64_t bytes = 0;
    uint64_t chunks = 0;
    auto copy = [&](uint32_t length) {
        bytes += length;
        chunks += (length + kTransferChunkBytes - 1) / kTransferChunkBytes;
    };
    if (memoryConfig == kMemoryConfigAdvanced) {
        copy(kFillerBytes);
    }
    uint64_t written = 0;
    for (uint32_t i = 0; i < plan.Items && i < kMaxImageParts; ++i) {
        copy(plan.parts[i].PartLength);
        written += plan.parts[i].PartLength;
    }
    // Every chunk of a copy is followed by its pause on the scaled clock.
    estimate.transferSeconds = static_cast<double>(bytes) / bytesPerSecond +
                               static_cast<double>(chunks) * kChunkPauseMs / 1000.0 * timeScale;
    const uint64_t erased = written + plan.PSMLength;
    const double blocks = std::ceil(static_cast<double>(erased) / kBusBlockBytes);
    estimate.flashSeconds =
        (blocks * kEraseSecondsPerBlock +
         std::ceil(static_cast<double>(written) / 64) * kProgramSecondsPer64Bytes + kFlasherPausesSeconds) *
        timeScale;
    return estimate;
}

DryRunReport DryRun(HandheldPort& port, ImageFiles& files, DryRunKind kind, const std::string& file,
                    bool force) {
    DryRunReport report;
    auto line = [&report](const std::string& text) { report.lines.push_back(text); };
    const bool update = kind == DryRunKind::kUpdate;
    line(std::string("Dry run of the ") + (update ? "update" : "restore") +
         ": the checks of the real run, and its plan. Nothing is written to the handheld but its agent "
         "library, and nothing is restarted.");
    if (!port.IsConnected()) {
        report.exitCode = flash_exit::kConnectionLost;
        line("No handheld is connected.");
        return report;
    }

    StartCheckResult checked;
    if (update) {
        StartCheckResult notice =
            WithSum(BackupNoticeStartCheck(port, files), files, FinishBackupNoticeCheck);
        if (std::optional<Stop> stop = StopOf(notice)) {
            report.exitCode = stop->exitCode;
            line(stop->why);
            return report;
        }
        checked = UpdateInfoStartCheck(port, files, force ? 1 : 0);
    } else {
        checked = WithSum(RestoreInfoStartCheck(port, files, file), files, FinishRestoreInfoCheck);
    }
    if (std::optional<Stop> stop = StopOf(checked)) {
        report.exitCode = stop->exitCode;
        line(stop->why);
        return report;
    }
    if (!checked.deviceValid || !checked.imageValid) {
        report.exitCode = flash_exit::kCheckFailed;
        line("The handheld or the file could not be read.");
        return report;
    }

    // Every refusal that holds, where the real run stops at the first.
    std::string refusals;
    if (checked.show == ShowWhat::kReason) {
        refusals += ReasonListText(checked.reasons, DowngradeReasonLine(checked.deviceInfo, checked.header));
    }
    StartCheckResult battery = BatteryCheck(port, update ? 1003 : 1066);
    if (battery.show == ShowWhat::kReason) {
        refusals += ReasonListText(battery.reasons);
    } else if (battery.show != ShowWhat::kNone || !battery.deviceValid) {
        report.exitCode = flash_exit::kCheckFailed;
        line("The handheld did not answer about its battery.");
        return report;
    }
    const DeviceInfo& info = battery.deviceInfo;
    if (info.AcOnline == 0) {
        // The caution before anything is erased enables Continue only on AC.
        ReasonFlags ac;
        ac.noAcPower = true;
        refusals += ReasonListText(ac);
    }

    const ImageHeader& header = checked.header;
    const std::string& path = checked.imagePath;
    uint32_t osMajor = info.OsMajorVersion;
    port.QueryOsMajorVersion(osMajor);
    const InfoColumn now = DeviceColumnTexts(info, osMajor);
    const InfoColumn then = ImageColumnTexts(header);
    line("  handheld   " + now.romVersion + ", " + now.osVersion);
    line("  file       " + path);
    line("             " + then.romVersion + ", " + then.osVersion);

    const UpdateHandoff plan =
        PlanImageWrite(header, info.OsMajorVersion, update ? PlanMode::kUpdate : PlanMode::kRestore);
    DesktopFile image = DesktopFile::OpenForReading(path);
    line("  part  flash address  length     sum");
    for (uint32_t i = 0; i < plan.Items && i < kMaxImageParts; ++i) {
        const ImagePart& part = plan.parts[i];
        uint32_t sum = 0;
        const bool summed = image.IsOpen() && image.SeekTo(uint64_t{part.ImageOffset} + kImageHeaderSize) &&
                            SumFileRange(image, part.PartLength, sum) == 0;
        if (!summed) {
            report.exitCode = flash_exit::kCheckFailed;
            line(path + ": part " + std::to_string(i) + " cannot be read.");
            return report;
        }
        char row[96];
        std::snprintf(row, sizeof row, "  %-4u  %s     %-9u  %s", i, Hex32(part.FlashAddress).c_str(),
                      part.PartLength, Hex32(sum).c_str());
        line(row);
    }
    line(plan.PSMStart == 0 ? "  built-in storage: kept"
                            : "  built-in storage: erased (" + Hex32(plan.PSMStart) + ", " +
                                  std::to_string(plan.PSMLength) + " bytes)");
    line(std::string("  generation: ") + now.osVersion + " -> " + then.osVersion +
         (ChangesGeneration(header.OsCode(), info.OsMajorVersion) ? " (changes)" : " (no change)"));

    const double speed = MeasureLink(port);
    if (speed <= 0) {
        report.exitCode = flash_exit::kConnectionLost;
        line("The handheld did not answer while the link was measured.");
        return report;
    }
    const RunEstimate estimate = EstimateRun(plan, info.MemoryConfig, speed, TimeScale());
    char measured[64];
    std::snprintf(measured, sizeof measured, "%.0f KB/s", speed / 1024);
    line(std::string("  link: ") + measured + " (" + std::to_string(kProbeBytes / 1024) +
         " KB of flash read through the agent)");
    line("  expected: transfer about " + Seconds(estimate.transferSeconds) + ", flashing about " +
         Seconds(estimate.flashSeconds));

    if (!refusals.empty()) {
        report.exitCode = flash_exit::kRefused;
        line("The run would be refused:");
        std::string reason;
        for (char c : refusals) {
            if (c == '\n') {
                if (!reason.empty()) {
                    line("  " + reason);
                }
                reason.clear();
            } else if (c != '\r') {
                reason += c;
            }
        }
        if (!reason.empty()) {
            line("  " + reason);
        }
        return report;
    }
    line("The run would be accepted.");
    return report;
}

}  // namespace nuva
