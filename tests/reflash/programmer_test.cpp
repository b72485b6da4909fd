// The programming sequence against the model handheld: what ends up in
// flash, in what order, what the screen says, and how the run ends.
#include "reflash/programmer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "formats/result_codes.h"
#include "model_handheld.h"

namespace nuva::reflash {
namespace {

using sim::FlashFault;

constexpr uint32_t kMb = kMegabyte;
constexpr uint32_t kPoll = 2000;
constexpr uint32_t kImage = 0xA0040000;

class ProgrammerTest : public ::testing::Test {
  protected:
    ProgrammerTest() : bus(16u << 20), system(bus) {
        handoff.UI = 0xBE042000;
        handoff.absoluate = test::kReservedBlock;
        handoff.FRsvd = test::kRoutineArea;
        handoff.SpareBufferFlag = 1;
        std::strcpy(handoff.ROMNAME.data(), "2003(TEST)");
        // What was in flash before: anything but the new parts.
        auto cells = bus.Bank().MutableCells();
        std::fill(cells.begin(), cells.end(), 0x5A);
        bus.SetRamWord(test::kReservedBlock + 0x690, 0x11111111);
        bus.SetRamWord(test::kReservedBlock + 0x70C, 0x22222222);
        screen.bank = &bus.Bank();
    }

    void TearDown() override {
        EXPECT_TRUE(bus.faults.empty()) << bus.faults.front();
        EXPECT_TRUE(system.violations.empty()) << system.violations.front();
        EXPECT_TRUE(screen.busyTexts.empty()) << screen.busyTexts.front();
    }

    // Adds a record in programming order; returns its data.
    const std::vector<uint8_t>& AddPart(uint32_t index, uint32_t bytes, uint32_t flashAddress,
                                        bool final = false, uint32_t late = 0) {
        ImagePart& part = handoff.records[handoff.Items++];
        SetPartName(part.PartName, index);
        part.FlashAddress = flashAddress;
        part.FirstFlag = final ? 1 : 0;
        part.LateFlag = late;
        auto& data = system.files[part.PartName.data()];
        data = test::PartBytes(bytes, index + 1);
        expected.push_back({flashAddress, data});
        return data;
    }

    SequenceEnd Run() {
        Programmer programmer(handoff, system, screen, bus, SequenceLimits{kPoll, kPoll, kPoll});
        return programmer.Run();
    }

    bool FlashHolds(uint32_t flashAddress, const std::vector<uint8_t>& data) {
        auto cells = bus.Bank().Cells();
        return std::equal(data.begin(), data.end(),
                          cells.begin() + ((flashAddress | 0x20000000) - 0xA0000000));
    }
    bool FlashHoldsAllParts() {
        return std::all_of(expected.begin(), expected.end(),
                           [this](const auto& e) { return FlashHolds(e.first, e.second); });
    }
    size_t Count(std::string_view what) const {
        size_t n = 0;
        for (size_t at = screen.text.find(what); at != std::string::npos;
             at = screen.text.find(what, at + 1)) {
            ++n;
        }
        return n;
    }

    test::ModelBus bus;
    test::ModelSystem system;
    test::RecordingScreen screen;
    HandoffFile handoff;
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> expected;
};

TEST_F(ProgrammerTest, AnUpdateProgramsEveryPartWithItsTextsAndEndsInACleanRestart) {
    AddPart(2, 2 * kMb, kImage + 0x500000);
    AddPart(1, 2 * kMb, kImage + 0x300000);
    AddPart(0, 3 * kMb, kImage, true);

    EXPECT_EQ(Run(), SequenceEnd::kRestarted);
    EXPECT_TRUE(FlashHoldsAllParts());
    EXPECT_EQ(screen.text,
              "<home><clear>v2.0 A00 (06230300).\n   ->Pocket PC 2003(TEST)..\n"
              "... 1/3 ...\n... 2/3 ...\n... 3/3 ...\nUpdate complete");
    EXPECT_EQ(screen.statusText, "..\nUpdate complete");
    EXPECT_TRUE(system.interruptsMasked);
    EXPECT_TRUE(bus.Bank().InReadArray());
    // Pulled by the last ProgramRange and once more after it returned.
    EXPECT_EQ(bus.restarts, 2);
    // The final part made the next start cold.
    EXPECT_EQ(bus.RamWord(test::kReservedBlock + 0x690), 0u);
    EXPECT_EQ(bus.RamWord(test::kReservedBlock + 0x70C), 0u);
    // The spare block became buffer 2 after the first 2 MB part: the 3 MB
    // final part needed no further heap block.
    EXPECT_EQ(system.heapAllocations, 2u);
    // The platform registers were set up before anything else.
    ASSERT_GE(bus.registerWrites.size(), 5u);
    EXPECT_EQ(bus.registerWrites[0].address, 0xA8100008u);
    EXPECT_EQ(bus.registerWrites[0].value, 0x7FF27FF2u);
    EXPECT_EQ(bus.registerWrites[1].address, 0xA8100010u);
    EXPECT_EQ(bus.registerWrites[1].value, 0x7FFC7FF9u);
    EXPECT_EQ(bus.registerWrites[2].address, 0xA8100004u);
    EXPECT_EQ(bus.registerWrites[3].address, 0xBE040100u);
    EXPECT_EQ(bus.registerWrites[4].address, 0xA8F00004u);
    // Parts are read in pieces of 32 KB.
    EXPECT_EQ(*std::max_element(system.readSizes.begin(), system.readSizes.end()), kReadPieceBytes);
}

TEST_F(ProgrammerTest, AFinalPartOfTwoAndAHalfMegabytesIsProgrammedTopDownWithTheTextBeforeMegabyteZero) {
    const auto& data = AddPart(0, 2 * kMb + kMb / 2, kImage, true);
    std::vector<std::string> events;
    bus.events = &events;
    screen.events = &events;

    EXPECT_EQ(Run(), SequenceEnd::kRestarted);
    EXPECT_TRUE(FlashHolds(kImage, data));
    // The part ends on a block boundary: the flash after it is left alone.
    EXPECT_EQ(bus.Bank().Cells()[0x40000 + data.size()], 0x5A);

    std::vector<std::string> order;
    bool started = false;
    for (const auto& e : events) {
        started = started || e == "\n";  // after the status line that says the part is in memory
        if (started && (e.starts_with("erase") || e == "restart" || e == "Update complete")) {
            order.push_back(e);
        }
    }
    EXPECT_EQ(order, (std::vector<std::string>{
                         "erase 0x00240000", "erase 0x00280000",  // megabyte 2, lower half (its only data)
                         "erase 0x001C0000", "erase 0x00200000",  // megabyte 1, upper half
                         "erase 0x00140000", "erase 0x00180000",  // megabyte 1, lower half
                         "Update complete", "erase 0x000C0000", "erase 0x00100000",  // megabyte 0, upper half
                         "erase 0x00040000", "erase 0x00080000",                     // megabyte 0, lower half
                         "restart", "restart"}));
    // Three buffers: the spare and two more heap blocks.
    EXPECT_EQ(screen.text.find("+/+/"), screen.text.find("... 1/1 .") + 9);
    EXPECT_EQ(system.heapAllocations, 3u);
}

TEST_F(ProgrammerTest, OperationsThatTimeOutOrReportErrorsAreRepeatedUntilTheyHold) {
    AddPart(1, 2 * kMb, kImage + 0x300000);
    AddPart(0, 3 * kMb, kImage, true);
    // Two erases slower than the poll budget in part 1's second megabyte,
    // and chip 1 slow with a buffered write of the final part's megabyte 0.
    FlashFault slow;
    slow.kind = FlashFault::Kind::kSlowErase;
    slow.blockFirst = (0x300000 + 0x40000 + kMb) / kEraseBlockBytes;
    slow.operations = 2;
    slow.busyReads = kPoll + kPoll / 4;
    bus.Bank().InjectFault(slow);
    slow.kind = FlashFault::Kind::kSlowProgram;
    slow.chip = 1;
    slow.blockFirst = 0x40000 / kEraseBlockBytes;
    slow.operations = 1;
    bus.Bank().InjectFault(slow);
    // Chip 0 reports a program error twice in megabyte 2 of the final part.
    FlashFault error;
    error.kind = FlashFault::Kind::kProgramError;
    error.chip = 0;
    error.blockFirst = (0x40000 + 2 * kMb) / kEraseBlockBytes;
    error.operations = 2;
    bus.Bank().InjectFault(error);

    EXPECT_EQ(Run(), SequenceEnd::kRestarted);
    EXPECT_TRUE(FlashHoldsAllParts());
    EXPECT_EQ(Count("Retry again ..E:0x00000000\n"), 2u);  // the slow erases: both chips busy
    EXPECT_EQ(Count("Retry again ..E:0x00000080\n"), 1u);  // the slow write: chip 1 busy
    EXPECT_EQ(Count("Retry again ..E:0x00800090\n"), 2u);  // chip 0 ready with SR.4
    EXPECT_EQ(Count("Retry again"), 5u);
    EXPECT_EQ(bus.marks, "ee");  // the slow erases
    // Each retry was announced with the chips reading array again, and no
    // command was lost on a busy chip.
    EXPECT_TRUE(bus.Bank().TakeNotes().empty());
}

TEST_F(ProgrammerTest, TheFirstRecordIsOptionalAndLaterFailuresStopTheRun) {
    AddPart(3, kMb, kImage + 0x700000);
    system.files.erase(handoff.records[0].PartName.data());  // missing: skipped quietly
    AddPart(2, kMb, kImage + 0x500000, false, 1);
    AddPart(1, kMb, kImage + 0x300000, false, 2);
    AddPart(0, kMb, kImage, true);
    system.failReadAt = 32;  // the first read of the third record's file

    EXPECT_EQ(Run(), SequenceEnd::kPartFailed);
    EXPECT_TRUE(FlashHolds(expected[1].first, expected[1].second));
    EXPECT_EQ(screen.text.substr(screen.text.find("... 1/4")),
              "... 1/4 .... 2/4 ...\n... 3/4 ..Read file failed(0) , 00000000 ,00008000 ,00000000 \n"
              "Read file failed\n\nFAILED IN UPDATING SYSTEM IMAGE!\n \nPlease restart the utility again\n ");
    EXPECT_EQ(screen.statusText,
              "\nFAILED IN UPDATING SYSTEM IMAGE!\n \nPlease restart the utility again\n ");
    // LateFlag 1 deleted record 2's file once it was programmed.
    EXPECT_EQ(system.deleted, std::vector<std::u16string>{u"\\TEMP\\2"});
    EXPECT_EQ(bus.restarts, 0);
    // The old system is left able to start warm: the final part was never reached.
    EXPECT_EQ(bus.RamWord(test::kReservedBlock + 0x690), 0x11111111u);
}

TEST_F(ProgrammerTest, AFailedFirstRecordDoesNotStopTheRun) {
    AddPart(1, kMb, kImage + 0x300000);
    AddPart(0, kMb, kImage, true, 1);
    system.failReadAt = 3;
    EXPECT_EQ(Run(), SequenceEnd::kRestarted);
    EXPECT_TRUE(FlashHolds(expected[1].first, expected[1].second));
    EXPECT_EQ(Count("FAILED"), 0u);
    EXPECT_EQ(Count("Read file failed\n"), 1u);
    // The final part is never deleted: LateFlag counts only for ProgramPart.
    EXPECT_TRUE(system.deleted.empty());
}

TEST_F(ProgrammerTest, NoMemoryForABufferRestartsTheHandheld) {
    handoff.SpareBufferFlag = 0;
    system.heapLimit = 1;
    AddPart(2, 2 * kMb, kImage + 0x300000);
    AddPart(0, 3 * kMb, kImage, true);
    EXPECT_EQ(Run(), SequenceEnd::kRestarted);
    EXPECT_EQ(bus.restarts, 1);
    EXPECT_NE(screen.text.find("v2.0 A00 (06230300)\n"), std::string::npos);  // no spare, no dot
    EXPECT_NE(screen.text.find("... 2/2 .+Allocate memory faile failed 2\n"), std::string::npos);
    EXPECT_TRUE(FlashHolds(expected[0].first, expected[0].second));
    EXPECT_EQ(bus.RamWord(test::kReservedBlock + 0x690), 0x11111111u);
}

TEST_F(ProgrammerTest, NoMemoryInAnOrdinaryPartRestartsToo) {
    system.heapLimit = 1;  // the spare only
    AddPart(2, 3 * kMb, kImage + 0x300000);
    EXPECT_EQ(Run(), SequenceEnd::kRestarted);
    EXPECT_NE(screen.text.find("... 1/1 .Allocate memory failed 1\n"), std::string::npos);
    EXPECT_EQ(bus.restarts, 1);
}

TEST_F(ProgrammerTest, NoSpareBlockRestartsBeforeAnythingIsErased) {
    system.heapLimit = 0;
    std::vector<std::string> events;
    bus.events = &events;
    AddPart(0, kMb, kImage, true);
    EXPECT_EQ(Run(), SequenceEnd::kRestarted);
    EXPECT_EQ(events, std::vector<std::string>{"restart"});
}

TEST_F(ProgrammerTest, NoContiguousBufferRestartsAfterTheHeader) {
    system.contiguousAvailable = false;
    AddPart(0, kMb, kImage, true);
    EXPECT_EQ(Run(), SequenceEnd::kRestarted);
    EXPECT_EQ(bus.restarts, 1);
    EXPECT_EQ(Count("... 1/1"), 0u);
}

TEST_F(ProgrammerTest, TheBuiltInStorageIsErasedInTwoMegabytePiecesWhenAsked) {
    handoff.PSMStart = 0xA0800000;
    handoff.PSMLength = 5 * kMb;
    EXPECT_EQ(Run(), SequenceEnd::kListDone);
    EXPECT_EQ(screen.text,
              "<home><clear>v2.0 A00 (06230300).\n   ->Pocket PC 2003(TEST)..\nPSM Erase: ...\n");
    auto cells = bus.Bank().Cells();
    EXPECT_TRUE(
        std::all_of(cells.begin() + 0x800000, cells.begin() + 0xD00000, [](uint8_t b) { return b == 0xFF; }));
    EXPECT_EQ(cells[0x7FFFFF], 0x5A);
    EXPECT_EQ(cells[0xD00000], 0x5A);
    EXPECT_EQ(bus.restarts, 0);
}

TEST_F(ProgrammerTest, ABuiltInStorageBlockThatDoesNotEraseIsNeitherRepeatedNorReported) {
    handoff.PSMStart = 0xA0800000;
    handoff.PSMLength = 4 * kMb;
    FlashFault error;
    error.kind = FlashFault::Kind::kEraseError;
    error.blockFirst = 0x800000 / kEraseBlockBytes + 1;
    error.operations = 1;
    bus.Bank().InjectFault(error);
    AddPart(0, kMb, kImage, true);
    EXPECT_EQ(Run(), SequenceEnd::kRestarted);
    EXPECT_NE(screen.text.find("PSM Erase: ..\n... 1/1 ."), std::string::npos) << screen.text;
    EXPECT_EQ(bus.marks, "e");
    EXPECT_EQ(Count("Retry again"), 0u);
    // The rest of that 2 MB piece was skipped; the next piece was erased.
    auto cells = bus.Bank().Cells();
    EXPECT_EQ(cells[0x840000], 0x5A);
    EXPECT_EQ(cells[0x880000], 0x5A);
    EXPECT_EQ(cells[0xA00000], 0xFF);
    EXPECT_TRUE(FlashHoldsAllParts());
}

TEST_F(ProgrammerTest, WithoutItemsOnlyTheHeaderIsShown) {
    handoff.PSMStart = 0xA0800000;  // no length: no erase
    std::vector<std::string> events;
    bus.events = &events;
    EXPECT_EQ(Run(), SequenceEnd::kListDone);
    EXPECT_EQ(screen.text, "<home><clear>v2.0 A00 (06230300).\n   ->Pocket PC 2003(TEST)..\n");
    EXPECT_TRUE(events.empty());
}

TEST_F(ProgrammerTest, LockedFlashIsUnlockedAndFlashThatCannotBeUnlockedStopsTheRun) {
    bus.Bank().SetBlockLocked(1, true);
    bus.Bank().SetBlockLocked(2, true);
    AddPart(0, kMb, kImage, true);
    EXPECT_EQ(Run(), SequenceEnd::kRestarted);
    EXPECT_TRUE(FlashHoldsAllParts());

    // Lock bits that take longer to clear than the budget: the failure is
    // shown once the chips read array again.
    test::RecordingScreen second;
    second.bank = &bus.Bank();
    bus.Bank().SetBlockLocked(1, true);
    FlashFault slow;
    slow.kind = FlashFault::Kind::kSlowLock;
    slow.blockFirst = 1;
    slow.busyReads = 3 * kPoll;
    bus.Bank().InjectFault(slow);
    Programmer programmer(handoff, system, second, bus, SequenceLimits{kPoll, kPoll, kPoll});
    EXPECT_EQ(programmer.Run(), SequenceEnd::kUnlockFailed);
    EXPECT_EQ(second.text, "Flash unlock failed ..\n");
    EXPECT_TRUE(second.busyTexts.empty());
    EXPECT_TRUE(bus.Bank().InReadArray());
}

TEST_F(ProgrammerTest, RoutinesThatCannotBeCopiedOrAreDamagedStopWithoutRetrying) {
    handoff.FRsvd = 0x88000000;  // nothing backs it in the model
    AddPart(0, kMb, kImage, true);
    EXPECT_EQ(Run(), SequenceEnd::kRoutinesNotCopied);
    EXPECT_FALSE(system.interruptsMasked);
    bus.faults.clear();

    handoff.FRsvd = test::kRoutineArea;
    AddPart(1, kMb, kImage + 0x300000);
    Programmer programmer(handoff, system, screen, bus, SequenceLimits{kPoll, kPoll, kPoll});
    ASSERT_TRUE(programmer.CopyRoutines());
    ASSERT_TRUE(programmer.AllocateBufferZero());
    bus.SetRamWord(test::kRoutineArea, 0xDEADBEEF);
    EXPECT_EQ(programmer.ProgramPart(handoff.records[1]), kPartFailed);
    EXPECT_EQ(Count("Retry again"), 0u);
    EXPECT_EQ(bus.Bank().Cells()[0x340000], 0x5A);
}

TEST_F(ProgrammerTest, OneMegabyteNeedsOnlyBufferZero) {
    handoff.SpareBufferFlag = 0;
    AddPart(1, kMb, kImage + 0x300000);
    Programmer programmer(handoff, system, screen, bus, SequenceLimits{kPoll, kPoll, kPoll});
    ASSERT_TRUE(programmer.CopyRoutines());
    ASSERT_TRUE(programmer.AllocateBufferZero());
    EXPECT_EQ(programmer.ProgramPart(handoff.records[0]), kPartOk);
    EXPECT_EQ(programmer.BuffersInUse(), 1u);
    EXPECT_EQ(system.heapAllocations, 0u);
    EXPECT_TRUE(FlashHoldsAllParts());
    // A part that is not a whole number of 64-byte pieces.
    AddPart(2, 1000, kImage + 0x500000);
    EXPECT_EQ(programmer.ProgramPart(handoff.records[1]), kPartOk);
    EXPECT_TRUE(FlashHoldsAllParts());
}

}  // namespace
}  // namespace nuva::reflash
