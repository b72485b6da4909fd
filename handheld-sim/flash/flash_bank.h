// The handheld's flash bank, as the processor's bus sees it: two x16
// Intel/Sharp-command-set chips side by side on a 32-bit bus, each decoding
// its own 16-bit half of every access, each with its own mode, status
// register, write buffer and busy time. 256 KB blocks (128 KB per chip).
//
// Offsets are byte offsets from the start of the flash (physical 0); the
// machine maps its windows (0xA0000000 uncached, 0x80000000 cached) onto
// them. Accesses are aligned to their width.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace nuva::sim {

inline constexpr uint32_t kFlashBlockBytes = 0x40000;

enum class ChipMode { kReadArray, kReadStatus, kReadIdentifier, kWriteBufferCount, kWriteBufferData,
                      kWriteBufferConfirm, kEraseConfirm, kLockSetup, kBusy };

// How long operations take. An operation completes when either limit is
// reached: a number of status reads, or time on the scaled clock (0 = none).
struct FlashTiming {
    uint32_t eraseStatusReads = 4;
    uint32_t writeStatusReads = 1;
    uint32_t unlockStatusReads = 2;
    uint32_t eraseMicros = 0;  // nominal busy time of a block erase
    uint32_t writeMicros = 0;  // nominal busy time of a buffered write
};

// One logged bus access.
struct BusAccess {
    bool write;
    uint8_t width;  // 1, 2 or 4 bytes
    uint32_t offset;
    uint32_t value;
};

// Faults that tests and the control interface inject. Chip 0 holds bits 0-15
// of every 32-bit word, chip 1 bits 16-31; chip -1 means both.
struct FlashFault {
    enum class Kind {
        kBusyForever,    // the operations stay busy (never ready)
        kEraseError,     // erase ends with SR.5 set, cells unchanged
        kProgramError,   // program ends with SR.4 set, cells unchanged
        kLocked,         // the block is locked: erase/program end with SR.1 and SR.5/SR.4
        kStuckBits,      // cells whose bits stay 0 whatever is written (only a read-back shows)
    };
    Kind kind = Kind::kBusyForever;
    int chip = -1;
    // The block(s) affected: blockFirst..blockLast (block numbers of 256 KB);
    // -1 in blockFirst means every block.
    int32_t blockFirst = -1;
    int32_t blockLast = -1;
    // For busy/error faults: the fault applies to this many operations, then
    // clears (0 = for ever).
    uint32_t operations = 0;
    // kStuckBits: the byte offset of the word and the mask of bits held at 0.
    uint32_t stuckOffset = 0;
    uint32_t stuckMask = 0;
};

class FlashBank {
public:
    // `bytes` is 48 MB or 32 MB; the cells start erased (0xFF).
    explicit FlashBank(uint32_t bytes, FlashTiming timing = {});
    ~FlashBank();
    FlashBank(const FlashBank&) = delete;
    FlashBank& operator=(const FlashBank&) = delete;

    uint32_t Size() const;

    // Bus accesses. Reads return what the chips drive in their current mode
    // (array data, status, identifier); writes are commands or data.
    uint32_t Read32(uint32_t offset);
    uint16_t Read16(uint32_t offset);
    uint8_t Read8(uint32_t offset);
    void Write32(uint32_t offset, uint32_t value);
    void Write16(uint32_t offset, uint16_t value);

    // True when both chips are in read-array mode and idle: only then may the
    // processor execute from flash.
    bool InReadArray() const;
    ChipMode Mode(int chip) const;
    uint8_t Status(int chip) const;

    // The cells themselves, for the machine (boot, persistence, built-in
    // storage) and for tests; not a bus access.
    std::span<const uint8_t> Cells() const;
    std::span<uint8_t> MutableCells();
    // Back to read-array mode with clear status and no operation in progress,
    // as at power-on.
    void Reset();

    void InjectFault(const FlashFault& fault);
    void ClearFaults();
    // Block lock bits (as set at the factory or by the lock command).
    void SetBlockLocked(uint32_t block, bool locked);
    bool BlockLocked(uint32_t block) const;

    // The access log (off by default; it costs time).
    void EnableLog(bool on);
    std::vector<BusAccess> TakeLog();

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace nuva::sim
