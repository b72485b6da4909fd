// The handheld half of an update must take under 3 s at time scale 0, and
// most of it is the flasher programming the 26 MB image region through the
// core library's register accessors: block erases with status polls, then
// 64-byte write-to-buffer commands whose data it reads word by word from its
// contiguous RAM buffer through the kernel window. This measures exactly
// that traffic on a handheld thread of a started machine.
#include <benchmark/benchmark.h>

#include <vector>

#include "formats/rom_identity.h"
#include "handheld-sim/machine/handheld.h"
#include "platform/clock/clock.h"
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

namespace {

using namespace std::chrono_literals;

constexpr uint32_t kRegion = 0xA0040000;
constexpr uint32_t kRegionBytes = 0x1980000;
constexpr uint32_t kBlockBytes = 0x40000;
constexpr uint32_t kSource = 0x84400000;  // 1 MB of RAM the flasher would copy from
constexpr uint32_t kChunk = 1u << 20;

volatile ULONG* At(uint32_t address) {
    return reinterpret_cast<volatile ULONG*>(uintptr_t{address});
}

void WaitReady(uint32_t address) {
    while ((READ_REGISTER_ULONG(At(address)) & 0x00800080) != 0x00800080) {
    }
}

void EraseBlock(uint32_t p) {
    WRITE_REGISTER_ULONG(At(p), 0x00700070);
    WaitReady(p);
    WRITE_REGISTER_ULONG(At(p), 0x00500050);
    WRITE_REGISTER_ULONG(At(p), 0x00FF00FF);
    WRITE_REGISTER_ULONG(At(p), 0x00200020);
    WRITE_REGISTER_ULONG(At(p), 0x00D000D0);
    WRITE_REGISTER_ULONG(At(p), 0x00700070);
    WaitReady(p);
    WRITE_REGISTER_ULONG(At(p), 0x00FF00FF);
}

void BufferedWrite(uint32_t d, uint32_t s) {
    WRITE_REGISTER_ULONG(At(d), 0x00E800E8);
    WaitReady(d);
    WRITE_REGISTER_ULONG(At(d), 0x000F000F);
    for (uint32_t i = 0; i < 16; ++i) {
        WRITE_REGISTER_ULONG(At(d + 4 * i), READ_REGISTER_ULONG(At(s + 4 * i)));
    }
    WRITE_REGISTER_ULONG(At(d), 0x00D000D0);
    WRITE_REGISTER_ULONG(At(d), 0x00500050);
    WRITE_REGISTER_ULONG(At(d), 0x00700070);
    WaitReady(d);
    WRITE_REGISTER_ULONG(At(d), 0x00FF00FF);
}

void BM_ProgramImageRegionThroughTheBus(benchmark::State& state) {
    nuva::SetTimeScale(0);
    std::vector<uint8_t> image(512 + 0x1000);
    nuva::RomIdentity identity{"04100300", "A03", 4, 0x0409, 0x1000, 0};
    nuva::StampRomIdentity(image.data() + 512, 0x1000, identity);
    nuva::sim::FactorySettings settings;
    settings.uuid = nuva::sim::SupportedUuid();
    settings.bootMs = 0;
    auto handheld = nuva::sim::Handheld::Create(settings, image, "");
    handheld->PowerOn();
    if (handheld == nullptr || !handheld->WaitUntilStarted(10s)) {
        state.SkipWithError("the handheld did not start");
        return;
    }
    for (auto _ : state) {
        auto end = handheld->RunAsProgram([] {
            // As the flasher does: the system tick runs from flash.
            INTERRUPTS_OFF();
            for (uint32_t block = 0; block < kRegionBytes; block += kBlockBytes) {
                EraseBlock(kRegion + block);
            }
            for (uint32_t offset = 0; offset < kRegionBytes; offset += 64) {
                BufferedWrite(kRegion + offset, kSource + offset % kChunk);
            }
            INTERRUPTS_ON();
        });
        if (end != nuva::sim::ProgramEnd::kReturned) {
            state.SkipWithError(handheld->Status().crashedReason.c_str());
            return;
        }
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kRegionBytes);
}
BENCHMARK(BM_ProgramImageRegionThroughTheBus)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
