// The handheld's flash bank, as the processor's bus sees it: two x16
// Intel/Sharp-command-set chips side by side on a 32-bit bus, each decoding
// its own 16-bit half of every access, each with its own mode, status
// register, write buffer and busy time. 256 KB blocks (128 KB per chip).
//
// Offsets are byte offsets from the start of the flash (physical 0); the
// machine maps its windows (0xA0000000 uncached, 0x80000000 cached) onto
// them. Accesses are aligned to their width and lie inside the bank; anything
// else is a bug of the caller and aborts with a message.
//
// What the processor sees
// -----------------------
// Chip 0 owns bytes 0-1 of every 32-bit word, chip 1 bytes 2-3. A 32-bit
// store gives both chips a command (or data word), a 16-bit store reaches
// one chip only. A chip takes a command from the low byte of its half (the
// high byte is ignored, as on the real parts); data words and the buffer
// count use all 16 bits.
//
//   FF          read array
//   70          read status: the status register in the low byte of each
//               half (0x00800080 when both chips are ready)
//   50          clear status: clears SR.5, SR.4, SR.3 and SR.1; keeps SR.7
//               and the read mode
//   90          read identifier: in every block, word 0 (bus offset +0) the
//               manufacturer 0x0089, word 1 (+4) the device code, word 2 (+8)
//               the block's lock status (0 or 1); other words read 0
//   20 D0       erase the block that the D0 store addresses
//   E8 n d* D0  write to buffer: E8 in a block (reads now give the status,
//               SR.7 = buffer available), the count n-1 (0..15) in the same
//               block, n data words all inside the 16-word aligned window of
//               the first, D0 to confirm
//   60 01       set the addressed block's lock bit
//   60 D0       clear every lock bit of the chip
//   40 d / 10 d word program: one 16-bit word at the address of d
//   B0          erase suspend: an erase in progress stops (SR.7 and SR.6
//               set) and the chip takes read array, status, identifier and
//               program commands for other blocks; D0 resumes the erase
//
// Status register: SR.7 ready; SR.6 erase suspended; SR.5 erase (or
// clear-lock) error; SR.4 program (or set-lock) error; SR.3 VPP low; SR.1
// refused on a locked block. A command sequence error (a second cycle other
// than the one expected, a count above 15, the count or a data word outside
// the E8's block, data outside the window, erase or lock commands while an
// erase is suspended) sets SR.5 and SR.4 and leaves the chip in read status;
// the buffer is dropped. Erase and program on a locked block end at once with
// SR.1 and SR.5 (erase) or SR.4 (program), cells unchanged; so does a program
// of the block whose erase is suspended.
//
// Busy time is time. Erase, program and lock operations make the chip busy:
// every read returns the status with SR.7 clear, whatever the address; only
// 70, 50 (which clears the error bits, not busy) and B0 (during an erase) are
// taken; every other store is ignored and noted (TakeNotes). An operation
// lasts its nominal time (FlashTiming, the typical figures of a 28F128J3
// part), measured two ways at once, whichever reaches it first: the scaled
// clock (NUVA_TIME_SCALE), and the bus cycles of the reads the chip answers
// while busy, each of which takes FlashTiming::readCycleNanos of the
// handheld's time however fast the host runs them. So a driver that polls N
// times has waited at least N read cycles, and one that gives up after a few
// reads meets a chip that is still busy. At NUVA_TIME_SCALE=0 there is no
// time to wait: an operation then lasts FlashTiming's small number of status
// reads (those reads see SR.7 clear, the next one sees it set), which keeps
// the order of events and whole runs fast. The chip then stays in read
// status until FF. A slow fault stretches the operations it hits to its own
// time (up to the datasheet maximum or beyond) and count of reads.
//
// Interruptions. Reset() (a restart or power loss) in the middle of an erase
// or program leaves the cells half done, as the real cells are: an erase
// leaves the block partly erased (a share of its 0 bits set to 1), a program
// leaves its words partly programmed (a share of the bits it clears cleared,
// never a bit set). The share follows how far the operation had come, but an
// interrupted operation always leaves some damage and never finishes; which
// bits is decided by a seed (SetInterruptSeed), so a test can repeat it.
//
// Departures from the real parts (none lets a wrong driver pass):
// - the write buffer is always free when the chip is idle (a real chip may
//   answer E8 with "not available" and wants E8 again);
// - a failed erase or program leaves the cells unchanged (real cells would be
//   undefined); VPP is always in range, so SR.3 is never set;
// - identifier codes are read at every block's base, not only the chip's;
//   the device code is that of the 28FxxxJ3 part of the chip's capacity;
// - a chip that never becomes ready (kBusyForever) stays busy until Reset(),
//   as a real one stays until its power is removed;
// - an erase suspends at once (the real part takes up to its suspend
//   latency); programs are not suspended (B0 during a program is ignored and
//   noted); an interrupted lock operation leaves the lock bits as they were;
// - the CFI query (98) and the protection registers are not modelled: those
//   commands are ignored and noted, so a driver that relies on them fails
//   its read-back.
//
// Not thread-safe: the machine serialises accesses, like the one bus it models.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace nuva::sim {

inline constexpr uint32_t kFlashBlockBytes = 0x40000;

enum class ChipMode {
    kReadArray,
    kReadStatus,
    kReadIdentifier,
    kWriteBufferCount,
    kWriteBufferData,
    kWriteBufferConfirm,
    kWordProgramData,
    kEraseConfirm,
    kLockSetup,
    kBusy
};

// The mode's name, for the machine's crash reports ("read status").
const char* ChipModeName(ChipMode mode);

// How long operations take: nominal times on the handheld's clock, and the
// status reads an operation lasts at NUVA_TIME_SCALE=0. The defaults are the
// typical figures of the Intel 28F128J3 (3 Volt StrataFlash J3, 128 Mbit)
// datasheet: initial access 150 ns; write buffer program 218 us per 32-byte
// buffer (6.8 us per byte effective); word program 210 us; block erase 1.0 s
// (maximum 5.0 s); set block lock bit 64 us; clear block lock bits 0.5 s
// (maximum 0.70 s). Program maxima are three times the typical figure.
struct FlashTiming {
    uint32_t eraseStatusReads = 4;
    uint32_t writeStatusReads = 1;
    uint32_t unlockStatusReads = 2;
    uint32_t eraseMicros = 1000000;
    uint32_t writeMicros = 218;  // one buffered write of up to 16 words
    uint32_t wordMicros = 210;
    uint32_t lockSetMicros = 64;
    uint32_t lockClearMicros = 500000;
    uint32_t readCycleNanos = 150;  // one bus read of the chip
};

// The datasheet maxima that a driver's poll budget must cover.
inline constexpr uint32_t kEraseMaxMicros = 5000000;
inline constexpr uint32_t kWriteMaxMicros = 654;
inline constexpr uint32_t kWordMaxMicros = 630;
inline constexpr uint32_t kLockSetMaxMicros = 75;
inline constexpr uint32_t kLockClearMaxMicros = 700000;

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
        kBusyForever,   // the operations stay busy (never ready)
        kEraseError,    // erase ends with SR.5 set, cells unchanged
        kProgramError,  // program ends with SR.4 set, cells unchanged
        kLocked,        // the block is locked: erase/program end with SR.1 and SR.5/SR.4
        kStuckBits,     // cells whose bits stay 0 whatever is written (only a read-back shows)
        kSlowErase,     // erases stay busy for busyMicros / busyReads, then complete
        kSlowProgram,   // buffered writes and word programs likewise
        kSlowLock,      // set lock bit and clear lock bits likewise
        kLockError,     // set lock bit ends with SR.4, clear lock bits with SR.5; bits unchanged
    };
    Kind kind = Kind::kBusyForever;
    int chip = -1;
    // The block(s) affected: blockFirst..blockLast (block numbers of 256 KB);
    // -1 in blockFirst means every block, -1 in blockLast the one block
    // blockFirst.
    int32_t blockFirst = -1;
    int32_t blockLast = -1;
    // For busy/error/lock faults: the fault applies to this many operations,
    // then clears (0 = for ever). One store that starts an operation on both
    // chips counts once.
    uint32_t operations = 0;
    // kStuckBits: the byte offset of the 32-bit word and the mask of bits
    // held at 0 (limited to the chip's half when chip is 0 or 1). The cells
    // lose those bits at once and after every erase or program.
    uint32_t stuckOffset = 0;
    uint32_t stuckMask = 0;
    // Slow faults: how long each operation hit stays busy: busyMicros of
    // nominal time (when NUVA_TIME_SCALE is above 0), busyReads status reads
    // at scale 0. A time of 0 takes busyReads read cycles, a count of 0 at
    // scale 0 ends the operation at once; one of them is needed.
    uint32_t busyReads = 0;
    uint32_t busyMicros = 0;
};

class FlashBank {
  public:
    // `bytes` is 48 MB or 32 MB in the handheld (any whole number of blocks
    // up to 64 MB is taken, so tests can use a small bank); the cells start
    // erased (0xFF).
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
    // The reads of `count` bytes from `offset` on (of any width: the cells
    // are little-endian), taken at once: only while both chips are in
    // read-array mode and the log is off, when each read only answers its
    // cells. False, with nothing read, otherwise.
    bool ReadArrayBytes(uint32_t offset, uint8_t* out, uint32_t count);

    // True when both chips are in read-array mode and idle: only then may the
    // processor execute from flash.
    bool InReadArray() const;
    // Mode and status register of chip 0 or 1. Looking lets an operation
    // whose time has passed complete, as a bus access would.
    ChipMode Mode(int chip) const;
    uint8_t Status(int chip) const;

    // The cells themselves, for the machine (boot, persistence, built-in
    // storage) and for tests; not a bus access.
    std::span<const uint8_t> Cells() const;
    std::span<uint8_t> MutableCells();
    // A restart or power loss: an erase or program in progress (or an erase
    // suspended) is cut off and leaves its cells half done; then back to
    // read-array mode with clear status, as at power-on.
    void Reset();
    // Chooses which bits interrupted operations leave (a fixed seed by
    // default, so runs repeat).
    void SetInterruptSeed(uint64_t seed);

    // Why `fault` cannot be injected into this bank (a chip other than -1,
    // 0, 1, blocks beyond the bank, a stuck word outside it, ...), or empty
    // when it can. InjectFault requires a fault that passes this check.
    std::string CheckFault(const FlashFault& fault) const;
    void InjectFault(const FlashFault& fault);
    // Ends every fault; cells that stuck bits have cleared stay as they are.
    void ClearFaults();
    // Block lock bits (as set at the factory or by the lock command).
    void SetBlockLocked(uint32_t block, bool locked);
    bool BlockLocked(uint32_t block) const;

    // The access log (off by default; it costs time). It keeps at most
    // kMaxLoggedAccesses entries between two TakeLog calls (a note says when
    // it filled up), so a driver polling for ever cannot exhaust memory.
    static constexpr size_t kMaxLoggedAccesses = size_t{1} << 20;
    void EnableLog(bool on);
    std::vector<BusAccess> TakeLog();

    // What the chips did that explains a failing driver, oldest first:
    // stores ignored while busy, command sequence errors, unknown commands,
    // operations refused on locked blocks. The last kMaxNotes are kept.
    static constexpr size_t kMaxNotes = 64;
    std::vector<std::string> TakeNotes();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace nuva::sim
