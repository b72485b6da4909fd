// The platform's register blocks as the bus sees them: five 4 KB blocks
// (0xA8100000, 0xA8F00000, 0xA9000000, 0xA9500000 and the display
// controller at 0xBE040000) whose words keep what was written and read it
// back, with every write recorded in order.
//
// What the registers do is the platform's business; the one behaviour the
// handheld models is the restart line: once RESTART_ARM (0xA9000024) holds
// bit 21, a write to RESTART_FIRE (0xA900000C) with bit 21 set restarts the
// handheld. The fire bit does not stay set: the restart clears it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "handheld-sim/machine/handheld.h"

namespace nuva::sim {

inline constexpr uint32_t kRegisterBlockBytes = 0x1000;
inline constexpr std::array<uint32_t, 5> kRegisterBlocks = {0xA8100000u, 0xA8F00000u, 0xA9000000u,
                                                            0xA9500000u, 0xBE040000u};

class PlatformRegisters {
  public:
    PlatformRegisters();

    // Whether `address` lies in one of the blocks.
    static bool Decodes(uint32_t address);

    // Aligned accesses of 1, 2 or 4 bytes to an address that Decodes().
    uint32_t Read(uint32_t address, int width) const;
    // Returns true when this write fires the restart line.
    bool Write(uint32_t address, int width, uint32_t value);

    std::optional<uint32_t> Word(uint32_t address) const;
    const std::vector<RegisterWrite>& Writes() const { return writes_; }
    // Keeps the record to the newest `limit` writes.
    void TrimWrites(size_t limit);

  private:
    uint8_t* Cell(uint32_t address);
    const uint8_t* Cell(uint32_t address) const;

    std::array<std::array<uint8_t, kRegisterBlockBytes>, kRegisterBlocks.size()> blocks_{};
    std::vector<RegisterWrite> writes_;
};

}  // namespace nuva::sim
