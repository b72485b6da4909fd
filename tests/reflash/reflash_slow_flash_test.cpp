// A whole update on the emulated handheld whose flash is slow now and then:
// erases and buffered writes that outlast the flasher's poll budget (beyond
// the datasheet maximum) and then complete. The flasher gives up on each,
// brings the chips back to read array (suspending the erase, waiting out the
// write) before it formats its message through the C runtime in flash, says
// so, repeats the range, and the handheld still comes back with the new ROM. The run is at scale 0, where a
// slow operation lasts a count of status reads, so that each outlasts the budget by the same reads on any
// host.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "handheld-sim/flash/flash_bank.h"
#include "handheld-sim/machine/handheld.h"
#include "platform/clock/clock.h"
#include "reflash/flash_routines.h"
#include "reflash/part_plan.h"
#include "screen_text.h"
#include "update_rig.h"

namespace nuva::reflash {
namespace {

using sim::FlashFault;
using sim::HandheldStatus;
using test::kContentFlashOffset;
using test::Rom;

constexpr auto kRunTimeout = std::chrono::seconds(120);

// The flash block that holds the final part's byte `offset` (the final part
// is the image's first, programmed at the start of the content).
int32_t FinalPartBlock(uint32_t offset) {
    return static_cast<int32_t>((kContentFlashOffset + offset) / sim::kFlashBlockBytes);
}

FlashFault Slow(FlashFault::Kind kind, int chip, int32_t block, uint32_t operations, uint32_t reads) {
    FlashFault fault;
    fault.kind = kind;
    fault.chip = chip;
    fault.blockFirst = block;
    fault.operations = operations;
    fault.busyReads = reads;
    return fault;
}

bool Shows(sim::Handheld& handheld, const std::string& text) {
    auto lines = test::TrimmedScreenLines(handheld.Screen());
    return std::find(lines.begin(), lines.end(), text) != lines.end();
}

class ReflashSlowFlash : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_FALSE(oldRom.file.empty());
        ASSERT_FALSE(newRom.file.empty());
        std::string detail;
        // A long boot keeps the flasher's last screen up after its restart.
        ASSERT_TRUE(rig.Start(oldRom, 40000, &detail)) << detail;
        plan = rig.Plan(newRom);
        ASSERT_EQ(plan.parts[0].FirstFlag, 1u);
        ASSERT_GE(plan.parts[0].PartLength, 3 * kMegabyte);
        ASSERT_TRUE(rig.LeaveForFlasher(newRom, plan));
    }

    // Runs the flasher at scale 0 until the screen says "Update complete";
    // its restart and the boot after it at the test's scale, so that the
    // long boot keeps the flasher's screen up. The boot generation of the
    // flasher's start, or 0 when the handheld did not restart.
    uint64_t RunFlasher() {
        const double testScale = TimeScale();
        SetTimeScale(0);
        struct Restore {
            double scale;
            ~Restore() { SetTimeScale(scale); }
        } restore{testScale};
        uint64_t run = rig.RestartWarm();
        sim::Handheld& handheld = rig.Device();
        const auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
        while (!Shows(handheld, "Update complete") && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        SetTimeScale(testScale);
        bool restarted = handheld.WaitForRestart(run, kRunTimeout);
        EXPECT_TRUE(restarted) << handheld.Status().crashedReason << " / "
                               << testing::PrintToString(test::TrimmedScreenLines(handheld.Screen()));
        return restarted ? run : 0;
    }

    std::vector<std::string> TakeNotes() {
        std::vector<std::string> notes;
        rig.Device().WithFlash([&](sim::FlashBank& bank) { notes = bank.TakeNotes(); });
        return notes;
    }

    // The handheld starts once more, cold, with the new ROM.
    void ExpectNewRom(uint64_t run) {
        HandheldStatus status = rig.WaitForStart(run, 1, kRunTimeout);
        EXPECT_EQ(status.crashedReason, "");
        EXPECT_EQ(status.brickedReason, "");
        EXPECT_TRUE(status.coldStart);
        EXPECT_EQ(rig.CheckRunsRom(newRom), "");
    }

    const Rom oldRom = test::MakeRom(imagegen::OsFamily::k2003, "01150300", "A01");
    const Rom newRom = test::MakeRom(imagegen::OsFamily::k2003, "04100300", "A03");
    test::UpdateRig rig{NUVA_REFLASH_EXE};
    UpdateHandoff plan;
};

TEST_F(ReflashSlowFlash, OperationsThatOutlastThePollBudgetAreRepeatedUntilTheFlashHoldsTheImage) {
    sim::Handheld& handheld = rig.Device();
    // Each slow operation takes a quarter of the flasher's budget more than
    // the budget: the flasher times out; its repeat resumes the suspended
    // erase, or finds the write that it waited out done.
    const uint32_t slowErase = kFlasherPollBudget.eraseReads + kFlasherPollBudget.eraseReads / 4;
    const uint32_t slowWrite = kFlasherPollBudget.programReads + kFlasherPollBudget.programReads / 4;
    // All in the final part, before "Update complete", so that every line
    // the flasher writes stays on the screen. Its steps go from the top half
    // megabyte down: megabyte 2's upper half (blocks at 2.5 and 2.75 MB),
    // its lower half (2 and 2.25 MB), megabyte 1's upper half (1.5 MB) ...
    handheld.WithFlash([&](sim::FlashBank& bank) {
        // Both chips erase the block at 2.75 MB slowly, twice.
        bank.InjectFault(Slow(FlashFault::Kind::kSlowErase, -1, FinalPartBlock(0x2C0000), 2, slowErase));
        // Chip 1 is slow with the first buffered write at 2 MB, twice.
        bank.InjectFault(Slow(FlashFault::Kind::kSlowProgram, 1, FinalPartBlock(0x200000), 2, slowWrite));
        // Chip 0 erases the block at 1.5 MB slowly, once.
        bank.InjectFault(Slow(FlashFault::Kind::kSlowErase, 0, FinalPartBlock(0x180000), 1, slowErase));
        // Megabyte 0's first erase, after "Update complete", takes half the
        // budget: time enough to bring the clock back before the restart.
        bank.InjectFault(Slow(FlashFault::Kind::kSlowErase, -1, FinalPartBlock(0x80000), 1,
                              kFlasherPollBudget.eraseReads / 2));
        bank.TakeNotes();
    });

    uint64_t run = RunFlasher();
    ASSERT_NE(run, 0u);

    // A timed-out erase leaves its mark 'e'; the status shown is the last one
    // polled: the ready bit of the chip that had finished, none of the one
    // still busy, no error bits.
    std::vector<std::string> expected = {"v2.0 A00 (06230300).", "   ->Pocket PC 2003(A03).."};
    for (uint32_t i = 1; i < plan.Items; ++i) {
        expected.push_back("... " + std::to_string(i) + "/" + std::to_string(plan.Items) + " ...");
    }
    expected.push_back("... " + std::to_string(plan.Items) + "/" + std::to_string(plan.Items) + " ...");
    expected.push_back("eRetry again ..E:0x00000000");
    expected.push_back("eRetry again ..E:0x00000000");
    expected.push_back("Retry again ..E:0x00000080");
    expected.push_back("Retry again ..E:0x00000080");
    expected.push_back("eRetry again ..E:0x00800000");
    expected.push_back("Update complete");
    ASSERT_EQ(expected.size(), 21u);  // the whole screen, nothing scrolled away
    EXPECT_EQ(test::TrimmedScreenLines(handheld.Screen()), expected);

    // No command met a busy chip: the suspends, resumes and read arrays
    // after each timeout were all taken.
    std::vector<std::string> notes = TakeNotes();
    EXPECT_TRUE(notes.empty()) << testing::PrintToString(notes);
    ExpectNewRom(run);
}

TEST_F(ReflashSlowFlash, AnEraseThatOutlastsTheBudgetInAnOrdinaryPartLeavesTheFlashReadableForTheSystem) {
    // After the retry of an ordinary part the flasher goes on through the
    // system: it formats its texts, reads the next part's file, deletes the
    // parts it is done with. Both chips erase the part's second block slowly.
    const ImagePart& part = plan.parts[1];
    ASSERT_EQ(part.FirstFlag, 0u);
    const auto block = static_cast<int32_t>(
        ((part.FlashAddress | kUncachedWindow) - kFlashBase) / sim::kFlashBlockBytes + 1);
    rig.Device().WithFlash([&](sim::FlashBank& bank) {
        bank.InjectFault(Slow(FlashFault::Kind::kSlowErase, -1, block, 1,
                              kFlasherPollBudget.eraseReads + kFlasherPollBudget.eraseReads / 2));
        bank.TakeNotes();
    });
    uint64_t run = RunFlasher();
    ASSERT_NE(run, 0u);
    // One retry, announced at the end of its part's line (which wraps).
    auto lines = test::TrimmedScreenLines(rig.Device().Screen());
    std::string screen;
    for (const auto& line : lines) {
        screen += line;
    }
    const std::string retry = " ...eRetry again ..E:0x00000000";
    EXPECT_NE(screen.find(retry), std::string::npos) << testing::PrintToString(lines);
    EXPECT_EQ(screen.find("Retry"), screen.rfind("Retry")) << testing::PrintToString(lines);
    std::vector<std::string> notes = TakeNotes();
    EXPECT_TRUE(notes.empty()) << testing::PrintToString(notes);
    ExpectNewRom(run);
}

}  // namespace
}  // namespace nuva::reflash
