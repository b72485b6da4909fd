#include "handheld-sim/machine/bus.h"

#include <cstring>

#include "formats/le.h"
#include "platform/wince/nuva_platform.h"

namespace nuva::sim {
namespace {

using bus_detail::kMaxRegisterWrites;
using bus_detail::LoadWidth;
using bus_detail::StoreWidth;

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
    if (Inside(address, width, NUVA_FLASH_UNCACHED, flashBytes, slot.offset)) {
        slot.target = BusTarget::kFlash;
    } else if (Inside(address, width, NUVA_FLASH_CACHED, flashBytes, slot.offset)) {
        slot.target = BusTarget::kFlashCached;
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

MemoryBus::MemoryBus(uint32_t flashBytes, uint8_t* ram, uint32_t ramBytes)
    : flashBytes_(flashBytes),
      ram_(ram),
      ramBytes_(ramBytes),
      flash_(std::make_unique<FlashBank>(flashBytes)),
      frameBuffer_(kFrameBufferBytes, 0) {}

// Under flashMu_.
void MemoryBus::NoteFlashState() {
    readArray_.store(flash_->InReadArray(), std::memory_order_relaxed);
}

// Under flashMu_.
uint32_t MemoryBus::ReadFlash(const BusSlot& slot, uint32_t width) {
    if (slot.target == BusTarget::kFlashCached) {
        // The line fill reads the chips as they answer now, whatever their
        // mode: the cache keeps a status word as readily as array data.
        const uint8_t* p = cache_.Line(slot.offset, [&](uint32_t first, uint8_t* line) {
            for (uint32_t i = 0; i < FlashCache::kLineBytes; i += 4) {
                if (!flash_->InReadArray() &&
                    (flash_->Mode(0) == ChipMode::kBusy || flash_->Mode(1) == ChipMode::kBusy)) {
                    busyRead_.store(true, std::memory_order_relaxed);
                }
                StoreLe32(line + i, flash_->Read32(first + i));
            }
        });
        NoteFlashState();
        return LoadWidth(p, width);
    }
    if (!flash_->InReadArray()) [[unlikely]] {
        if (flash_->Mode(0) == ChipMode::kBusy || flash_->Mode(1) == ChipMode::kBusy) {
            busyRead_.store(true, std::memory_order_relaxed);
        }
    }
    uint32_t value = width == 4   ? flash_->Read32(slot.offset)
                     : width == 2 ? flash_->Read16(slot.offset)
                                  : flash_->Read8(slot.offset);
    NoteFlashState();
    return value;
}

BusResult MemoryBus::ReadBlock(uint32_t address, uint32_t width, void* buffer, uint32_t count, uint32_t& at) {
    auto* out = static_cast<uint8_t*>(buffer);
    uint64_t total = static_cast<uint64_t>(count) * width;
    if (count == 0) {
        return BusResult::kDone;
    }
    if ((address & (width - 1)) == 0 && total <= UINT32_MAX) {
        BusSlot slot = DecodeBus(address, static_cast<uint32_t>(total), flashBytes_, ramBytes_);
        if (slot.target == BusTarget::kRam) {
            std::memcpy(out, ram_ + slot.offset, total);
            return BusResult::kDone;
        }
        if (slot.target == BusTarget::kFrameBuffer) {
            std::memcpy(out, frameBuffer_.data() + slot.offset, total);
            return BusResult::kDone;
        }
        if (slot.target == BusTarget::kFlash || slot.target == BusTarget::kFlashCached) {
            std::lock_guard<BusLock> lock(flashMu_);
            // A backup reads the flash 16 KB per call through the uncached
            // window: in read array, reads of any width are the cells as
            // they lie (little-endian), so the block is one copy.
            if (slot.target == BusTarget::kFlash &&
                flash_->ReadArrayBytes(slot.offset, out, static_cast<uint32_t>(total))) {
                NoteFlashState();
                return BusResult::kDone;
            }
            for (uint32_t i = 0; i < count; ++i) {
                BusSlot element = slot;
                element.offset = slot.offset + i * width;
                StoreWidth(out + i * width, width, ReadFlash(element, width));
            }
            return BusResult::kDone;
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        uint32_t value = 0;
        at = address + i * width;
        BusResult result = Read(at, width, value);
        if (result != BusResult::kDone) {
            return result;
        }
        StoreWidth(out + i * width, width, value);
    }
    return BusResult::kDone;
}

BusResult MemoryBus::WriteBlock(uint32_t address, uint32_t width, const void* buffer, uint32_t count,
                                uint32_t& at) {
    const auto* in = static_cast<const uint8_t*>(buffer);
    uint64_t total = static_cast<uint64_t>(count) * width;
    if (count == 0) {
        return BusResult::kDone;
    }
    if ((address & (width - 1)) == 0 && total <= UINT32_MAX) {
        BusSlot slot = DecodeBus(address, static_cast<uint32_t>(total), flashBytes_, ramBytes_);
        if (slot.target == BusTarget::kRam) {
            std::memcpy(ram_ + slot.offset, in, total);
            return BusResult::kDone;
        }
        if (slot.target == BusTarget::kFrameBuffer) {
            std::memcpy(frameBuffer_.data() + slot.offset, in, total);
            return BusResult::kDone;
        }
        if ((slot.target == BusTarget::kFlash || slot.target == BusTarget::kFlashCached) && width == 4) {
            std::lock_guard<BusLock> lock(flashMu_);
            for (uint32_t i = 0; i < count; ++i) {
                flash_->Write32(slot.offset + 4 * i, LoadLe32(in + 4 * i));
            }
            NoteFlashState();
            return BusResult::kDone;
        }
    }
    for (uint32_t i = 0; i < count; ++i) {
        at = address + i * width;
        BusResult result = Write(at, width, LoadWidth(in + i * width, width));
        if (result != BusResult::kDone) {
            return result;
        }
    }
    return BusResult::kDone;
}

uint32_t MemoryBus::ReadRegister(uint32_t address, uint32_t width) {
    std::lock_guard<std::mutex> lock(regMu_);
    return registers_.Read(address, static_cast<int>(width));
}

bool MemoryBus::WriteRegister(uint32_t address, uint32_t width, uint32_t value) {
    std::lock_guard<std::mutex> lock(regMu_);
    bool restart = registers_.Write(address, static_cast<int>(width), value);
    registers_.TrimWrites(kMaxRegisterWrites);
    return restart;
}

uint32_t MemoryBus::ReadFlashLocked(const BusSlot& slot, uint32_t width) {
    std::lock_guard<BusLock> lock(flashMu_);
    return ReadFlash(slot, width);
}

void MemoryBus::WriteFlashLocked(uint32_t offset, uint32_t width, uint32_t value) {
    std::lock_guard<BusLock> lock(flashMu_);
    if (width == 4) {
        flash_->Write32(offset, value);
    } else {
        flash_->Write16(offset, static_cast<uint16_t>(value));
    }
    NoteFlashState();
}

std::optional<FlashAway> MemoryBus::FlashNotInReadArray() {
    std::lock_guard<BusLock> lock(flashMu_);
    NoteFlashState();
    if (flash_->InReadArray()) {
        return std::nullopt;
    }
    for (int c = 0; c < 2; ++c) {
        ChipMode mode = flash_->Mode(c);
        if (mode != ChipMode::kReadArray) {
            return FlashAway{c, mode};
        }
    }
    return FlashAway{0, flash_->Mode(0)};
}

void MemoryBus::CleanCache() {
    std::lock_guard<BusLock> lock(flashMu_);
    cache_.Invalidate();
}

bool MemoryBus::CacheHolds(uint32_t flashOffset) {
    std::lock_guard<BusLock> lock(flashMu_);
    return cache_.Holds(flashOffset);
}

void MemoryBus::Reset() {
    std::lock_guard<BusLock> lock(flashMu_);
    flash_->Reset();
    cache_.Invalidate();
    NoteFlashState();
    busyRead_.store(false);
}

void MemoryBus::WithFlash(const std::function<void(FlashBank&)>& body) {
    std::lock_guard<BusLock> lock(flashMu_);
    body(*flash_);
    NoteFlashState();
}

std::vector<RegisterWrite> MemoryBus::RegisterWrites() const {
    std::lock_guard<std::mutex> lock(regMu_);
    return registers_.Writes();
}

std::optional<uint32_t> MemoryBus::RegisterValue(uint32_t address) const {
    std::lock_guard<std::mutex> lock(regMu_);
    return registers_.Word(address);
}

}  // namespace nuva::sim
