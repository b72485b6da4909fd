// Injected faults: what a driver sees when a chip fails, and that the other
// chip goes on working.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <string>
#include <vector>

#include "handheld-sim/flash/flash_bank.h"
#include "tests/handheld-sim/flash/flash_test_driver.h"

namespace nuva::sim {
namespace {

using Kind = FlashFault::Kind;
using testing::Both;
using testing::kBothReady;
using testing::Poll;

constexpr uint32_t kB1 = kFlashBlockBytes;
constexpr uint32_t kB2 = 2 * kFlashBlockBytes;
constexpr uint32_t kB3 = 3 * kFlashBlockBytes;
constexpr uint32_t kSmallBank = 4 * kFlashBlockBytes;

FlashFault Fault(Kind kind, int chip, int32_t first = -1, int32_t last = -1, uint32_t operations = 0) {
    FlashFault f;
    f.kind = kind;
    f.chip = chip;
    f.blockFirst = first;
    f.blockLast = last;
    f.operations = operations;
    return f;
}

FlashFault Slow(Kind kind, int chip, int32_t block, uint32_t operations, uint32_t reads,
                uint32_t micros = 0) {
    FlashFault f = Fault(kind, chip, block, -1, operations);
    f.busyReads = reads;
    f.busyMicros = micros;
    return f;
}

// Erase after clearing status, as the flasher does; back to read array.
uint32_t CleanErase(FlashBank& bank, uint32_t block) {
    bank.Write32(block, Both(0x50));
    uint32_t status = testing::EraseBlock(bank, block);
    bank.Write32(block, Both(0x50));
    bank.Write32(block, Both(0xFF));
    return status;
}

uint32_t CleanProgram(FlashBank& bank, uint32_t offset, uint32_t value) {
    const uint32_t words[] = {value};
    bank.Write32(offset, Both(0x50));
    uint32_t status = testing::WriteBuffer(bank, offset, words);
    bank.Write32(offset, Both(0x50));
    bank.Write32(offset, Both(0xFF));
    return status;
}

TEST(FlashFaults, ErrorOnOneChipLeavesTheOtherWorking) {
    FlashBank bank(kSmallBank);
    std::ranges::fill(bank.MutableCells(), uint8_t{0});

    bank.InjectFault(Fault(Kind::kEraseError, 1));
    EXPECT_EQ(testing::EraseBlock(bank, kB1), 0x00A00080u);
    bank.Write32(kB1, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB1 + 0x40), 0x0000FFFFu);  // chip 0 erased its half only

    bank.ClearFaults();
    bank.InjectFault(Fault(Kind::kProgramError, 0, 2));
    EXPECT_EQ(CleanErase(bank, kB2), kBothReady);
    EXPECT_EQ(CleanProgram(bank, kB2 + 8, 0x12345678), 0x00800090u);
    EXPECT_EQ(bank.Read32(kB2 + 8), 0x1234FFFFu);  // chip 1 programmed, chip 0 kept its cells
    EXPECT_EQ(CleanErase(bank, kB3), kBothReady);
    EXPECT_EQ(CleanProgram(bank, kB3 + 8, 0x12345678), kBothReady);  // block 3 is not faulty
    EXPECT_EQ(bank.Read32(kB3 + 8), 0x12345678u);

    bank.ClearFaults();
    EXPECT_EQ(CleanErase(bank, kB2), kBothReady);
    EXPECT_EQ(CleanProgram(bank, kB2 + 8, 0x12345678), kBothReady);
    EXPECT_EQ(bank.Read32(kB2 + 8), 0x12345678u);
}

TEST(FlashFaults, BusyForeverKeepsReadyClearUntilReset) {
    FlashBank bank(kSmallBank);
    bank.InjectFault(Fault(Kind::kBusyForever, 1, 2));

    bank.Write32(kB2, Both(0x20));
    bank.Write32(kB2, Both(0xD0));
    auto poll = Poll(bank, kB2, 10000);
    EXPECT_EQ(poll.busyReads, 10000u);
    EXPECT_EQ(poll.status, 0x00000080u);
    EXPECT_EQ(bank.Mode(1), ChipMode::kBusy);
    EXPECT_EQ(bank.Status(1), 0x00);

    // The flasher's way out after a timeout: clear status, read array.
    bank.Write32(kB2, Both(0x50));
    bank.Write32(kB2, Both(0xFF));
    EXPECT_EQ(bank.Mode(0), ChipMode::kReadArray);
    EXPECT_EQ(bank.Mode(1), ChipMode::kBusy);
    EXPECT_FALSE(bank.InReadArray());
    // Chip 1 ignores a new erase while busy; chip 0 takes it.
    bank.Write32(kB3, Both(0x20));
    EXPECT_EQ(bank.Mode(0), ChipMode::kEraseConfirm);
    EXPECT_EQ(bank.Mode(1), ChipMode::kBusy);

    bank.Reset();
    EXPECT_TRUE(bank.InReadArray());
    EXPECT_EQ(bank.Status(1), 0x80);
    EXPECT_EQ(CleanErase(bank, kB3), kBothReady);
    bank.Write32(kB2, Both(0x20));
    bank.Write32(kB2, Both(0xD0));
    EXPECT_EQ(Poll(bank, kB2, 100).status, 0x00000080u);  // for ever, block 2 only

    // A buffered write that never ends, once, on both chips.
    bank.Reset();
    bank.ClearFaults();
    bank.InjectFault(Fault(Kind::kBusyForever, -1, -1, -1, 1));
    const uint32_t word[] = {0x0};
    EXPECT_EQ(testing::WriteBuffer(bank, kB1, word), 0x00000000u);
    bank.Reset();
    EXPECT_EQ(testing::WriteBuffer(bank, kB1, word), kBothReady);

    // Clearing the lock bits can hang too.
    bank.InjectFault(Fault(Kind::kBusyForever, 0, 1, 1, 1));
    bank.Write32(kB1, Both(0x60));
    bank.Write32(kB1, Both(0xD0));
    EXPECT_EQ(Poll(bank, kB1, 100).status, 0x00800000u);
}

TEST(FlashFaults, CountedFaultsClearAfterTheirOperations) {
    FlashBank bank(kSmallBank);

    // Two operations: one 32-bit store starting both chips counts once.
    bank.InjectFault(Fault(Kind::kProgramError, -1, -1, -1, 2));
    EXPECT_EQ(CleanProgram(bank, kB1, 0x11111111), 0x00900090u);
    EXPECT_EQ(CleanProgram(bank, kB1 + 4, 0x22222222), 0x00900090u);
    EXPECT_EQ(CleanProgram(bank, kB1 + 8, 0x33333333), kBothReady);
    EXPECT_EQ(bank.Read32(kB1), 0xFFFFFFFFu);
    EXPECT_EQ(bank.Read32(kB1 + 4), 0xFFFFFFFFu);
    EXPECT_EQ(bank.Read32(kB1 + 8), 0x33333333u);

    // Operations outside the fault's blocks do not use it up.
    bank.InjectFault(Fault(Kind::kEraseError, 1, 1, 2, 1));
    EXPECT_EQ(CleanErase(bank, 0), kBothReady);
    EXPECT_EQ(CleanErase(bank, kB3), kBothReady);
    EXPECT_EQ(CleanErase(bank, kB2), 0x00A00080u);
    EXPECT_EQ(CleanErase(bank, kB1), kBothReady);
    EXPECT_EQ(CleanErase(bank, kB2), kBothReady);

    // Separate 16-bit stores are separate operations.
    bank.InjectFault(Fault(Kind::kEraseError, -1, -1, -1, 2));
    for (uint32_t half : {0u, 2u}) {
        bank.Write16(kB3 + half, 0x20);
        bank.Write16(kB3 + half, 0xD0);
    }
    EXPECT_EQ(Poll(bank, kB3).status, 0x00A000A0u);
    EXPECT_EQ(CleanErase(bank, kB3), kBothReady);
}

TEST(FlashFaults, SlowOperationsOutlastAPollBudgetThenComplete) {
    constexpr uint32_t kBudget = 1000;
    FlashBank bank(kSmallBank);
    std::ranges::fill(bank.MutableCells(), uint8_t{0});
    // Twice as slow as the budget allows, less than two budgets: a repeat
    // that first waits for ready finds the erase done.
    bank.InjectFault(Slow(Kind::kSlowErase, -1, 1, 2, 1600));

    bank.Write32(kB1, Both(0x20));
    bank.Write32(kB1, Both(0xD0));
    auto poll = Poll(bank, kB1, kBudget);
    EXPECT_EQ(poll.busyReads, kBudget);
    EXPECT_EQ(poll.status, 0u);
    // The driver gives up: clear status is taken, read array is not.
    bank.Write32(kB1, Both(0x50));
    bank.Write32(kB1, Both(0xFF));
    EXPECT_EQ(bank.Mode(0), ChipMode::kBusy);
    EXPECT_EQ(bank.Mode(1), ChipMode::kBusy);
    auto notes = bank.TakeNotes();
    ASSERT_EQ(notes.size(), 2u);
    EXPECT_NE(notes[0].find("0x00FF ignored: busy with erase"), std::string::npos);

    // The repeat: read status, wait for ready, erase again.
    bank.Write32(kB1, Both(0x70));
    poll = Poll(bank, kB1, kBudget);
    EXPECT_EQ(poll.status, kBothReady);
    EXPECT_EQ(poll.busyReads, 600u);
    bank.Write32(kB1, Both(0xFF));
    EXPECT_EQ(std::ranges::count(bank.Cells().subspan(kB1, kFlashBlockBytes), 0xFF), kFlashBlockBytes);
    EXPECT_EQ(bank.Read32(kB1 - 4), 0u);
    EXPECT_EQ(bank.Read32(kB2), 0u);
    // The fault's second operation is slow as well; a block outside it is not.
    bank.Write32(kB1, Both(0x20));
    bank.Write32(kB1, Both(0xD0));
    EXPECT_EQ(Poll(bank, kB1, kBudget).busyReads, kBudget);
    EXPECT_EQ(Poll(bank, kB1, kBudget).busyReads, 600u);
    EXPECT_EQ(CleanErase(bank, kB2), kBothReady);
    EXPECT_EQ(bank.Read32(kB2), 0xFFFFFFFFu);
    // Used up: the third erase takes the bank's own four reads.
    bank.Write32(kB1, Both(0x20));
    bank.Write32(kB1, Both(0xD0));
    EXPECT_EQ(Poll(bank, kB1, kBudget).busyReads, 4u);

    // A slow buffered write on chip 1: chip 0 finishes and takes read array,
    // chip 1 still shows busy; its half is programmed once it is done.
    bank.Write32(kB1, Both(0xFF));
    bank.InjectFault(Slow(Kind::kSlowProgram, 1, 2, 1, 1500));
    const uint32_t word[] = {0x12345678};
    EXPECT_EQ(testing::WriteBuffer(bank, kB2 + 8, word), 0x00000080u);  // a budget of 1000 reads
    bank.Write32(kB2, Both(0xFF));
    EXPECT_EQ(bank.Mode(0), ChipMode::kReadArray);
    EXPECT_EQ(bank.Mode(1), ChipMode::kBusy);
    EXPECT_EQ(bank.Read32(kB2 + 8), 0x00005678u);
    bank.Write32(kB2, Both(0x70));
    poll = Poll(bank, kB2, kBudget);
    EXPECT_EQ(poll.status, 0x00800080u);
    EXPECT_EQ(poll.busyReads, 499u);
    bank.Write32(kB2, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB2 + 8), 0x12345678u);
    EXPECT_EQ(bank.Read32(kB2 + 4), 0xFFFFFFFFu);
    const uint32_t next[] = {0x0F0F0F0F};
    bank.Write32(kB2, Both(0x50));
    EXPECT_EQ(testing::WriteBuffer(bank, kB2 + 12, next), kBothReady);
    bank.Write32(kB2, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB2 + 12), 0x0F0F0F0Fu);

    // A slow time: a budget of reads is far too few read cycles to make it
    // up, the scaled clock ends it; at scale 0 a time alone does not hold
    // the chip at all.
    {
        testing::ScaleGuard scale(0.01);
        bank.InjectFault(Slow(Kind::kSlowErase, 0, 3, 1, 0, 5000000));
        bank.Write32(kB3, Both(0x20));
        bank.Write32(kB3, Both(0xD0));
        // Chip 1 is busy as well, for the typical second of an erase.
        EXPECT_EQ(Poll(bank, kB3, kBudget).status, 0u);
        ScaledSleepMs(6000);
        EXPECT_EQ(Poll(bank, kB3, kBudget).status, kBothReady);
        bank.Write32(kB3, Both(0xFF));
        EXPECT_EQ(bank.Read32(kB3), 0xFFFFFFFFu);
    }
    {
        testing::ScaleGuard scale(0);
        bank.InjectFault(Slow(Kind::kSlowErase, -1, 3, 1, 0, 5000000));
        bank.Write32(kB3, Both(0x20));
        bank.Write32(kB3, Both(0xD0));
        EXPECT_EQ(bank.Mode(0), ChipMode::kReadStatus);
        EXPECT_EQ(bank.Mode(1), ChipMode::kReadStatus);
    }
}

TEST(FlashFaults, LockedFaultHoldsThroughClearLockBits) {
    FlashBank bank(kSmallBank);
    std::ranges::fill(bank.MutableCells(), uint8_t{0x77});
    bank.InjectFault(Fault(Kind::kLocked, -1, 1));

    bank.Write32(kB1, Both(0x90));
    EXPECT_EQ(bank.Read32(kB1 + 8), 0x00010001u);
    EXPECT_FALSE(bank.BlockLocked(1));  // not a lock bit
    bank.Write32(kB1, Both(0x60));
    bank.Write32(kB1, Both(0xD0));
    EXPECT_EQ(Poll(bank, kB1).status, kBothReady);
    bank.Write32(kB1, Both(0x90));
    EXPECT_EQ(bank.Read32(kB1 + 8), 0x00010001u);
    EXPECT_EQ(CleanErase(bank, kB1), 0x00A200A2u);
    EXPECT_EQ(CleanProgram(bank, kB1, 0), 0x00920092u);
    EXPECT_EQ(bank.Read32(kB1), 0x77777777u);
    EXPECT_EQ(CleanErase(bank, kB2), kBothReady);

    // Once, on chip 0: chip 1 erases its half meanwhile.
    bank.ClearFaults();
    bank.InjectFault(Fault(Kind::kLocked, 0, 1, -1, 1));
    EXPECT_EQ(CleanErase(bank, kB1), 0x008000A2u);
    EXPECT_EQ(bank.Read32(kB1), 0xFFFF7777u);
    EXPECT_EQ(CleanErase(bank, kB1), kBothReady);
    EXPECT_EQ(bank.Read32(kB1), 0xFFFFFFFFu);
}

TEST(FlashFaults, StuckBitsShowOnlyOnReadBack) {
    FlashBank bank(kSmallBank);
    FlashFault stuck;
    stuck.kind = Kind::kStuckBits;
    stuck.stuckOffset = kB1 + 0x10;
    stuck.stuckMask = 0x80000001;
    ASSERT_EQ(bank.CheckFault(stuck), "");
    bank.InjectFault(stuck);
    EXPECT_EQ(bank.Read32(kB1 + 0x10), 0x7FFFFFFEu);

    std::ranges::fill(bank.MutableCells().subspan(kB1, kFlashBlockBytes), uint8_t{0});
    EXPECT_EQ(CleanErase(bank, kB1), kBothReady);
    EXPECT_EQ(bank.Read32(kB1 + 0x10), 0x7FFFFFFEu);
    EXPECT_EQ(bank.Read32(kB1 + 0x0C), 0xFFFFFFFFu);
    EXPECT_EQ(bank.Read32(kB1 + 0x14), 0xFFFFFFFFu);
    EXPECT_EQ(CleanProgram(bank, kB1 + 0x10, 0xFFFFFFFF), kBothReady);
    EXPECT_EQ(bank.Read32(kB1 + 0x10), 0x7FFFFFFEu);

    // Limited to one chip's half.
    stuck.chip = 0;
    stuck.stuckOffset = kB2;
    stuck.stuckMask = 0xFFFFFFFF;
    bank.InjectFault(stuck);
    EXPECT_EQ(CleanErase(bank, kB2), kBothReady);
    EXPECT_EQ(bank.Read32(kB2), 0xFFFF0000u);

    // After the fault ends the cells can be erased again.
    bank.ClearFaults();
    EXPECT_EQ(CleanErase(bank, kB1), kBothReady);
    EXPECT_EQ(CleanErase(bank, kB2), kBothReady);
    EXPECT_EQ(bank.Read32(kB1 + 0x10), 0xFFFFFFFFu);
    EXPECT_EQ(bank.Read32(kB2), 0xFFFFFFFFu);
}

TEST(FlashFaults, BadFaultsAndBadAccessesAreRefused) {
    FlashBank bank(kSmallBank);
    EXPECT_EQ(bank.CheckFault(Fault(Kind::kBusyForever, -1)), "");
    EXPECT_EQ(bank.CheckFault(Fault(Kind::kLocked, 1, 0, 3, 5)), "");
    EXPECT_NE(bank.CheckFault(Fault(Kind::kEraseError, 2)).find("chip 2"), std::string::npos);
    EXPECT_NE(bank.CheckFault(Fault(Kind::kEraseError, -2)), "");
    EXPECT_NE(bank.CheckFault(Fault(Kind::kEraseError, 0, 4)).find("block 4"), std::string::npos);
    EXPECT_NE(bank.CheckFault(Fault(Kind::kEraseError, 0, -5)), "");
    EXPECT_NE(bank.CheckFault(Fault(Kind::kEraseError, 0, 2, 1)), "");
    EXPECT_NE(bank.CheckFault(Fault(Kind::kEraseError, 0, 2, 4)), "");
    EXPECT_NE(bank.CheckFault(Fault(Kind::kEraseError, 0, -1, 2)), "");
    EXPECT_NE(bank.CheckFault(Fault(static_cast<Kind>(9), 0)).find("kind"), std::string::npos);
    EXPECT_EQ(bank.CheckFault(Slow(Kind::kSlowProgram, 1, 3, 2, 10)), "");
    EXPECT_EQ(bank.CheckFault(Slow(Kind::kSlowErase, -1, -1, 0, 0, 10)), "");
    EXPECT_NE(bank.CheckFault(Slow(Kind::kSlowErase, 0, 1, 1, 0)).find("needs"), std::string::npos);
    EXPECT_NE(bank.CheckFault(Slow(Kind::kEraseError, 0, 1, 1, 10)), "");

    FlashFault stuck;
    stuck.kind = Kind::kStuckBits;
    stuck.stuckMask = 1;
    stuck.stuckOffset = 2;
    EXPECT_NE(bank.CheckFault(stuck), "");
    stuck.stuckOffset = kSmallBank;
    EXPECT_NE(bank.CheckFault(stuck), "");
    stuck.stuckOffset = kSmallBank - 4;
    EXPECT_EQ(bank.CheckFault(stuck), "");
    stuck.chip = 1;
    EXPECT_NE(bank.CheckFault(stuck).find("no bit"), std::string::npos);
    stuck.chip = -1;
    stuck.operations = 3;
    EXPECT_NE(bank.CheckFault(stuck), "");

    // Bugs of the caller stop the process with a message.
    EXPECT_DEATH(bank.InjectFault(Fault(Kind::kEraseError, 2)), "chip 2");
    EXPECT_DEATH(bank.Read32(2), "misaligned");
    EXPECT_DEATH(bank.Read32(kSmallBank), "beyond");
    EXPECT_DEATH(bank.Write16(kSmallBank - 1, 0), "misaligned");
    EXPECT_DEATH(bank.Mode(2), "no chip 2");
    EXPECT_DEATH(bank.SetBlockLocked(4, true), "block 4");
    EXPECT_DEATH(FlashBank(kFlashBlockBytes + 1), "whole number of blocks");
    EXPECT_DEATH(FlashBank(0), "whole number of blocks");
}

TEST(FlashFaults, NotesKeepTheLatestEvents) {
    FlashBank bank(kSmallBank);
    bank.InjectFault(Fault(Kind::kBusyForever, -1, 1));
    bank.Write32(kB1, Both(0x20));
    bank.Write32(kB1, Both(0xD0));
    for (uint32_t i = 0; i < FlashBank::kMaxNotes + 5; ++i) {
        bank.Write32(kB1, i);
    }
    auto notes = bank.TakeNotes();
    ASSERT_EQ(notes.size(), FlashBank::kMaxNotes);
    // Each store makes one note per chip; the newest is chip 1's of the last.
    EXPECT_NE(notes.back().find("chip 1"), std::string::npos);
    EXPECT_NE(notes.back().find("0x0000 ignored: busy with erase"), std::string::npos);
    EXPECT_NE(notes[notes.size() - 2].find("0x0044 ignored"), std::string::npos);
    EXPECT_TRUE(bank.TakeNotes().empty());
}

TEST(FlashFaults, LockOperationsCanFailAndBeSlow) {
    FlashBank bank(kSmallBank);
    // Setting a lock bit fails with SR.4, clearing them with SR.5; the bits
    // stay as they were.
    bank.InjectFault(Fault(Kind::kLockError, 1, -1, -1, 2));
    bank.Write32(kB1, Both(0x60));
    bank.Write32(kB1, Both(0x01));
    EXPECT_EQ(Poll(bank, kB1).status, 0x00900080u);
    EXPECT_TRUE(bank.BlockLocked(1));  // chip 0 set its bit
    bank.Write32(kB1, Both(0x50));
    bank.Write32(kB1, Both(0x60));
    bank.Write32(kB1, Both(0xD0));
    EXPECT_EQ(Poll(bank, kB1).status, 0x00A00080u);
    bank.Write32(kB1, Both(0x90));
    EXPECT_EQ(bank.Read32(kB1 + 8), 0x00000000u);  // chip 0 cleared, chip 1 had none
    bank.Write32(kB1, Both(0x50));
    // Used up: the next clear works.
    bank.SetBlockLocked(2, true);
    bank.Write32(kB2, Both(0x60));
    bank.Write32(kB2, Both(0xD0));
    EXPECT_EQ(Poll(bank, kB2).status, kBothReady);
    EXPECT_FALSE(bank.BlockLocked(2));

    // A clear of the lock bits stretched to the datasheet maximum: a budget
    // covering only the typical 0.5 s in read cycles gives up, one covering
    // 0.7 s sees it end. The clock runs a thousand times slow, so that only
    // the read cycles count, however fast or slow the host reads.
    testing::ScaleGuard scale(1000);
    bank.InjectFault(Slow(Kind::kSlowLock, -1, -1, 1, 0, kLockClearMaxMicros));
    bank.Write32(kB2, Both(0x60));
    bank.Write32(kB2, Both(0xD0));
    constexpr uint32_t kCycle = FlashTiming{}.readCycleNanos;
    EXPECT_EQ(Poll(bank, kB2, 500000000 / kCycle).status, 0u);
    EXPECT_EQ(Poll(bank, kB2, 200000000 / kCycle + 2).status, kBothReady);
}

// Cells after a reset that cut an operation off.
std::vector<uint8_t> Interrupted(uint64_t seed, uint32_t busyReadsBeforeReset, bool program) {
    testing::ScaleGuard scale(0);
    FlashBank bank(kSmallBank, FlashTiming{.eraseStatusReads = 16, .writeStatusReads = 16});
    bank.SetInterruptSeed(seed);
    auto cells = bank.MutableCells();
    for (size_t i = 0; i < cells.size(); ++i) {
        cells[i] = static_cast<uint8_t>(i * 7);
    }
    if (program) {
        uint32_t words[16];
        for (uint32_t i = 0; i < 16; ++i) {
            words[i] = 0x01010101u * i;
        }
        bank.Write32(kB1, Both(0xE8));
        bank.Write32(kB1, Both(15));
        for (uint32_t i = 0; i < 16; ++i) {
            bank.Write32(kB1 + 4 * i, words[i]);
        }
        bank.Write32(kB1, Both(0xD0));
    } else {
        bank.Write32(kB1, Both(0x20));
        bank.Write32(kB1, Both(0xD0));
    }
    EXPECT_EQ(Poll(bank, kB1, busyReadsBeforeReset).status, 0u);
    bank.Reset();
    EXPECT_TRUE(bank.InReadArray());
    auto notes = bank.TakeNotes();
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [](const std::string& n) {
        return n.find("cut off by a reset") != std::string::npos;
    }));
    return {bank.Cells().begin(), bank.Cells().end()};
}

TEST(FlashFaults, AResetInTheMiddleLeavesCellsHalfDoneTheSameWayForTheSameSeed) {
    auto before = [](size_t i) { return static_cast<uint8_t>(i * 7); };
    size_t lastSet = 0;
    for (uint32_t reads : {1u, 8u, 15u}) {
        // Erase: only 0 -> 1 in the block, some of each, none elsewhere; more
        // bits the further it had come.
        auto cells = Interrupted(42, reads, false);
        EXPECT_EQ(cells, Interrupted(42, reads, false));
        EXPECT_NE(cells, Interrupted(43, reads, false));
        size_t set = 0;
        size_t erasedWords = 0;
        for (size_t i = 0; i < cells.size(); ++i) {
            const bool inBlock = i >= kB1 && i < kB1 + kFlashBlockBytes;
            if (!inBlock) {
                ASSERT_EQ(cells[i], before(i)) << i;
                continue;
            }
            ASSERT_EQ(cells[i] & before(i), before(i)) << "an erase only sets bits, at " << i;
            set += static_cast<size_t>(std::popcount(static_cast<unsigned>(cells[i] ^ before(i))));
            erasedWords += cells[i] == 0xFF ? 1 : 0;
        }
        EXPECT_GT(set, 0u) << reads;
        EXPECT_LT(erasedWords, kFlashBlockBytes) << "never the whole block, " << reads;
        EXPECT_GT(set, lastSet) << "further on, more bits erased: " << reads;
        lastSet = set;

        // Program: only 1 -> 0 towards the data, never past it.
        auto programmed = Interrupted(42, reads, true);
        EXPECT_EQ(programmed, Interrupted(42, reads, true));
        size_t cleared = 0;
        for (size_t i = 0; i < programmed.size(); ++i) {
            uint32_t w = static_cast<uint32_t>(i - kB1) / 4;
            const bool inWindow = i >= kB1 && i < kB1 + 64;
            if (!inWindow) {
                ASSERT_EQ(programmed[i], before(i)) << i;
                continue;
            }
            auto target = static_cast<uint8_t>(before(i) & static_cast<uint8_t>(w));
            ASSERT_EQ(programmed[i] | before(i), before(i)) << "a program only clears bits, at " << i;
            ASSERT_EQ(programmed[i] & target, target) << "no bit past the data, at " << i;
            cleared += programmed[i] != before(i) ? 1 : 0;
        }
        EXPECT_GT(cleared, 0u) << reads;
    }
}

}  // namespace
}  // namespace nuva::sim
