// Flashers that get the handheld's rules wrong, run on a started handheld:
// each is caught (a crash, or an error status it cannot mistake for
// success), and the crash reason names what it did.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "handheld-sim/flash/flash_bank.h"
#include "machine_test_support.h"
#include "platform/wince/nuva_platform.h"
#include "platform/wince/wince.h"

namespace nuva::sim::test {
namespace {

// A block well away from the ROM image and the built-in storage.
constexpr uint32_t kBlock = NUVA_FLASH_UNCACHED + 0x1000000;
constexpr uint32_t kCachedBlock = NUVA_FLASH_CACHED + 0x1000000;
constexpr uint32_t kReady = 0x00800080;

ULONG ReadWord(uint32_t address) {
    return READ_REGISTER_ULONG(reinterpret_cast<volatile ULONG*>(uintptr_t{address}));
}
void WriteWord(uint32_t address, ULONG value) {
    WRITE_REGISTER_ULONG(reinterpret_cast<volatile ULONG*>(uintptr_t{address}), value);
}

void StartErase(uint32_t block) {
    WriteWord(block, 0x00500050);
    WriteWord(block, 0x00200020);
    WriteWord(block, 0x00D000D0);
}

// Polls `poll` until both chips are ready, at most `budget` reads.
bool PollReady(uint32_t poll, uint32_t budget) {
    for (uint32_t i = 0; i < budget; ++i) {
        if ((ReadWord(poll) & kReady) == kReady) {
            return true;
        }
    }
    return false;
}

std::string CrashReason(Handheld& handheld) {
    return handheld.Status().crashedReason;
}

TEST(HostileFlashers, InterruptsMaskedOnlyAfterTheFlashLeftReadArray) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    EXPECT_EQ(handheld->RunAsProgram([] {
        WriteWord(kBlock, 0x00700070);
        INTERRUPTS_OFF();
        ADD_FAILURE() << "masking after the flash left read array went unnoticed";
    }),
              ProgramEnd::kStopped);
    std::string reason = CrashReason(*handheld);
    EXPECT_NE(reason.find("tick interrupt (before interrupts were masked) while flash chip 0 was in read "
                          "status mode"),
              std::string::npos)
        << reason;
    EXPECT_FALSE(handheld->LinkAvailable());
}

TEST(HostileFlashers, InterruptsEnabledInTheMiddleOfAnErase) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    EXPECT_EQ(handheld->RunAsProgram([] {
        INTERRUPTS_OFF();
        StartErase(kBlock);
        WriteWord(kBlock, 0x00700070);
        ReadWord(kBlock);  // busy: the erase takes its time
        INTERRUPTS_ON();
        ADD_FAILURE() << "enabling interrupts during an erase went unnoticed";
    }),
              ProgramEnd::kStopped);
    std::string reason = CrashReason(*handheld);
    EXPECT_NE(reason.find("tick interrupt (held while interrupts were masked, taken when they were enabled) "
                          "while flash chip 0 was in busy mode"),
              std::string::npos)
        << reason;

    // Never masked at all: the first poll that finds the chip busy is where
    // the tick comes.
    uint64_t generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_EQ(handheld->RunAsProgram([] {
        StartErase(kBlock);
        PollReady(kBlock, 1000);
        ADD_FAILURE() << "an erase with interrupts enabled went unnoticed";
    }),
              ProgramEnd::kStopped);
    reason = CrashReason(*handheld);
    EXPECT_EQ(reason, "tick interrupt while flash chip 0 was in busy mode: the tick handler runs from flash");
}

TEST(HostileFlashers, ATickThatATestDeliversRunsOrWaitsAsTheMaskSays) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    // In read array a tick is harmless, and masked it waits for the unmask.
    handheld->DeliverTick();
    std::atomic<int> stage{0};
    std::thread program([&] {
        EXPECT_EQ(handheld->RunAsProgram([&] {
            INTERRUPTS_OFF();
            DWORD before = GetTickCount();
            WriteWord(kBlock, 0x00900090);
            stage = 1;
            while (stage != 2) {
                std::this_thread::yield();
            }
            WriteWord(kBlock, 0x00FF00FF);
            EXPECT_EQ(GetTickCount(), before);  // the held tick has not run
            INTERRUPTS_ON();                    // it runs now, harmlessly
            EXPECT_GT(GetTickCount(), before);
            WriteWord(kBlock, 0x00900090);
            stage = 3;
            while (stage != 4) {
                std::this_thread::yield();
            }
            ReadWord(kBlock);
            ADD_FAILURE() << "the program ran on after the tick crashed the handheld";
        }),
                  ProgramEnd::kStopped);
    });
    while (stage != 1) {
        std::this_thread::yield();
    }
    handheld->DeliverTick();  // masked: held
    EXPECT_TRUE(CrashReason(*handheld).empty());
    stage = 2;
    while (stage != 3) {
        std::this_thread::yield();
    }
    handheld->DeliverTick();  // enabled, chip in read identifier
    stage = 4;
    program.join();
    EXPECT_EQ(
        CrashReason(*handheld),
        "tick interrupt while flash chip 0 was in read identifier mode: the tick handler runs from flash");
}

TEST(HostileFlashers, GetTickCountWithInterruptsMasked) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    // A settling pause timed by the tick count: the count never moves.
    EXPECT_EQ(handheld->RunAsProgram([] {
        INTERRUPTS_OFF();
        DWORD start = GetTickCount();
        while (GetTickCount() - start < 10) {
        }
        ADD_FAILURE() << "a masked wait on GetTickCount ended";
    }),
              ProgramEnd::kStopped);
    EXPECT_EQ(
        CrashReason(*handheld),
        "GetTickCount read 1048576 times with interrupts masked: the tick count stands still, so a wait "
        "timed by it never ends");

    // An erase timed by the tick count: the call itself runs from flash.
    uint64_t generation = handheld->Status().bootGeneration;
    handheld->Reset(ResetKind::kWarm);
    ASSERT_TRUE(handheld->WaitUntilStarted(10s, generation));
    EXPECT_EQ(handheld->RunAsProgram([] {
        INTERRUPTS_OFF();
        StartErase(kBlock);
        WriteWord(kBlock, 0x00700070);
        DWORD start = GetTickCount();
        while ((ReadWord(kBlock) & kReady) != kReady && GetTickCount() - start < 5000) {
        }
        ADD_FAILURE() << "GetTickCount during an erase went unnoticed";
    }),
              ProgramEnd::kStopped);
    std::string reason = CrashReason(*handheld);
    EXPECT_NE(reason.find("core library call GetTickCount while flash chip 0 is not in read-array mode"),
              std::string::npos)
        << reason;
}

TEST(HostileFlashers, MessageBoxWithInterruptsMasked) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    EXPECT_EQ(handheld->RunAsProgram([] {
        INTERRUPTS_OFF();
        MessageBoxW(nullptr, u"Erasing", u"Reflash", MB_OK);
        ADD_FAILURE() << "a masked message box returned";
    }),
              ProgramEnd::kStopped);
    EXPECT_EQ(CrashReason(*handheld),
              "MessageBoxW with interrupts masked: the user interface never runs, the box never shows");
    EXPECT_FALSE(handheld->MessageBox().has_value());
}

TEST(HostileFlashers, ErasingAndPollingThroughTheCachedWindow) {
    auto handheld = StartedHandheld();
    ASSERT_NE(handheld, nullptr);
    // The poll reads the status that the line fill cached: busy for ever, so
    // the flasher's budget runs out although the chip finished long ago.
    bool ready = true;
    bool readyUncached = false;
    EXPECT_EQ(handheld->RunAsProgram([&] {
        INTERRUPTS_OFF();
        StartErase(kCachedBlock);
        WriteWord(kCachedBlock, 0x00700070);
        ready = PollReady(kCachedBlock, 100000);
        readyUncached = PollReady(kBlock, 0x7FFFFFFF);
        WriteWord(kCachedBlock, 0x00FF00FF);
        INTERRUPTS_ON();
    }),
              ProgramEnd::kReturned);
    EXPECT_FALSE(ready);
    EXPECT_TRUE(readyUncached);
    EXPECT_TRUE(CrashReason(*handheld).empty());
    EXPECT_EQ(handheld->DumpFlash(0x1000000, 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));

    // Programmed data shows through the cached window only once the cache
    // is cleaned.
    ULONG cachedBefore = 0;
    ULONG cachedAfterProgram = 0;
    ULONG cachedAfterSync = 0;
    EXPECT_EQ(handheld->RunAsProgram([&] {
        constexpr uint32_t kWord = kBlock + 0x40;
        CacheSync(CACHE_SYNC_DISCARD);
        cachedBefore = ReadWord(kCachedBlock + 0x40);
        INTERRUPTS_OFF();
        WriteWord(kWord, 0x00E800E8);
        PollReady(kWord, 1000);
        WriteWord(kWord, 0x00000000);
        WriteWord(kWord, 0xA5A55A5A);
        WriteWord(kWord, 0x00D000D0);
        PollReady(kWord, 1000);
        WriteWord(kWord, 0x00FF00FF);
        cachedAfterProgram = ReadWord(kCachedBlock + 0x40);
        INTERRUPTS_ON();
        CacheSync(CACHE_SYNC_WRITEBACK);  // a clean alone keeps the lines
        if (ReadWord(kCachedBlock + 0x40) != cachedAfterProgram) {
            ADD_FAILURE() << "a write-back dropped the flash's lines";
        }
        CacheSync(CACHE_SYNC_DISCARD);
        cachedAfterSync = ReadWord(kCachedBlock + 0x40);
    }),
              ProgramEnd::kReturned);
    EXPECT_EQ(cachedBefore, 0xFFFFFFFFu);
    EXPECT_EQ(cachedAfterProgram, 0xFFFFFFFFu);
    EXPECT_EQ(cachedAfterSync, 0xA5A55A5Au);
    EXPECT_TRUE(CrashReason(*handheld).empty());
}

}  // namespace
}  // namespace nuva::sim::test
