// ByteSum only reads its buffer, so it should keep up with memcpy of the same
// buffer, which reads and writes it. Both run here side by side over a
// buffer the size of a whole Pocket PC 2003 image.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "formats/byte_sum.h"
#include "formats/image_header.h"

namespace {

std::vector<uint8_t> MakeImage() {
    std::vector<uint8_t> image(nuva::kContentBytes2003);
    uint32_t x = 12345;
    for (auto& b : image) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return image;
}

void BM_ByteSum(benchmark::State& state) {
    static const std::vector<uint8_t> image = MakeImage();
    for (auto _ : state) {
        benchmark::DoNotOptimize(nuva::ByteSum(image.data(), image.size()));
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_ByteSum)->Unit(benchmark::kMillisecond);

void BM_Memcpy(benchmark::State& state) {
    static const std::vector<uint8_t> image = MakeImage();
    std::vector<uint8_t> target(image.size());
    for (auto _ : state) {
        std::memcpy(target.data(), image.data(), image.size());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(image.size()));
}
BENCHMARK(BM_Memcpy)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
