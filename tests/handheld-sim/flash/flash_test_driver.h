// What a careful driver sends to the flash bank, as 32-bit stores that carry
// each command to both chips, with the status words it sees along the way.
#pragma once

#include <cstdint>
#include <span>

#include "handheld-sim/flash/flash_bank.h"
#include "platform/clock/clock.h"

namespace nuva::sim::testing {

inline constexpr uint32_t kBothReady = 0x00800080;

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

// These tests count the status reads an operation lasts, which only scale 0
// makes exact (above it the scaled clock may end an operation first): every
// test program that includes this header starts at scale 0, and a test that
// wants time sets its own scale with a ScaleGuard.
inline const bool kStartsAtScaleZero = [] {
    SetTimeScale(0);
    return true;
}();

inline uint32_t Both(uint16_t half) {
    return uint32_t{half} << 16 | half;
}

struct PollResult {
    uint32_t status;
    uint32_t busyReads;  // reads that showed a chip not ready
};

// Reads `offset` until both ready bits are set, at most `maxReads` times.
inline PollResult Poll(FlashBank& bank, uint32_t offset, uint32_t maxReads = 1000) {
    PollResult r{0, 0};
    for (uint32_t i = 0; i < maxReads; ++i) {
        r.status = bank.Read32(offset);
        if ((r.status & kBothReady) == kBothReady) {
            return r;
        }
        ++r.busyReads;
    }
    return r;
}

// 20 D0 at the block, then poll: the final status word (the chips stay in
// read status).
inline uint32_t EraseBlock(FlashBank& bank, uint32_t blockOffset) {
    bank.Write32(blockOffset, Both(0x20));
    bank.Write32(blockOffset, Both(0xD0));
    return Poll(bank, blockOffset).status;
}

// E8, wait for the buffer, the count, the words, D0, then poll: the final
// status word.
inline uint32_t WriteBuffer(FlashBank& bank, uint32_t offset, std::span<const uint32_t> words) {
    bank.Write32(offset, Both(0xE8));
    Poll(bank, offset);
    auto count = static_cast<uint16_t>(words.size() - 1);
    bank.Write32(offset, Both(count));
    for (size_t i = 0; i < words.size(); ++i) {
        bank.Write32(offset + static_cast<uint32_t>(4 * i), words[i]);
    }
    bank.Write32(offset, Both(0xD0));
    return Poll(bank, offset).status;
}

}  // namespace nuva::sim::testing
