// The machine's pure pieces: bus decoding, the restart line, the built-in
// storage format, the OEM answers, the state folder's settings, the RAM
// page frames, and the texts of the home screen and of message boxes.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "formats/le.h"
#include "handheld-sim/machine/bus.h"
#include "handheld-sim/machine/home_screen.h"
#include "handheld-sim/machine/message_box_view.h"
#include "handheld-sim/machine/oem_answers.h"
#include "handheld-sim/machine/platform_registers.h"
#include "handheld-sim/machine/psm_storage.h"
#include "handheld-sim/machine/ram.h"
#include "handheld-sim/machine/screen_painter.h"
#include "handheld-sim/machine/state_folder.h"
#include "platform/wince/nuva_platform.h"

namespace nuva::sim {
namespace {

constexpr uint32_t k48 = 48u << 20;
constexpr uint32_t k32 = 32u << 20;
constexpr uint32_t k64 = 64u << 20;

void ExpectSlot(uint32_t address, uint32_t width, uint32_t flash, uint32_t ram, BusTarget target,
                uint32_t offset) {
    BusSlot slot = DecodeBus(address, width, flash, ram);
    EXPECT_EQ(slot.target, target) << std::hex << address;
    if (target != BusTarget::kNone) {
        EXPECT_EQ(slot.offset, offset) << std::hex << address;
    }
}

TEST(HomeScreenText, NamesTheGenerationLanguageMemoryAndStart) {
    HomeScreenFacts facts;
    facts.version = "A03";
    facts.dateCode = "04100300";
    facts.osMajor = 4;
    facts.language = 0x0409;
    facts.advanced = true;
    facts.coldStart = true;
    EXPECT_EQ(HomeScreenLines(facts),
              (std::vector<std::string>{"Brel Nuva Q7", "Pocket PC 2003", "ROM A03 (04100300)",
                                        "English (0409)", "Advanced (64 MB RAM)", "Cold start"}));
    facts.version = "B12";
    facts.dateCode = "10150200";
    facts.osMajor = 3;
    facts.language = 0x0C0A;  // Spanish of Spain, modern sort: named by its primary language
    facts.advanced = false;
    facts.coldStart = false;
    EXPECT_EQ(HomeScreenLines(facts),
              (std::vector<std::string>{"Brel Nuva Q7", "Pocket PC 2002", "ROM B12 (10150200)",
                                        "Spanish (0C0A)", "Basic (32 MB RAM)", "Warm start"}));
    facts.language = 0x0401;  // a language without a name here still shows its number
    EXPECT_EQ(HomeScreenLines(facts).at(3), "Language (0401)");
}

TEST(MessageBoxText, WrapsAtSpacesKeepsLineBreaksAndEndsWhatDoesNotFit) {
    using Lines = std::vector<std::string>;
    EXPECT_EQ(WrapText("The image part could not be read from the storage card", 26, 14),
              (Lines{"The image part could not", "be read from the storage", "card"}));
    // A line may end right before a space; a word longer than a line is cut.
    EXPECT_EQ(WrapText("abcde fgh", 5, 14), (Lines{"abcde", "fgh"}));
    EXPECT_EQ(WrapText("abcdefghijkl mn", 5, 14), (Lines{"abcde", "fghij", "kl mn"}));
    // Line breaks start lines, empty ones included.
    EXPECT_EQ(WrapText("CheckSum() Fail ..\nPlease Cold Reset", 26, 14),
              (Lines{"CheckSum() Fail ..", "Please Cold Reset"}));
    EXPECT_EQ(WrapText("a\n\nb\n", 26, 14), (Lines{"a", "", "b", ""}));
    EXPECT_EQ(WrapText("", 26, 14), (Lines{""}));
    // More lines than the box holds: the last one shown ends in "...".
    EXPECT_EQ(WrapText("1\n2\n3\n4", 26, 3), (Lines{"1", "2", "3..."}));
    EXPECT_EQ(WrapText("aaaa bbbb cccc", 4, 2), (Lines{"aaaa", "b..."}));
    EXPECT_EQ(WrapText("1\n2\n3", 26, 3), (Lines{"1", "2", "3"}));

    // Texts become code page 437 codes: letters outside ASCII that the code
    // page has, '?' for what it lacks and for control characters, every
    // kind of line break as "\n" (or a space in a caption), tabs as spaces.
    EXPECT_EQ(ToCp437(u"Pr\u00fcfung \u20ac1\x01\u00a0", true),
              "Pr\x81"
              "fung ?1?\xFF");
    EXPECT_EQ(ToCp437(u"a\r\nb\rc\nd\te", true), "a\nb\nc\nd e");
    EXPECT_EQ(ToCp437(u"a\r\nb\rc\nd", false), "a b c d");
    EXPECT_EQ(ToCp437(u"\xd83d\xde00", true), "??");  // a character beyond the basic plane
}

TEST(BusDecode, WindowsOfEveryDeviceAndTheirEnds) {
    // Flash, both windows, both classes.
    ExpectSlot(0xA0000000, 4, k48, k64, BusTarget::kFlash, 0);
    ExpectSlot(0x80040100, 4, k48, k64, BusTarget::kFlashCached, 0x40100);
    ExpectSlot(0xA2FFFFFC, 4, k48, k64, BusTarget::kFlash, 0x2FFFFFC);
    ExpectSlot(0xA3000000, 4, k48, k64, BusTarget::kNone, 0);
    ExpectSlot(0xA2000000, 4, k32, k32, BusTarget::kNone, 0);
    ExpectSlot(0x81FFFFFE, 2, k32, k32, BusTarget::kFlashCached, 0x1FFFFFE);
    // RAM, both windows; the reserved block of each class.
    ExpectSlot(0x84000000, 1, k48, k64, BusTarget::kRam, 0);
    ExpectSlot(NUVA_RESERVED_RAM_ADVANCED + NUVA_COLD_START_WORD_1, 4, k48, k64, BusTarget::kRam,
               0x3FCE000 + NUVA_COLD_START_WORD_1);
    ExpectSlot(NUVA_RESERVED_RAM_BASIC + NUVA_COLD_START_WORD_2, 4, k32, k32, BusTarget::kRam,
               0x1FCE000 + NUVA_COLD_START_WORD_2);
    ExpectSlot(0xA6000000, 4, k32, k32, BusTarget::kNone, 0);
    ExpectSlot(0x87FEC004, 4, k48, k64, BusTarget::kRam, 0x3FEC004);
    ExpectSlot(0x88000000, 4, k48, k64, BusTarget::kNone, 0);
    // An access that runs off the end of a window is not backed.
    ExpectSlot(0x87FFFFFE, 4, k48, k64, BusTarget::kNone, 0);
    // Frame buffer and register blocks.
    ExpectSlot(NUVA_FRAME_BUFFER, 2, k48, k64, BusTarget::kFrameBuffer, 0);
    ExpectSlot(NUVA_FRAME_BUFFER + kFrameBufferBytes - 2, 2, k48, k64, BusTarget::kFrameBuffer,
               kFrameBufferBytes - 2);
    ExpectSlot(NUVA_FRAME_BUFFER + kFrameBufferBytes, 2, k48, k64, BusTarget::kNone, 0);
    ExpectSlot(NUVA_REG_RESTART_ARM, 4, k48, k64, BusTarget::kRegisters, NUVA_REG_RESTART_ARM);
    ExpectSlot(0xBE040320, 4, k48, k64, BusTarget::kRegisters, 0xBE040320);
    ExpectSlot(0xBE041000, 4, k48, k64, BusTarget::kNone, 0);
    ExpectSlot(0xA9001000, 4, k48, k64, BusTarget::kNone, 0);
    ExpectSlot(0xA8100FFC, 4, k48, k64, BusTarget::kRegisters, 0xA8100FFC);
    ExpectSlot(0x00000000, 4, k48, k64, BusTarget::kNone, 0);
    ExpectSlot(0xFFFFFFFC, 4, k48, k64, BusTarget::kNone, 0);
}

TEST(PlatformRegisters, RestartLineNeedsArmThenFireAndRecordsEveryWrite) {
    PlatformRegisters registers;
    // Firing without arming does nothing but keep the value.
    EXPECT_FALSE(registers.Write(NUVA_REG_RESTART_FIRE, 4, NUVA_RESTART_BIT));
    EXPECT_EQ(registers.Word(NUVA_REG_RESTART_FIRE), NUVA_RESTART_BIT);
    EXPECT_FALSE(registers.Write(NUVA_REG_RESTART_FIRE, 4, 0));
    // The flasher's own set-up writes another bit to the arm register.
    EXPECT_FALSE(registers.Write(NUVA_REG_RESTART_ARM, 4, 0x00080000));
    EXPECT_FALSE(registers.Write(NUVA_REG_RESTART_FIRE, 4, NUVA_RESTART_BIT));
    EXPECT_FALSE(registers.Write(NUVA_REG_RESTART_FIRE, 4, 0));
    // Armed: a fire write without the bit is nothing, with it a restart; a
    // byte store that sets bit 21 (byte 2, bit 5) counts as well.
    EXPECT_FALSE(registers.Write(NUVA_REG_RESTART_ARM, 4, NUVA_RESTART_BIT));
    EXPECT_FALSE(registers.Write(NUVA_REG_RESTART_FIRE, 4, 0x00000010));
    EXPECT_TRUE(registers.Write(NUVA_REG_RESTART_FIRE + 2, 1, 0x20));
    // The restart clears both bits: firing again needs arming again.
    EXPECT_EQ(registers.Word(NUVA_REG_RESTART_FIRE).value() & NUVA_RESTART_BIT, 0u);
    EXPECT_EQ(registers.Word(NUVA_REG_RESTART_ARM).value() & NUVA_RESTART_BIT, 0u);
    EXPECT_FALSE(registers.Write(NUVA_REG_RESTART_FIRE, 4, NUVA_RESTART_BIT));

    // Values read back at every width, and every write is kept in order.
    registers.Write(0xA8100008, 4, 0x7FF27FF2);
    registers.Write(0xBE040320, 2, 0xBEEF);
    EXPECT_EQ(registers.Read(0xA8100008, 4), 0x7FF27FF2u);
    EXPECT_EQ(registers.Read(0xA810000A, 2), 0x7FF2u);
    EXPECT_EQ(registers.Read(0xBE040321, 1), 0xBEu);
    const auto& writes = registers.Writes();
    ASSERT_EQ(writes.size(), 11u);
    EXPECT_EQ(writes[7].address, NUVA_REG_RESTART_FIRE + 2);
    EXPECT_EQ(writes[7].width, 1);
    EXPECT_EQ(writes[10].address, 0xBE040320u);
    EXPECT_EQ(writes[10].value, 0xBEEFu);
    EXPECT_FALSE(registers.Word(0xA9001000).has_value());
    registers.TrimWrites(3);
    ASSERT_EQ(registers.Writes().size(), 3u);
    EXPECT_EQ(registers.Writes().back().address, 0xBE040320u);
}

std::vector<uint8_t> Bytes(const std::string& text) {
    return std::vector<uint8_t>(text.begin(), text.end());
}

TEST(BuiltInStorage, FilesAreWrittenReplacedAndListedFromTheCells) {
    std::vector<uint8_t> region(4096, 0xFF);
    std::vector<PsmFile> files;
    EXPECT_EQ(ReadPsm(region, files), PsmError::kNone);
    EXPECT_TRUE(files.empty());

    ASSERT_EQ(WritePsm(region, u"notes.txt", Bytes("first")), PsmError::kNone);
    ASSERT_EQ(WritePsm(region, u"Contacts.db", Bytes("abc")), PsmError::kNone);
    ASSERT_EQ(WritePsm(region, u"empty", {}), PsmError::kNone);
    // Replacing keeps one live copy under the name it was last given.
    ASSERT_EQ(WritePsm(region, u"NOTES.TXT", Bytes("second version")), PsmError::kNone);
    ASSERT_EQ(ReadPsm(region, files), PsmError::kNone);
    ASSERT_EQ(files.size(), 3u);
    EXPECT_EQ(files[0].name, u"Contacts.db");
    EXPECT_EQ(files[0].data, Bytes("abc"));
    EXPECT_EQ(files[1].name, u"empty");
    EXPECT_TRUE(files[1].data.empty());
    EXPECT_EQ(files[2].name, u"NOTES.TXT");
    EXPECT_EQ(files[2].data, Bytes("second version"));
    // The old copy was deleted in place: its state word is cleared.
    EXPECT_EQ(LoadLe32(region.data() + 4), 0u);
    EXPECT_EQ(std::memcmp(region.data(), "PSMF", 4), 0);

    EXPECT_EQ(WritePsm(region, u"", Bytes("x")), PsmError::kBadName);
    EXPECT_EQ(WritePsm(region, u"a\\b", Bytes("x")), PsmError::kBadName);
    EXPECT_EQ(WritePsm(region, std::u16string(256, u'n'), Bytes("x")), PsmError::kBadName);
    EXPECT_EQ(WritePsm(region, u"big", std::vector<uint8_t>(4000, 1)), PsmError::kNoSpace);

    // An erase (cells back to 0xFF) loses every file.
    std::fill(region.begin(), region.end(), 0xFF);
    ASSERT_EQ(ReadPsm(region, files), PsmError::kNone);
    EXPECT_TRUE(files.empty());
}

TEST(BuiltInStorage, DamageIsReportedAndNeverWrittenOver) {
    std::vector<uint8_t> region(1024, 0xFF);
    ASSERT_EQ(WritePsm(region, u"a", Bytes("one")), PsmError::kNone);
    ASSERT_EQ(WritePsm(region, u"b", Bytes("two")), PsmError::kNone);
    std::vector<PsmFile> files;
    // A flipped data byte of the second record: the first is still listed.
    std::vector<uint8_t> damaged = region;
    damaged[0x18 + 0x14 + 2] ^= 0x01;
    EXPECT_EQ(ReadPsm(damaged, files), PsmError::kDamaged);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].name, u"a");
    EXPECT_EQ(WritePsm(damaged, u"c", Bytes("three")), PsmError::kDamaged);
    // A length that runs past the region is damage, not a read past it.
    damaged = region;
    StoreLe32(damaged.data() + 12, 0x7FFFFFFF);
    EXPECT_EQ(ReadPsm(damaged, files), PsmError::kDamaged);
    EXPECT_TRUE(files.empty());
    // Cells after the end of the list that are not erased are not written.
    region[600] = 0x00;
    EXPECT_EQ(WritePsm(region, u"c", std::vector<uint8_t>(1000, 7)), PsmError::kNoSpace);
    EXPECT_EQ(WritePsm(region, u"c", std::vector<uint8_t>(560, 7)), PsmError::kDamaged);
    EXPECT_EQ(WritePsm(region, u"c", Bytes("fits")), PsmError::kNone);
}

TEST(OemAnswers, BuildCodeVersionTextAndPowerInfoBlock) {
    EXPECT_EQ(PlatformInfoFromDateCode("04100300"), 0x04100300u);
    EXPECT_EQ(PlatformInfoFromDateCode("12319999"), 0x12319999u);
    EXPECT_EQ(PlatformInfoFromDateCode("0410030A"), 0u);
    EXPECT_EQ(PlatformInfoFromDateCode("041003"), 0u);

    uint8_t text[16];
    std::memset(text, 0xAA, sizeof text);
    FillVersionText(text, "A03");
    EXPECT_EQ(LoadLe16(text), u'A');
    EXPECT_EQ(LoadLe16(text + 4), u'3');
    EXPECT_EQ(LoadLe16(text + 6), 0);
    EXPECT_EQ(text[15], 0);
    FillVersionText(text, "ABCDEFGHIJ");
    EXPECT_EQ(LoadLe16(text + 12), u'G');
    EXPECT_EQ(LoadLe16(text + 14), 0);  // always terminated

    uint8_t block[92];
    std::memset(block, 0xAA, sizeof block);
    FillPowerInfoBlock(block, "B120X", 0x06230300);
    EXPECT_EQ(LoadLe16(block), u'B');
    EXPECT_EQ(LoadLe16(block + 6), u'0');
    EXPECT_EQ(LoadLe16(block + 8), 0);  // four characters only
    EXPECT_EQ(LoadLe32(block + 28), 0x06230300u);
    EXPECT_EQ(LoadLe32(block + 72), 0x06230300u);
    EXPECT_EQ(LoadLe32(block + 88), 0u);
}

TEST(StateConfig, RoundTripsAndRefusesWhatItDoesNotKnow) {
    StateConfig config;
    config.settings.advanced = false;
    for (size_t i = 0; i < 16; ++i) {
        config.settings.uuid[i] = static_cast<uint8_t>(0xF0 + i);
    }
    config.settings.language = 0x0C0A;
    config.settings.platformCommandAnswers = false;
    config.settings.platformQueryAnswers = true;
    config.settings.bootMs = 1234;
    config.ac = false;
    config.battery.reset();
    std::string text = FormatStateConfig(config);
    StateConfig parsed;
    std::string error;
    ASSERT_TRUE(ParseStateConfig(text, parsed, error)) << error;
    EXPECT_FALSE(parsed.settings.advanced);
    EXPECT_EQ(parsed.settings.uuid, config.settings.uuid);
    EXPECT_EQ(parsed.settings.language, 0x0C0A);
    EXPECT_FALSE(parsed.settings.platformCommandAnswers);
    EXPECT_TRUE(parsed.settings.platformQueryAnswers);
    EXPECT_EQ(parsed.settings.bootMs, 1234u);
    EXPECT_FALSE(parsed.ac);
    EXPECT_FALSE(parsed.battery.has_value());
    config.battery = 37;
    ASSERT_TRUE(ParseStateConfig(FormatStateConfig(config), parsed, error)) << error;
    EXPECT_EQ(parsed.battery, std::optional<uint8_t>(37));

    auto refused = [&](const std::string& from, const std::string& to, const std::string& why) {
        std::string changed = text;
        size_t at = changed.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        changed.replace(at, from.size(), to);
        StateConfig untouched;
        untouched.settings.bootMs = 77;
        std::string message;
        EXPECT_FALSE(ParseStateConfig(changed, untouched, message)) << to;
        EXPECT_NE(message.find(why), std::string::npos) << message;
        EXPECT_EQ(untouched.settings.bootMs, 77u);  // nothing taken from a refused file
    };
    refused("class=basic", "class=medium", "class");
    refused("uuid=f0f1", "uuid=f0", "uuid");
    refused("uuid=f0f1", "uuid=zzf1", "uuid");
    refused("language=0c0a", "language=10c0a", "language");
    refused("battery=none", "battery=101", "battery");
    refused("ac=off", "ac=maybe", "ac");
    refused("boot_ms=1234\n", "", "boot_ms");
    refused("ac=off", "ac=off\nac=on", "twice");
    refused("ac=off", "ac=off\ncolour=blue", "colour");
    refused("ac=off", "ac off", "key=value");
}

TEST(RamFrames, ContiguousOrScatteredFramesShareTheKernelWindowBytes) {
    std::string error;
    Ram ram(k32, &error);
    ASSERT_TRUE(ram.Valid()) << error;
    uint32_t free = ram.FreeFrames();
    EXPECT_EQ(free, (k32 - kKernelLowBytes - kReservedTopBytes) / kPageBytes);

    void* host = nullptr;
    ASSERT_EQ(ram.Allocate(3 * kPageBytes + 1, true, &host), RamError::kNone);
    std::vector<uint32_t> pages;
    ASSERT_EQ(ram.PhysicalPages(host, 3 * kPageBytes + 1, pages), RamError::kNone);
    ASSERT_EQ(pages.size(), 4u);
    for (size_t i = 1; i < pages.size(); ++i) {
        EXPECT_EQ(pages[i], pages[i - 1] + kPageBytes);
    }
    // The program's pointer and the kernel window reach the same bytes.
    static_cast<uint8_t*>(host)[kPageBytes + 5] = 0x5A;
    EXPECT_EQ(ram.Bytes()[pages[1] - NUVA_RAM_PHYSICAL + 5], 0x5A);
    ram.Bytes()[pages[3] - NUVA_RAM_PHYSICAL] = 0xA5;
    EXPECT_EQ(static_cast<uint8_t*>(host)[3 * kPageBytes], 0xA5);
    // Only part of one page asked: only that page.
    ASSERT_EQ(ram.PhysicalPages(static_cast<uint8_t*>(host) + 10, 20, pages), RamError::kNone);
    EXPECT_EQ(pages.size(), 1u);

    // Fragmented: the next two allocations have no two neighbouring frames.
    ram.Fragment(2);
    for (int round = 0; round < 3; ++round) {
        void* p = nullptr;
        ASSERT_EQ(ram.Allocate(16 * kPageBytes, true, &p), RamError::kNone);
        ASSERT_EQ(ram.PhysicalPages(p, 16 * kPageBytes, pages), RamError::kNone);
        bool contiguous = true;
        std::set<uint32_t> distinct(pages.begin(), pages.end());
        EXPECT_EQ(distinct.size(), pages.size());
        for (size_t i = 1; i < pages.size(); ++i) {
            contiguous = contiguous && pages[i] == pages[i - 1] + kPageBytes;
            if (round < 2) {
                EXPECT_NE(pages[i], pages[i - 1] + kPageBytes);
            }
        }
        EXPECT_EQ(contiguous, round == 2) << round;
        for (uint32_t physical : pages) {
            uint32_t offset = physical - NUVA_RAM_PHYSICAL;
            EXPECT_GE(offset, kKernelLowBytes);
            EXPECT_LT(offset, k32 - kReservedTopBytes);
        }
        // Writes through the scattered pages land in their own frames.
        for (size_t i = 0; i < pages.size(); ++i) {
            static_cast<uint8_t*>(p)[i * kPageBytes] = static_cast<uint8_t>(i + 1);
            EXPECT_EQ(ram.Bytes()[pages[i] - NUVA_RAM_PHYSICAL], i + 1);
        }
        EXPECT_EQ(ram.Release(p), RamError::kNone);
    }
    EXPECT_EQ(ram.FreeFrames(), free - 4);

    // Decommitted pages have no frame; reserved-only regions neither.
    ASSERT_EQ(ram.Decommit(static_cast<uint8_t*>(host) + kPageBytes, 1), RamError::kNone);
    EXPECT_EQ(ram.PhysicalPages(host, 4 * kPageBytes, pages), RamError::kNotCommitted);
    EXPECT_TRUE(ram.Committed(host, kPageBytes));
    EXPECT_FALSE(ram.Committed(host, 2 * kPageBytes));
    EXPECT_EQ(ram.FreeFrames(), free - 3);
    void* reserved = nullptr;
    ASSERT_EQ(ram.Allocate(kPageBytes, false, &reserved), RamError::kNone);
    EXPECT_EQ(ram.PhysicalPages(reserved, 1, pages), RamError::kNotCommitted);
    EXPECT_EQ(ram.Release(static_cast<uint8_t*>(reserved) + 1), RamError::kBadAddress);

    // More than RAM holds fails; Clear zeroes what every mapping sees.
    void* huge = nullptr;
    EXPECT_EQ(ram.Allocate(k32, true, &huge), RamError::kNoMemory);
    ram.Clear();
    EXPECT_EQ(static_cast<uint8_t*>(host)[3 * kPageBytes], 0);
    ram.ReleaseAll();
    EXPECT_EQ(ram.FreeFrames(), free);
}

}  // namespace
}  // namespace nuva::sim
