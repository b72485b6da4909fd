// handheld_half_driver: the handheld half of an update, driven through
// Setup's own device link and nothing else, for the end-to-end test and for
// scripts/handheld-half.sh.
//
//   handheld_half_driver IMAGE
//
// It waits for the handheld on the cable (NUVA_LINK says where), installs the
// agent, reads the handheld's DeviceInfo, plans the image write for it, copies
// and confirms every image part, places the flasher, writes the hand-over and
// warm-restarts the handheld with the driver cleanup. The handheld then has
// no cable link until the flasher has programmed the flash and restarted it
// cold; the driver waits for the link to come back, installs the agent again
// (a cold start restores the factory files) and reads the DeviceInfo of the
// new ROM.
//
// Every step prints one line. Exit code 0 only when the handheld reports the
// image's ROM (date code, version and generation) afterwards; 1 when a step
// failed or the handheld reports another ROM; 2 on a wrong command line.
// The last lines are machine-readable: "before: ..." and "after: ..." carry
// the handheld's reports as `date_code=... version=... os_major=...`.
//
// The agent library and the flasher are taken from beside this program, as
// Setup takes them from beside itself.
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "formats/message_ids.h"
#include "formats/update_handoff.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "setup/device/device_texts.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/update_plan.h"
#include "setup/link/link_monitor.h"
#include "setup/link/agent_calls.h"
#include "setup/link/handover.h"
#include "setup/link/message_sink.h"

namespace nuva {
namespace {

using Clock = std::chrono::steady_clock;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

// How long the handheld may take: to answer at all (it may still be
// booting), to drop the link after the restart request (it restarts at
// once; the monitor notices within a probe and its retry), and to come back
// from the flasher (a whole erase and program of the flash with the
// flasher's waiting screens and two starts: minutes of nominal time). Each
// limit is nominal time on the scaled clock plus real time for a busy
// machine.
constexpr uint32_t kFirstLinkNominalMs = 60'000;
constexpr uint32_t kLinkDropNominalMs = 60'000;
constexpr uint32_t kFlasherNominalMs = 30 * 60'000;
constexpr auto kRealMargin = std::chrono::seconds(60);

Clock::time_point g_start;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

void Say(const char* step, const std::string& text) {
    std::printf("[%7.2f s] %-9s %s\n", Seconds(Clock::now() - g_start), step, text.c_str());
    std::fflush(stdout);
}

int Fail(const char* step, const std::string& text) {
    Say(step, "FAILED: " + text);
    return kExitFailed;
}

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

bool WaitForConnected(int32_t wanted, Clock::duration limit) {
    const auto end = Clock::now() + limit;
    while (g_connected.load() != wanted) {
        if (Clock::now() >= end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

Clock::duration Limit(uint32_t nominalMs) {
    return std::chrono::duration_cast<Clock::duration>(ScaledMs(nominalMs)) + kRealMargin;
}

// The ROM as the handheld reports it, in the form the test and the script
// read back.
std::string Identity(const DeviceInfo& info) {
    return "date_code=" + RomDateCode(info.PlatformInfo) +
           " version=" + AnsiFromUtf16(FieldText(info.RomVersion)) +
           " os_major=" + std::to_string(info.OsMajorVersion);
}

// Prints the transfer's overall progress; the per-chunk progress of each
// part is left out.
class ProgressLines : public MessageSink {
  public:
    void Post(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        if (message != WM_OVERALL_PROGRESS || lParam == 0)
            return;
        Say("transfer", std::to_string(wParam) + " of " + std::to_string(lParam) + " bytes confirmed");
    }
    bool IsAlive() const override { return true; }
};

// The link monitor of this program, as Setup runs it; stopped on every way
// out so that no thread is left blocked in CeRapiInit.
class LinkMonitor {
  public:
    bool Start() {
        if (StartLinkInit() != 0)
            return false;
        watch_ = StartLinkWatch();
        return true;
    }
    ~LinkMonitor() {
        watch_ = std::jthread();
        StopLinkInit();
        CeRapiUninit();
    }

  private:
    std::jthread watch_;
};

int Run(const std::string& imagePath) {
    ImageHeader header;
    const uint64_t fileBytes = CheckImageFile(imagePath, header);
    if (fileBytes == 0) {
        return Fail("image",
                    imagePath + " is not an update image (missing, shorter than a header, or no magic)");
    }
    const std::string expectedDate(header.DateCode());
    const std::string expectedVersion = header.RomName();
    const uint32_t expectedOsMajor = header.OsCode() == kOsCode2003 ? 4 : 3;
    Say("image", imagePath + ": date_code=" + expectedDate + " version=" + expectedVersion +
                     " os_major=" + std::to_string(expectedOsMajor));

    LinkMonitor monitor;
    Say("connect", "waiting for the handheld on the cable");
    if (!monitor.Start())
        return Fail("connect", "the link monitor could not be started");
    if (!WaitForConnected(1, Limit(kFirstLinkNominalMs)))
        return Fail("connect", "no handheld answered");
    Say("connect", "connected");

    if (InstallAgent() != 0)
        return Fail("agent", "NUVA7INVOKE.DLL could not be copied to \\Windows\\");
    DeviceInfo before;
    if (const uint32_t r = QueryDeviceInfo(&before); r != 0)
        return Fail("agent", "FnNUVAInfo answered " + Hex(r));
    Say("agent", "installed; MemoryConfig " + Hex(before.MemoryConfig));
    Say("before:", Identity(before));

    const bool advancedImage = header.ModelByte() == kModelByteAdvanced;
    if (advancedImage != (before.MemoryConfig == kMemoryConfigAdvanced)) {
        return Fail("image", std::string("the image is for the ") +
                                 (advancedImage ? "\"Advanced\"" : "\"Basic\"") +
                                 " class, the handheld is not");
    }
    UpdateHandoff plan = PlanImageWrite(header, before.OsMajorVersion, PlanMode::kUpdate);
    if (fileBytes != kImageHeaderSize + uint64_t{plan.TotalBytes}) {
        return Fail("image", imagePath + " holds " + std::to_string(fileBytes) +
                                 " bytes; an image of its kind holds " +
                                 std::to_string(kImageHeaderSize + uint64_t{plan.TotalBytes}));
    }
    Say("plan", std::to_string(plan.Items) + " parts, " + std::to_string(plan.TotalBytes) +
                    " bytes; built-in storage " + (plan.PSMLength == 0 ? "kept" : "erased"));

    const auto transferStart = Clock::now();
    ProgressLines progress;
    if (const uint32_t r = TransferImageParts(&progress, imagePath, plan, before.MemoryConfig, g_connected);
        r != 0) {
        return Fail("transfer", "TransferImageParts answered " + Hex(r));
    }
    if (g_connected.load() != 1)
        return Fail("transfer", "the link dropped during the transfer");
    char took[64];
    std::snprintf(took, sizeof took, "every part confirmed in %.2f s", Seconds(Clock::now() - transferStart));
    Say("transfer", took);

    RemoveStartupShortcuts();
    Say("startup", "poutlook.lnk and Welcome.lnk removed");
    if (PlaceReflash() != 0)
        return Fail("reflash", "Reflash.exe could not be copied to the start-up folder");
    Say("reflash", "placed in the start-up folder");
    if (const uint32_t r = WriteUpdateInfo(plan); r != 0) {
        return Fail("handover", "WriteUpdateInfo answered " + Hex(r));
    }
    Say("handover", "\\temp\\updinfo.ini written and read back");

    // The call is cut by the restart it asks for, so its answer says nothing;
    // the link going down is the confirmation.
    WarmResetDevice(kWarmResetCleanup);
    Say("reset", "warm restart with the driver cleanup requested");
    if (!WaitForConnected(0, Limit(kLinkDropNominalMs)))
        return Fail("reset", "the link did not drop");
    const auto dropped = Clock::now();
    Say("link", "down; the flasher runs on the handheld");
    if (!WaitForConnected(1, Limit(kFlasherNominalMs)))
        return Fail("link", "the handheld did not come back");
    std::snprintf(took, sizeof took, "back after %.2f s", Seconds(Clock::now() - dropped));
    Say("link", took);

    if (InstallAgent() != 0)
        return Fail("agent", "NUVA7INVOKE.DLL could not be copied again");
    DeviceInfo after;
    if (const uint32_t r = QueryDeviceInfo(&after); r != 0)
        return Fail("agent", "FnNUVAInfo answered " + Hex(r));
    Say("after:", Identity(after));

    const std::string gotDate = RomDateCode(after.PlatformInfo);
    const std::string gotVersion = AnsiFromUtf16(FieldText(after.RomVersion));
    if (gotDate != expectedDate || gotVersion != expectedVersion || after.OsMajorVersion != expectedOsMajor) {
        return Fail("result", "the handheld reports another ROM than the image's");
    }
    Say("result", "the handheld reports the new ROM");
    return kExitOk;
}

}  // namespace
}  // namespace nuva

int main(int argc, char** argv) {
    nuva::g_start = nuva::Clock::now();
    if (argc != 2 || argv[1][0] == '\0' || argv[1][0] == '-') {
        std::fprintf(stderr,
                     "usage: handheld_half_driver IMAGE\n"
                     "  copies IMAGE to the handheld that NUVA_LINK reaches, restarts it into the flasher\n"
                     "  and checks that it comes back with the image's ROM\n");
        return nuva::kExitUsage;
    }
    return nuva::Run(argv[1]);
}
