// Reflash on the emulated handheld, from the warm restart that hands the
// handheld to the flasher to the handheld started again with the new ROM,
// for a whole Pocket PC 2002 image (25.75 MB). The clock's scale is 0, so
// no modelled waiting is left (the 65-second waiting screen, boot times,
// flash busy times): what is measured is the work itself, verification of
// every part, the copies into buffer 0 and every bus access of erasing and
// programming. Target: 3 s for the update that keeps the built-in storage.
// The update across generations erases the 22 MB of built-in storage too.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdlib>
#include <string>

#include "tests/reflash/update_rig.h"

namespace {

using nuva::reflash::test::MakeRom;
using nuva::reflash::test::Rom;
using nuva::reflash::test::UpdateRig;

// The flasher built beside this program: <build>/reflash/Reflash.exe.
std::string FlasherPath() {
    char self[PATH_MAX];
    ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    if (n <= 0) {
        return {};
    }
    std::string path(self, static_cast<size_t>(n));
    path.erase(path.find_last_of('/'));
    path.erase(path.find_last_of('/') + 1);
    return path + "reflash/Reflash.exe";
}

void RunUpdate(benchmark::State& state, const Rom& from, const Rom& to) {
    for (auto _ : state) {
        UpdateRig rig(FlasherPath());
        std::string detail;
        if (!rig.Start(from, 3000, &detail) || !rig.LeaveForFlasher(to, rig.Plan(to))) {
            state.SkipWithError(("cannot prepare the handheld: " + detail).c_str());
            break;
        }
        auto start = std::chrono::steady_clock::now();
        uint64_t run = rig.RestartWarm();
        rig.WaitForStart(run, 1, std::chrono::seconds(120));
        auto end = std::chrono::steady_clock::now();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
        std::string problem = rig.CheckRunsRom(to);
        if (!problem.empty()) {
            state.SkipWithError(problem.c_str());
            break;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * to.ContentBytes());
}

const Rom& Old2002() {
    static const Rom rom = MakeRom(nuva::imagegen::OsFamily::k2002, "01150200", "B01");
    return rom;
}
const Rom& New2002() {
    static const Rom rom = MakeRom(nuva::imagegen::OsFamily::k2002, "04100200", "B03");
    return rom;
}
const Rom& Old2003() {
    static const Rom rom = MakeRom(nuva::imagegen::OsFamily::k2003, "01150300", "A01");
    return rom;
}

void BM_ReflashSameGeneration(benchmark::State& state) {
    RunUpdate(state, Old2002(), New2002());
}
BENCHMARK(BM_ReflashSameGeneration)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ReflashAcrossGenerations(benchmark::State& state) {
    RunUpdate(state, Old2003(), New2002());
}
BENCHMARK(BM_ReflashAcrossGenerations)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

int main(int argc, char** argv) {
    // Before anything reads the clock, in this program and in the flasher.
    setenv("NUVA_TIME_SCALE", "0", 1);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
