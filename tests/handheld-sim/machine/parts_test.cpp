// The machine's parts that decide alone: when the system tick arrives and
// what GetTickCount says, what the flash's cached window answers, how the
// bus reports what it refuses, and the thread kept for calls.
#include <gtest/gtest.h>

#include <pthread.h>

#include <chrono>
#include <thread>

#include "handheld-sim/machine/bus.h"
#include "handheld-sim/machine/call_thread.h"
#include "handheld-sim/machine/flash_cache.h"
#include "handheld-sim/machine/interrupts.h"
#include "platform/clock/clock.h"
#include "platform/wince/nuva_platform.h"

namespace nuva::sim {
namespace {

// Restores the clock scale that a test changed.
class ScaleGuard {
  public:
    explicit ScaleGuard(double scale) : old_(TimeScale()) { SetTimeScale(scale); }
    ~ScaleGuard() { SetTimeScale(old_); }

  private:
    double old_;
};

TEST(InterruptController, AtScaleZeroTicksArriveOnlyByBusyReadsTestsAndTheMaskRule) {
    ScaleGuard scale(0);
    InterruptController irq;
    irq.Start();
    bool hung = false;
    EXPECT_FALSE(irq.Masked());
    EXPECT_EQ(irq.Count(hung), 0u);
    irq.Slept(5);
    EXPECT_EQ(irq.Count(hung), 5u);

    // No time passes while a program spins: the flash away alone is no tick,
    // however long the spin; a read that finds a chip busy is one.
    EXPECT_FALSE(irq.AfterAccess(false, false));
    EXPECT_FALSE(irq.AfterAccess(true, false));
    EXPECT_FALSE(irq.AfterAccess(true, false));
    EXPECT_TRUE(irq.AfterAccess(true, true));
    EXPECT_TRUE(irq.Force());
    EXPECT_EQ(irq.Count(hung), 6u);

    // Masked: nothing arrives, the count stands, a due tick is held for the
    // unmask.
    EXPECT_FALSE(irq.Mask(false));
    EXPECT_TRUE(irq.Masked());
    EXPECT_FALSE(irq.AfterAccess(true, false));
    EXPECT_FALSE(irq.Unmask());  // nothing fell due
    EXPECT_FALSE(irq.Mask(false));
    EXPECT_FALSE(irq.AfterAccess(true, true));
    EXPECT_TRUE(irq.Unmask(true));  // a busy read while masked: time passed
    EXPECT_FALSE(irq.Mask(false));
    EXPECT_FALSE(irq.Force());
    EXPECT_EQ(irq.Count(hung), 7u);
    EXPECT_TRUE(irq.Unmask());
    EXPECT_FALSE(irq.Unmask());  // already enabled: nothing more

    // Masking once the flash has left read array: the window before the mask
    // counts as hit.
    EXPECT_TRUE(irq.Mask(true));
    EXPECT_FALSE(irq.Mask(true));  // already masked: no new window
    irq.Unmask();

    // A start forgets everything.
    irq.Mask(false);
    irq.Force();
    irq.Start();
    EXPECT_FALSE(irq.Masked());
    EXPECT_EQ(irq.Count(hung), 0u);
    EXPECT_FALSE(irq.Unmask());
}

TEST(InterruptController, ACountReadOverAndOverWhileMaskedIsAHang) {
    ScaleGuard scale(0);
    InterruptController irq;
    irq.Start();
    irq.Mask(false);
    bool hung = false;
    for (uint32_t i = 1; i < InterruptController::kFrozenCountReads; ++i) {
        irq.Count(hung);
        ASSERT_FALSE(hung) << i;
    }
    irq.Count(hung);
    EXPECT_TRUE(hung);
    // A new masked stretch counts afresh.
    irq.Unmask();
    irq.Mask(false);
    irq.Count(hung);
    EXPECT_FALSE(hung);
}

TEST(InterruptController, WithTimeRunningATickBoundaryInsideTheWindowArrives) {
    ScaleGuard scale(1);
    InterruptController irq;
    irq.Start();
    EXPECT_FALSE(irq.AfterAccess(true, false));  // the window opens
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * InterruptController::kTickMs));
    EXPECT_TRUE(irq.AfterAccess(true, false));
    // Back in read array the window closes; the next one starts afresh.
    EXPECT_FALSE(irq.AfterAccess(false, false));
    EXPECT_FALSE(irq.AfterAccess(true, false));

    bool hung = false;
    uint32_t before = irq.Count(hung);
    irq.Mask(false);
    uint32_t masked = irq.Count(hung);
    std::this_thread::sleep_for(std::chrono::milliseconds(3 * InterruptController::kTickMs));
    EXPECT_EQ(irq.Count(hung), masked);  // stands while masked
    EXPECT_GE(masked, before);
    EXPECT_TRUE(irq.Unmask());  // ticks fell due meanwhile
    EXPECT_GE(irq.Count(hung), masked);
}

TEST(FlashCache, LinesAreFilledOnceKeptUntilInvalidatedAndEvictedByTheirAlias) {
    FlashCache cache;
    int fills = 0;
    uint8_t value = 1;
    auto fill = [&](uint32_t first, uint8_t* line) {
        ++fills;
        EXPECT_EQ(first % FlashCache::kLineBytes, 0u);
        std::fill(line, line + FlashCache::kLineBytes, value);
    };
    EXPECT_FALSE(cache.Holds(0x40));
    EXPECT_EQ(*cache.Line(0x45, fill), 1);
    value = 2;
    EXPECT_EQ(*cache.Line(0x5F, fill), 1);  // same line: no fill
    EXPECT_EQ(fills, 1);
    EXPECT_TRUE(cache.Holds(0x40));
    EXPECT_EQ(*cache.Line(0x60, fill), 2);  // the next line
    EXPECT_EQ(fills, 2);
    // The line that maps to the same slot evicts it.
    const uint32_t alias = 0x40 + FlashCache::kLines * FlashCache::kLineBytes;
    value = 3;
    EXPECT_EQ(*cache.Line(alias, fill), 3);
    EXPECT_FALSE(cache.Holds(0x40));
    value = 4;
    EXPECT_EQ(*cache.Line(0x40, fill), 4);
    cache.Invalidate();
    EXPECT_FALSE(cache.Holds(0x40));
    EXPECT_FALSE(cache.Holds(0x60));
}

class MemoryBusTest : public testing::Test {
  protected:
    static constexpr uint32_t kFlash = 2u << 20;
    static constexpr uint32_t kRam = 1u << 20;
    std::vector<uint8_t> ram_ = std::vector<uint8_t>(kRam);
    MemoryBus bus_{kFlash, ram_.data(), kRam};

    uint32_t Read(uint32_t address) {
        uint32_t value = 0;
        EXPECT_EQ(bus_.Read(address, 4, value), BusResult::kDone) << std::hex << address;
        return value;
    }
    void Write(uint32_t address, uint32_t value) {
        EXPECT_EQ(bus_.Write(address, 4, value), BusResult::kDone) << std::hex << address;
    }
    void SetCell(uint32_t offset, uint32_t value) {
        bus_.WithFlash([&](FlashBank& flash) {
            auto cells = flash.MutableCells();
            for (int i = 0; i < 4; ++i) {
                cells[offset + i] = static_cast<uint8_t>(value >> (8 * i));
            }
        });
    }
};

TEST_F(MemoryBusTest, TheCachedWindowShowsWhatTheCacheHoldsUntilItIsCleaned) {
    constexpr uint32_t kUncached = NUVA_FLASH_UNCACHED + 0x40000;
    constexpr uint32_t kCached = NUVA_FLASH_CACHED + 0x40000;
    SetCell(0x40000, 0x11111111);
    EXPECT_EQ(Read(kCached), 0x11111111u);
    SetCell(0x40000, 0x22222222);
    EXPECT_EQ(Read(kUncached), 0x22222222u);
    EXPECT_EQ(Read(kCached), 0x11111111u);  // the old copy
    EXPECT_TRUE(bus_.CacheHolds(0x40000));
    bus_.CleanCache();
    EXPECT_EQ(Read(kCached), 0x22222222u);

    // A status poll through the cached window: the line is filled with the
    // status of the moment and never changes, while the chip moves on.
    Write(kUncached + 0x100, 0x00200020);
    Write(kUncached + 0x100, 0x00D000D0);
    uint32_t first = Read(kCached + 0x100);
    EXPECT_NE(first & 0x00800080, 0x00800080u);  // busy when the line was filled
    EXPECT_TRUE(bus_.TakeBusyRead());
    EXPECT_FALSE(bus_.TakeBusyRead());
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(Read(kCached + 0x100), first);
    }
    // The chip itself finishes (by its reads or its time).
    uint32_t live = 0;
    for (int i = 0; i < 1000000 && (live & 0x00800080) != 0x00800080; ++i) {
        live = Read(kUncached + 0x100);
    }
    EXPECT_EQ(live & 0x00800080, 0x00800080u);
    EXPECT_FALSE(bus_.FlashInReadArray());
    std::optional<FlashAway> away = bus_.FlashNotInReadArray();
    ASSERT_TRUE(away.has_value());
    EXPECT_EQ(away->mode, ChipMode::kReadStatus);
    Write(kUncached, 0x00FF00FF);
    EXPECT_TRUE(bus_.FlashInReadArray());
    EXPECT_EQ(Read(kCached + 0x100), first);
    bus_.Reset();
    EXPECT_EQ(Read(kCached + 0x100), 0xFFFFFFFFu);  // erased, seen afresh after the reset
}

TEST_F(MemoryBusTest, RefusedAccessesSayWhyAndTouchNothing) {
    uint32_t value = 0;
    EXPECT_EQ(bus_.Read(NUVA_RAM_UNCACHED + 2, 4, value), BusResult::kMisaligned);
    EXPECT_EQ(bus_.Read(0x12345678, 4, value), BusResult::kUnbacked);
    EXPECT_EQ(bus_.Write(NUVA_FLASH_UNCACHED, 1, 0x70), BusResult::kFlashByteStore);
    EXPECT_TRUE(bus_.FlashInReadArray());
    EXPECT_EQ(bus_.Write(NUVA_RAM_UNCACHED + kRam, 4, 1), BusResult::kUnbacked);

    // A block that runs off the end of RAM is refused at its first element
    // that nothing backs, after the ones before it were made.
    uint32_t words[3] = {1, 2, 3};
    uint32_t at = 0;
    EXPECT_EQ(bus_.WriteBlock(NUVA_RAM_UNCACHED + kRam - 8, 4, words, 3, at), BusResult::kUnbacked);
    EXPECT_EQ(at, NUVA_RAM_UNCACHED + kRam);
    EXPECT_EQ(ram_[kRam - 4], 2);

    // The restart line is reported, the write made.
    EXPECT_EQ(bus_.Write(NUVA_REG_RESTART_ARM, 4, NUVA_RESTART_BIT), BusResult::kDone);
    EXPECT_EQ(bus_.Write(NUVA_REG_RESTART_FIRE, 4, NUVA_RESTART_BIT), BusResult::kRestart);
}

TEST(CallThread, CallsShareOneThreadUntilOneEndsItAndLeaveRunsEitherWay) {
    CallThread calls;
    std::thread::id first;
    std::thread::id second;
    int leaves = 0;
    const std::function<void()> leave = [&] { ++leaves; };
    EXPECT_TRUE(calls.Run([&] { first = std::this_thread::get_id(); }, leave));
    EXPECT_TRUE(calls.Run([&] { second = std::this_thread::get_id(); }, leave));
    EXPECT_EQ(first, second);
    EXPECT_NE(first, std::this_thread::get_id());
    EXPECT_EQ(leaves, 2);

    // A call that ends its thread, as a restart does, is reported and still
    // left; the next call gets a thread of its own.
    EXPECT_FALSE(calls.Run([] { pthread_exit(nullptr); }, leave));
    EXPECT_EQ(leaves, 3);
    std::thread::id third;
    EXPECT_TRUE(calls.Run([&] { third = std::this_thread::get_id(); }, leave));
    EXPECT_EQ(leaves, 4);
    EXPECT_NE(third, std::this_thread::get_id());
}

}  // namespace
}  // namespace nuva::sim
