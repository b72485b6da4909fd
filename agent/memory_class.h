// What the handheld's memory configuration code decides for the agent: the
// RAM and flash sizes it reports, where the reserved RAM block with the
// cold-start words lies, and which flash reads it serves. Pure decisions.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "platform/wince/nuva_platform.h"

namespace nuva::agent {

struct MemoryClass {
    bool known;              // one of the two codes of this model
    uint32_t ramMB;          // as reported: 0 when unknown
    uint32_t flashMB;        // as reported: 0 when unknown
    uint32_t reservedBlock;  // uncached address of the reserved RAM block
};

constexpr MemoryClass MemoryClassOf(uint32_t config) {
    if (config == NUVA_MEMORY_ADVANCED) {
        return {true, 64, 48, NUVA_RESERVED_RAM_ADVANCED};
    }
    if (config == NUVA_MEMORY_BASIC) {
        return {true, 32, 32, NUVA_RESERVED_RAM_BASIC};
    }
    return {false, 0, 0, NUVA_RESERVED_RAM_BASIC};
}

// The largest flash read the agent serves in one call; the desktop reads
// 16 KB at a time.
inline constexpr uint32_t kMaxFlashRead = 1u << 20;

// Whether a flash read of `length` bytes from `address` stays wholly inside
// one of the two flash windows (uncached 0xA0000000, cached 0x80000000) of
// the flash this configuration has, and is not larger than kMaxFlashRead.
// When the configuration is not known, the smaller (32 MB) flash is assumed,
// which every model has. Anything else would read whatever lies at the
// address (RAM, registers) or fault the handheld on an unbacked address.
constexpr bool FlashReadAllowed(uint32_t address, uint32_t length, uint32_t config) {
    if (length > kMaxFlashRead) {
        return false;
    }
    const MemoryClass memory = MemoryClassOf(config);
    const uint64_t flashBytes = uint64_t{memory.known ? memory.flashMB : 32u} << 20;
    const uint64_t end = uint64_t{address} + length;
    for (const uint64_t window : {uint64_t{NUVA_FLASH_UNCACHED}, uint64_t{NUVA_FLASH_CACHED}}) {
        if (address >= window && end <= window + flashBytes) {
            return true;
        }
    }
    return false;
}

}  // namespace nuva::agent
