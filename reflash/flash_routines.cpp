#include "reflash/flash_routines.h"

#include <algorithm>
#include <array>
#include <cstdint>

#include "formats/result_codes.h"

// The routine copies live in their own section so that the size of each can
// be taken from where the next one starts. The linker's bounds of the
// section stay inside the program file.
extern "C" {
extern const char __start_nuva_flash_routines[] __attribute__((visibility("hidden")));
extern const char __stop_nuva_flash_routines[] __attribute__((visibility("hidden")));
}

#define NUVA_FLASH_ROUTINE __attribute__((section("nuva_flash_routines"), noipa))

namespace nuva::reflash {
namespace {

using BlockEraseFn = uint32_t (*)(RoutineContext&, uint32_t);
using EraseRangeFn = uint32_t (*)(RoutineContext&, uint32_t, uint32_t);
using BufferedWriteFn = uint32_t (*)(RoutineContext&, uint32_t, uint32_t, uint32_t);
using ProgramRangeFn = uint32_t (*)(RoutineContext&, uint32_t, uint32_t, uint32_t, uint32_t, uint32_t);

constexpr uint32_t kEntryTable = 0x10;
constexpr uint32_t kEntryBytes = 16;

// Reads the status at `address` until both chips are ready or `limit` reads
// have been made; `status` is the last word read.
[[gnu::always_inline]] inline bool PollReady(FlashPort& port, uint32_t address, uint32_t limit,
                                             uint32_t& status) {
    status = 0;
    for (uint32_t i = 0; i < limit; ++i) {
        status = port.Read32(address);
        if ((status & kStatusReady) == kStatusReady) {
            return true;
        }
    }
    return false;
}

// Reads the status at `address` until both chips are ready, without a
// limit: only for a chip that must not be left busy (see the header).
[[gnu::always_inline]] inline void WaitReady(FlashPort& port, uint32_t address) {
    while ((port.Read32(address) & kStatusReady) != kStatusReady) {
    }
}

// D0 for each chip whose status shows a suspended erase, 70 (harmless: the
// chip already shows its status) for the other.
[[gnu::always_inline]] inline uint32_t ResumeCommand(uint32_t status) {
    uint32_t command = 0;
    for (uint32_t shift = 0; shift < 32; shift += 16) {
        bool suspended = ((status >> shift) & kStatusEraseSuspended & 0xFFFF) != 0;
        command |= (suspended ? flash_command::kConfirm : flash_command::kReadStatus) & (0xFFFFu << shift);
    }
    return command;
}

// An erase outlasted the budget: suspend it, so that the chips read array
// before the caller runs system code again; the next BlockErase resumes it.
// `status` is the status that timed out, kept as the last flash status.
[[gnu::always_inline]] inline uint32_t EraseTimedOut(RoutineContext& c, uint32_t p, uint32_t status,
                                                     char mark) {
    using namespace flash_command;
    FlashPort& port = *c.port;
    port.Write32(p, kEraseSuspend);  // a chip that has finished ignores it
    WaitReady(port, p);
    port.Write32(p, kClearStatus);
    port.Write32(p, kReadArray);
    c.lastStatus = status;
    port.Mark(mark);
    return kFlashEraseTimeout;
}

// A buffered program outlasted the budget. The chips take no suspend of it
// that the flasher could rely on, so the routine waits for them.
[[gnu::always_inline]] inline uint32_t WriteTimedOut(RoutineContext& c, uint32_t d, uint32_t status) {
    FlashPort& port = *c.port;
    WaitReady(port, d);
    port.Write32(d, flash_command::kClearStatus);
    port.Write32(d, flash_command::kReadArray);
    c.lastStatus = status;
    return kFlashWriteTimeout;
}

uintptr_t RoutineEntry(uint32_t routine);

// The entry of `routine` as the RAM table holds it, or null when the table
// is not the one that was copied there.
template <class Fn>
[[gnu::always_inline]] inline Fn Lookup(RoutineContext& c, uint32_t routine) {
    if (c.port->Read32(c.area) != FlashRoutines::kSignature) {
        return nullptr;
    }
    uint32_t slot = c.area + kEntryTable + kEntryBytes * routine;
    uint64_t entry = c.port->Read32(slot) | (uint64_t{c.port->Read32(slot + 4)} << 32);
    if (entry != RoutineEntry(routine)) {
        return nullptr;
    }
    return reinterpret_cast<Fn>(static_cast<uintptr_t>(entry));
}

NUVA_FLASH_ROUTINE uint32_t BlockEraseCopy(RoutineContext& c, uint32_t p) {
    using namespace flash_command;
    FlashPort& port = *c.port;
    uint32_t status = 0;
    port.Write32(p, kReadStatus);
    bool ready = PollReady(port, p, c.budget.eraseReads, status);
    if (ready && (status & kStatusEraseSuspended) != 0) {
        // The erase a timeout suspended: it goes on to its end first, as a
        // chip with a suspended erase starts no other.
        port.Write32(p, ResumeCommand(status));
        ready = PollReady(port, p, c.budget.eraseReads, status);
    }
    if (!ready) {
        return EraseTimedOut(c, p, status, 'E');
    }
    port.Write32(p, kClearStatus);
    port.Write32(p, kReadArray);
    port.Write32(p, kEraseSetup);
    port.Write32(p, kConfirm);
    port.Write32(p, kReadStatus);
    if (!PollReady(port, p, c.budget.eraseReads, status)) {
        return EraseTimedOut(c, p, status, 'e');
    }
    if ((status & kStatusErrors) != 0) {
        port.Write32(p, kClearStatus);
        port.Write32(p, kReadArray);
        c.lastStatus = status;
        port.Mark('e');
        return kFlashEraseTimeout;
    }
    port.Write32(p, kReadArray);
    return kFlashOk;
}

NUVA_FLASH_ROUTINE uint32_t EraseRangeCopy(RoutineContext& c, uint32_t a, uint32_t n) {
    uint64_t end = uint64_t{a} + n;
    for (uint64_t b = uint64_t{a >> kEraseBlockShift} * kEraseBlockBytes; b < end; b += kEraseBlockBytes) {
        auto erase = Lookup<BlockEraseFn>(c, FlashRoutines::kBlockErase);
        if (erase == nullptr) {
            return kFlashRoutinesDamaged;
        }
        uint32_t result = erase(c, static_cast<uint32_t>(b) | kUncachedWindow);
        if (result != kFlashOk) {
            return result;
        }
    }
    c.port->Write32(kFlashBase, flash_command::kReadArray);
    return kFlashOk;
}

NUVA_FLASH_ROUTINE uint32_t BufferedWriteCopy(RoutineContext& c, uint32_t d, uint32_t s, uint32_t w) {
    using namespace flash_command;
    if (w == 0 || w > kWriteBufferWords) {
        return kFlashWriteTimeout;  // the chips take 1 to 16 words; nothing was sent
    }
    FlashPort& port = *c.port;
    uint32_t status = 0;
    port.Write32(d, kWriteToBuffer);
    if (!PollReady(port, d, c.budget.programReads, status)) {
        return WriteTimedOut(c, d, status);
    }
    port.Write32(d, (w - 1) | ((w - 1) << 16));
    std::array<uint32_t, kWriteBufferWords> words;
    port.Read32s(s, words.data(), w);
    port.Write32s(d, words.data(), w);
    // No clear status between the confirm and the poll: a program that ends
    // before it (at once on a locked block, or a short one on a slow bus)
    // would have its error bits wiped, and a write that did nothing would
    // pass. The erase that opens every range has cleared the status already.
    port.Write32(d, kConfirm);
    port.Write32(d, kReadStatus);
    if (!PollReady(port, d, c.budget.programReads, status)) {
        return WriteTimedOut(c, d, status);
    }
    port.Write32(d, kReadArray);
    if ((status & kStatusErrors) != 0) {
        port.Write32(d, kClearStatus);
        port.Write32(d, kReadArray);
        c.lastStatus = status;
        return kFlashWriteTimeout;
    }
    return kFlashOk;
}

NUVA_FLASH_ROUTINE uint32_t ProgramRangeCopy(RoutineContext& c, uint32_t a, uint32_t s, uint32_t n,
                                             uint32_t g, uint32_t r) {
    auto erase = Lookup<EraseRangeFn>(c, FlashRoutines::kEraseRange);
    if (erase == nullptr) {
        return kFlashRoutinesDamaged;
    }
    uint32_t result = erase(c, a, n);
    if (result != kFlashOk) {
        return result;
    }
    uint32_t base = a | kUncachedWindow;
    for (uint32_t k = 0; k < n; k += kWriteBufferBytes) {
        auto write = Lookup<BufferedWriteFn>(c, FlashRoutines::kBufferedWrite);
        if (write == nullptr) {
            return kFlashRoutinesDamaged;
        }
        result = write(c, base + k, s + k, kWriteBufferWords);
        if (result != kFlashOk) {
            return result;
        }
        if (n - k <= kWriteBufferBytes) {
            break;  // the last piece; k + 64 could wrap
        }
    }
    if (r == 1 && g != 0) {
        c.port->Write32(g + kRestartArmOffset, kRestartBit);
        c.port->Write32(g + kRestartFireOffset, c.port->Read32(g + kRestartFireOffset) | kRestartBit);
    }
    return kFlashOk;
}

uintptr_t RoutineEntry(uint32_t routine) {
    switch (routine) {
        case FlashRoutines::kBlockErase:
            return reinterpret_cast<uintptr_t>(&BlockEraseCopy);
        case FlashRoutines::kEraseRange:
            return reinterpret_cast<uintptr_t>(&EraseRangeCopy);
        case FlashRoutines::kBufferedWrite:
            return reinterpret_cast<uintptr_t>(&BufferedWriteCopy);
        case FlashRoutines::kProgramRange:
            return reinterpret_cast<uintptr_t>(&ProgramRangeCopy);
        default:
            return 0;
    }
}

// The bytes of code from a routine's entry to the next routine of the
// section (or the section's end).
uint32_t RoutineSize(uint32_t routine) {
    auto start = reinterpret_cast<uintptr_t>(__start_nuva_flash_routines);
    auto stop = reinterpret_cast<uintptr_t>(__stop_nuva_flash_routines);
    uintptr_t entry = RoutineEntry(routine);
    if (entry < start || entry >= stop) {
        return 0;
    }
    uintptr_t next = stop;
    for (uint32_t other = 0; other < FlashRoutines::kRoutineCount; ++other) {
        uintptr_t e = RoutineEntry(other);
        if (e > entry && e < next) {
            next = e;
        }
    }
    return static_cast<uint32_t>(next - entry);
}

}  // namespace

bool IsRepeatable(uint32_t result) {
    return result == kFlashEraseTimeout || result == kFlashWriteTimeout;
}

FlashRoutines::FlashRoutines(FlashPort& port, uint32_t ramArea, PollBudget budget)
    : context_{&port, ramArea, budget, 0} {}

bool FlashRoutines::Copy() {
    std::array<uint32_t, kTableBytes / 4> table{};
    table[0] = kSignature;
    table[1] = kEraseBlockBytes;
    table[2] = kRoutineCount;
    for (uint32_t r = 0; r < kRoutineCount; ++r) {
        uint64_t entry = RoutineEntry(r);
        uint32_t word = (kEntryTable + kEntryBytes * r) / 4;
        table[word] = static_cast<uint32_t>(entry);
        table[word + 1] = static_cast<uint32_t>(entry >> 32);
        table[word + 2] = RoutineSize(r);
    }
    FlashPort& port = *context_.port;
    port.Write32s(context_.area, table.data(), static_cast<uint32_t>(table.size()));
    std::array<uint32_t, kTableBytes / 4> back{};
    port.Read32s(context_.area, back.data(), static_cast<uint32_t>(back.size()));
    return back == table;
}

uint32_t FlashRoutines::BlockErase(uint32_t block) {
    auto fn = Lookup<BlockEraseFn>(context_, kBlockErase);
    return fn == nullptr ? kFlashRoutinesDamaged : fn(context_, block);
}

uint32_t FlashRoutines::EraseRange(uint32_t address, uint32_t length) {
    auto fn = Lookup<EraseRangeFn>(context_, kEraseRange);
    return fn == nullptr ? kFlashRoutinesDamaged : fn(context_, address, length);
}

uint32_t FlashRoutines::BufferedWrite(uint32_t address, uint32_t source, uint32_t words) {
    auto fn = Lookup<BufferedWriteFn>(context_, kBufferedWrite);
    return fn == nullptr ? kFlashRoutinesDamaged : fn(context_, address, source, words);
}

uint32_t FlashRoutines::ProgramRange(uint32_t address, uint32_t source, uint32_t length, uint32_t restartBase,
                                     uint32_t restart) {
    auto fn = Lookup<ProgramRangeFn>(context_, kProgramRange);
    return fn == nullptr ? kFlashRoutinesDamaged
                         : fn(context_, address, source, length, restartBase, restart);
}

UnlockResult UnlockFlash(FlashPort& port, uint32_t address, uint32_t pollReads) {
    using namespace flash_command;
    port.Write32(address + 8, kReadIdentifier);
    uint32_t lock = port.Read32(address + 8);
    if (lock == 0) {
        port.Write32(address, kReadArray);
        return {true, 0};
    }
    port.Write32(address, kLockSetup);
    port.Write32(address, kConfirm);
    uint32_t status = 0;
    bool ready = PollReady(port, address, pollReads, status);
    if (!ready) {
        // Clearing lock bits cannot be suspended: the caller reports the
        // failure on the screen and ends, both from code in flash.
        WaitReady(port, address);
    }
    if (ready && (status & kStatusErrors) == 0) {
        port.Write32(address, kReadArray);
        return {true, status};
    }
    port.Write32(address, kClearStatus);
    port.Write32(address, kReadArray);
    return {false, status};
}

void RestartLine(FlashPort& port) {
    port.Write32(kRestartRegisters + kRestartArmOffset, kRestartBit);
    uint32_t fire = kRestartRegisters + kRestartFireOffset;
    port.Write32(fire, port.Read32(fire) | kRestartBit);
}

}  // namespace nuva::reflash
