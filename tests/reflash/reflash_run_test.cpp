// Whole runs of Reflash.exe on the emulated handheld: the files an update
// or a restore leaves behind, a warm restart, and what the handheld then
// shows and reports.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "formats/byte_sum.h"
#include "formats/update_handoff.h"
#include "handheld-sim/flash/flash_bank.h"
#include "handheld-sim/machine/handheld.h"
#include "reflash/contiguous_buffer.h"
#include "screen_text.h"
#include "update_rig.h"

namespace nuva::reflash {
namespace {

using namespace std::chrono_literals;
using sim::HandheldStatus;
using sim::StartupRecord;
using test::kContentFlashOffset;
using test::Rom;

constexpr auto kRunTimeout = std::chrono::seconds(60);
const std::u16string kFlasher(test::kFlasherPath);

const Rom& Old2003() {
    static const Rom rom = test::MakeRom(imagegen::OsFamily::k2003, "01150300", "A01");
    return rom;
}
const Rom& New2003() {
    static const Rom rom = test::MakeRom(imagegen::OsFamily::k2003, "04100300", "A03");
    return rom;
}
const Rom& Old2002() {
    static const Rom rom = test::MakeRom(imagegen::OsFamily::k2002, "11200200", "B07");
    return rom;
}

class ReflashRun : public ::testing::Test {
  protected:
    void TearDown() override {
        if (rig.Started()) {
            HandheldStatus status = rig.Device().Status();
            EXPECT_EQ(status.crashedReason, "");
            EXPECT_EQ(status.brickedReason, "");
        }
    }

    void StartHandheld(const Rom& rom, uint32_t bootMs = 3000) {
        ASSERT_FALSE(rom.file.empty());
        std::string detail;
        ASSERT_TRUE(rig.Start(rom, bootMs, &detail)) << detail;
        handheld = &rig.Device();
    }
    UpdateHandoff Plan(const Rom& rom, PlanMode mode = PlanMode::kUpdate) { return rig.Plan(rom, mode); }
    void LeaveForFlasher(const Rom& rom, const UpdateHandoff& plan) {
        ASSERT_TRUE(rig.LeaveForFlasher(rom, plan));
    }
    void LeaveFlasher() { ASSERT_TRUE(rig.LeaveFlasher()); }
    void PutFile(const std::u16string& path, std::span<const uint8_t> bytes) {
        ASSERT_TRUE(rig.PutFile(path, bytes));
    }
    void DeleteFile(const std::u16string& path) { ASSERT_TRUE(rig.DeleteFile(path)); }
    bool HasFile(const std::u16string& path) { return rig.HasFile(path); }
    static std::u16string PartPath(const ImagePart& part) { return part.PartName.data(); }

    uint64_t RestartWarm() { return rig.RestartWarm(); }
    HandheldStatus WaitUntil(const std::function<bool(const HandheldStatus&)>& done) {
        return rig.WaitUntil(done, kRunTimeout);
    }
    HandheldStatus WaitForStart(uint64_t generation, uint64_t starts = 1) {
        return rig.WaitForStart(generation, starts, kRunTimeout);
    }
    // Waits until the screen shows `text` on `line`; false on timeout.
    bool WaitForScreenLine(int line, const std::string& text) {
        auto deadline = std::chrono::steady_clock::now() + kRunTimeout;
        while (std::chrono::steady_clock::now() < deadline) {
            if (test::TrimmedScreenLines(handheld->Screen()).at(line) == text) {
                return true;
            }
            std::this_thread::sleep_for(2ms);
        }
        return false;
    }
    void ExpectRunsRom(const Rom& rom) { EXPECT_EQ(rig.CheckRunsRom(rom), ""); }
    static const StartupRecord* FlasherRecord(const HandheldStatus& status) {
        return test::UpdateRig::FlasherRecord(status);
    }

    test::UpdateRig rig{NUVA_REFLASH_EXE};
    sim::Handheld* handheld = nullptr;
};

std::string Joined(const std::vector<std::string>& lines) {
    std::string all;
    for (const auto& line : lines) {
        all += line;
    }
    return all;
}

TEST_F(ReflashRun, AnUpdateOfTheSameGenerationKeepsTheBuiltInStorage) {
    // A long boot keeps the flasher's last screen up after its restart.
    StartHandheld(Old2003(), 40000);
    const std::vector<uint8_t> note = {'k', 'e', 'p', 't'};
    ASSERT_EQ(handheld->PutPsmFile(u"note.txt", note), sim::PsmError::kNone);
    UpdateHandoff plan = Plan(New2003());
    ASSERT_EQ(plan.PSMStart, 0u);
    LeaveForFlasher(New2003(), plan);

    uint64_t run = RestartWarm();
    ASSERT_TRUE(WaitUntil([](const HandheldStatus& s) { return s.started; }).started);
    EXPECT_TRUE(WaitForScreenLine(9, "          updating..."));
    ASSERT_TRUE(handheld->WaitForRestart(run, kRunTimeout));

    // The screen as the flasher left it.
    auto lines = test::TrimmedScreenLines(handheld->Screen());
    std::vector<std::string> expected = {"v2.0 A00 (06230300).", "   ->Pocket PC 2003(A03).."};
    for (int i = 1; i <= 12; ++i) {
        expected.push_back("... " + std::to_string(i) + "/13 ...");
    }
    expected.push_back("... 13/13 ...");
    expected.push_back("Update complete");
    expected.resize(21);
    EXPECT_EQ(lines, expected);
    std::string picture = std::string(NUVA_TEST_ARTEFACTS) + "/reflash_update_complete.png";
    std::string detail;
    EXPECT_TRUE(handheld->SaveScreenshot(picture, &detail)) << detail;

    HandheldStatus status = WaitForStart(run);
    EXPECT_TRUE(status.coldStart);
    ExpectRunsRom(New2003());
    std::vector<uint8_t> kept;
    EXPECT_EQ(handheld->GetPsmFile(u"note.txt", kept), sim::PsmError::kNone);
    EXPECT_EQ(kept, note);
    // Back to the factory start-up folder: the flasher does not run again.
    EXPECT_EQ(FlasherRecord(status), nullptr);
    EXPECT_TRUE(status.linkAvailable || !status.plugged);
}

TEST_F(ReflashRun, AnUpdateAcrossGenerationsErasesTheBuiltInStorage) {
    StartHandheld(Old2002(), 40000);
    ASSERT_EQ(handheld->PutPsmFile(u"note.txt", std::vector<uint8_t>{1, 2, 3}), sim::PsmError::kNone);
    UpdateHandoff plan = Plan(New2003());
    ASSERT_NE(plan.PSMLength, 0u);
    LeaveForFlasher(New2003(), plan);

    uint64_t run = RestartWarm();
    ASSERT_TRUE(handheld->WaitForRestart(run, kRunTimeout));
    auto lines = test::TrimmedScreenLines(handheld->Screen());
    EXPECT_EQ(lines.at(2), "PSM Erase: ...........");  // 22 MB in 2 MB pieces

    WaitForStart(run);
    ExpectRunsRom(New2003());
    std::vector<sim::PsmFile> files;
    handheld->ListPsmFiles(files);
    EXPECT_TRUE(files.empty());
}

TEST_F(ReflashRun, ARestoreShowsItsOwnTexts) {
    StartHandheld(New2003(), 40000);
    LeaveForFlasher(Old2003(), Plan(Old2003(), PlanMode::kRestore));

    uint64_t run = RestartWarm();
    EXPECT_TRUE(WaitForScreenLine(9, "  Restoring saved ROM image"));
    ASSERT_TRUE(handheld->WaitForRestart(run, kRunTimeout));
    auto lines = test::TrimmedScreenLines(handheld->Screen());
    EXPECT_EQ(lines.at(15), "Restore complete");
    WaitForStart(run);
    ExpectRunsRom(Old2003());
}

TEST_F(ReflashRun, AHandOverWithoutItemsProgramsNothingAndDoesNotRestart) {
    StartHandheld(Old2003());
    UpdateHandoff plan = Plan(New2003());
    plan.Items = 0;
    LeaveForFlasher(New2003(), plan);

    uint64_t run = RestartWarm();
    HandheldStatus status = WaitUntil([](const HandheldStatus& s) {
        const StartupRecord* flasher = FlasherRecord(s);
        return flasher != nullptr && flasher->outcome != StartupRecord::Outcome::kRunning;
    });
    const StartupRecord* flasher = FlasherRecord(status);
    ASSERT_NE(flasher, nullptr);
    StartupRecord record = *flasher;
    EXPECT_EQ(record.outcome, StartupRecord::Outcome::kReturned);
    EXPECT_EQ(record.exitCode, 0);
    EXPECT_EQ(status.bootGeneration, run);
    EXPECT_TRUE(status.interruptsMasked);
    auto lines = test::TrimmedScreenLines(handheld->Screen());
    EXPECT_EQ(lines.at(0), "v2.0 A00 (06230300).");
    EXPECT_EQ(lines.at(1), "   ->Pocket PC 2003(A03)..");
    EXPECT_EQ(lines.at(2), "");
    EXPECT_EQ(status.rom.dateCode, Old2003().dateCode);

    // What the flasher did to the platform on the way.
    EXPECT_EQ(status.threadPriority, THREAD_PRIORITY_TIME_CRITICAL);
    EXPECT_EQ(status.ceThreadPriority, 0);
    EXPECT_EQ(status.platformCommands, std::vector<uint32_t>{2});
    EXPECT_EQ(handheld->ReadRamWord(0xA7FCE000 + 0x324), 0u);
    EXPECT_EQ(handheld->ReadRamWord(0xA7FCE000 + 0x40C), 0u);
    std::vector<std::pair<uint32_t, uint32_t>> writes;
    for (const auto& write : handheld->RegisterWrites()) {
        EXPECT_EQ(write.width, 4);
        writes.emplace_back(write.address, write.value);
    }
    ASSERT_EQ(writes.size(), 20u);
    std::vector<uint32_t> order;
    for (const auto& w : writes) {
        order.push_back(w.first);
    }
    EXPECT_EQ(order, (std::vector<uint32_t>{0xA9000030, 0xA900003C, 0xA9000030, 0xA900003C, 0xA9000030,
                                            0xA900003C, 0xA9000018, 0xA9000028, 0xA9000024, 0xBE040320,
                                            0xBE04000C, 0xA9500004, 0xA9000028, 0xA900001C, 0xA9000010,
                                            0xA8100008, 0xA8100010, 0xA8100004, 0xBE040100, 0xA8F00004}));
    EXPECT_EQ(writes[6].second, 0x00400000u);
    EXPECT_EQ(writes[7].second, 0x00000380u);
    EXPECT_EQ(writes[8].second, 0x00080000u);
    EXPECT_EQ(writes[10].second, 0u);
    EXPECT_EQ(writes[11].second, 0u);
    EXPECT_EQ(writes[12].second & (1u << 28), 0u);
    EXPECT_NE(writes[13].second & (1u << 28), 0u);
    EXPECT_NE(writes[14].second & (1u << 28), 0u);
    EXPECT_EQ(writes[15].second, 0x7FF27FF2u);
    EXPECT_EQ(writes[16].second, 0x7FFC7FF9u);
    EXPECT_EQ(writes[17].second & (1u << 20), 0u);
    EXPECT_EQ(handheld->RegisterValue(0xA9000030).value_or(1) & 0x34u, 0u);
    EXPECT_EQ(handheld->RegisterValue(0xA900003C).value_or(1) & 0x34u, 0u);
}

TEST_F(ReflashRun, AMissingFileOfTheFirstRecordIsSkipped) {
    StartHandheld(Old2003());
    UpdateHandoff plan = Plan(New2003());
    LeaveForFlasher(New2003(), plan);
    const ImagePart& last = plan.parts[plan.Items - 1];
    ASSERT_EQ(last.Slot, 0u);
    DeleteFile(PartPath(last));

    uint64_t run = RestartWarm();
    // While the flasher waits, the last part's flash comes to hold that
    // part's bytes, as after an earlier run that programmed it and deleted
    // its file (before the restart the old system must still add up).
    ASSERT_TRUE(WaitForScreenLine(9, "          updating..."));
    handheld->WithFlash([&](sim::FlashBank& bank) {
        std::copy_n(New2003().Contents() + last.ImageOffset, last.PartLength,
                    bank.MutableCells().begin() + kContentFlashOffset + last.ImageOffset);
    });
    WaitForStart(run);
    ExpectRunsRom(New2003());
}

TEST_F(ReflashRun, ACorruptedPartIsReportedAndTheOldSystemStartsCold) {
    StartHandheld(Old2003());
    UpdateHandoff plan = Plan(New2003());
    LeaveForFlasher(New2003(), plan);
    std::vector<uint8_t> damaged = rig.FileBytes(u"\\TEMP\\5");
    damaged[1000] ^= 0x20;
    PutFile(u"\\TEMP\\5", damaged);

    uint64_t run = RestartWarm();
    ASSERT_TRUE(handheld->WaitForMessageBox(kRunTimeout));
    auto box = handheld->MessageBox();
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->caption, u"\\TEMP\\5");
    EXPECT_EQ(box->text, u"CheckSum() Fail ..\nPlease Cold Reset");
    EXPECT_TRUE(handheld->PressOk());

    HandheldStatus status = WaitForStart(run);
    EXPECT_TRUE(status.coldStart);
    ExpectRunsRom(Old2003());
    EXPECT_FALSE(HasFile(kFlasher));
    EXPECT_TRUE(HasFile(u"\\Windows\\StartUp\\Welcome.lnk"));
}

TEST_F(ReflashRun, AMissingPartIsReportedOnTheScreenTooAndTheOldSystemStartsCold) {
    StartHandheld(Old2003(), 40000);
    LeaveForFlasher(New2003(), Plan(New2003()));
    DeleteFile(u"\\TEMP\\3");

    uint64_t run = RestartWarm();
    ASSERT_TRUE(handheld->WaitForMessageBox(kRunTimeout));
    EXPECT_EQ(handheld->MessageBox()->caption, u"\\TEMP\\3");
    EXPECT_EQ(handheld->MessageBox()->text, u"CreateFile() Fail ..\nPlease Cold Reset");
    EXPECT_TRUE(handheld->PressOk());
    ASSERT_TRUE(handheld->WaitForRestart(run, kRunTimeout));
    // Written over the home screen's title band: the band's cells past the
    // text hold no glyph.
    EXPECT_EQ(test::ScreenLines(handheld->Screen()).at(0), "create file failed" + std::string(12, '?'));
    HandheldStatus status = WaitForStart(run);
    EXPECT_TRUE(status.coldStart);
    ExpectRunsRom(Old2003());
}

TEST_F(ReflashRun, ErrorBitsOfOneChipAreRepeatedUntilTheFlashHoldsTheImage) {
    StartHandheld(Old2003(), 40000);
    LeaveForFlasher(New2003(), Plan(New2003()));
    // Chip 1 refuses two buffered writes in the final part's megabyte 2 (the
    // first it programs), chip 0 one erase in its megabyte 0.
    handheld->WithFlash([](sim::FlashBank& bank) {
        sim::FlashFault program;
        program.kind = sim::FlashFault::Kind::kProgramError;
        program.chip = 1;
        program.blockFirst = (kContentFlashOffset + 0x280000) / sim::kFlashBlockBytes;
        program.operations = 2;
        bank.InjectFault(program);
        sim::FlashFault erase;
        erase.kind = sim::FlashFault::Kind::kEraseError;
        erase.chip = 0;
        erase.blockFirst = kContentFlashOffset / sim::kFlashBlockBytes;
        erase.operations = 1;
        bank.InjectFault(erase);
    });

    uint64_t run = RestartWarm();
    ASSERT_TRUE(handheld->WaitForRestart(run, kRunTimeout));
    std::string screen = Joined(test::ScreenLines(handheld->Screen()));
    auto count = [&](const std::string& what) {
        size_t n = 0;
        for (size_t at = screen.find(what); at != std::string::npos; at = screen.find(what, at + 1)) {
            ++n;
        }
        return n;
    };
    EXPECT_EQ(count("Retry again ..E:0x00900080"), 2u) << screen;
    EXPECT_EQ(count("Update completeeRetry again ..E:0x008000a0"), 1u) << screen;
    WaitForStart(run);
    ExpectRunsRom(New2003());
}

TEST_F(ReflashRun, FragmentedRamMakesTheBufferSearchRejectBuffersAndRestartWhenItMust) {
    StartHandheld(Old2003());
    LeaveForFlasher(New2003(), Plan(New2003()));
    // More scattered allocations than the search may hold: the first run
    // gives up and restarts; the second finds its buffer after the rest.
    handheld->FragmentRam(kMaxRejectedBuffers + 1 + 3);

    uint64_t run = RestartWarm();
    HandheldStatus status = WaitForStart(run, 2);
    EXPECT_EQ(status.bootGeneration, run + 2);
    ExpectRunsRom(New2003());
}

TEST_F(ReflashRun, AFinalPartOfTwoAndAHalfMegabytesIsProgrammedWhole) {
    StartHandheld(Old2003());
    const Rom& rom = New2003();
    // Part 0 of 2.5 MB, then 2 MB parts.
    UpdateHandoff plan = Plan(rom);
    std::vector<ImagePart> parts;
    for (uint32_t offset = 0; offset < rom.ContentBytes();) {
        uint32_t length = std::min(offset == 0 ? 0x280000u : 0x200000u, rom.ContentBytes() - offset);
        ImagePart part;
        SetPartName(part.PartName, static_cast<uint32_t>(parts.size()));
        part.FlashAddress = kImageFlashAddress + offset;
        part.PartLength = length;
        part.FirstFlag = offset == 0 ? 1 : 0;
        part.ImageOffset = offset;
        part.PartSum = ByteSum(rom.Contents() + offset, length);
        parts.push_back(part);
        offset += length;
    }
    plan.Items = static_cast<uint32_t>(parts.size());
    for (size_t i = 0; i < parts.size(); ++i) {
        parts[i].Slot = plan.Items - 1 - static_cast<uint32_t>(i);
        plan.parts[i] = parts[i];
    }
    LeaveForFlasher(rom, plan);

    uint64_t run = RestartWarm();
    WaitForStart(run);
    ExpectRunsRom(rom);
}

// The desktop took the cable's drivers away before the restart, so only a
// cold start brings the handheld back on the cable (and clears \TEMP).
TEST_F(ReflashRun, AHandOverThatCannotBeUsedEndsInAColdRestartWithoutTheFlasherOrTheParts) {
    StartHandheld(Old2003());
    UpdateHandoff plan = Plan(New2003());
    LeaveForFlasher(New2003(), plan);

    // No hand-over at all.
    DeleteFile(u"\\temp\\updinfo.ini");
    uint64_t run = RestartWarm();
    ASSERT_TRUE(handheld->WaitForMessageBox(kRunTimeout));
    EXPECT_EQ(handheld->MessageBox()->caption, u"serious");
    EXPECT_EQ(handheld->MessageBox()->text, u"Cann't Get Update Info ..");
    EXPECT_TRUE(handheld->PressOk());
    HandheldStatus status = WaitForStart(run);
    EXPECT_TRUE(status.coldStart);
    EXPECT_FALSE(HasFile(kFlasher));
    EXPECT_EQ(FlasherRecord(status), nullptr);
    EXPECT_FALSE(HasFile(u"\\TEMP\\5"));

    // A hand-over that lists more parts than it holds.
    LeaveFlasher();
    auto bad = WriteHandoffFile(plan);
    bad[0x1C] = 49;
    PutFile(u"\\temp\\updinfo.ini", bad);
    run = RestartWarm();
    ASSERT_TRUE(handheld->WaitForMessageBox(kRunTimeout));
    EXPECT_EQ(handheld->MessageBox()->caption, u"serious");
    EXPECT_EQ(handheld->MessageBox()->text, u"Cann't Get Update Info(1) ..");
    EXPECT_TRUE(handheld->PressOk());
    status = WaitForStart(run);
    EXPECT_TRUE(status.coldStart);
    EXPECT_FALSE(HasFile(kFlasher));

    // A part that would run out of the flash window (the parts again: the
    // cold start took them).
    plan.parts[0].FlashAddress = 0xA3F00000;
    LeaveForFlasher(New2003(), plan);
    run = RestartWarm();
    ASSERT_TRUE(handheld->WaitForMessageBox(kRunTimeout));
    EXPECT_EQ(handheld->MessageBox()->text, u"Cann't Get Update Info(1) ..");
    EXPECT_TRUE(handheld->PressOk());
    status = WaitForStart(run);
    EXPECT_TRUE(status.coldStart);
    EXPECT_FALSE(HasFile(kFlasher));
    ExpectRunsRom(Old2003());
}

}  // namespace
}  // namespace nuva::reflash
