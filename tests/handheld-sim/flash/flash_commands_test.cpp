// The command set as a careful driver uses it: exact status words, the
// cells each operation touches, each chip on its own half of the bus.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "handheld-sim/flash/flash_bank.h"
#include "platform/clock/clock.h"
#include "tests/handheld-sim/flash/flash_test_driver.h"

namespace nuva::sim {
namespace {

using testing::Both;
using testing::kBothReady;
using testing::Poll;
using testing::ScaleGuard;

constexpr uint32_t kB0 = 0;
constexpr uint32_t kB1 = kFlashBlockBytes;
constexpr uint32_t kB2 = 2 * kFlashBlockBytes;
constexpr uint32_t kB3 = 3 * kFlashBlockBytes;
constexpr uint32_t kSmallBank = 4 * kFlashBlockBytes;

bool NotesMention(FlashBank& bank, const std::string& text) {
    auto notes = bank.TakeNotes();
    return std::any_of(notes.begin(), notes.end(),
                       [&](const std::string& n) { return n.find(text) != std::string::npos; });
}

bool RangeHolds(FlashBank& bank, uint32_t from, uint32_t to, uint32_t value) {
    for (uint32_t a = from; a < to; a += 4) {
        if (bank.Read32(a) != value) {
            return false;
        }
    }
    return true;
}

TEST(FlashCommands, BlockEraseShowsBusyThenReadyAndErasesOnlyTheConfirmedBlock) {
    FlashBank bank(kSmallBank);
    EXPECT_TRUE(bank.InReadArray());
    std::ranges::fill(bank.MutableCells(), uint8_t{0});

    bank.Write32(kB1, Both(0x20));
    EXPECT_EQ(bank.Mode(0), ChipMode::kEraseConfirm);
    EXPECT_FALSE(bank.InReadArray());
    // The confirm's address picks the block; any address in it will do.
    bank.Write32(kB1 + 0x1230, Both(0xD0));
    EXPECT_EQ(bank.Mode(1), ChipMode::kBusy);
    // Default timing: four status reads see busy, from any address.
    EXPECT_EQ(bank.Read32(kB3 + 8), 0x00000000u);
    EXPECT_EQ(bank.Read32(kB1), 0x00000000u);
    EXPECT_EQ(bank.Read32(kB0), 0x00000000u);
    EXPECT_EQ(bank.Read32(kB1), 0x00000000u);
    EXPECT_EQ(bank.Read32(kB1), kBothReady);
    // Done, but still in read status until read array.
    EXPECT_EQ(bank.Mode(0), ChipMode::kReadStatus);
    EXPECT_EQ(bank.Read32(kB1 + 0x100), kBothReady);
    EXPECT_FALSE(bank.InReadArray());

    bank.Write32(kB1, Both(0xFF));
    EXPECT_TRUE(bank.InReadArray());
    EXPECT_TRUE(RangeHolds(bank, kB1, kB2, 0xFFFFFFFF));
    EXPECT_TRUE(RangeHolds(bank, kB0, kB1, 0));
    EXPECT_TRUE(RangeHolds(bank, kB2, kSmallBank, 0));
}

TEST(FlashCommands, WriteToBufferTakesOneToSixteenWordsAndRefusesBadSequences) {
    FlashBank bank(kSmallBank);

    // One word, not at the start of its window.
    bank.Write32(kB1 + 0x40, Both(0xE8));
    EXPECT_EQ(bank.Mode(0), ChipMode::kWriteBufferCount);
    EXPECT_EQ(bank.Read32(kB1 + 0x40), kBothReady);  // buffer available
    bank.Write32(kB1 + 0x40, 0);
    bank.Write32(kB1 + 0x48, 0x12345678);
    EXPECT_EQ(bank.Mode(1), ChipMode::kWriteBufferConfirm);
    bank.Write32(kB1 + 0x40, Both(0xD0));
    auto poll = Poll(bank, kB1 + 0x40);
    EXPECT_EQ(poll.status, kBothReady);
    EXPECT_EQ(poll.busyReads, 1u);  // default timing: one busy read
    bank.Write32(kB1, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB1 + 0x48), 0x12345678u);
    EXPECT_EQ(bank.Read32(kB1 + 0x44), 0xFFFFFFFFu);
    EXPECT_EQ(bank.Read32(kB1 + 0x4C), 0xFFFFFFFFu);

    // Sixteen words: count 0x000F000F.
    std::vector<uint32_t> words(16);
    for (uint32_t i = 0; i < 16; ++i) {
        words[i] = 0x01020304u * (i + 1);
    }
    EXPECT_EQ(testing::WriteBuffer(bank, kB2 + 0x80, words), kBothReady);
    bank.Write32(kB2, Both(0xFF));
    for (uint32_t i = 0; i < 16; ++i) {
        EXPECT_EQ(bank.Read32(kB2 + 0x80 + 4 * i), words[i]) << i;
    }
    EXPECT_EQ(bank.Read32(kB2 + 0x7C), 0xFFFFFFFFu);
    EXPECT_EQ(bank.Read32(kB2 + 0xC0), 0xFFFFFFFFu);

    // Seventeen words: the count 16 is refused at once, nothing is written.
    std::vector<uint32_t> seventeen(17, 0x12341234);
    EXPECT_EQ(testing::WriteBuffer(bank, kB3, seventeen), 0x00B000B0u);
    EXPECT_TRUE(NotesMention(bank, "above 15"));
    EXPECT_EQ(bank.Mode(0), ChipMode::kReadStatus);
    // Clear status keeps the ready bit and the mode.
    bank.Write32(kB3, Both(0x50));
    EXPECT_EQ(bank.Read32(kB3), kBothReady);
    EXPECT_EQ(bank.Mode(1), ChipMode::kReadStatus);
    bank.Write32(kB3, Both(0xFF));
    EXPECT_TRUE(RangeHolds(bank, kB3, kB3 + 0x100, 0xFFFFFFFF));

    // Data outside the window of the first data word.
    bank.Write32(kB3, Both(0xE8));
    bank.Write32(kB3, Both(1));
    bank.Write32(kB3 + 0x3C, 0);  // last word of the first window
    bank.Write32(kB3 + 0x40, 0);  // next window
    EXPECT_EQ(bank.Read32(kB3), 0x00B000B0u);
    EXPECT_TRUE(NotesMention(bank, "window"));
    bank.Write32(kB3, Both(0x50));

    // Data in another block than the E8.
    bank.Write32(kB3, Both(0xE8));
    bank.Write32(kB3, 0);
    bank.Write32(kB2 + 0x100, 0);
    EXPECT_EQ(bank.Read32(kB3), 0x00B000B0u);
    bank.Write32(kB3, Both(0x50));

    // The count in another block than the E8.
    bank.Write32(kB3, Both(0xE8));
    bank.Write32(kB2, 0);
    EXPECT_EQ(bank.Read32(kB3), 0x00B000B0u);
    bank.Write32(kB3, Both(0x50));

    // A confirm other than D0 drops the buffer.
    bank.Write32(kB3, Both(0xE8));
    bank.Write32(kB3, 0);
    bank.Write32(kB3, 0);
    bank.Write32(kB3, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB3), 0x00B000B0u);
    EXPECT_EQ(bank.Mode(0), ChipMode::kReadStatus);
    bank.Write32(kB3, Both(0x50));
    bank.Write32(kB3, Both(0xFF));
    EXPECT_TRUE(RangeHolds(bank, kB3, kB3 + 0x100, 0xFFFFFFFF));

    // Erase setup followed by anything but D0 erases nothing.
    std::ranges::fill(bank.MutableCells(), uint8_t{0x5A});
    bank.Write32(kB1, Both(0x20));
    bank.Write32(kB1, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB1), 0x00B000B0u);
    bank.Write32(kB1, Both(0xFF));
    EXPECT_TRUE(RangeHolds(bank, kB1, kB2, 0x5A5A5A5A));
}

TEST(FlashCommands, ProgrammingOnlyClearsBitsAndEraseSetsThem) {
    FlashBank bank(kSmallBank);
    const uint32_t first[] = {0x0F0FF0F0};
    const uint32_t second[] = {0xFF00FF00};
    const uint32_t ones[] = {0xFFFFFFFF};
    EXPECT_EQ(testing::WriteBuffer(bank, kB2 + 0x20, first), kBothReady);
    EXPECT_EQ(testing::WriteBuffer(bank, kB2 + 0x20, second), kBothReady);
    bank.Write32(kB2, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB2 + 0x20), 0x0F00F000u);
    EXPECT_EQ(testing::WriteBuffer(bank, kB2 + 0x20, ones), kBothReady);
    bank.Write32(kB2, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB2 + 0x20), 0x0F00F000u);
    EXPECT_EQ(testing::EraseBlock(bank, kB2), kBothReady);
    bank.Write32(kB2, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB2 + 0x20), 0xFFFFFFFFu);
}

TEST(FlashCommands, IdentifierShowsCodesAndLockBitsThatRefuseEraseAndProgram) {
    FlashBank bank(kSmallBank);
    std::ranges::fill(bank.MutableCells(), uint8_t{0x33});

    bank.Write32(kB2 + 8, Both(0x90));
    EXPECT_EQ(bank.Read32(kB2 + 8), 0u);
    EXPECT_EQ(bank.Read32(kB0), 0x00890089u);
    EXPECT_EQ(bank.Read32(kB0 + 4), 0x00160016u);  // 512 KB per chip: the 32-Mbit part
    EXPECT_EQ(bank.Read32(kB0 + 12), 0u);

    bank.Write32(kB2, Both(0x60));
    EXPECT_EQ(bank.Mode(0), ChipMode::kLockSetup);
    bank.Write32(kB2, Both(0x01));
    auto poll = Poll(bank, kB2);
    EXPECT_EQ(poll.status, kBothReady);
    EXPECT_EQ(poll.busyReads, 2u);  // default unlock/lock timing
    EXPECT_TRUE(bank.BlockLocked(2));
    bank.Write32(kB0, Both(0x90));
    EXPECT_EQ(bank.Read32(kB2 + 8), 0x00010001u);
    EXPECT_EQ(bank.Read32(kB1 + 8), 0u);
    EXPECT_EQ(bank.Read32(kB3 + 8), 0u);

    // Refused at once, cells unchanged.
    bank.Write32(kB2, Both(0x20));
    bank.Write32(kB2, Both(0xD0));
    EXPECT_EQ(bank.Read32(kB2), 0x00A200A2u);
    EXPECT_TRUE(NotesMention(bank, "locked"));
    bank.Write32(kB2, Both(0x50));
    EXPECT_EQ(bank.Read32(kB2), kBothReady);
    const uint32_t zero[] = {0};
    EXPECT_EQ(testing::WriteBuffer(bank, kB2 + 0x40, zero), 0x00920092u);
    bank.Write32(kB2, Both(0x50));
    bank.Write32(kB2, Both(0xFF));
    EXPECT_TRUE(RangeHolds(bank, kB2, kB3, 0x33333333));

    // 60 D0 clears the lock bits of every block of the chip.
    bank.SetBlockLocked(3, true);
    bank.Write32(kB0, Both(0x60));
    bank.Write32(kB0, Both(0xD0));
    EXPECT_EQ(Poll(bank, kB0).status, kBothReady);
    EXPECT_FALSE(bank.BlockLocked(2));
    EXPECT_FALSE(bank.BlockLocked(3));
    bank.Write32(kB0, Both(0x90));
    EXPECT_EQ(bank.Read32(kB2 + 8), 0u);
    EXPECT_EQ(testing::EraseBlock(bank, kB2), kBothReady);

    // Lock bits belong to each chip: lock block 3 of chip 1 only.
    bank.Write16(kB3 + 2, 0x60);
    bank.Write16(kB3 + 2, 0x01);
    EXPECT_EQ(Poll(bank, kB3).status, kBothReady);
    bank.Write32(kB3, Both(0x90));
    EXPECT_EQ(bank.Read32(kB3 + 8), 0x00010000u);
    EXPECT_TRUE(bank.BlockLocked(3));
    EXPECT_EQ(testing::EraseBlock(bank, kB3), 0x00A20080u);

    // A lock setup followed by anything else is a sequence error.
    bank.Write32(kB3, Both(0x50));
    bank.Write32(kB3, Both(0x60));
    bank.Write32(kB3, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB3), 0x00B000B0u);

    // The device code follows the chip's capacity.
    FlashBank basic(32u << 20);
    basic.Write32(0, Both(0x90));
    EXPECT_EQ(basic.Read32(4), 0x00180018u);
}

TEST(FlashCommands, EachChipDecodesItsOwnHalfOfTheBus) {
    FlashBank bank(kSmallBank);

    // A 16-bit store reaches one chip only.
    bank.Write16(2, 0x70);
    EXPECT_EQ(bank.Mode(0), ChipMode::kReadArray);
    EXPECT_EQ(bank.Mode(1), ChipMode::kReadStatus);
    EXPECT_FALSE(bank.InReadArray());
    EXPECT_EQ(bank.Read32(0), 0x0080FFFFu);
    bank.Write32(0, 0xFFFFFFFF);  // the high byte of a command is ignored
    EXPECT_TRUE(bank.InReadArray());

    // A command in the low half only: chip 1 sees 0x0000, no command.
    bank.Write32(0, 0x00000070);
    EXPECT_EQ(bank.Mode(0), ChipMode::kReadStatus);
    EXPECT_EQ(bank.Mode(1), ChipMode::kReadArray);
    EXPECT_TRUE(NotesMention(bank, "unknown command 0x0000"));

    // Status in the low byte of each half, at every width.
    bank.Write32(0, Both(0x70));
    EXPECT_EQ(bank.Read16(0), 0x0080);
    EXPECT_EQ(bank.Read16(2), 0x0080);
    EXPECT_EQ(bank.Read8(0), 0x80);
    EXPECT_EQ(bank.Read8(1), 0x00);
    EXPECT_EQ(bank.Read8(2), 0x80);
    EXPECT_EQ(bank.Status(0), 0x80);
    bank.Write32(0, Both(0xFF));

    // A buffered write through chip 0 alone; chip 1 keeps reading its cells.
    bank.Write16(kB1, 0xE8);
    bank.Write16(kB1, 0);
    bank.Write16(kB1 + 4, 0x1234);
    bank.Write16(kB1, 0xD0);
    EXPECT_EQ(bank.Read32(kB1), 0xFFFF0000u);  // chip 0 busy
    EXPECT_EQ(bank.Read32(kB1), 0xFFFF0080u);
    bank.Write16(kB1, 0xFF);
    EXPECT_TRUE(bank.InReadArray());
    EXPECT_EQ(bank.Read32(kB1 + 4), 0xFFFF1234u);
    EXPECT_EQ(bank.Read16(kB1 + 4), 0x1234);
    EXPECT_EQ(bank.Read8(kB1 + 5), 0x12);
    EXPECT_EQ(bank.Read16(kB1 + 6), 0xFFFF);

    // Chip 1 alone refuses a bad count while chip 0 takes its own.
    bank.Write32(kB2, Both(0xE8));
    bank.Write32(kB2, 0x0010000F);
    EXPECT_EQ(bank.Read32(kB2), 0x00B00080u);
    EXPECT_EQ(bank.Mode(0), ChipMode::kWriteBufferData);
}

TEST(FlashCommands, BusyChipTakesOnlyReadAndClearStatus) {
    FlashBank bank(kSmallBank, FlashTiming{.eraseStatusReads = 3});
    // Leave error bits standing, then erase.
    bank.Write32(kB1, Both(0x20));
    bank.Write32(kB1, Both(0x00));
    bank.Write32(kB1, Both(0x20));
    bank.Write32(kB1, Both(0xD0));
    EXPECT_EQ(bank.Read32(kB1), 0x00300030u);  // busy, old errors standing

    bank.Write32(kB1, Both(0xFF));  // ignored
    EXPECT_EQ(bank.Mode(0), ChipMode::kBusy);
    EXPECT_TRUE(NotesMention(bank, "ignored: busy with erase"));
    bank.Write32(kB1, Both(0x50));  // clears errors, not busy
    EXPECT_EQ(bank.Read32(kB1), 0x00000000u);
    bank.Write32(kB1, Both(0x70));
    EXPECT_EQ(bank.Read32(kB1), 0x00000000u);
    EXPECT_EQ(bank.Read32(kB1), kBothReady);
    EXPECT_FALSE(bank.InReadArray());

    // Status reads count per chip: 16-bit reads of chip 0 leave chip 1 busy.
    bank.Write32(kB2, Both(0x20));
    bank.Write32(kB2, Both(0xD0));
    EXPECT_EQ(bank.Read16(kB2), 0);
    EXPECT_EQ(bank.Read16(kB2), 0);
    EXPECT_EQ(bank.Read16(kB2), 0);
    EXPECT_EQ(bank.Read16(kB2), 0x80);
    EXPECT_EQ(bank.Read32(kB2), 0x00000080u);
    EXPECT_EQ(bank.Read32(kB2), 0x00000080u);
    EXPECT_EQ(bank.Read32(kB2), 0x00000080u);
    EXPECT_EQ(bank.Read32(kB2), kBothReady);
}

TEST(FlashCommands, BusyTimeIsTimeOnTheClockOrInReadCycles) {
    {
        // At scale 0 only the few status reads count, however long the time.
        ScaleGuard scale(0);
        FlashBank bank(kSmallBank, FlashTiming{.eraseStatusReads = 2, .eraseMicros = 1000000});
        bank.Write32(kB1, Both(0x20));
        bank.Write32(kB1, Both(0xD0));
        auto poll = Poll(bank, kB1);
        EXPECT_EQ(poll.status, kBothReady);
        EXPECT_EQ(poll.busyReads, 2u);
    }
    {
        // Above it, a few reads are a few read cycles: a buffered write of
        // the datasheet's 218 us outlasts 8 reads at any scale, and the
        // reads alone end it once they make up its time (at scale 1 the host
        // reads far faster than 150 ns each).
        ScaleGuard scale(1);
        FlashBank bank(kSmallBank);
        const uint32_t word[] = {0};
        bank.Write32(kB1, Both(0xE8));
        bank.Write32(kB1, 0);
        bank.Write32(kB1, word[0]);
        bank.Write32(kB1, Both(0xD0));
        EXPECT_EQ(Poll(bank, kB1, 8).status, 0u);
        auto poll = Poll(bank, kB1, 100000);
        EXPECT_EQ(poll.status, kBothReady);
        EXPECT_LE(poll.busyReads + 8, 218000u / 150 + 1);
        EXPECT_GT(poll.busyReads, 8u);
    }
    {
        // Time alone: done once the nominal 100 ms have passed, without a read.
        ScaleGuard scale(1);
        FlashBank bank(kSmallBank, FlashTiming{.eraseStatusReads = 0, .eraseMicros = 100000});
        bank.Write32(kB1, Both(0x20));
        bank.Write32(kB1, Both(0xD0));
        EXPECT_EQ(bank.Status(0), 0x00);
        EXPECT_EQ(bank.Mode(1), ChipMode::kBusy);
        ScaledSleepMs(150);
        EXPECT_EQ(bank.Status(0), 0x80);
        EXPECT_EQ(bank.Mode(1), ChipMode::kReadStatus);
        bank.Write32(kB1, Both(0xFF));
        EXPECT_EQ(bank.Read32(kB1), 0xFFFFFFFFu);
    }
    {
        // Neither a time nor reads: done at once.
        FlashBank bank(kSmallBank, FlashTiming{0, 0, 0, 0, 0, 0, 0, 0, 150});
        std::ranges::fill(bank.MutableCells(), uint8_t{0});
        bank.Write32(kB1, Both(0x20));
        bank.Write32(kB1, Both(0xD0));
        EXPECT_EQ(bank.Mode(0), ChipMode::kReadStatus);
        EXPECT_EQ(bank.Read32(kB1), kBothReady);
        EXPECT_EQ(bank.Cells()[kB1], 0xFF);
    }
}

TEST(FlashCommands, WordProgramAndEraseSuspendWorkAsOnTheRealPart) {
    FlashBank bank(kSmallBank, FlashTiming{.eraseStatusReads = 5});
    // 40 (or 10) then the word: one chip's half, only clearing bits.
    bank.Write32(kB1 + 8, Both(0x40));
    bank.Write32(kB1 + 8, 0x12345678);
    EXPECT_EQ(Poll(bank, kB1).status, kBothReady);
    bank.Write16(kB1 + 12, 0x10);
    bank.Write16(kB1 + 12, 0x0F0F);
    EXPECT_EQ(Poll(bank, kB1).status, kBothReady);
    bank.Write32(kB1, Both(0xFF));
    EXPECT_EQ(bank.Read32(kB1 + 8), 0x12345678u);
    EXPECT_EQ(bank.Read32(kB1 + 12), 0xFFFF0F0Fu);
    EXPECT_EQ(bank.Read32(kB1 + 4), 0xFFFFFFFFu);

    // Suspend an erase of block 2: ready with SR.6, block 1 readable and
    // programmable meanwhile, block 2 neither erased nor programmable.
    std::ranges::fill(bank.MutableCells().subspan(kB2, kFlashBlockBytes), uint8_t{0});
    bank.Write32(kB2, Both(0x20));
    bank.Write32(kB2, Both(0xD0));
    EXPECT_EQ(bank.Read32(kB2), 0u);
    bank.Write32(kB2, Both(0xB0));
    EXPECT_EQ(bank.Read32(kB2), 0x00C000C0u);
    bank.Write32(kB1, Both(0xFF));
    EXPECT_TRUE(bank.InReadArray());
    EXPECT_EQ(bank.Read32(kB1 + 8), 0x12345678u);
    bank.Write32(kB1 + 16, Both(0x40));
    bank.Write32(kB1 + 16, 0x00000000);
    EXPECT_EQ(Poll(bank, kB1).status, 0x00C000C0u);  // programmed, erase still suspended
    bank.Write32(kB2 + 4, Both(0x40));
    bank.Write32(kB2 + 4, 0x00000000);
    EXPECT_EQ(bank.Read32(kB2) & 0x00100010u, 0x00100010u);  // refused in the suspended block
    EXPECT_TRUE(NotesMention(bank, "erase suspended"));
    bank.Write32(kB2, Both(0x50));
    bank.Write32(kB2, Both(0x20));  // no second erase while one is suspended
    EXPECT_EQ(bank.Read32(kB2) & 0x00300030u, 0x00300030u);
    bank.Write32(kB2, Both(0x50));
    EXPECT_EQ(bank.Cells()[kB2 + 100], 0x00);

    // D0 resumes: busy for what was left, then the block is erased.
    bank.Write32(kB2, Both(0xD0));
    auto poll = Poll(bank, kB2);
    EXPECT_EQ(poll.status, kBothReady);
    EXPECT_EQ(poll.busyReads, 4u);  // one of its five reads came before the suspend
    bank.Write32(kB2, Both(0xFF));
    EXPECT_EQ(std::ranges::count(bank.Cells().subspan(kB2, kFlashBlockBytes), 0xFF), kFlashBlockBytes);
    EXPECT_EQ(bank.Read32(kB1 + 16), 0u);
    // D0 with nothing suspended is no command.
    bank.Write32(kB2, Both(0xD0));
    EXPECT_TRUE(NotesMention(bank, "unknown command 0x00D0"));
}

// A block taken at once is what reads one by one give, and is only taken so
// while both chips are in read array and no log wants each read.
TEST(FlashCommands, ReadArrayBytesAreTheReadsOfEachByteAndOnlyInReadArray) {
    FlashBank bank(kSmallBank);
    const uint32_t words[] = {0x11223344, 0x55667788, 0x99AABBCC, 0xDDEEFF00};
    testing::WriteBuffer(bank, kB1 + 0x20, words);
    bank.Write32(kB1, Both(0xFF));
    std::vector<uint8_t> block(24, 0x5A);
    ASSERT_TRUE(bank.ReadArrayBytes(kB1 + 0x1D, block.data(), 22));
    for (uint32_t i = 0; i < 22; ++i) {
        EXPECT_EQ(block[i], bank.Read8(kB1 + 0x1D + i)) << i;
    }
    EXPECT_EQ(block[22], 0x5A);  // nothing past the count
    EXPECT_EQ(block[3], 0x44);

    // One chip showing its status: every read must answer from the chips.
    bank.Write16(kB1 + 2, 0x70);
    std::fill(block.begin(), block.end(), 0x5A);
    EXPECT_FALSE(bank.ReadArrayBytes(kB1 + 0x20, block.data(), 16));
    EXPECT_EQ(block[0], 0x5A);
    bank.Write32(kB1, Both(0xFF));
    bank.EnableLog(true);
    EXPECT_FALSE(bank.ReadArrayBytes(kB1 + 0x20, block.data(), 16));
    bank.EnableLog(false);
    EXPECT_TRUE(bank.ReadArrayBytes(kB1 + 0x20, block.data(), 16));
    EXPECT_EQ(block[4], 0x88);
}

TEST(FlashCommands, AccessLogRecordsEveryCycleOnlyWhenOn) {
    FlashBank bank(kSmallBank);
    bank.Write32(0, Both(0x70));
    bank.Read32(0);
    EXPECT_TRUE(bank.TakeLog().empty());

    bank.EnableLog(true);
    const uint32_t word[] = {0xCAFEF00D};
    testing::WriteBuffer(bank, kB1 + 0x10, word);
    bank.Write16(kB1 + 2, 0xFF);
    bank.Read8(kB1 + 1);
    std::vector<BusAccess> expected = {
        {true, 4, kB1 + 0x10, 0x00E800E8},  {false, 4, kB1 + 0x10, kBothReady},  // buffer free
        {true, 4, kB1 + 0x10, 0x00000000},  {true, 4, kB1 + 0x10, 0xCAFEF00D},
        {true, 4, kB1 + 0x10, 0x00D000D0},  {false, 4, kB1 + 0x10, 0x00000000},  // busy
        {false, 4, kB1 + 0x10, kBothReady}, {true, 2, kB1 + 2, 0x00FF},
        {false, 1, kB1 + 1, 0x00},  // chip 0 still shows its status
    };
    auto log = bank.TakeLog();
    ASSERT_EQ(log.size(), expected.size());
    for (size_t i = 0; i < log.size(); ++i) {
        EXPECT_EQ(log[i].write, expected[i].write) << i;
        EXPECT_EQ(log[i].width, expected[i].width) << i;
        EXPECT_EQ(log[i].offset, expected[i].offset) << i;
        EXPECT_EQ(log[i].value, expected[i].value) << i;
    }
    EXPECT_TRUE(bank.TakeLog().empty());

    // A driver that polls for ever cannot fill memory through the log.
    for (size_t i = 0; i < FlashBank::kMaxLoggedAccesses + 10; ++i) {
        bank.Read32(0);
    }
    EXPECT_EQ(bank.TakeLog().size(), FlashBank::kMaxLoggedAccesses);
    EXPECT_TRUE(NotesMention(bank, "log full"));

    bank.EnableLog(false);
    bank.Read32(0);
    EXPECT_TRUE(bank.TakeLog().empty());
}

}  // namespace
}  // namespace nuva::sim
