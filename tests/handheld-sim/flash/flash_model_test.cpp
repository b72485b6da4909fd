// Random erases, programs, lock changes and broken sequences sent through
// the command interface, one chip or both at a time, against a plain array
// that knows only what each operation should do to the cells.
#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <random>
#include <vector>

#include "handheld-sim/flash/flash_bank.h"
#include "tests/handheld-sim/flash/flash_test_driver.h"

namespace nuva::sim {
namespace {

constexpr uint32_t kBlocks = 8;
constexpr uint32_t kBankBytes = kBlocks * kFlashBlockBytes;
constexpr uint32_t kWordsPerBlock = kFlashBlockBytes / 4;
constexpr FlashTiming kTiming{.eraseStatusReads = 3, .writeStatusReads = 2, .unlockStatusReads = 1};

struct Reference {
    std::vector<uint8_t> cells = std::vector<uint8_t>(kBankBytes, 0xFF);
    std::array<std::array<bool, kBlocks>, 2> locked{};

    uint16_t Get(int c, uint32_t word) const {
        size_t i = size_t{word} * 4 + 2 * c;
        return static_cast<uint16_t>(cells[i] | cells[i + 1] << 8);
    }
    void Set(int c, uint32_t word, uint16_t v) {
        size_t i = size_t{word} * 4 + 2 * c;
        cells[i] = static_cast<uint8_t>(v);
        cells[i + 1] = static_cast<uint8_t>(v >> 8);
    }
};

// Which chips an operation goes to: 0 or 1 through 16-bit stores, 2 both
// through 32-bit stores.
struct Target {
    int which;
    bool Has(int c) const { return which == 2 || which == c; }
};

class Harness {
  public:
    Harness() : bank_(kBankBytes, kTiming) {}

    FlashBank& bank() { return bank_; }
    Reference& ref() { return ref_; }

    void Store(Target t, uint32_t offset, std::array<uint16_t, 2> v) {
        if (t.which == 2) {
            bank_.Write32(offset, uint32_t{v[1]} << 16 | v[0]);
        } else {
            bank_.Write16(offset + 2 * static_cast<uint32_t>(t.which), v[static_cast<size_t>(t.which)]);
        }
    }
    void Command(Target t, uint32_t offset, uint16_t code) { Store(t, offset, {code, code}); }

    // Polls until the target's chips are ready: each chip's status and how
    // many reads it showed busy.
    struct Outcome {
        std::array<uint8_t, 2> status{};
        std::array<uint32_t, 2> busyReads{};
    };
    Outcome Poll(Target t, uint32_t offset) {
        Outcome out;
        std::array<bool, 2> ready = {!t.Has(0), !t.Has(1)};
        for (int read = 0; read < 100 && !(ready[0] && ready[1]); ++read) {
            uint32_t word = bank_.Read32(offset);
            for (int c = 0; c < 2; ++c) {
                auto sr = static_cast<uint8_t>(word >> (16 * c));
                if (!t.Has(c) || ready[static_cast<size_t>(c)]) {
                    continue;
                }
                if ((sr & 0x80) != 0) {
                    ready[static_cast<size_t>(c)] = true;
                    out.status[static_cast<size_t>(c)] = sr;
                } else {
                    ++out.busyReads[static_cast<size_t>(c)];
                }
            }
        }
        return out;
    }

    void ExpectOutcome(Target t, const Outcome& got, std::array<uint8_t, 2> status,
                       std::array<uint32_t, 2> busy, int step) {
        for (size_t c = 0; c < 2; ++c) {
            if (t.Has(static_cast<int>(c))) {
                EXPECT_EQ(got.status[c], status[c]) << "step " << step << " chip " << c;
                EXPECT_EQ(got.busyReads[c], busy[c]) << "step " << step << " chip " << c;
            }
        }
    }

    void BackToReadArray() {
        bank_.Write32(0, 0x00500050);
        bank_.Write32(0, 0x00FF00FF);
    }

  private:
    FlashBank bank_;
    Reference ref_;
};

TEST(FlashModel, RandomOperationsAgreeWithAPlainArray) {
    Harness h;
    FlashBank& bank = h.bank();
    Reference& ref = h.ref();
    std::mt19937 rng(20040611);
    auto pick = [&rng](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
    auto half = [&rng] { return static_cast<uint16_t>(rng() | rng()); };  // keeps some ones

    int erases = 0;
    int programs = 0;
    int refused = 0;
    int sequenceErrors = 0;
    for (int step = 0; step < 4000; ++step) {
        Target t{static_cast<int>(pick(3))};
        uint32_t block = pick(kBlocks);
        uint32_t blockOffset = block * kFlashBlockBytes;
        uint32_t roll = pick(100);
        auto lockedOn = [&](int c) { return ref.locked[static_cast<size_t>(c)][block]; };

        if (roll < 20) {
            // 20 D0, the confirm anywhere in the block.
            h.Command(t, blockOffset, 0x20);
            h.Command(t, blockOffset + 4 * pick(kWordsPerBlock), 0xD0);
            auto got = h.Poll(t, blockOffset);
            std::array<uint8_t, 2> status{};
            std::array<uint32_t, 2> busy{};
            for (int c = 0; c < 2; ++c) {
                if (!t.Has(c)) {
                    continue;
                }
                auto ci = static_cast<size_t>(c);
                status[ci] = lockedOn(c) ? 0xA2 : 0x80;
                busy[ci] = lockedOn(c) ? 0 : kTiming.eraseStatusReads;
                if (lockedOn(c)) {
                    ++refused;
                    continue;
                }
                for (uint32_t w = block * kWordsPerBlock; w < (block + 1) * kWordsPerBlock; ++w) {
                    ref.Set(c, w, 0xFFFF);
                }
            }
            h.ExpectOutcome(t, got, status, busy, step);
            ++erases;
        } else if (roll < 65) {
            // E8, count, 1..16 words anywhere in one window (a word given
            // twice keeps its last value), D0.
            uint32_t window = block * kWordsPerBlock + 16 * pick(kWordsPerBlock / 16);
            uint32_t n = 1 + pick(16);
            h.Command(t, blockOffset, 0xE8);
            auto free = h.Poll(t, blockOffset);
            h.ExpectOutcome(t, free, {0x80, 0x80}, {0, 0}, step);
            h.Command(t, blockOffset, static_cast<uint16_t>(n - 1));
            std::array<std::array<uint16_t, 16>, 2> buffer{};
            std::array<uint16_t, 2> loaded{};
            for (uint32_t i = 0; i < n; ++i) {
                uint32_t slot = pick(16);
                std::array<uint16_t, 2> data = {half(), half()};
                h.Store(t, (window + slot) * 4, data);
                for (size_t c = 0; c < 2; ++c) {
                    buffer[c][slot] = data[c];
                    loaded[c] = static_cast<uint16_t>(loaded[c] | 1u << slot);
                }
            }
            h.Command(t, blockOffset, 0xD0);
            auto got = h.Poll(t, blockOffset);
            std::array<uint8_t, 2> status{};
            std::array<uint32_t, 2> busy{};
            for (int c = 0; c < 2; ++c) {
                if (!t.Has(c)) {
                    continue;
                }
                auto ci = static_cast<size_t>(c);
                status[ci] = lockedOn(c) ? 0x92 : 0x80;
                busy[ci] = lockedOn(c) ? 0 : kTiming.writeStatusReads;
                if (lockedOn(c)) {
                    ++refused;
                    continue;
                }
                for (uint32_t slot = 0; slot < 16; ++slot) {
                    if ((loaded[ci] >> slot) & 1u) {
                        ref.Set(c, window + slot,
                                static_cast<uint16_t>(ref.Get(c, window + slot) & buffer[ci][slot]));
                    }
                }
            }
            h.ExpectOutcome(t, got, status, busy, step);
            ++programs;
        } else if (roll < 75) {
            // A broken sequence changes no cell.
            uint16_t notConfirm = static_cast<uint16_t>(rng());
            if ((notConfirm & 0xFF) == 0xD0) {
                notConfirm ^= 0x01;
            }
            switch (pick(4)) {
                case 0:
                    h.Command(t, blockOffset, 0xE8);
                    h.Command(t, blockOffset, static_cast<uint16_t>(16 + pick(0xFFF0)));
                    break;
                case 1:
                    h.Command(t, blockOffset, 0xE8);
                    h.Command(t, blockOffset, 0);
                    h.Store(t, blockOffset, {half(), half()});
                    h.Command(t, blockOffset, notConfirm);
                    break;
                case 2:
                    h.Command(t, blockOffset, 0xE8);
                    h.Command(t, blockOffset, 1);
                    h.Store(t, blockOffset + 4 * pick(16), {0, 0});
                    h.Store(t, blockOffset + 64 + 4 * pick(kWordsPerBlock - 16), {0, 0});
                    break;
                default:
                    h.Command(t, blockOffset, 0x20);
                    h.Command(t, blockOffset, notConfirm);
                    break;
            }
            auto got = h.Poll(t, blockOffset);
            h.ExpectOutcome(t, got, {0xB0, 0xB0}, {0, 0}, step);
            ++sequenceErrors;
        } else if (roll < 85) {
            // 60 01 sets this block's lock bit, 60 D0 clears all of the chip.
            bool clearAll = pick(3) == 0;
            h.Command(t, blockOffset, 0x60);
            h.Command(t, blockOffset, clearAll ? 0xD0 : 0x01);
            auto got = h.Poll(t, blockOffset);
            h.ExpectOutcome(t, got, {0x80, 0x80}, {kTiming.unlockStatusReads, kTiming.unlockStatusReads},
                            step);
            for (int c = 0; c < 2; ++c) {
                if (!t.Has(c)) {
                    continue;
                }
                auto& bits = ref.locked[static_cast<size_t>(c)];
                if (clearAll) {
                    bits.fill(false);
                } else {
                    bits[block] = true;
                }
            }
            // The identifier read shows each chip's lock bit at +8.
            h.BackToReadArray();
            bank.Write32(blockOffset, 0x00900090);
            uint32_t lockWord = bank.Read32(blockOffset + 8);
            EXPECT_EQ(lockWord, uint32_t{ref.locked[1][block]} << 16 | uint32_t{ref.locked[0][block]})
                << "step " << step;
        } else {
            h.BackToReadArray();
            uint32_t word = pick(kBankBytes / 4);
            EXPECT_EQ(bank.Read32(word * 4), uint32_t{ref.Get(1, word)} << 16 | ref.Get(0, word))
                << "step " << step;
        }

        h.BackToReadArray();
        ASSERT_TRUE(bank.InReadArray()) << "step " << step;
        if (step % 250 == 249) {
            ASSERT_EQ(std::memcmp(bank.Cells().data(), ref.cells.data(), kBankBytes), 0) << "step " << step;
        }
    }
    ASSERT_EQ(std::memcmp(bank.Cells().data(), ref.cells.data(), kBankBytes), 0);
    // The walk went through every kind of outcome.
    EXPECT_GT(erases, 500);
    EXPECT_GT(programs, 1500);
    EXPECT_GT(refused, 50);
    EXPECT_GT(sequenceErrors, 200);
    EXPECT_TRUE(bank.TakeNotes().size() > 0);
}

}  // namespace
}  // namespace nuva::sim
