// The handheld's bus, as its programs see it through the register
// accessors: the flash in its uncached (0xA0000000) and cached (0x80000000)
// windows, RAM in its cached (0x84000000) and uncached (0xA4000000) windows,
// the frame buffer at 0xBE042000 and the platform register blocks. Nothing
// else answers: an access there, a misaligned access or a byte store to the
// flash is refused, and the machine faults the handheld.
//
// Reads through the flash's cached window are answered by the data cache
// (flash_cache.h), which the programs clean with CacheSync. The RAM windows
// are both served straight from RAM: every RAM write a program makes goes
// through the same processor, so no program can tell the two apart.
//
// The flash bank is a bus of its own with its own lock (held briefly for
// every flash access); the registers have theirs. RAM and the frame buffer
// are plain memory, as the processor sees them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "formats/le.h"
#include "handheld-sim/flash/flash_bank.h"
#include "handheld-sim/machine/flash_cache.h"
#include "handheld-sim/machine/handheld.h"
#include "handheld-sim/machine/platform_registers.h"

namespace nuva::sim {

inline constexpr uint32_t kFrameBufferBytes = 240 * 320 * 2;

// kFlashCached: the flash through its cached window. (A target of its own
// rather than a flag: the slot stays one register pair wide on the hot path.)
enum class BusTarget { kNone, kFlash, kFlashCached, kRam, kFrameBuffer, kRegisters };

struct BusSlot {
    BusTarget target = BusTarget::kNone;
    // Byte offset into the flash, RAM or frame buffer; for registers the
    // address itself.
    uint32_t offset = 0;
};

// The device behind `address` for an access of `width` bytes; kNone when any
// byte of the access lies outside every device.
BusSlot DecodeBus(uint32_t address, uint32_t width, uint32_t flashBytes, uint32_t ramBytes);

// The lock of the flash bus. Every flash access of the flasher takes it, and
// nearly always nobody else holds it, so it spins briefly instead of paying
// for a full mutex.
class BusLock {
  public:
    void lock() {
        while (held_.exchange(true, std::memory_order_acquire)) {
            while (held_.load(std::memory_order_relaxed)) {
                std::this_thread::yield();
            }
        }
    }
    void unlock() { held_.store(false, std::memory_order_release); }

  private:
    std::atomic<bool> held_{false};
};

enum class BusResult {
    kDone,
    kRestart,         // a register write fired the restart line
    kMisaligned,      // the address is not a multiple of the width
    kUnbacked,        // nothing answers at the address
    kFlashByteStore,  // the flash has no byte lanes for stores
};

// The first flash chip that is not in read-array mode, and its mode.
struct FlashAway {
    int chip = 0;
    ChipMode mode = ChipMode::kReadArray;
};

class MemoryBus {
  public:
    // `ram` is the RAM's bytes (`ramBytes` of them); it outlives the bus.
    MemoryBus(uint32_t flashBytes, uint8_t* ram, uint32_t ramBytes);

    uint32_t FlashBytes() const { return flashBytes_; }

    // Accesses of 1, 2 or 4 bytes. Anything but kDone (and kRestart for a
    // write, which was made) leaves memory as it was.
    BusResult Read(uint32_t address, uint32_t width, uint32_t& value);
    BusResult Write(uint32_t address, uint32_t width, uint32_t value);
    // `count` elements of `width` bytes at consecutive addresses. On a result
    // other than kDone, `at` is the address of the element that ended it.
    BusResult ReadBlock(uint32_t address, uint32_t width, void* buffer, uint32_t count, uint32_t& at);
    BusResult WriteBlock(uint32_t address, uint32_t width, const void* buffer, uint32_t count, uint32_t& at);

    // Whether a flash read found a chip busy since the last call: the model
    // shrinks an operation's time into its status reads, so such a read is
    // where the handheld's time passes.
    bool TakeBusyRead() { return busyRead_.exchange(false, std::memory_order_relaxed); }
    // Whether both chips are in read-array mode, as of the last flash access.
    bool FlashInReadArray() const { return readArray_.load(std::memory_order_relaxed); }
    // The chip that is not in read-array mode, asked of the chips now.
    std::optional<FlashAway> FlashNotInReadArray();

    // The cache of the flash window: CacheSync drops it.
    void CleanCache();
    bool CacheHolds(uint32_t flashOffset);

    // Power-on state: chips in read array, cache empty.
    void Reset();
    // Runs `body` on the bank under the flash bus's lock (machine and tests).
    void WithFlash(const std::function<void(FlashBank&)>& body);
    FlashBank& Flash() { return *flash_; }

    std::vector<uint8_t>& FrameBuffer() { return frameBuffer_; }
    const std::vector<uint8_t>& FrameBuffer() const { return frameBuffer_; }
    std::vector<RegisterWrite> RegisterWrites() const;
    std::optional<uint32_t> RegisterValue(uint32_t address) const;

  private:
    uint32_t ReadFlash(const BusSlot& slot, uint32_t width);
    uint32_t ReadFlashLocked(const BusSlot& slot, uint32_t width);
    void WriteFlashLocked(uint32_t offset, uint32_t width, uint32_t value);
    uint32_t ReadRegister(uint32_t address, uint32_t width);
    bool WriteRegister(uint32_t address, uint32_t width, uint32_t value);
    void NoteFlashState();

    const uint32_t flashBytes_;
    uint8_t* const ram_;
    const uint32_t ramBytes_;
    std::unique_ptr<FlashBank> flash_;
    FlashCache cache_;
    BusLock flashMu_;
    std::atomic<bool> readArray_{true};
    std::atomic<bool> busyRead_{false};
    std::vector<uint8_t> frameBuffer_;
    PlatformRegisters registers_;
    mutable std::mutex regMu_;
};

// Reads and writes of RAM and the frame buffer are the bulk of a flasher's
// traffic: they are decided here, inline in the machine's accessors.
namespace bus_detail {
inline constexpr size_t kMaxRegisterWrites = 1u << 16;

inline uint32_t LoadWidth(const uint8_t* p, uint32_t width) {
    return width == 4 ? LoadLe32(p) : width == 2 ? LoadLe16(p) : p[0];
}

inline void StoreWidth(uint8_t* p, uint32_t width, uint32_t value) {
    if (width == 4) {
        StoreLe32(p, value);
    } else if (width == 2) {
        StoreLe16(p, static_cast<uint16_t>(value));
    } else {
        p[0] = static_cast<uint8_t>(value);
    }
}

}  // namespace bus_detail

inline BusResult MemoryBus::Read(uint32_t address, uint32_t width, uint32_t& value) {
    if ((address & (width - 1)) != 0) [[unlikely]] {
        return BusResult::kMisaligned;
    }
    BusSlot slot = DecodeBus(address, width, flashBytes_, ramBytes_);
    switch (slot.target) {
        case BusTarget::kRam:
            value = bus_detail::LoadWidth(ram_ + slot.offset, width);
            return BusResult::kDone;
        case BusTarget::kFlash:
        case BusTarget::kFlashCached:
            value = ReadFlashLocked(slot, width);
            return BusResult::kDone;
        case BusTarget::kFrameBuffer:
            value = bus_detail::LoadWidth(frameBuffer_.data() + slot.offset, width);
            return BusResult::kDone;
        case BusTarget::kRegisters:
            value = ReadRegister(address, width);
            return BusResult::kDone;
        case BusTarget::kNone:
            break;
    }
    return BusResult::kUnbacked;
}

inline BusResult MemoryBus::Write(uint32_t address, uint32_t width, uint32_t value) {
    if ((address & (width - 1)) != 0) [[unlikely]] {
        return BusResult::kMisaligned;
    }
    BusSlot slot = DecodeBus(address, width, flashBytes_, ramBytes_);
    switch (slot.target) {
        case BusTarget::kRam:
            bus_detail::StoreWidth(ram_ + slot.offset, width, value);
            return BusResult::kDone;
        case BusTarget::kFlash:
        case BusTarget::kFlashCached: {
            if (width == 1) {
                return BusResult::kFlashByteStore;
            }
            WriteFlashLocked(slot.offset, width, value);
            return BusResult::kDone;
        }
        case BusTarget::kFrameBuffer:
            bus_detail::StoreWidth(frameBuffer_.data() + slot.offset, width, value);
            return BusResult::kDone;
        case BusTarget::kRegisters:
            return WriteRegister(address, width, value) ? BusResult::kRestart : BusResult::kDone;
        case BusTarget::kNone:
            break;
    }
    return BusResult::kUnbacked;
}

}  // namespace nuva::sim
