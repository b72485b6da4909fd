// The flash routines against the model of the two chips: the commands they
// send, what they leave in the cells, how they fail and what they report.
#include "reflash/flash_routines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "formats/result_codes.h"
#include "model_handheld.h"
#include "platform/clock/clock.h"

namespace nuva::reflash {
namespace {

using sim::BusAccess;
using sim::FlashFault;
using test::ModelBus;

constexpr uint32_t kPoll = 1000;
constexpr PollBudget kSmallBudget{kPoll, kPoll, kPoll};
constexpr uint32_t kSource = 0x84200000;  // buffer 0 in the model's RAM

std::vector<BusAccess> Writes(const std::vector<BusAccess>& log, uint32_t value) {
    std::vector<BusAccess> out;
    std::copy_if(log.begin(), log.end(), std::back_inserter(out),
                 [value](const BusAccess& a) { return a.write && a.value == value; });
    return out;
}

// Only at scale 0 (the model's default) is `reads` the operation's length.
FlashFault Slow(FlashFault::Kind kind, int chip, int32_t block, uint32_t reads, uint32_t operations = 1) {
    FlashFault fault;
    fault.kind = kind;
    fault.chip = chip;
    fault.blockFirst = block;
    fault.operations = operations;
    fault.busyReads = reads;
    return fault;
}

class FlashRoutinesTest : public ::testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(routines.Copy()); }
    void TearDown() override {
        EXPECT_TRUE(bus.faults.empty()) << bus.faults.front();
        EXPECT_TRUE(bus.Bank().InReadArray());
    }

    void FillSource(uint32_t bytes, uint32_t seed) {
        source = test::PartBytes(bytes, seed);
        for (uint32_t i = 0; i < bytes; i += 4) {
            bus.SetRamWord(kSource + i, source[i] | source[i + 1] << 8 | source[i + 2] << 16 |
                                            static_cast<uint32_t>(source[i + 3]) << 24);
        }
    }

    ModelBus bus;
    FlashRoutines routines{bus, test::kRoutineArea, kSmallBudget};
    std::vector<uint8_t> source;
};

TEST_F(FlashRoutinesTest, EraseRangeErasesWholeBlocksFromTheBlockHoldingTheStart) {
    auto cells = bus.Bank().MutableCells();
    std::fill(cells.begin(), cells.end(), 0x00);
    bus.Bank().EnableLog(true);

    // 3 MB from the second block: blocks 1 to 12.
    EXPECT_EQ(routines.EraseRange(0xA0040000, 0x300000), kFlashOk);
    auto erases = Writes(bus.Bank().TakeLog(), flash_command::kEraseSetup);
    ASSERT_EQ(erases.size(), 12u);
    for (size_t i = 0; i < erases.size(); ++i) {
        EXPECT_EQ(erases[i].offset, (i + 1) * kEraseBlockBytes);
    }
    EXPECT_EQ(cells[0x3FFFF], 0x00);
    EXPECT_TRUE(
        std::all_of(cells.begin() + 0x40000, cells.begin() + 0x340000, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(cells[0x340000], 0x00);

    // A range inside one block, given in the cached window, erases that whole block.
    EXPECT_EQ(routines.EraseRange(0x80380010, 0x20), kFlashOk);
    auto one = Writes(bus.Bank().TakeLog(), flash_command::kEraseSetup);
    ASSERT_EQ(one.size(), 1u);
    EXPECT_EQ(one[0].offset, 0x380000u);
    EXPECT_EQ(cells[0x380000], 0xFF);
    EXPECT_EQ(cells[0x3BFFFF], 0xFF);
    EXPECT_EQ(cells[0x3C0000], 0x00);
}

TEST_F(FlashRoutinesTest, ProgramRangeWritesWhole64BytePiecesAndPullsTheRestartLineOnlyWhenAsked) {
    FillSource(256, 7);
    bus.Bank().EnableLog(true);
    EXPECT_EQ(routines.ProgramRange(0x80040000, kSource, 100, kRestartRegisters, 0), kFlashOk);
    auto log = bus.Bank().TakeLog();
    auto buffered = Writes(log, flash_command::kWriteToBuffer);
    ASSERT_EQ(buffered.size(), 2u);
    EXPECT_EQ(buffered[0].offset, 0x40000u);
    EXPECT_EQ(buffered[1].offset, 0x40040u);
    // The count word of a 16-word write, in both halves.
    auto counts = Writes(log, 0x000F000F);
    EXPECT_EQ(counts.size(), 2u);
    // 128 bytes programmed: the 100 asked for and the 28 source bytes after them.
    auto cells = bus.Bank().Cells();
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + 128, cells.begin() + 0x40000));
    EXPECT_EQ(cells[0x40080], 0xFF);
    EXPECT_EQ(bus.restarts, 0);

    // Restart flag without a register base: still no restart.
    EXPECT_EQ(routines.ProgramRange(0xA0080000, kSource, 64, 0, 1), kFlashOk);
    EXPECT_EQ(bus.restarts, 0);
    // With both, the line is pulled after the last piece is programmed.
    EXPECT_EQ(routines.ProgramRange(0xA00C0000, kSource, 64, kRestartRegisters, 1), kFlashOk);
    EXPECT_EQ(bus.restarts, 1);
    ASSERT_GE(bus.registerWrites.size(), 2u);
    EXPECT_EQ(bus.registerWrites[0].address, 0xA9000024u);
    EXPECT_EQ(bus.registerWrites[0].value, 0x00200000u);
    EXPECT_EQ(bus.registerWrites[1].address, 0xA900000Cu);
    EXPECT_NE(bus.registerWrites[1].value & 0x00200000u, 0u);
    EXPECT_TRUE(std::equal(source.begin(), source.begin() + 64, cells.begin() + 0xC0000));
}

TEST_F(FlashRoutinesTest, BufferedWriteSendsTheCountOfItsWordsInBothHalves) {
    FillSource(64, 3);
    bus.Bank().EnableLog(true);
    EXPECT_EQ(routines.BufferedWrite(0xA0100000, kSource, 16), kFlashOk);
    auto log = bus.Bank().TakeLog();
    ASSERT_GE(log.size(), 2u);
    auto e8 = std::find_if(log.begin(), log.end(), [](const BusAccess& a) { return a.write; });
    ASSERT_NE(e8, log.end());
    EXPECT_EQ(e8->value, flash_command::kWriteToBuffer);
    auto count = std::find_if(e8 + 1, log.end(), [](const BusAccess& a) { return a.write; });
    ASSERT_NE(count, log.end());
    EXPECT_EQ(count->value, 0x000F000Fu);

    EXPECT_EQ(routines.BufferedWrite(0xA0100040, kSource, 4), kFlashOk);
    EXPECT_EQ(Writes(bus.Bank().TakeLog(), 0x00030003).size(), 1u);
    // Counts the chips cannot take are refused before anything is sent.
    EXPECT_EQ(routines.BufferedWrite(0xA0100080, kSource, 17), kFlashWriteTimeout);
    EXPECT_EQ(routines.BufferedWrite(0xA0100080, kSource, 0), kFlashWriteTimeout);
    EXPECT_TRUE(bus.Bank().TakeLog().empty());
}

TEST_F(FlashRoutinesTest, UnlockSendsNothingToUnlockedFlashAndClearsLockBitsOtherwise) {
    bus.Bank().EnableLog(true);
    UnlockResult open = UnlockFlash(bus, kUnlockAddress, kPoll);
    EXPECT_TRUE(open.ok);
    auto log = bus.Bank().TakeLog();
    EXPECT_TRUE(Writes(log, flash_command::kLockSetup).empty());
    EXPECT_EQ(Writes(log, flash_command::kReadIdentifier).size(), 1u);
    EXPECT_EQ(Writes(log, flash_command::kReadIdentifier)[0].offset, 0x40008u);

    bus.Bank().SetBlockLocked(1, true);
    bus.Bank().SetBlockLocked(20, true);
    UnlockResult locked = UnlockFlash(bus, kUnlockAddress, kPoll);
    EXPECT_TRUE(locked.ok);
    EXPECT_EQ(Writes(bus.Bank().TakeLog(), flash_command::kLockSetup).size(), 1u);
    EXPECT_FALSE(bus.Bank().BlockLocked(1));
    EXPECT_FALSE(bus.Bank().BlockLocked(20));
}

TEST_F(FlashRoutinesTest, AnUnlockThatOutlastsItsBudgetFailsOnlyOnceTheChipsReadArrayAgain) {
    bus.Bank().SetBlockLocked(1, true);
    bus.Bank().InjectFault(Slow(FlashFault::Kind::kSlowLock, -1, -1, kPoll * 2));
    UnlockResult result = UnlockFlash(bus, kUnlockAddress, kPoll);
    EXPECT_FALSE(result.ok);
    EXPECT_EQ(result.status, 0u);  // both chips busy when it gave up
    // The caller says so on the screen from code in flash: the chips were
    // waited for, and nothing was ignored by a busy chip.
    EXPECT_TRUE(bus.Bank().InReadArray());
    EXPECT_TRUE(bus.Bank().TakeNotes().empty());
    EXPECT_FALSE(bus.Bank().BlockLocked(1));

    // Chips that never finish hold the routine until the power goes.
    bus.Bank().SetBlockLocked(1, true);
    FlashFault busy;
    busy.kind = FlashFault::Kind::kBusyForever;
    busy.operations = 1;
    bus.Bank().InjectFault(busy);
    bus.powerLossAtRead = bus.flashReads + 20 * kPoll;
    EXPECT_THROW(UnlockFlash(bus, kUnlockAddress, kPoll), test::PowerLost);
}

TEST_F(FlashRoutinesTest, AnErrorBitOfEitherChipFailsTheOperationLikeATimeout) {
    FillSource(64, 11);
    FlashFault fault;
    fault.kind = FlashFault::Kind::kProgramError;
    fault.chip = 1;
    fault.blockFirst = 2;
    fault.operations = 1;
    bus.Bank().InjectFault(fault);
    EXPECT_EQ(routines.BufferedWrite(0xA0080000, kSource, 16), kFlashWriteTimeout);
    EXPECT_EQ(routines.LastStatus(), 0x00900080u);  // chip 1: ready and SR.4
    EXPECT_EQ(bus.Bank().Status(1) & 0x3A, 0);      // status cleared
    // The fault was for one operation: the repetition succeeds.
    EXPECT_EQ(routines.BufferedWrite(0xA0080000, kSource, 16), kFlashOk);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), bus.Bank().Cells().begin() + 0x80000));

    fault.kind = FlashFault::Kind::kEraseError;
    fault.chip = 0;
    fault.blockFirst = 3;
    bus.Bank().InjectFault(fault);
    EXPECT_EQ(routines.EraseRange(0xA0080000, 0x80000), kFlashEraseTimeout);
    EXPECT_EQ(routines.LastStatus(), 0x008000A0u);  // chip 0: ready and SR.5
    EXPECT_EQ(bus.marks, "e");
    EXPECT_EQ(routines.EraseRange(0xA0080000, 0x80000), kFlashOk);

    // A program that fails before the routine's next bus write (here the
    // clock runs so fast that every operation is over at once) is still
    // seen as failed: its error bits are not cleared unread.
    {
        const double scale = TimeScale();
        SetTimeScale(1e-9);
        fault.kind = FlashFault::Kind::kProgramError;
        fault.chip = -1;
        fault.blockFirst = 2;
        bus.Bank().InjectFault(fault);
        const uint32_t early = routines.BufferedWrite(0xA0080040, kSource, 16);
        SetTimeScale(scale);
        EXPECT_EQ(early, kFlashWriteTimeout);
        EXPECT_EQ(routines.LastStatus() & 0x00100010u, 0x00100010u);  // SR.4 of both chips
    }

    // A locked block reports SR.1 (with SR.4): refused too.
    bus.Bank().SetBlockLocked(5, true);
    EXPECT_EQ(routines.ProgramRange(0xA0140000, kSource, 64, 0, 0), kFlashEraseTimeout);
    EXPECT_EQ(routines.LastStatus() & 0x00220022u, 0x00220022u);
}

TEST_F(FlashRoutinesTest, AnEraseThatOutlastsTheBudgetIsSuspendedAndResumedBeforeTheNextErase) {
    FillSource(64, 5);
    auto cells = bus.Bank().MutableCells();
    std::fill(cells.begin(), cells.end(), 0x00);
    // Chip 0 erases block 4 for a quarter of the budget more than the budget.
    bus.Bank().InjectFault(Slow(FlashFault::Kind::kSlowErase, 0, 4, kPoll + kPoll / 4));
    bus.Bank().EnableLog(true);
    EXPECT_EQ(routines.EraseRange(0xA0100000, 0x100), kFlashEraseTimeout);
    EXPECT_EQ(bus.marks, "e");
    EXPECT_EQ(routines.LastStatus(), 0x00800000u);  // chip 1 done, chip 0 still busy
    // Back to code in flash: both chips read array, chip 0's erase waits
    // suspended, and no command met a busy chip.
    EXPECT_TRUE(bus.Bank().InReadArray());
    EXPECT_EQ(bus.Bank().Status(0) & 0xC0, 0xC0);
    EXPECT_EQ(bus.Bank().Status(1) & 0x40, 0);
    EXPECT_EQ(Writes(bus.Bank().TakeLog(), flash_command::kEraseSuspend).size(), 1u);
    EXPECT_TRUE(bus.Bank().TakeNotes().empty());

    // The repetition resumes chip 0 alone, lets its erase end, then erases
    // and programs the block.
    EXPECT_EQ(routines.ProgramRange(0xA0100000, kSource, 64, 0, 0), kFlashOk);
    auto log = bus.Bank().TakeLog();
    EXPECT_EQ(Writes(log, 0x007000D0).size(), 1u);
    EXPECT_EQ(Writes(log, flash_command::kEraseSetup).size(), 1u);
    EXPECT_TRUE(bus.Bank().TakeNotes().empty());
    EXPECT_EQ(bus.Bank().Status(0) & 0x40, 0);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), cells.begin() + 0x100000));
    EXPECT_TRUE(
        std::all_of(cells.begin() + 0x100040, cells.begin() + 0x140000, [](uint8_t b) { return b == 0xFF; }));

    // Both chips slow, twice in a row: each erase that gives up is
    // suspended, each attempt resumes what is left, and it ends.
    bus.Bank().InjectFault(Slow(FlashFault::Kind::kSlowErase, -1, 5, 3 * kPoll, 2));
    EXPECT_EQ(routines.EraseRange(0xA0140000, 0x100), kFlashEraseTimeout);
    EXPECT_TRUE(bus.Bank().InReadArray());
    EXPECT_EQ(routines.LastStatus(), 0u);
    uint32_t attempts = 1;
    while (routines.EraseRange(0xA0140000, 0x100) != kFlashOk && attempts < 10) {
        EXPECT_TRUE(bus.Bank().InReadArray());
        ++attempts;
    }
    EXPECT_LT(attempts, 10u);
    EXPECT_TRUE(bus.Bank().TakeNotes().empty());
    EXPECT_TRUE(
        std::all_of(cells.begin() + 0x140000, cells.begin() + 0x180000, [](uint8_t b) { return b == 0xFF; }));
}

TEST_F(FlashRoutinesTest, ABufferedWriteThatOutlastsTheBudgetIsWaitedForBeforeItFails) {
    FillSource(64, 9);
    bus.Bank().InjectFault(Slow(FlashFault::Kind::kSlowProgram, 1, 4, 3 * kPoll));
    EXPECT_EQ(routines.BufferedWrite(0xA0100000, kSource, 16), kFlashWriteTimeout);
    EXPECT_EQ(routines.LastStatus(), 0x00000080u);  // chip 0 done, chip 1 busy
    EXPECT_TRUE(bus.Bank().InReadArray());
    EXPECT_TRUE(bus.Bank().TakeNotes().empty());
    // A program is not suspended: it ended, so the repetition finds the chips
    // free.
    EXPECT_EQ(routines.EraseRange(0xA0100000, 0x100), kFlashOk);
    EXPECT_EQ(routines.BufferedWrite(0xA0100000, kSource, 16), kFlashOk);
    EXPECT_TRUE(std::equal(source.begin(), source.end(), bus.Bank().Cells().begin() + 0x100000));
}

TEST_F(FlashRoutinesTest, AChipThatNeverBecomesReadyHoldsTheRoutineUntilThePowerGoes) {
    FillSource(64, 13);
    FlashFault fault;
    fault.kind = FlashFault::Kind::kBusyForever;
    fault.chip = 1;
    fault.blockFirst = 6;
    fault.operations = 1;
    bus.Bank().InjectFault(fault);
    // Far beyond the budget the routine still polls: it has not returned to
    // code that would run from the busy chip.
    bus.powerLossAtRead = bus.flashReads + 50 * kPoll;
    EXPECT_THROW(routines.BlockErase(0xA0180000), test::PowerLost);
    EXPECT_EQ(bus.marks, "");
    // It tried to suspend the erase; the chip did not take it.
    auto notes = bus.Bank().TakeNotes();
    ASSERT_FALSE(notes.empty());
    EXPECT_NE(notes[0].find("0x00B0 ignored: busy with erase"), std::string::npos) << notes[0];
    for (const auto& note : notes) {
        EXPECT_EQ(note.find("0x00FF"), std::string::npos) << note;
    }
    // After the restart the chips work again.
    EXPECT_EQ(routines.BlockErase(0xA0180000), kFlashOk);

    fault.kind = FlashFault::Kind::kBusyForever;
    fault.chip = 0;
    bus.Bank().InjectFault(fault);
    bus.powerLossAtRead = bus.flashReads + 50 * kPoll;
    EXPECT_THROW(routines.BufferedWrite(0xA0180000, kSource, 16), test::PowerLost);
    // Only the reset's own note: nothing was sent to the busy chip.
    notes = bus.Bank().TakeNotes();
    ASSERT_EQ(notes.size(), 1u);
    EXPECT_NE(notes[0].find("cut off by a reset"), std::string::npos) << notes[0];
}

TEST_F(FlashRoutinesTest, ACopyInRamIsCalledOnlyWhileItsTableIsIntact) {
    // The table: signature, block size, four routines with entry and size.
    EXPECT_EQ(bus.RamWord(test::kRoutineArea), FlashRoutines::kSignature);
    EXPECT_EQ(bus.RamWord(test::kRoutineArea + 4), kEraseBlockBytes);
    EXPECT_EQ(bus.RamWord(test::kRoutineArea + 8), 4u);
    for (uint32_t r = 0; r < 4; ++r) {
        uint32_t slot = test::kRoutineArea + 0x10 + 16 * r;
        EXPECT_NE(bus.RamWord(slot) | bus.RamWord(slot + 4), 0u) << r;
        EXPECT_GT(bus.RamWord(slot + 8), 16u) << r;
        EXPECT_LT(bus.RamWord(slot + 8), 0x4000u) << r;
    }

    bus.Bank().EnableLog(true);
    // A clobbered entry of BlockErase: EraseRange reaches it and refuses.
    uint32_t blockEraseEntry = test::kRoutineArea + 0x10;
    uint32_t kept = bus.RamWord(blockEraseEntry);
    bus.SetRamWord(blockEraseEntry, kept ^ 0x40);
    EXPECT_EQ(routines.EraseRange(0xA0040000, 0x40000), kFlashRoutinesDamaged);
    EXPECT_EQ(routines.ProgramRange(0xA0040000, kSource, 64, 0, 0), kFlashRoutinesDamaged);
    bus.SetRamWord(blockEraseEntry, kept);
    // A clobbered signature stops every call.
    bus.SetRamWord(test::kRoutineArea, 0);
    EXPECT_EQ(routines.BufferedWrite(0xA0040000, kSource, 16), kFlashRoutinesDamaged);
    EXPECT_EQ(routines.BlockErase(0xA0040000), kFlashRoutinesDamaged);
    EXPECT_TRUE(bus.Bank().TakeLog().empty());
    EXPECT_FALSE(IsRepeatable(kFlashRoutinesDamaged));
    EXPECT_TRUE(IsRepeatable(kFlashEraseTimeout));
    EXPECT_TRUE(IsRepeatable(kFlashWriteTimeout));
}

TEST(FlashRoutinesCopy, FailsWhenRamDoesNotKeepTheTable) {
    ModelBus bus;
    // An area outside RAM: the model backs nothing there.
    FlashRoutines routines(bus, 0x88000000, kSmallBudget);
    EXPECT_FALSE(routines.Copy());
}

// Sets the clock's scale for one scope.
class ScaleGuard {
  public:
    explicit ScaleGuard(double scale) : saved_(TimeScale()) { SetTimeScale(scale); }
    ~ScaleGuard() { SetTimeScale(saved_); }
    ScaleGuard(const ScaleGuard&) = delete;
    ScaleGuard& operator=(const ScaleGuard&) = delete;

  private:
    double saved_;
};

sim::FlashFault SlowTo(FlashFault::Kind kind, uint32_t micros) {
    FlashFault fault;
    fault.kind = kind;
    fault.operations = 1;
    fault.busyMicros = micros;
    return fault;
}

// What each budget makes of chips that take the datasheet's maximum time:
// an erase of 5 s, a buffered write of 654 us, a clear of the lock bits of
// 0.7 s. The clock runs a thousand times slow, so only the read cycles of the
// routines' own polls make the time pass, as on a handheld whose flasher
// reads no clock; a chip that ends on time ends after 150 ns per read.
struct AtMaximum {
    uint32_t erase;
    uint32_t write;
    bool unlocked;
    std::string marks;
};

AtMaximum RunAtDatasheetMaximum(PollBudget budget) {
    ScaleGuard scale(1000);
    ModelBus bus;
    FlashRoutines routines(bus, test::kRoutineArea, budget);
    EXPECT_TRUE(routines.Copy());
    AtMaximum r{};
    bus.Bank().InjectFault(SlowTo(FlashFault::Kind::kSlowErase, sim::kEraseMaxMicros));
    r.erase = routines.EraseRange(0xA0100000, 0x100);
    bus.Bank().Reset();  // whatever was left busy
    bus.Bank().InjectFault(SlowTo(FlashFault::Kind::kSlowProgram, sim::kWriteMaxMicros));
    r.write = routines.BufferedWrite(0xA0100000, kSource, 16);
    bus.Bank().Reset();
    bus.Bank().SetBlockLocked(1, true);
    bus.Bank().InjectFault(SlowTo(FlashFault::Kind::kSlowLock, sim::kLockClearMaxMicros));
    r.unlocked = UnlockFlash(bus, kUnlockAddress, budget.unlockReads).ok;
    bus.Bank().Reset();
    r.marks = bus.marks;
    return r;
}

TEST(PollBudget, TheFlashersBudgetOutlastsTheDatasheetMaximumAndShorterOnesDoNot) {
    AtMaximum real = RunAtDatasheetMaximum(kFlasherPollBudget);
    EXPECT_EQ(real.erase, kFlashOk);
    EXPECT_EQ(real.write, kFlashOk);
    EXPECT_TRUE(real.unlocked);
    EXPECT_EQ(real.marks, "");

    // A flasher that waits the typical times (1 s, 218 us, 0.5 s) gives up on
    // a chip that is within its datasheet and repeats for ever.
    constexpr uint32_t kCycle = sim::FlashTiming{}.readCycleNanos;
    AtMaximum typical = RunAtDatasheetMaximum({1000000000 / kCycle, 218000 / kCycle, 500000000 / kCycle});
    EXPECT_EQ(typical.erase, kFlashEraseTimeout);
    EXPECT_EQ(typical.write, kFlashWriteTimeout);
    EXPECT_FALSE(typical.unlocked);
    EXPECT_EQ(typical.marks, "e");
}

TEST(PollBudget, AFlasherThatPollsAFewTimesFailsOnChipsThatTakeTheirTypicalTime) {
    // The chips run on the host's clock, slowed for the erases (a second of
    // their time is 100 ms) and at their own speed for the writes (218 us):
    // the hasty flasher's eight reads are over long before either ends, even
    // when the host stalls for a while between a command and its first poll.
    // At a hundredth, a write ended after 2.2 us, and a loaded host let it
    // end before the first poll.
    ModelBus bus;
    FlashRoutines hasty(bus, test::kRoutineArea, PollBudget{8, 8, 8});
    FlashRoutines careful(bus, test::kRoutineArea, kFlasherPollBudget);
    ASSERT_TRUE(hasty.Copy());
    {
        ScaleGuard scale(0.1);
        EXPECT_EQ(hasty.EraseRange(0xA0100000, 0x100), kFlashEraseTimeout);
        EXPECT_EQ(bus.marks, "e");
        EXPECT_EQ(hasty.LastStatus(), 0u);  // both chips still busy
        // The real budget waits the erase out.
        ASSERT_TRUE(careful.Copy());
        EXPECT_EQ(careful.EraseRange(0xA0100000, 0x100), kFlashOk);
    }
    ScaleGuard scale(1.0);
    EXPECT_EQ(hasty.BufferedWrite(0xA0100000, kSource, 16), kFlashWriteTimeout);
    {
        ScaleGuard erases(0.1);
        EXPECT_EQ(careful.EraseRange(0xA0100000, 0x100), kFlashOk);
    }
    EXPECT_EQ(careful.BufferedWrite(0xA0100000, kSource, 16), kFlashOk);
    EXPECT_TRUE(bus.Bank().InReadArray());
}

}  // namespace
}  // namespace nuva::reflash
