// Following the handheld through the restarts that end an update or a
// restore: the desktop's part ends when the handheld restarts into the
// flasher, and the only proof that the flash was written is the handheld
// itself answering again with the new ROM. The link drops (the connection
// monitor notices), the flasher programs the flash without a link, the
// handheld restarts into the new ROM and the link comes back.
#pragma once

#include <chrono>
#include <cstdint>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "setup/link/handheld_port.h"
#include "tools/flash/terminal.h"

namespace nuva {

enum class FollowResult {
    kRunsImage,  // the handheld answers with the ROM that was written
    kRunsOther,  // it answers, with another ROM
    kTimedOut,   // it did not answer again in time
};

struct FollowReport {
    FollowResult result = FollowResult::kTimedOut;
    bool linkDropped = false;  // the restart was seen
    DeviceInfo info;           // the record it answered with
};

// What to tell the user when the handheld comes back with another ROM than
// the one written: the flasher stopped before writing and restarted it cold.
inline constexpr const char* kFlasherStoppedAdvice =
    "The flasher on the handheld wrote nothing (the handheld showed why in a message) and restarted it "
    "cold, which removed the files copied to it; the handheld keeps its previous ROM. Run the same "
    "nuva-flash command again.";

// True when the record is of the ROM an image or backup header describes:
// its date code, its OS family and (when the header names one) its version.
bool RunsRomOf(const DeviceInfo& info, const ImageHeader& header);

// Waits for the link to drop and then to come back, and reads the handheld
// (installing the agent first: a restarted handheld has lost it) until it
// answers, all within `timeout` of real time; the waiting is shown
// on the terminal's status line.
FollowReport FollowRestart(HandheldPort& device, Terminal& terminal, const ImageHeader& written,
                           std::chrono::nanoseconds timeout);

}  // namespace nuva
