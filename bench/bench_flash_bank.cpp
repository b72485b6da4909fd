// The emulated flash must not be what makes a whole update slow: a driver
// that erases and programs the whole 26 MB image region with the flasher's
// own command sequences (block erase with status polls, then 64-byte
// write-to-buffer commands) should run at 100 MB/s or more at time scale 0.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "handheld-sim/flash/flash_bank.h"
#include "platform/clock/clock.h"

namespace {

using nuva::sim::FlashBank;
using nuva::sim::kFlashBlockBytes;

constexpr uint32_t kBankBytes = 48u << 20;
constexpr uint32_t kRegionStart = kFlashBlockBytes;  // the image region starts at the second block
constexpr uint32_t kRegionBytes = 0x1980000;
constexpr uint32_t kMaxPolls = 0x7FFFFFFF;

bool PollReady(FlashBank& bank, uint32_t offset) {
    for (uint32_t i = 0; i < kMaxPolls; ++i) {
        if ((bank.Read32(offset) & 0x00800080) == 0x00800080) {
            return true;
        }
    }
    return false;
}

bool BlockErase(FlashBank& bank, uint32_t p) {
    bank.Write32(p, 0x00700070);
    if (!PollReady(bank, p)) {
        return false;
    }
    bank.Write32(p, 0x00500050);
    bank.Write32(p, 0x00FF00FF);
    bank.Write32(p, 0x00200020);
    bank.Write32(p, 0x00D000D0);
    bank.Write32(p, 0x00700070);
    bool ready = PollReady(bank, p);
    bank.Write32(p, 0x00FF00FF);
    return ready;
}

bool BufferedWrite(FlashBank& bank, uint32_t d, const uint32_t* source) {
    bank.Write32(d, 0x00E800E8);
    if (!PollReady(bank, d)) {
        bank.Write32(d, 0x00FF00FF);
        return false;
    }
    bank.Write32(d, 0x000F000F);
    for (uint32_t i = 0; i < 16; ++i) {
        bank.Write32(d + 4 * i, source[i]);
    }
    bank.Write32(d, 0x00D000D0);
    bank.Write32(d, 0x00500050);
    bank.Write32(d, 0x00700070);
    bool ready = PollReady(bank, d);
    bank.Write32(d, 0x00FF00FF);
    return ready;
}

bool ProgramRegion(FlashBank& bank, const std::vector<uint32_t>& image) {
    for (uint32_t b = kRegionStart; b < kRegionStart + kRegionBytes; b += kFlashBlockBytes) {
        if (!BlockErase(bank, b)) {
            return false;
        }
    }
    bank.Write32(0, 0x00FF00FF);
    for (uint32_t k = 0; k < kRegionBytes; k += 64) {
        if (!BufferedWrite(bank, kRegionStart + k, image.data() + k / 4)) {
            return false;
        }
    }
    return true;
}

void BM_EraseAndProgramImageRegion(benchmark::State& state) {
    nuva::SetTimeScale(0);
    std::vector<uint32_t> image(kRegionBytes / 4);
    uint32_t x = 2463534242u;
    for (auto& word : image) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        word = x;
    }
    FlashBank bank(kBankBytes);
    for (auto _ : state) {
        if (!ProgramRegion(bank, image)) {
            state.SkipWithError("the flash never became ready");
            return;
        }
        benchmark::ClobberMemory();
    }
    // The time counts only if the work was done.
    if (!bank.InReadArray() ||
        std::memcmp(bank.Cells().data() + kRegionStart, image.data(), kRegionBytes) != 0) {
        state.SkipWithError("the flash does not hold the programmed image");
        return;
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRegionBytes);
}
BENCHMARK(BM_EraseAndProgramImageRegion)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
