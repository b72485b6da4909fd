// How the handheld's bus decodes a kernel virtual address: the flash in its
// uncached (0xA0000000) and cached (0x80000000) windows, RAM in its cached
// (0x84000000) and uncached (0xA4000000) windows, the frame buffer at
// 0xBE042000 and the platform register blocks. Nothing else answers; an
// access there faults the handheld.
#pragma once

#include <cstdint>

namespace nuva::sim {

inline constexpr uint32_t kFrameBufferBytes = 240 * 320 * 2;

enum class BusTarget { kNone, kFlash, kRam, kFrameBuffer, kRegisters };

struct BusSlot {
    BusTarget target = BusTarget::kNone;
    // Byte offset into the flash, RAM or frame buffer; for registers the
    // address itself.
    uint32_t offset = 0;
};

// The device behind `address` for an access of `width` bytes; kNone when any
// byte of the access lies outside every device.
BusSlot DecodeBus(uint32_t address, uint32_t width, uint32_t flashBytes, uint32_t ramBytes);

}  // namespace nuva::sim
