#include "handheld-sim/machine/platform_registers.h"

#include "formats/le.h"
#include "platform/wince/nuva_platform.h"

namespace nuva::sim {
namespace {

int BlockIndex(uint32_t address) {
    for (size_t i = 0; i < kRegisterBlocks.size(); ++i) {
        if (address - kRegisterBlocks[i] < kRegisterBlockBytes) {
            return static_cast<int>(i);
        }
    }
    return -1;
}

}  // namespace

PlatformRegisters::PlatformRegisters() = default;

bool PlatformRegisters::Decodes(uint32_t address) {
    return BlockIndex(address) >= 0;
}

uint8_t* PlatformRegisters::Cell(uint32_t address) {
    int block = BlockIndex(address);
    return blocks_[block].data() + (address - kRegisterBlocks[block]);
}

const uint8_t* PlatformRegisters::Cell(uint32_t address) const {
    int block = BlockIndex(address);
    return blocks_[block].data() + (address - kRegisterBlocks[block]);
}

uint32_t PlatformRegisters::Read(uint32_t address, int width) const {
    const uint8_t* cell = Cell(address);
    switch (width) {
        case 1:
            return cell[0];
        case 2:
            return LoadLe16(cell);
        default:
            return LoadLe32(cell);
    }
}

bool PlatformRegisters::Write(uint32_t address, int width, uint32_t value) {
    writes_.push_back({address, static_cast<uint8_t>(width), value});
    uint8_t* cell = Cell(address);
    switch (width) {
        case 1:
            cell[0] = static_cast<uint8_t>(value);
            break;
        case 2:
            StoreLe16(cell, static_cast<uint16_t>(value));
            break;
        default:
            StoreLe32(cell, value);
            break;
    }
    // Accesses are aligned, so a write reaches the fire word exactly when its
    // word address is that of the fire register.
    uint32_t fire = NUVA_REG_RESTART_FIRE;
    if ((address & ~3u) != fire) {
        return false;
    }
    uint32_t fireWord = LoadLe32(Cell(fire));
    bool armed = (LoadLe32(Cell(NUVA_REG_RESTART_ARM)) & NUVA_RESTART_BIT) != 0;
    if (armed && (fireWord & NUVA_RESTART_BIT) != 0) {
        StoreLe32(Cell(fire), fireWord & ~NUVA_RESTART_BIT);
        uint32_t arm = LoadLe32(Cell(NUVA_REG_RESTART_ARM));
        StoreLe32(Cell(NUVA_REG_RESTART_ARM), arm & ~NUVA_RESTART_BIT);
        return true;
    }
    return false;
}

std::optional<uint32_t> PlatformRegisters::Word(uint32_t address) const {
    if (!Decodes(address) || address % 4 != 0) {
        return std::nullopt;
    }
    return LoadLe32(Cell(address));
}

void PlatformRegisters::TrimWrites(size_t limit) {
    if (writes_.size() > limit) {
        writes_.erase(writes_.begin(), writes_.end() - static_cast<std::ptrdiff_t>(limit));
    }
}

}  // namespace nuva::sim
