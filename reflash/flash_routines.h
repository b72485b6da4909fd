// The flasher's flash routines: unlock, block erase, range erase, buffered
// write and range programming over the two x16 Intel/Sharp chips that share
// the handheld's 32-bit flash bus, and the hardware restart the flasher ends
// with.
//
// Every command is one 32-bit store carrying the 8-bit code in both 16-bit
// halves (0x00700070 reads the status of both chips). A status word is ready
// when bit 7 of both halves is set. Besides the ready bits the routines look
// at the error bits of both chips (SR.5 erase error, SR.4 program error, SR.1
// locked block): an operation that ends with any of them set did not do its
// work, so it fails like a timeout (status cleared, the status kept as the
// last flash status, the routine's failure code returned) and the caller
// repeats it. Nothing clears the status between an operation's confirm and
// the poll that reads its outcome, so an error is seen however early the
// chips report it.
//
// Every routine returns with both chips idle in read-array mode, timeouts
// included: the operating system and its C runtime execute from this flash,
// so the caller's next system call (the retry message it formats, a file it
// reads) would fetch status words instead of code from a chip left busy. A
// read array written to a busy chip is ignored, so giving up is not enough:
// - an erase that outlasts its budget is suspended (B0); a suspended chip is
//   ready with SR.6 set and reads array again after FF. The next BlockErase
//   resumes it (D0, to the suspended chip only: the other one would take a
//   stray D0 as an unknown command) and waits for it before it erases, as a
//   chip with a suspended erase takes no other erase;
// - a buffered program and a clearing of the lock bits cannot be suspended,
//   so the routine waits for the chips to be ready, however long that takes,
//   and only then writes read array and returns its failure.
// A chip that never becomes ready therefore holds the flasher in its poll
// loop, as it would hold any code on the real handheld: there is nothing the
// processor could run once it left the routine. Only a restart ends it.
//
// Routines in RAM. While the flash is busy the processor cannot fetch code
// from it, so the four programming routines (BlockErase, EraseRange,
// BufferedWrite, ProgramRange) run from copies in a RAM area that the
// hand-over names (FRsvd), and every call of one of them, including their
// calls of each other, goes to the copy. Host code cannot execute from the
// emulated handheld's RAM, so the copy is stood in for by a table written
// into that RAM area through the bus:
//
//   +0x00  signature "FLRT" (0x54524C46)
//   +0x04  erase block size (0x40000)
//   +0x08  number of routines (4)
//   +0x0C  zero
//   +0x10  per routine, in the order above, 16 bytes: entry address (low
//          word, high word), size of its code in bytes, zero
//
// Every call reads the signature and the routine's entry back from RAM
// through the bus and calls only an entry that is the routine itself; a
// clobbered table fails the call with kFlashRoutinesDamaged instead of
// jumping into whatever the RAM now holds.
#pragma once

#include <cstdint>

#include "reflash/flash_port.h"

namespace nuva::reflash {

inline constexpr uint32_t kFlashBase = 0xA0000000;
inline constexpr uint32_t kUncachedWindow = 0x20000000;  // ORed in: 0x8... addresses become 0xA...
inline constexpr uint32_t kEraseBlockBytes = 0x40000;
inline constexpr uint32_t kEraseBlockShift = 18;
inline constexpr uint32_t kWriteBufferWords = 16;
inline constexpr uint32_t kWriteBufferBytes = kWriteBufferWords * 4;
inline constexpr uint32_t kUnlockAddress = 0xA0040000;  // the second block
inline constexpr uint32_t kRestartRegisters = 0xA9000000;
inline constexpr uint32_t kRestartArmOffset = 0x24;
inline constexpr uint32_t kRestartFireOffset = 0x0C;
inline constexpr uint32_t kRestartBit = 0x00200000;

namespace flash_command {
inline constexpr uint32_t kReadArray = 0x00FF00FF;
inline constexpr uint32_t kReadStatus = 0x00700070;
inline constexpr uint32_t kClearStatus = 0x00500050;
inline constexpr uint32_t kEraseSetup = 0x00200020;
inline constexpr uint32_t kConfirm = 0x00D000D0;
inline constexpr uint32_t kWriteToBuffer = 0x00E800E8;
inline constexpr uint32_t kReadIdentifier = 0x00900090;
inline constexpr uint32_t kLockSetup = 0x00600060;
inline constexpr uint32_t kEraseSuspend = 0x00B000B0;
}  // namespace flash_command

inline constexpr uint32_t kStatusReady = 0x00800080;
// SR.6 of both chips: the chip's erase is suspended.
inline constexpr uint32_t kStatusEraseSuspended = 0x00400040;
// SR.5, SR.4 and SR.1 of both chips.
inline constexpr uint32_t kStatusErrors = 0x00320032;

// How long the routines wait for the chips. With interrupts masked and the
// flash busy the flasher has no clock to read: the operating system's tick
// does not run and its calls run from flash. What it does have is its own
// status reads, each of which takes at least one read cycle of the flash bus.
// So every wait is a time, the datasheet maximum of the operation, counted in
// reads of a read cycle shorter than any 28FxxxJ3 part has (the fastest reads
// in 110 ns; we count 100 ns): N reads have taken at least N x 100 ns,
// whatever the part, the bus and the clock scale, so a chip that is still
// busy after them has outlasted its datasheet maximum. (On the handheld's
// 150 ns parts the wait is half as long again.)
//
// 28F128J3 datasheet maxima: block erase 5 s, write-to-buffer program of 32
// bytes per chip 654 us, clear block lock bits 0.70 s.
inline constexpr uint32_t kShortestReadCycleNanos = 100;
inline constexpr uint64_t kEraseMaxNanos = 5000000000ull;
inline constexpr uint64_t kBufferProgramMaxNanos = 654000ull;
inline constexpr uint64_t kClearLockBitsMaxNanos = 700000000ull;

// A wait of at least `nanos`, in status reads.
constexpr uint32_t PollReadsFor(uint64_t nanos) {
    return static_cast<uint32_t>((nanos + kShortestReadCycleNanos - 1) / kShortestReadCycleNanos);
}

struct PollBudget {
    uint32_t eraseReads;    // an erase (and whatever the chip was busy with before it)
    uint32_t programReads;  // a free write buffer, a buffered program
    uint32_t unlockReads;   // clearing the lock bits
};

inline constexpr PollBudget kFlasherPollBudget = {
    PollReadsFor(kEraseMaxNanos), PollReadsFor(kBufferProgramMaxNanos), PollReadsFor(kClearLockBitsMaxNanos)};
static_assert(uint64_t{kFlasherPollBudget.eraseReads} * kShortestReadCycleNanos >= kEraseMaxNanos);

// The routines' result when their table in RAM is not intact.
inline constexpr uint32_t kFlashRoutinesDamaged = 0xFF;

// Whether a failed operation may be repeated: timeouts and error bits may
// clear, a damaged routine table does not.
bool IsRepeatable(uint32_t result);

// What the routine copies work with: the bus, where their table lies, how
// long they poll, and the last flash status (a variable of the RAM copy on
// the handheld).
struct RoutineContext {
    FlashPort* port;
    uint32_t area;
    PollBudget budget;
    uint32_t lastStatus;
};

class FlashRoutines {
  public:
    static constexpr uint32_t kSignature = 0x54524C46;  // "FLRT"
    static constexpr uint32_t kRoutineCount = 4;
    static constexpr uint32_t kTableBytes = 0x10 + 16 * kRoutineCount;

    enum Routine : uint32_t { kBlockErase = 0, kEraseRange = 1, kBufferedWrite = 2, kProgramRange = 3 };

    FlashRoutines(FlashPort& port, uint32_t ramArea, PollBudget budget);

    // Copies the routines into the RAM area (writes the table) and reads the
    // table back; false when RAM did not keep it.
    bool Copy();

    // Each returns kFlashOk, kFlashEraseTimeout (BlockErase, EraseRange),
    // kFlashWriteTimeout (BufferedWrite) or kFlashRoutinesDamaged;
    // ProgramRange returns whichever its erase or writes returned.
    uint32_t BlockErase(uint32_t block);
    uint32_t EraseRange(uint32_t address, uint32_t length);
    uint32_t BufferedWrite(uint32_t address, uint32_t source, uint32_t words);
    // Erases the blocks of [address, address + length) and programs them from
    // `source` in whole 64-byte pieces (a length that is not a multiple of 64
    // takes the rest of the last piece from the bytes after the source range).
    // With restart 1 and a non-zero register base, pulls the restart line
    // through that base once everything was programmed.
    uint32_t ProgramRange(uint32_t address, uint32_t source, uint32_t length, uint32_t restartBase,
                          uint32_t restart);

    // The status word of the last operation that failed (0 until one did).
    uint32_t LastStatus() const { return context_.lastStatus; }

  private:
    RoutineContext context_;
};

// Clears the lock bits of every block when the block at `address` reads as
// locked. `ok` false means the chips did not finish within `pollReads` or
// reported an error; `status` is then the status word that decided it. It
// returns only once the chips are idle in read-array mode.
struct UnlockResult {
    bool ok;
    uint32_t status;
};
UnlockResult UnlockFlash(FlashPort& port, uint32_t address, uint32_t pollReads);

// Restarts the handheld: arms the restart line, then sets its fire bit.
void RestartLine(FlashPort& port);

}  // namespace nuva::reflash
