// A handheld made ready for the flasher as an update or a restore leaves it:
// the image parts in \TEMP\ with their sums, Reflash.exe in the start-up
// folder without the two shortcuts, the hand-over file, the cable drivers
// removed. Shared by the whole-run tests and the flasher's benchmark.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "formats/image_header.h"
#include "formats/update_handoff.h"
#include "handheld-sim/machine/handheld.h"
#include "setup/device/update_plan.h"
#include "tools/imagegen/imagegen.h"

namespace nuva::reflash::test {

inline constexpr uint32_t kContentFlashOffset = 0x40000;
inline constexpr std::u16string_view kFlasherPath = u"\\Windows\\StartUp\\Reflash.exe";

struct Rom {
    std::string dateCode;
    std::vector<uint8_t> file;  // header, then contents
    ImageHeader header;
    const uint8_t* Contents() const { return file.data() + kImageHeaderSize; }
    uint32_t ContentBytes() const { return static_cast<uint32_t>(file.size() - kImageHeaderSize); }
};

// An update image made by the image tool; an empty file when the spec is refused.
Rom MakeRom(imagegen::OsFamily os, const std::string& dateCode, const std::string& name);

class UpdateRig {
  public:
    // `flasher` is the host path of the built Reflash.exe.
    explicit UpdateRig(std::string flasher) : flasher_(std::move(flasher)) {}

    // A factory-new "Advanced" handheld running `rom`, started; false with
    // `detail` when it cannot be made or does not start.
    bool Start(const Rom& rom, uint32_t bootMs, std::string* detail);
    sim::Handheld& Device() { return *handheld_; }
    bool Started() const { return handheld_ != nullptr; }

    // The desktop's plan for writing `rom` to this handheld, with every part's sum.
    UpdateHandoff Plan(const Rom& rom, PlanMode mode = PlanMode::kUpdate);
    // Leaves the parts of `plan`, the flasher and the hand-over.
    bool LeaveForFlasher(const Rom& rom, const UpdateHandoff& plan);
    // Only the flasher, without the shortcuts and the cable drivers.
    bool LeaveFlasher();

    bool PutFile(std::u16string_view path, std::span<const uint8_t> bytes);
    bool DeleteFile(std::u16string_view path);
    bool HasFile(std::u16string_view path);
    std::vector<uint8_t> FileBytes(std::u16string_view path);

    // Restarts warm, as the desktop's last call does; the boot generation of
    // the start that runs the flasher.
    uint64_t RestartWarm();
    // Polls the handheld's status until `done`, a crash, a brick or the timeout.
    sim::HandheldStatus WaitUntil(const std::function<bool(const sim::HandheldStatus&)>& done,
                                  std::chrono::milliseconds timeout);
    // Until the handheld has started `starts` restarts after the start of `generation`.
    sim::HandheldStatus WaitForStart(uint64_t generation, uint64_t starts, std::chrono::milliseconds timeout);

    // Empty when the handheld runs `rom` from flash that holds its image;
    // what differs otherwise.
    std::string CheckRunsRom(const Rom& rom);

    static const sim::StartupRecord* FlasherRecord(const sim::HandheldStatus& status);

  private:
    std::string flasher_;
    std::unique_ptr<sim::Handheld> handheld_;
};

}  // namespace nuva::reflash::test
