// Whole operations as a user runs them, at NUVA_TIME_SCALE=0 on both sides
// (the modelled waits cost nothing; what is left is the system's own work):
//
//   - a ROM backup of a 26 MB flash: `nuva-flash backup FILE --yes` against
//     a running nuva-handheld, from the connection test to the handheld
//     answering again after its restart;
//   - a full update: `nuva-flash update --yes`, from the connection test
//     through the transfer, the flasher programming the flash on the
//     handheld, to the handheld answering with its new ROM. The runs
//     alternate between two installations (A03, and A02 forced) so that
//     every run is a real update.
//
// Each is set beside a raw copy of the same bytes in the same run: the
// 26,739,200 bytes of the backup file or of the update image, read and
// written file to file in 16 KB chunks. The counter `times_raw` is the
// operation's time over the raw copy's.
//
// The handheld and the demo installation are found in the build tree beside
// this program, or named by NUVA_HANDHELD and NUVA_DEMO_INSTALL.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>

#include "tests/support/handheld_process.h"
#include "tests/support/temp_folder.h"
#include "tools/imagegen/imagegen.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr size_t kChunk = 16384;

std::string BuildTreePath(const char* variable, const std::string& relative) {
    if (const char* named = std::getenv(variable))
        return named;
    return (fs::canonical("/proc/self/exe").parent_path().parent_path() / relative).string();
}

// Copies a file in 16 KB chunks; the bytes copied, 0 on failure.
uint64_t RawCopy(const std::string& from, const std::string& to) {
    int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
    int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    uint64_t copied = 0;
    bool ok = in >= 0 && out >= 0;
    char buffer[kChunk];
    while (ok) {
        ssize_t got = ::read(in, buffer, sizeof buffer);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        ok = ::write(out, buffer, static_cast<size_t>(got)) == got;
        copied += static_cast<uint64_t>(got);
    }
    if (in >= 0)
        ::close(in);
    if (out >= 0 && ::close(out) != 0)
        ok = false;
    return ok ? copied : 0;
}

struct Setting {
    nuva::testing::TempFolder scratch{"nuva-bench-operations"};
    std::string demo;   // the build's installation: A03
    std::string older;  // a copy with A02 images
    std::unique_ptr<nuva::testing::HandheldProcess> handheld;
    std::string error;

    Setting() {
        demo = BuildTreePath("NUVA_DEMO_INSTALL", "demo-install");
        older = scratch.Join("older");
        nuva::imagegen::ImageSpec a02;
        a02.dateCode = "03050300";
        a02.romName = "A02";
        std::error_code ec;
        fs::create_directories(older + "/images", ec);
        for (const char* file : {"nuva-flash", "NUVA7INVOKE.DLL", "Reflash.exe"}) {
            fs::copy_file(demo + "/" + file, older + "/" + file, ec);
            if (ec) {
                error = "the demo installation " + demo + " lacks " + file;
                return;
            }
        }
        std::string detail;
        if (nuva::imagegen::WriteImageFile(a02, older + "/images/a02.nb0", &detail) !=
            nuva::imagegen::ImageGenError::kNone) {
            error = "cannot make the A02 image: " + detail;
            return;
        }
        std::ofstream(older + "/setup.ini") << "[Image]\nHIMODEL=images\\a02.nb0\nLOWMODEL=images\\a02.nb0\n";

        ::setenv("NUVA_TIME_SCALE", "0", 1);
        handheld = std::make_unique<nuva::testing::HandheldProcess>(
            BuildTreePath("NUVA_HANDHELD", "handheld-sim/app/nuva-handheld"), scratch.Join("hh"));
        if (!handheld->Start(older + "/images/a02.nb0", {"--boot-time", "0"}, {{"NUVA_TIME_SCALE", "0"}},
                             error)) {
            return;
        }
        ::setenv("NUVA_LINK", handheld->CableEndpoint().c_str(), 1);
    }
    ~Setting() { handheld.reset(); }
};

Setting& TheSetting() {
    static Setting setting;
    return setting;
}

// Runs one timed operation per iteration and a raw copy beside it, outside
// the timed part; reports the operation's time over the copy's.
template <typename Operation>
void RunBesideRawCopy(benchmark::State& state, const std::string& rawSource, Operation operation) {
    Setting& setting = TheSetting();
    const std::string rawTarget = setting.scratch.Join("raw.copy");
    Clock::duration raw{};
    Clock::duration timed{};
    uint64_t bytes = 0;
    for (auto _ : state) {
        state.PauseTiming();
        const auto rawStart = Clock::now();
        bytes = RawCopy(rawSource, rawTarget);
        raw += Clock::now() - rawStart;
        if (bytes == 0) {
            state.SkipWithError("the raw copy failed");
            return;
        }
        state.ResumeTiming();
        const auto start = Clock::now();
        std::string failure = operation();
        timed += Clock::now() - start;
        if (!failure.empty()) {
            state.SkipWithError(failure.c_str());
            return;
        }
    }
    const double iterations = static_cast<double>(state.iterations());
    state.counters["raw_copy_ms"] = std::chrono::duration<double, std::milli>(raw).count() / iterations;
    state.counters["times_raw"] =
        std::chrono::duration<double>(timed).count() / std::chrono::duration<double>(raw).count();
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}

void BM_Backup26MB(benchmark::State& state) {
    Setting& setting = TheSetting();
    if (!setting.error.empty()) {
        state.SkipWithError(setting.error.c_str());
        return;
    }
    const std::string file = setting.scratch.Join("rom.ris");
    // The first backup gives the raw copy its source: the same bytes.
    if (nuva::testing::RunProgram(setting.demo + "/nuva-flash", {"backup", file, "--yes"}).exitCode != 0) {
        state.SkipWithError("the first backup failed");
        return;
    }
    RunBesideRawCopy(state, file, [&]() -> std::string {
        nuva::testing::CtlResult run =
            nuva::testing::RunProgram(setting.demo + "/nuva-flash", {"backup", file, "--yes"});
        if (run.exitCode != 0)
            return "nuva-flash backup ended with " + std::to_string(run.exitCode);
        if (fs::file_size(file) != 26739200u)
            return "the backup file has the wrong size";
        return "";
    });
}
BENCHMARK(BM_Backup26MB)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(5);

void BM_FullUpdate(benchmark::State& state) {
    Setting& setting = TheSetting();
    if (!setting.error.empty()) {
        state.SkipWithError(setting.error.c_str());
        return;
    }
    // The handheld starts on A02; each run writes the other ROM.
    bool toA03 = true;
    const std::string image = setting.demo + "/images/A03-advanced.nb0";
    RunBesideRawCopy(state, image, [&]() -> std::string {
        nuva::testing::CtlResult run =
            toA03 ? nuva::testing::RunProgram(setting.demo + "/nuva-flash", {"update", "--yes"})
                  : nuva::testing::RunProgram(setting.older + "/nuva-flash", {"update", "--yes", "--force"});
        toA03 = !toA03;
        // Exit code 0 means the handheld answered with the ROM written.
        return run.exitCode == 0 ? "" : "nuva-flash update ended with " + std::to_string(run.exitCode);
    });
}
BENCHMARK(BM_FullUpdate)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

}  // namespace

BENCHMARK_MAIN();
