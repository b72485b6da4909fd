#include "model_handheld.h"

#include <algorithm>
#include <cstdio>

#include "platform/clock/clock.h"
#include "reflash/flash_routines.h"

namespace nuva::reflash::test {
namespace {

// The model's tests give the routines small budgets of status reads and
// count the reads operations last, which scale 0 makes exact (there an
// operation lasts FlashTiming's few reads). A test about time sets its own
// scale.
const bool kStartsAtScaleZero = [] {
    SetTimeScale(0);
    return true;
}();

constexpr uint32_t kRamBytes = 64u << 20;
constexpr uint32_t kRamPageBytes = 0x10000;
constexpr uint32_t kBufferZeroPhysical = 0xA0200000;

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

}  // namespace

ModelBus::ModelBus(uint32_t flashBytes, sim::FlashTiming timing) : bank_(flashBytes, timing) {}

bool ModelBus::FlashOffset(uint32_t address, uint32_t* offset) const {
    uint32_t uncached = address | kUncachedWindow;
    if (uncached < kFlashBase || uncached - kFlashBase >= bank_.Size() ||
        (address & 0xC0000000) != 0x80000000) {
        return false;
    }
    *offset = uncached - kFlashBase;
    return true;
}

bool ModelBus::RamOffset(uint32_t address, uint32_t* offset) const {
    uint32_t uncached = address | kUncachedWindow;
    if (uncached < 0xA4000000 || uncached >= 0xA4000000 + kRamBytes || (address & 0xC0000000) != 0x80000000) {
        return false;
    }
    *offset = uncached - 0xA4000000;
    return true;
}

bool ModelBus::IsRegister(uint32_t address) const {
    uint32_t block = address & 0xFFF00000;
    return block == 0xA8100000 || block == 0xA8F00000 || block == 0xA9000000 || block == 0xA9500000 ||
           (address >= 0xBE040000 && address < 0xBE042000);
}

uint32_t ModelBus::Read32(uint32_t address) {
    uint32_t offset = 0;
    if (FlashOffset(address, &offset)) {
        if (++flashReads == powerLossAtRead) {
            bank_.Reset();
            throw PowerLost{};
        }
        return bank_.Read32(offset);
    }
    if (RamOffset(address, &offset)) {
        return RamWord(address);
    }
    if (IsRegister(address)) {
        auto it = registers_.find(address);
        return it == registers_.end() ? 0 : it->second;
    }
    faults.push_back("read of " + Hex(address));
    return 0;
}

void ModelBus::Write32(uint32_t address, uint32_t value) {
    uint32_t offset = 0;
    if (FlashOffset(address, &offset)) {
        if (value == flash_command::kEraseSetup && events != nullptr) {
            events->push_back("erase " + Hex(offset));
        }
        bank_.Write32(offset, value);
        return;
    }
    if (RamOffset(address, &offset)) {
        SetRamWord(address, value);
        return;
    }
    if (IsRegister(address)) {
        registerWrites.push_back({address, value});
        if (address == kRestartRegisters + kRestartFireOffset && (value & kRestartBit) != 0 &&
            registers_[kRestartRegisters + kRestartArmOffset] == kRestartBit) {
            ++restarts;
            if (events != nullptr) {
                events->push_back("restart");
            }
        }
        registers_[address] = value;
        return;
    }
    faults.push_back("write of " + Hex(value) + " to " + Hex(address));
}

void ModelBus::Read32s(uint32_t address, uint32_t* words, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        words[i] = Read32(address + 4 * i);
    }
}

void ModelBus::Write32s(uint32_t address, const uint32_t* words, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        Write32(address + 4 * i, words[i]);
    }
}

void ModelBus::Write8(uint32_t address, uint8_t value) {
    uint32_t offset = 0;
    if (!RamOffset(address, &offset)) {
        faults.push_back("byte write to " + Hex(address));
        return;
    }
    auto& page = ramPages_[offset / kRamPageBytes];
    if (page.empty()) {
        page.assign(kRamPageBytes, 0);
    }
    page[offset % kRamPageBytes] = value;
}

uint8_t ModelBus::RamByte(uint32_t address) const {
    uint32_t offset = 0;
    if (!RamOffset(address, &offset)) {
        return 0;
    }
    auto it = ramPages_.find(offset / kRamPageBytes);
    return it == ramPages_.end() ? 0 : it->second[offset % kRamPageBytes];
}

uint32_t ModelBus::RamWord(uint32_t address) const {
    return RamByte(address) | RamByte(address + 1) << 8 | RamByte(address + 2) << 16 |
           static_cast<uint32_t>(RamByte(address + 3)) << 24;
}

void ModelBus::SetRamWord(uint32_t address, uint32_t value) {
    for (uint32_t i = 0; i < 4; ++i) {
        Write8(address + i, static_cast<uint8_t>(value >> (8 * i)));
    }
}

void RecordingScreen::Text(uint16_t colour, std::string_view piece) {
    text += piece;
    if (bank != nullptr && !bank->InReadArray()) {
        busyTexts.emplace_back(piece);
    }
    if (events != nullptr) {
        events->emplace_back(piece);
    }
    if (colour == kStatusColour) {
        statusText += piece;
    }
}

void ModelSystem::CheckFlashIdle(const char* call) {
    if (!bus_.Bank().InReadArray()) {
        violations.push_back(call);
    }
}

bool ModelSystem::Open(const char16_t* path) {
    CheckFlashIdle("Open");
    auto it = files.find(path);
    if (it == files.end()) {
        return false;
    }
    open_ = &it->second;
    position_ = 0;
    return true;
}

bool ModelSystem::Size(uint32_t* bytes) {
    CheckFlashIdle("Size");
    if (open_ == nullptr) {
        return false;
    }
    *bytes = static_cast<uint32_t>(open_->size());
    return true;
}

bool ModelSystem::Read(uint8_t* buffer, uint32_t count, uint32_t* done) {
    CheckFlashIdle("Read");
    readSizes.push_back(count);
    if (open_ == nullptr || static_cast<int>(readSizes.size()) - 1 == failReadAt) {
        *done = 0;
        return false;
    }
    uint32_t n = std::min<uint32_t>(count, static_cast<uint32_t>(open_->size()) - position_);
    std::copy_n(open_->data() + position_, n, buffer);
    position_ += n;
    *done = n;
    return true;
}

void ModelSystem::Close() {
    CheckFlashIdle("Close");
    open_ = nullptr;
}

bool ModelSystem::Delete(const char16_t* path) {
    CheckFlashIdle("Delete");
    deleted.emplace_back(path);
    return files.erase(path) == 1;
}

uint8_t* ModelSystem::AllocateHeapBuffer() {
    CheckFlashIdle("AllocateHeapBuffer");
    if (heapAllocations == heapLimit) {
        return nullptr;
    }
    ++heapAllocations;
    heap_.push_back(std::make_unique<uint8_t[]>(kMegabyte));
    return heap_.back().get();
}

bool ModelSystem::AllocateContiguousBuffer(uint32_t* physical) {
    CheckFlashIdle("AllocateContiguousBuffer");
    if (!contiguousAvailable) {
        return false;
    }
    *physical = kBufferZeroPhysical;
    return true;
}

void ModelSystem::MaskInterrupts() {
    CheckFlashIdle("MaskInterrupts");
    interruptsMasked = true;
}

std::vector<uint8_t> PartBytes(uint32_t bytes, uint32_t seed) {
    std::vector<uint8_t> data(bytes);
    uint32_t x = seed * 2654435761u + 1;
    for (uint32_t i = 0; i < bytes; ++i) {
        x = x * 1103515245u + 12345u;
        data[i] = static_cast<uint8_t>(x >> 16);
    }
    return data;
}

}  // namespace nuva::reflash::test
