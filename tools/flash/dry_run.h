// The dry run of an update or a restore: every check the real run makes on
// the connected handheld and the file (the agent installed, the model, the
// image or backup and its sum, the compatibility rules, the battery and the
// AC adapter), then the plan the run would carry out, without writing
// anything else to the handheld or restarting it.
//
// The estimate of the time the run takes rests on the link's speed, measured
// by reading a little flash through the agent (a read moves the same bytes
// over the cable as a copy, and writes nothing), and on the flash chips'
// typical datasheet times.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "formats/update_handoff.h"
#include "setup/device/image_files.h"
#include "setup/link/handheld_port.h"

namespace nuva {

// How long the run should take, in seconds of real time at the clock's
// present scale.
struct RunEstimate {
    double transferSeconds = 0;
    double flashSeconds = 0;
};

// `bytesPerSecond` is the link's measured speed (above 0); `plan` the run's
// plan, `memoryConfig` the handheld's ("Advanced" also gets the 5 MB filler).
RunEstimate EstimateRun(const UpdateHandoff& plan, uint32_t memoryConfig, double bytesPerSecond,
                        double timeScale);

struct DryRunReport {
    int exitCode = 0;                // as the real run's start would end (flash_exit)
    std::vector<std::string> lines;  // what to print
};

enum class DryRunKind { kUpdate, kRestore };

// Runs the checks and, when they pass or refuse with reasons, builds the
// plan. `file` is the backup for a restore (unused for an update, whose
// image is the installation's); `force` accepts an older ROM as --force does.
DryRunReport DryRun(HandheldPort& port, ImageFiles& files, DryRunKind kind, const std::string& file,
                    bool force);

}  // namespace nuva
