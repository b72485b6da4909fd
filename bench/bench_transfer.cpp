// The device link's transfer rate: TransferImageParts moving a 26 MB update
// image (the "Basic" class, so no 5 MB filler: every byte counted is an image
// byte) to a running nuva-handheld, copying, summing and having the handheld
// confirm every part, side by side with a raw copy of the same bytes, read
// from the same file in the same 16 KB chunks, over a unix socket like the
// cable's. Target: the transfer reaches at least half the raw rate.
//
// The clock runs at scale 0 on both sides, so the 100 ms pause after each
// chunk and the handheld's modelled durations cost nothing; what is left is
// the link's own work. The handheld and the agent library are
// found in the build tree beside this program, or named by NUVA_HANDHELD and
// NUVA_AGENT.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <optional>

#include "bench/raw_copy.h"
#include "formats/byte_sum.h"
#include "formats/image_header.h"
#include "formats/result_codes.h"
#include "platform/cable/protocol.h"
#include "platform/clock/clock.h"
#include "platform/rapi/rapi.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/update_plan.h"
#include "setup/link/agent_calls.h"
#include "setup/link/desktop_file.h"
#include "setup/link/device_access.h"
#include "setup/link/handover.h"
#include "tests/support/handheld_process.h"
#include "tests/support/temp_folder.h"
#include "tools/imagegen/imagegen.h"

namespace {

constexpr size_t kChunk = 16384;

std::string BuildTreePath(const char* variable, const std::string& relative) {
    if (const char* named = std::getenv(variable))
        return named;
    return (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / relative).string();
}

struct Setting {
    nuva::testing::TempFolder scratch{"nuva-bench-transfer"};
    std::string image;
    uint32_t contentBytes = 0;
    std::unique_ptr<nuva::testing::HandheldProcess> handheld;
    std::string error;

    Setting() {
        nuva::imagegen::ImageSpec spec;
        spec.modelClass = nuva::imagegen::ModelClass::kBasic;
        image = scratch.Join("image.nb0");
        std::string detail;
        if (nuva::imagegen::WriteImageFile(spec, image, &detail) != nuva::imagegen::ImageGenError::kNone) {
            error = "cannot make the image: " + detail;
            return;
        }
        contentBytes = nuva::imagegen::ContentBytes(spec.os);

        const std::string program = BuildTreePath("NUVA_HANDHELD", "handheld-sim/app/nuva-handheld");
        const std::string agent = BuildTreePath("NUVA_AGENT", "agent/NUVA7INVOKE.DLL");
        nuva::SetTimeScale(0);
        handheld = std::make_unique<nuva::testing::HandheldProcess>(program, scratch.Join("hh"));
        if (!handheld->Start(image, {"--class", "basic", "--boot-time", "0"}, {{"NUVA_TIME_SCALE", "0"}},
                             error)) {
            return;
        }
        ::setenv("NUVA_LINK", handheld->CableEndpoint().c_str(), 1);
        auto init = std::async(std::launch::async, [] { return CeRapiInit(); });
        if (init.wait_for(std::chrono::seconds(60)) != std::future_status::ready || init.get() != 0) {
            error = "the handheld did not answer on the cable";
            return;
        }
        if (handheld->Ctl({"push", agent, "\\Windows\\NUVA7INVOKE.DLL"}).exitCode != 0) {
            error = "cannot put the agent library " + agent + " on the handheld";
        }
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

// Runs `copy` over the image's content bytes, read from the file in 16 KB
// chunks as the transfer reads them. The copy's time, or a negative time when
// the file cannot be read.
template <class Copy>
std::chrono::duration<double> OverContentChunks(Setting& setting, Copy copy) {
    std::vector<uint8_t> chunk(kChunk);
    nuva::DesktopFile file = nuva::DesktopFile::OpenForReading(setting.image);
    if (!file.SeekTo(nuva::kImageHeaderSize)) {
        return std::chrono::duration<double>(-1);
    }
    size_t done = 0;
    return copy([&]() -> std::optional<std::span<const uint8_t>> {
        const size_t wanted = std::min(kChunk, setting.contentBytes - done);
        if (wanted == 0) {
            return std::span<const uint8_t>();
        }
        const auto got = file.Read(chunk.data(), wanted);
        if (!got || *got == 0) {
            return std::nullopt;
        }
        done += *got;
        return std::span<const uint8_t>(chunk.data(), *got);
    });
}

// The same content bytes sent through the raw socket copy, as the handheld
// keeps a file. Returns the time it took, or a negative time when it broke.
std::chrono::duration<double> RawSocketCopy(Setting& setting, std::vector<uint8_t>& kept) {
    return OverContentChunks(setting, [&](const nuva::bench::ChunkSource& source) {
        return nuva::bench::RawSocketCopy(setting.contentBytes, source, kept);
    });
}

// A device write's frames: the request's header, handle and block length
// before the chunk, and the answer's header with result, error and count.
constexpr size_t kWriteRequestBytes = nuva::cable::kHeaderBytes + 8;
constexpr size_t kWriteAnswerBytes = nuva::cable::kHeaderBytes + 12;

// The same content bytes in write-sized round trips: the floor of any copy
// that waits for each chunk's answer.
std::chrono::duration<double> RoundTripCopy(Setting& setting, std::vector<uint8_t>& kept) {
    return OverContentChunks(setting, [&](const nuva::bench::ChunkSource& source) {
        return nuva::bench::RoundTripCopy(setting.contentBytes, kWriteRequestBytes, kWriteAnswerBytes, source,
                                          kept);
    });
}

// The transfer, with a raw copy and a round-trip copy of the same bytes
// beside each run (outside the timed part): `raw_copy_ms` is the raw copy's
// time and `of_raw_rate` the transfer's rate as a fraction of its rate
// (target: at least 0.5); `of_round_trip_rate` is the transfer's rate as a
// fraction of the round-trip copy's, the most a transfer that waits for the
// answer to each 16 KB write can reach.
void BM_TransferImageParts(benchmark::State& state) {
    Setting& setting = TheSetting();
    if (!setting.error.empty()) {
        state.SkipWithError(setting.error.c_str());
        return;
    }
    nuva::ImageHeader header;
    if (nuva::CheckImageFile(setting.image, header) == 0) {
        state.SkipWithError("the image was refused");
        return;
    }
    const std::atomic<int32_t> connected{1};
    std::vector<uint8_t> kept;
    std::chrono::duration<double> raw{0};
    std::chrono::duration<double> roundTrips{0};
    std::chrono::duration<double> timed{0};
    for (auto _ : state) {
        if (!nuva::bench::UntimedRawCopy(
                state, [&] { return RawSocketCopy(setting, kept); }, raw) ||
            !nuva::bench::UntimedRawCopy(
                state, [&] { return RoundTripCopy(setting, kept); }, roundTrips)) {
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        nuva::UpdateHandoff plan = nuva::PlanImageWrite(header, 4, nuva::PlanMode::kUpdate);
        const uint32_t result =
            nuva::TransferImageParts(nullptr, setting.image, plan, nuva::kMemoryConfigBasic, connected);
        timed += std::chrono::steady_clock::now() - start;
        if (result != 0) {
            state.SkipWithError("the transfer failed");
            return;
        }
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["raw_copy_ms"] = 1000.0 * raw.count() / iterations;
    state.counters["of_raw_rate"] = raw.count() / timed.count();
    state.counters["of_round_trip_rate"] = roundTrips.count() / timed.count();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * setting.contentBytes));
}
BENCHMARK(BM_TransferImageParts)->Unit(benchmark::kMillisecond)->UseRealTime()->MinWarmUpTime(0.5);

void BM_RawSocketCopy(benchmark::State& state) {
    Setting& setting = TheSetting();
    if (!setting.error.empty()) {
        state.SkipWithError(setting.error.c_str());
        return;
    }
    std::vector<uint8_t> kept;
    for (auto _ : state) {
        if (RawSocketCopy(setting, kept).count() < 0) {
            state.SkipWithError("the raw copy broke");
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * setting.contentBytes));
}
BENCHMARK(BM_RawSocketCopy)->Unit(benchmark::kMillisecond)->UseRealTime()->MinWarmUpTime(0.5);

// The cable's own floor, for reading the two figures above: the same bytes
// written to one handheld file with nothing but CeWriteFile in 16 KB chunks
// (no pauses, no sums, no confirmation). Every chunk is one request and one
// answer on the cable; `of_round_trip_rate` compares them with the bare
// round-trip copy of the same chunks (untimed, beside each run).
void BM_PlainDeviceWrites(benchmark::State& state) {
    Setting& setting = TheSetting();
    if (!setting.error.empty()) {
        state.SkipWithError(setting.error.c_str());
        return;
    }
    std::vector<uint8_t> content(setting.contentBytes);
    nuva::DesktopFile file = nuva::DesktopFile::OpenForReading(setting.image);
    if (!file.SeekTo(nuva::kImageHeaderSize) || file.Read(content.data(), content.size()) != content.size()) {
        state.SkipWithError("cannot read the image");
        return;
    }
    // The handheld's store holds one image's worth: the parts go first.
    for (char16_t index = u'0'; index <= u'9'; ++index) {
        nuva::LockedCeDeleteFile((std::u16string(u"\\TEMP\\") + index).c_str());
        nuva::LockedCeDeleteFile((std::u16string(u"\\TEMP\\1") + index).c_str());
    }
    std::vector<uint8_t> kept;
    std::chrono::duration<double> roundTrips{0};
    std::chrono::duration<double> timed{0};
    for (auto _ : state) {
        if (!nuva::bench::UntimedRawCopy(
                state, [&] { return RoundTripCopy(setting, kept); }, roundTrips)) {
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        nuva::DeviceFile target = nuva::DeviceFile::Create(u"\\TEMP\\plain", CREATE_ALWAYS);
        bool ok = target.IsOpen();
        for (size_t done = 0; ok && done < content.size(); done += kChunk) {
            const auto length = static_cast<DWORD>(std::min(kChunk, content.size() - done));
            DWORD written = 0;
            ok = nuva::LockedCeWriteFile(target.get(), content.data() + done, length, &written) &&
                 written == length;
        }
        timed += std::chrono::steady_clock::now() - start;
        if (!ok) {
            state.SkipWithError("a device write failed");
            return;
        }
    }
    state.counters["of_round_trip_rate"] = roundTrips.count() / timed.count();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * setting.contentBytes));
}
BENCHMARK(BM_PlainDeviceWrites)->Unit(benchmark::kMillisecond)->UseRealTime()->MinWarmUpTime(0.5);

// The backup's side of the cable: the same number of bytes read from the
// handheld's flash through the agent library, 16 KB per call as a backup
// reads them and checked against the sum each answer carries, beside a raw
// copy of as many bytes in the same run (`times_raw`: the reads' time over
// the copy's). A whole backup adds the handheld's restart to this.
void BM_FlashReadThroughAgent(benchmark::State& state) {
    Setting& setting = TheSetting();
    if (!setting.error.empty()) {
        state.SkipWithError(setting.error.c_str());
        return;
    }
    constexpr uint32_t kUncachedFlash = 0xA0000000u;
    std::vector<uint8_t> kept;
    std::vector<uint8_t> piece(kChunk);
    std::chrono::duration<double> raw{0};
    std::chrono::duration<double> timed{0};
    uint32_t sum = 0;
    for (auto _ : state) {
        if (!nuva::bench::UntimedRawCopy(
                state, [&] { return RawSocketCopy(setting, kept); }, raw)) {
            return;
        }
        const auto start = std::chrono::steady_clock::now();
        for (uint32_t done = 0; done < setting.contentBytes;) {
            const auto count = static_cast<uint32_t>(std::min<size_t>(kChunk, setting.contentBytes - done));
            if (nuva::ReadDeviceFlash(kUncachedFlash + done, piece.data(), count) != 0) {
                state.SkipWithError("a flash read through the agent failed");
                return;
            }
            sum = nuva::ByteSum(piece.data(), count, sum);
            done += count;
        }
        timed += std::chrono::steady_clock::now() - start;
    }
    benchmark::DoNotOptimize(sum);
    state.counters["raw_copy_ms"] = 1000.0 * raw.count() / static_cast<double>(state.iterations());
    state.counters["times_raw"] = timed.count() / raw.count();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * setting.contentBytes));
}
BENCHMARK(BM_FlashReadThroughAgent)->Unit(benchmark::kMillisecond)->UseRealTime()->MinWarmUpTime(0.5);

}  // namespace

BENCHMARK_MAIN();
