// Read-back verification of a whole update: nuva-flash's VerifyFlash over the
// 13 ranges (26,738,688 bytes) an update of the "Advanced" class writes,
// against a running nuva-handheld whose flash holds that image, beside the
// raw read of the same flash through the agent (FnNUVAReadFlash, 16 KB a
// call, as a backup reads it). Verification asks the handheld for the sums
// of 64 KB blocks and reads nothing else when they match, so it should cost
// a small part of the raw read. The counter `times_raw` of the verification
// is its time over the raw read's, both measured in the same run.
//
// The clock runs at scale 0 on both sides. The handheld and the agent
// library are found in the build tree beside this program, or named by
// NUVA_HANDHELD and NUVA_AGENT.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <future>

#include "formats/image_header.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/update_plan.h"
#include "setup/link/agent_calls.h"
#include "tests/support/handheld_process.h"
#include "tests/support/temp_folder.h"
#include "tools/flash/verify.h"
#include "tools/imagegen/imagegen.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string BuildTreePath(const char* variable, const std::string& relative) {
    if (const char* named = std::getenv(variable))
        return named;
    return (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / relative).string();
}

struct Setting {
    nuva::testing::TempFolder scratch{"nuva-bench-verify"};
    std::string image;
    std::vector<nuva::WrittenRange> ranges;
    uint64_t bytes = 0;
    std::unique_ptr<nuva::testing::HandheldProcess> handheld;
    std::string error;

    Setting() {
        nuva::imagegen::ImageSpec spec;  // Pocket PC 2003, "Advanced"
        image = scratch.Join("image.nb0");
        std::string detail;
        if (nuva::imagegen::WriteImageFile(spec, image, &detail) != nuva::imagegen::ImageGenError::kNone) {
            error = "cannot make the image: " + detail;
            return;
        }
        nuva::ImageHeader header;
        if (nuva::CheckImageFile(image, header) == 0) {
            error = "the image was refused";
            return;
        }
        ranges = nuva::WrittenRanges(nuva::PlanImageWrite(header, 4, nuva::PlanMode::kUpdate));
        for (const nuva::WrittenRange& range : ranges)
            bytes += range.length;
        const std::string program = BuildTreePath("NUVA_HANDHELD", "handheld-sim/app/nuva-handheld");
        const std::string agent = BuildTreePath("NUVA_AGENT", "agent/NUVA7INVOKE.DLL");
        nuva::SetTimeScale(0);
        handheld = std::make_unique<nuva::testing::HandheldProcess>(program, scratch.Join("hh"));
        if (!handheld->Start(image, {"--boot-time", "0"}, {{"NUVA_TIME_SCALE", "0"}}, error))
            return;
        ::setenv("NUVA_LINK", handheld->CableEndpoint().c_str(), 1);
        auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
        if (init.wait_for(std::chrono::seconds(60)) != std::future_status::ready || init.get() != 0) {
            error = "the handheld did not answer on the cable";
            return;
        }
        if (handheld->Ctl({"push", agent, "\\Windows\\NUVA7INVOKE.DLL"}).exitCode != 0)
            error = "cannot put the agent library " + agent + " on the handheld";
    }
    ~Setting() {
        CeRapiUninit();
        handheld.reset();
    }
};

Setting& TheSetting() {
    static Setting setting;
    return setting;
}

// Every byte of the ranges through FnNUVAReadFlash; false when a read fails.
bool RawRead(const Setting& setting, std::vector<uint8_t>& buffer) {
    for (const nuva::WrittenRange& range : setting.ranges) {
        for (uint32_t offset = 0; offset < range.length; offset += nuva::kVerifyReadBytes) {
            const uint32_t count = std::min(range.length - offset, nuva::kVerifyReadBytes);
            if (nuva::ReadDeviceFlash(range.address + offset, buffer.data(), count) != 0)
                return false;
        }
    }
    return true;
}

void BM_RawFlashRead(benchmark::State& state) {
    Setting& setting = TheSetting();
    if (!setting.error.empty()) {
        state.SkipWithError(setting.error.c_str());
        return;
    }
    std::vector<uint8_t> buffer(nuva::kVerifyReadBytes);
    for (auto _ : state) {
        if (!RawRead(setting, buffer)) {
            state.SkipWithError("a flash read failed");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * setting.bytes));
}
BENCHMARK(BM_RawFlashRead)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_VerifyUpdate(benchmark::State& state) {
    Setting& setting = TheSetting();
    if (!setting.error.empty()) {
        state.SkipWithError(setting.error.c_str());
        return;
    }
    nuva::AgentFlash flash;
    double verifySeconds = 0;
    for (auto _ : state) {
        const Clock::time_point start = Clock::now();
        const nuva::VerifyReport report = nuva::VerifyFlash(flash, setting.image, setting.ranges);
        verifySeconds += std::chrono::duration<double>(Clock::now() - start).count();
        if (report.outcome != nuva::VerifyOutcome::kVerified) {
            state.SkipWithError("the flash was not verified");
            return;
        }
    }
    // The raw read of the same bytes, timed here too so that the ratio comes
    // from one machine state.
    std::vector<uint8_t> buffer(nuva::kVerifyReadBytes);
    const Clock::time_point start = Clock::now();
    if (!RawRead(setting, buffer)) {
        state.SkipWithError("a flash read failed");
        return;
    }
    const double rawSeconds = std::chrono::duration<double>(Clock::now() - start).count();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * setting.bytes));
    state.counters["times_raw"] = verifySeconds / static_cast<double>(state.iterations()) / rawSeconds;
}
BENCHMARK(BM_VerifyUpdate)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
