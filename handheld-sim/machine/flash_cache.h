// The processor's data cache as the flash's cached window (0x80000000) sees
// it. A read through that window is answered from the cache when the line is
// there; otherwise the line (32 bytes) is filled by reading the bus in
// whatever mode the chips are in at that moment, and kept. So a status poll
// through the cached window sees the status of its first read for ever, and
// cells programmed after a line was filled show there only once the program
// has cleaned the cache (CacheSync), as on the device.
//
// Stores through the cached window go straight to the chips and leave a
// cached copy as it was: the flash is mapped write-through without
// allocation, and the chips' answers are not what was stored anyway.
//
// Departure from the processor: one direct-mapped 32 KB array of lines. A
// real cache is set-associative with its own replacement; which line an
// unrelated read evicts does not change what a correct flasher sees, as it
// never reads the chips through this window while they are not in
// read-array mode.
//
// Not thread-safe: it lives behind the flash bus's lock.
#pragma once

#include <array>
#include <cstdint>

namespace nuva::sim {

class FlashCache {
  public:
    static constexpr uint32_t kLineBytes = 32;
    static constexpr uint32_t kLines = 1024;

    FlashCache() { Invalidate(); }

    // The cached line holding flash byte `offset`, filled through `fill`
    // (called with the line's first offset and a 32-byte buffer) when absent.
    template <class Fill>
    const uint8_t* Line(uint32_t offset, Fill fill) {
        uint32_t line = offset / kLineBytes;
        uint32_t slot = line % kLines;
        if (tags_[slot] != line) {
            fill(line * kLineBytes, data_[slot].data());
            tags_[slot] = line;
        }
        return data_[slot].data() + offset % kLineBytes;
    }

    // Drops every line (clean and invalidate: the lines are never dirty).
    void Invalidate() { tags_.fill(kNoLine); }

    // Whether the line holding `offset` is cached (for tests).
    bool Holds(uint32_t offset) const { return tags_[(offset / kLineBytes) % kLines] == offset / kLineBytes; }

  private:
    static constexpr uint32_t kNoLine = 0xFFFFFFFF;
    std::array<uint32_t, kLines> tags_{};
    std::array<std::array<uint8_t, kLineBytes>, kLines> data_{};
};

}  // namespace nuva::sim
