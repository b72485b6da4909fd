#include "handheld-sim/machine/bus.h"

#include "handheld-sim/machine/platform_registers.h"
#include "platform/wince/nuva_platform.h"

namespace nuva::sim {
namespace {

// Whether [address, address + width) lies inside [base, base + size); the
// offset into the window when it does.
bool Inside(uint32_t address, uint32_t width, uint32_t base, uint32_t size, uint32_t& offset) {
    uint32_t rel = address - base;  // wraps far out of range below `base`
    if (rel < size && width <= size - rel) {
        offset = rel;
        return true;
    }
    return false;
}

}  // namespace

BusSlot DecodeBus(uint32_t address, uint32_t width, uint32_t flashBytes, uint32_t ramBytes) {
    BusSlot slot;
    if (Inside(address, width, NUVA_FLASH_UNCACHED, flashBytes, slot.offset) ||
        Inside(address, width, NUVA_FLASH_CACHED, flashBytes, slot.offset)) {
        slot.target = BusTarget::kFlash;
    } else if (Inside(address, width, NUVA_RAM_UNCACHED, ramBytes, slot.offset) ||
               Inside(address, width, NUVA_RAM_CACHED, ramBytes, slot.offset)) {
        slot.target = BusTarget::kRam;
    } else if (Inside(address, width, NUVA_FRAME_BUFFER, kFrameBufferBytes, slot.offset)) {
        slot.target = BusTarget::kFrameBuffer;
    } else if (PlatformRegisters::Decodes(address) && PlatformRegisters::Decodes(address + width - 1)) {
        slot.target = BusTarget::kRegisters;
        slot.offset = address;
    }
    return slot;
}

}  // namespace nuva::sim
