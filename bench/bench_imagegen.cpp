// Making a whole Pocket PC 2003 image (contents, identity block, header sum)
// is done at build time and by tests many times over; it should stay well
// under 0.2 s.
#include <benchmark/benchmark.h>

#include "tools/imagegen/imagegen.h"

namespace {

void BM_MakeImageFile2003(benchmark::State& state) {
    nuva::imagegen::ImageSpec spec;
    std::vector<uint8_t> file;
    for (auto _ : state) {
        if (nuva::imagegen::MakeImageFile(spec, file) != nuva::imagegen::ImageGenError::kNone) {
            state.SkipWithError("image generation failed");
            break;
        }
        benchmark::DoNotOptimize(file.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(file.size()));
}
BENCHMARK(BM_MakeImageFile2003)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
