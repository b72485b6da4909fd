// The byte sums of consecutive blocks of flash, so that the desktop can
// check what the flasher wrote without carrying every byte over the cable:
// only a block whose sum differs is read back in full.
#pragma once

#include <cstdint>

#include "agent/memory_class.h"

namespace nuva::agent {

// Input block: address, length, block size (32-bit each, little-endian).
inline constexpr uint32_t kFlashSumsRequestBytes = 12;
// One call answers at most this many sums, so that the answer stays small
// and a call ends long before the desktop gives up on it.
inline constexpr uint32_t kMaxFlashSums = 4096;

// How many blocks of `blockBytes` cover `length` bytes (the last one may be
// shorter), or 0 when the request is not served: no length, a block size of
// 0 or larger than one flash read, too many blocks, or any block outside the
// flash windows of this configuration.
constexpr uint32_t FlashSumsCount(uint32_t address, uint32_t length, uint32_t blockBytes, uint32_t config) {
    if (length == 0 || blockBytes == 0 || blockBytes > kMaxFlashRead) {
        return 0;
    }
    const uint32_t count = length / blockBytes + (length % blockBytes != 0 ? 1 : 0);
    if (count > kMaxFlashSums) {
        return 0;
    }
    // The whole range must lie in one window: the first block's read rule
    // places the address, and the range may not run past that window's end
    // (between the windows lie RAM, registers and unbacked addresses).
    if (!FlashReadAllowed(address, count == 1 ? length : blockBytes, config)) {
        return 0;
    }
    const MemoryClass memory = MemoryClassOf(config);
    const uint64_t flashBytes = uint64_t{memory.known ? memory.flashMB : 32u} << 20;
    const uint64_t window = address >= NUVA_FLASH_UNCACHED ? NUVA_FLASH_UNCACHED : NUVA_FLASH_CACHED;
    if (uint64_t{address} + length > window + flashBytes) {
        return 0;
    }
    return count;
}

}  // namespace nuva::agent
