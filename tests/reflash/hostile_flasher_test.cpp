// Flashers that leave the handheld's flash wrong in ways a plain byte sum or
// a patient restart would hide: the handheld itself must notice at its next
// start and refuse to run (bricked, with the reason), as the real one would.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "formats/byte_sum.h"
#include "handheld-sim/flash/flash_bank.h"
#include "handheld-sim/machine/handheld.h"
#include "update_rig.h"

namespace nuva::reflash {
namespace {

using sim::HandheldStatus;
using test::kContentFlashOffset;
using test::Rom;

constexpr auto kTimeout = std::chrono::seconds(60);
constexpr uint32_t kMegabyte = 1u << 20;

class HostileFlasher : public ::testing::Test {
  protected:
    void SetUp() override {
        oldRom_ = test::MakeRom(imagegen::OsFamily::k2003, "01150300", "A01");
        newRom_ = test::MakeRom(imagegen::OsFamily::k2003, "04100300", "A03");
        ASSERT_FALSE(oldRom_.file.empty());
        ASSERT_FALSE(newRom_.file.empty());
        std::string detail;
        ASSERT_TRUE(rig_.Start(oldRom_, 100, &detail)) << detail;
    }

    // Restarts the handheld as a flasher's last act does, and waits for its
    // next start or its refusal.
    HandheldStatus RestartAndWait() {
        uint64_t run = rig_.RestartWarm();
        return rig_.WaitUntil(
            [&](const HandheldStatus& s) {
                return s.bootGeneration >= run && !s.restarting && (s.started || !s.brickedReason.empty());
            },
            kTimeout);
    }

    // The new ROM's contents as `arrange` leaves them, in the flash as a
    // flasher would have programmed them (erased, then only bits cleared).
    void Program(const std::function<void(std::vector<uint8_t>&)>& arrange) {
        std::vector<uint8_t> contents(newRom_.Contents(), newRom_.Contents() + newRom_.ContentBytes());
        arrange(contents);
        rig_.Device().WithFlash([&](sim::FlashBank& bank) {
            auto cells = bank.MutableCells().subspan(kContentFlashOffset, contents.size());
            std::copy(contents.begin(), contents.end(), cells.begin());
        });
    }

    test::UpdateRig rig_{NUVA_REFLASH_EXE};
    Rom oldRom_;
    Rom newRom_;
};

TEST_F(HostileFlasher, DataInTheWrongPlaceBricksTheHandheldThoughEveryByteIsThere) {
    // The right order runs the new ROM: the check is not what fails below.
    Program([](std::vector<uint8_t>&) {});
    HandheldStatus status = RestartAndWait();
    ASSERT_TRUE(status.started) << status.brickedReason << status.crashedReason;
    EXPECT_EQ(rig_.CheckRunsRom(newRom_), "");

    struct Case {
        const char* what;
        std::function<void(std::vector<uint8_t>&)> arrange;
    };
    const std::vector<Case> cases = {
        {"two 64-byte pieces swapped",
         [](std::vector<uint8_t>& c) {
             std::swap_ranges(c.begin() + 0x40000, c.begin() + 0x40040, c.begin() + 0x40040);
         }},
        {"megabytes 1 and 2 swapped",
         [](std::vector<uint8_t>& c) {
             std::swap_ranges(c.begin() + kMegabyte, c.begin() + 2 * kMegabyte, c.begin() + 2 * kMegabyte);
         }},
        {"the chips' halves of every word swapped after the first block",
         [](std::vector<uint8_t>& c) {
             for (size_t i = sim::kFlashBlockBytes; i + 4 <= c.size(); i += 4) {
                 std::swap(c[i], c[i + 2]);
                 std::swap(c[i + 1], c[i + 3]);
             }
         }},
        {"the chips' halves of every word swapped",
         [](std::vector<uint8_t>& c) {
             for (size_t i = 0; i + 4 <= c.size(); i += 4) {
                 std::swap(c[i], c[i + 2]);
                 std::swap(c[i + 1], c[i + 3]);
             }
         }},
    };
    const uint32_t goodSum = ByteSum(newRom_.Contents(), newRom_.ContentBytes());
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Program([&](std::vector<uint8_t>& contents) {
            c.arrange(contents);
            ASSERT_EQ(ByteSum(contents.data(), contents.size()), goodSum);  // a byte sum cannot tell
        });
        status = RestartAndWait();
        EXPECT_FALSE(status.started);
        EXPECT_NE(status.brickedReason.find("the handheld does not start"), std::string::npos)
            << status.brickedReason;
        // Swapped halves take the identity block with them; otherwise the
        // block is found and its CRC does not match.
        EXPECT_TRUE(status.brickedReason.find("CRC-32") != std::string::npos ||
                    status.brickedReason.find("no ROM identity block") != std::string::npos)
            << status.brickedReason;
    }
}

TEST_F(HostileFlasher, ARestartInTheMiddleOfAnEraseLeavesABlockThatBricksTheHandheld) {
    // A flasher that starts erasing a block of the ROM and restarts without
    // waiting: on a part whose cells kept their contents the old ROM would
    // start again as if nothing happened. The real cells are half erased.
    const uint32_t block = kContentFlashOffset + 2 * sim::kFlashBlockBytes;
    rig_.Device().WithFlash([&](sim::FlashBank& bank) {
        bank.Write32(block, 0x00200020);
        bank.Write32(block, 0x00D000D0);
        EXPECT_EQ(bank.Read32(block) & 0x00800080u, 0u);  // busy
    });
    HandheldStatus status = RestartAndWait();
    EXPECT_FALSE(status.started);
    EXPECT_NE(status.brickedReason.find("CRC-32"), std::string::npos) << status.brickedReason;
    std::vector<std::string> notes;
    rig_.Device().WithFlash([&](sim::FlashBank& bank) { notes = bank.TakeNotes(); });
    EXPECT_TRUE(std::any_of(notes.begin(), notes.end(), [](const std::string& n) {
        return n.find("cut off by a reset") != std::string::npos &&
               n.find("partly erased") != std::string::npos;
    }));
    auto cells = rig_.Device().DumpFlash(block, sim::kFlashBlockBytes);
    EXPECT_GT(std::count(cells.begin(), cells.end(), uint8_t{0xFF}), 0);
    EXPECT_LT(std::count(cells.begin(), cells.end(), uint8_t{0xFF}), static_cast<long>(cells.size()));
}

}  // namespace
}  // namespace nuva::reflash
