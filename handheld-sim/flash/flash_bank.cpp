#include "handheld-sim/flash/flash_bank.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <utility>

#include "platform/clock/clock.h"

namespace nuva::sim {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint8_t kSrReady = 0x80;
constexpr uint8_t kSrEraseSuspended = 0x40;
constexpr uint8_t kSrEraseError = 0x20;
constexpr uint8_t kSrProgramError = 0x10;
constexpr uint8_t kSrVpp = 0x08;
constexpr uint8_t kSrLocked = 0x02;
constexpr uint8_t kSrErrors = kSrEraseError | kSrProgramError | kSrVpp | kSrLocked;
constexpr uint8_t kSrSequenceError = kSrEraseError | kSrProgramError;

constexpr uint8_t kCmdReadArray = 0xFF;
constexpr uint8_t kCmdReadStatus = 0x70;
constexpr uint8_t kCmdClearStatus = 0x50;
constexpr uint8_t kCmdReadIdentifier = 0x90;
constexpr uint8_t kCmdEraseSetup = 0x20;
constexpr uint8_t kCmdWriteToBuffer = 0xE8;
constexpr uint8_t kCmdLockSetup = 0x60;
constexpr uint8_t kCmdConfirm = 0xD0;
constexpr uint8_t kCmdSetLockBit = 0x01;
constexpr uint8_t kCmdWordProgram = 0x40;
constexpr uint8_t kCmdWordProgramAlt = 0x10;
constexpr uint8_t kCmdSuspend = 0xB0;

constexpr uint32_t kMaxBankBytes = 64u << 20;
// 16-bit words of one chip in one 256 KB block (the chip's 128 KB).
constexpr uint32_t kWordsPerBlock = kFlashBlockBytes / 4;
constexpr uint32_t kBufferWords = 16;
constexpr uint32_t kNoWindow = UINT32_MAX;
constexpr uint16_t kManufacturerIntel = 0x0089;

enum class Op : uint8_t { kErase, kProgram, kWordProgram, kLockSet, kLockClearAll };

const char* OpName(Op op) {
    switch (op) {
        case Op::kErase:
            return "erase";
        case Op::kProgram:
            return "program";
        case Op::kWordProgram:
            return "word program";
        case Op::kLockSet:
            return "set lock bit";
        case Op::kLockClearAll:
            return "clear lock bits";
    }
    return "?";
}

__attribute__((format(printf, 1, 2))) std::string Format(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    return text;
}

[[noreturn]] void Fatal(const std::string& message) {
    std::fprintf(stderr, "flash bank: %s\n", message.c_str());
    std::abort();
}

// The device code of the Intel 28FxxxJ3 part that holds one chip's share.
uint16_t DeviceCode(uint32_t chipBytes) {
    if (chipBytes <= (4u << 20)) {
        return 0x0016;  // 32 Mbit
    }
    if (chipBytes <= (8u << 20)) {
        return 0x0017;  // 64 Mbit
    }
    if (chipBytes <= (16u << 20)) {
        return 0x0018;  // 128 Mbit
    }
    return 0x001D;  // 256 Mbit
}

uint32_t ChipHalfMask(int chip) {
    if (chip < 0) {
        return 0xFFFFFFFFu;
    }
    return chip == 0 ? 0x0000FFFFu : 0xFFFF0000u;
}

struct Chip {
    ChipMode mode = ChipMode::kReadArray;
    uint8_t status = kSrReady;
    // The block of the command sequence or operation in progress.
    uint32_t block = 0;

    // The operation while mode is kBusy: it ends once its progress (the
    // read cycles it has answered, plus the scaled clock's time when that
    // runs) reaches its need, all in nanoseconds of the handheld's time.
    Op op = Op::kErase;
    bool forever = false;
    bool byClock = false;
    uint8_t endError = 0;  // status bits the operation ends with
    uint64_t needNanos = 0;
    uint64_t readNanos = 0;
    double scale = 0;
    Clock::time_point start{};

    // An erase suspended by B0: its block, what it still needs and how it ends.
    bool suspended = false;
    uint32_t suspendedBlock = 0;
    uint64_t suspendedNeed = 0;
    uint8_t suspendedError = 0;

    // The write buffer: words still to come, the window's first word, and
    // which of its words were loaded.
    uint32_t left = 0;
    uint32_t window = kNoWindow;
    uint16_t loaded = 0;
    std::array<uint16_t, kBufferWords> buffer{};
};

// One step of SplitMix64: a well-mixed 64-bit value for each key.
uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}

// 16 bits, each set when its nibble of Mix(key) falls below `sixteenths`.
uint16_t ShareOfBits(uint64_t key, uint32_t sixteenths) {
    uint64_t r = Mix(key);
    uint16_t mask = 0;
    for (uint32_t bit = 0; bit < 16; ++bit, r >>= 4) {
        if ((r & 0xF) < sixteenths) {
            mask = static_cast<uint16_t>(mask | 1u << bit);
        }
    }
    return mask;
}

struct InjectedFault {
    FlashFault fault;
    bool forever;
    uint32_t remaining;
    uint64_t lastUse;  // the store that last consumed it
};

struct StuckWord {
    uint32_t word;  // 32-bit word index on the bus
    uint32_t mask;  // bits held at 0
};

}  // namespace

const char* ChipModeName(ChipMode mode) {
    switch (mode) {
        case ChipMode::kReadArray:
            return "read array";
        case ChipMode::kReadStatus:
            return "read status";
        case ChipMode::kReadIdentifier:
            return "read identifier";
        case ChipMode::kWriteBufferCount:
            return "write to buffer (count)";
        case ChipMode::kWriteBufferData:
            return "write to buffer (data)";
        case ChipMode::kWriteBufferConfirm:
            return "write to buffer (confirm)";
        case ChipMode::kWordProgramData:
            return "word program (data)";
        case ChipMode::kEraseConfirm:
            return "block erase (confirm)";
        case ChipMode::kLockSetup:
            return "lock bits (confirm)";
        case ChipMode::kBusy:
            return "busy";
    }
    return "unknown";
}

struct FlashBank::Impl {
    Impl(uint32_t bytes, FlashTiming t)
        : size(bytes), blocks(bytes / kFlashBlockBytes), timing(t), cells(bytes, 0xFF) {
        for (auto& bits : lockBits) {
            bits.assign(blocks, 0);
        }
    }

    uint32_t size;
    uint32_t blocks;
    FlashTiming timing;
    std::vector<uint8_t> cells;
    std::array<Chip, 2> chips;
    std::array<std::vector<uint8_t>, 2> lockBits;
    std::vector<InjectedFault> faults;
    std::vector<StuckWord> stuck;
    uint64_t storeSerial = 0;
    uint64_t interruptSeed = 0x5EED5EED5EED5EEDull;
    uint64_t interruptions = 0;

    bool logOn = false;
    bool logFull = false;
    std::vector<BusAccess> log;
    std::deque<std::string> notes;

    // ---- cells: chip c's word w is bytes 4w + 2c (low) and 4w + 2c + 1 ----

    uint16_t Cell(int c, uint32_t word) const {
        size_t i = size_t{word} * 4 + 2 * c;
        return static_cast<uint16_t>(cells[i] | cells[i + 1] << 8);
    }
    void AndCell(int c, uint32_t word, uint16_t value) {
        size_t i = size_t{word} * 4 + 2 * c;
        cells[i] &= static_cast<uint8_t>(value);
        cells[i + 1] &= static_cast<uint8_t>(value >> 8);
    }

    // ---- bookkeeping ----

    void CheckAccess(uint32_t offset, uint32_t width) const {
        if (offset > size - width || (offset & (width - 1)) != 0) [[unlikely]] {
            BadAccess(offset, width);
        }
    }
    [[noreturn, gnu::cold, gnu::noinline]] void BadAccess(uint32_t offset, uint32_t width) const {
        Fatal(Format("%u-byte access at 0x%08X is misaligned or beyond the bank's 0x%08X bytes", width,
                     offset, size));
    }
    void CheckChip(int c) const {
        if (c != 0 && c != 1) {
            Fatal(Format("there is no chip %d (chips are 0 and 1)", c));
        }
    }
    void CheckBlock(uint32_t block) const {
        if (block >= blocks) {
            Fatal(Format("block %u is beyond the bank's %u blocks", block, blocks));
        }
    }

    [[gnu::noinline]] void Log(bool write, uint8_t width, uint32_t offset, uint32_t value) {
        if (log.size() < kMaxLoggedAccesses) {
            log.push_back(BusAccess{write, width, offset, value});
        } else if (!logFull) {
            logFull = true;
            Note(Format("access log full after %zu entries; later accesses are not logged", log.size()));
        }
    }

    [[gnu::cold, gnu::noinline]] void Note(std::string text) {
        if (notes.size() == kMaxNotes) {
            notes.pop_front();
        }
        notes.push_back(std::move(text));
    }
    [[gnu::cold, gnu::noinline]] void NoteChip(int c, uint32_t word, const std::string& text) {
        Note(Format("chip %d at 0x%08X: %s", c, word * 4, text.c_str()));
    }

    // ---- faults ----

    bool FaultActive(const InjectedFault& f) const {
        return f.forever || f.remaining > 0 || f.lastUse == storeSerial;
    }

    // The first fault of `kind` that holds for chip c and `block`, or null;
    // `consume` counts the operation it spoils (once per store, for both
    // chips).
    const FlashFault* HoldingFault(FlashFault::Kind kind, int c, uint32_t block, bool consume) {
        for (auto& f : faults) {
            const FlashFault& d = f.fault;
            if (d.kind != kind || !FaultActive(f) || (d.chip >= 0 && d.chip != c)) {
                continue;
            }
            if (d.blockFirst >= 0) {
                auto last = static_cast<uint32_t>(d.blockLast < 0 ? d.blockFirst : d.blockLast);
                if (block < static_cast<uint32_t>(d.blockFirst) || block > last) {
                    continue;
                }
            }
            if (consume && !f.forever && f.lastUse != storeSerial) {
                --f.remaining;
                f.lastUse = storeSerial;
            }
            return &d;
        }
        return nullptr;
    }
    bool FaultHolds(FlashFault::Kind kind, int c, uint32_t block, bool consume) {
        return HoldingFault(kind, c, block, consume) != nullptr;
    }

    bool Locked(int c, uint32_t block, bool consume) {
        return lockBits[c][block] != 0 || FaultHolds(FlashFault::Kind::kLocked, c, block, consume);
    }

    // Stuck bits of chip c in bus words [first, first + count).
    void ApplyStuck(int c, uint32_t first, uint32_t count) {
        for (const StuckWord& s : stuck) {
            if (s.word >= first && s.word - first < count) {
                AndCell(c, s.word, static_cast<uint16_t>(~(s.mask >> (16 * c))));
            }
        }
    }

    // ---- operations ----

    [[gnu::cold, gnu::noinline]] void SequenceError(int c, uint32_t word, const char* what, uint16_t value) {
        Chip& chip = chips[c];
        chip.status |= kSrSequenceError;
        chip.mode = ChipMode::kReadStatus;
        chip.window = kNoWindow;
        NoteChip(c, word, Format("command sequence error: %s (0x%04X)", what, value));
    }

    [[gnu::cold, gnu::noinline]] void RefusedLocked(int c, uint32_t word, Op op, uint32_t block) {
        NoteChip(c, word, Format("%s refused: block %u is locked", OpName(op), block));
    }

    void StartOperation(int c, uint32_t word, Op op) {
        Chip& chip = chips[c];
        uint32_t block = word / kWordsPerBlock;
        chip.block = block;
        chip.op = op;
        chip.endError = 0;
        const bool program = op == Op::kProgram || op == Op::kWordProgram;
        if ((op == Op::kErase || program) && Locked(c, block, true)) {
            chip.status |= kSrLocked | (op == Op::kErase ? kSrEraseError : kSrProgramError);
            chip.mode = ChipMode::kReadStatus;
            chip.window = kNoWindow;
            RefusedLocked(c, word, op, block);
            return;
        }
        if (program && chip.suspended && block == chip.suspendedBlock) {
            chip.status |= kSrProgramError;
            chip.mode = ChipMode::kReadStatus;
            chip.window = kNoWindow;
            NoteChip(c, word, Format("program refused: block %u has its erase suspended", block));
            return;
        }
        // An operation that never ends cannot fail as well: it leaves error
        // faults for the next one.
        chip.forever = FaultHolds(FlashFault::Kind::kBusyForever, c, block, true);
        if (!chip.forever) {
            FlashFault::Kind errorKind = op == Op::kErase ? FlashFault::Kind::kEraseError
                                         : program        ? FlashFault::Kind::kProgramError
                                                          : FlashFault::Kind::kLockError;
            if (FaultHolds(errorKind, c, block, true)) {
                // Clearing lock bits fails like an erase, setting one like a program.
                chip.endError = op == Op::kErase || op == Op::kLockClearAll ? kSrEraseError : kSrProgramError;
            }
        }

        uint32_t reads = timing.unlockStatusReads;
        uint32_t micros = timing.lockClearMicros;
        FlashFault::Kind slowKind = FlashFault::Kind::kSlowLock;
        switch (op) {
            case Op::kErase:
                reads = timing.eraseStatusReads;
                micros = timing.eraseMicros;
                slowKind = FlashFault::Kind::kSlowErase;
                break;
            case Op::kProgram:
            case Op::kWordProgram:
                reads = timing.writeStatusReads;
                micros = op == Op::kProgram ? timing.writeMicros : timing.wordMicros;
                slowKind = FlashFault::Kind::kSlowProgram;
                break;
            case Op::kLockSet:
                micros = timing.lockSetMicros;
                break;
            case Op::kLockClearAll:
                break;
        }
        if (!chip.forever) {
            if (const FlashFault* slow = HoldingFault(slowKind, c, block, true)) {
                reads = slow->busyReads;
                micros = slow->busyMicros;
            }
        }
        chip.scale = TimeScale();
        chip.byClock = chip.scale > 0.0;
        chip.readNanos = 0;
        if (chip.byClock) {
            chip.needNanos = micros > 0 ? uint64_t{micros} * 1000 : uint64_t{reads} * timing.readCycleNanos;
            chip.start = Clock::now();
        } else {
            chip.needNanos = uint64_t{reads} * timing.readCycleNanos;
        }
        if (!chip.forever && chip.needNanos == 0) {
            Complete(c);
            return;
        }
        chip.status &= static_cast<uint8_t>(~kSrReady);
        chip.mode = ChipMode::kBusy;
    }

    // How far the busy operation of chip c has come, in nanoseconds.
    uint64_t Progress(const Chip& chip) const {
        uint64_t done = chip.readNanos;
        if (chip.byClock) {
            double real = std::chrono::duration<double, std::nano>(Clock::now() - chip.start).count();
            double nominal = real / chip.scale;
            done = std::max(done,
                            nominal >= 1e18 ? uint64_t{1000000000000000000} : static_cast<uint64_t>(nominal));
        }
        return done;
    }

    void Complete(int c) {
        Chip& chip = chips[c];
        chip.mode = ChipMode::kReadStatus;
        chip.status |= kSrReady | chip.endError;
        if (chip.endError != 0) {
            return;
        }
        switch (chip.op) {
            case Op::kErase: {
                uint32_t first = chip.block * kWordsPerBlock;
                uint8_t* p = cells.data() + size_t{first} * 4;
                const uint32_t half = ChipHalfMask(c);
                for (uint32_t w = 0; w < kWordsPerBlock; ++w, p += 4) {
                    uint32_t v;
                    std::memcpy(&v, p, 4);  // byte order does not matter for an OR of a byte mask
                    v |= half;
                    std::memcpy(p, &v, 4);
                }
                ApplyStuck(c, first, kWordsPerBlock);
                break;
            }
            case Op::kProgram:
            case Op::kWordProgram: {
                uint8_t* p = cells.data() + size_t{chip.window} * 4 + 2 * c;
                for (uint32_t i = 0; i < kBufferWords; ++i, p += 4) {
                    if ((chip.loaded >> i) & 1u) {
                        p[0] &= static_cast<uint8_t>(chip.buffer[i]);
                        p[1] &= static_cast<uint8_t>(chip.buffer[i] >> 8);
                    }
                }
                ApplyStuck(c, chip.window, kBufferWords);
                break;
            }
            case Op::kLockSet:
                lockBits[c][chip.block] = 1;
                break;
            case Op::kLockClearAll:
                std::fill(lockBits[c].begin(), lockBits[c].end(), uint8_t{0});
                break;
        }
        chip.window = kNoWindow;
    }

    // Ends a busy operation whose time has passed; true when the chip is no
    // longer busy.
    bool SettleByTime(int c) {
        Chip& chip = chips[c];
        if (chip.mode != ChipMode::kBusy) {
            return true;
        }
        if (!chip.forever && Progress(chip) >= chip.needNanos) {
            Complete(c);
            return true;
        }
        return false;
    }

    // A read of a busy chip: it shows the status and takes one read cycle of
    // the operation's time.
    // Reading the host's clock costs more than the read it times, so a poll
    // looks at it once every kClockReads reads (a few hundred nanoseconds of
    // the host's time); the read cycles are counted at every read.
    static constexpr uint64_t kClockReads = 32;
    uint16_t BusyRead(int c) {
        Chip& chip = chips[c];
        if (chip.forever) {
            return chip.status;
        }
        const bool lookAtClock = chip.byClock && (chip.readNanos / timing.readCycleNanos) % kClockReads == 0;
        if (chip.readNanos >= chip.needNanos || (lookAtClock && Progress(chip) >= chip.needNanos)) {
            Complete(c);
        } else {
            chip.readNanos += timing.readCycleNanos;
        }
        return chip.status;
    }

    // ---- interruptions ----

    // The share of its work, in sixteenths from 1 to 15, that an operation
    // cut off now leaves done: never none, never all.
    uint32_t ShareDone(const Chip& chip) const {
        if (chip.forever || chip.needNanos == 0) {
            return 8;
        }
        uint64_t sixteenths = Progress(chip) * 16 / chip.needNanos;
        return static_cast<uint32_t>(std::clamp<uint64_t>(sixteenths, 1, 15));
    }

    // A reset while chip c erases (or has an erase suspended) or programs.
    void Interrupt(int c) {
        Chip& chip = chips[c];
        SettleByTime(c);
        const bool busy = chip.mode == ChipMode::kBusy;
        ++interruptions;
        const uint64_t base = Mix(interruptSeed ^ Mix(interruptions) ^ (uint64_t(c) << 62));
        if (busy && (chip.op == Op::kProgram || chip.op == Op::kWordProgram) && chip.endError == 0) {
            uint32_t share = ShareDone(chip);
            bool changed = false;
            uint32_t firstClear = kNoWindow;
            for (uint32_t i = 0; i < kBufferWords; ++i) {
                if (((chip.loaded >> i) & 1u) == 0) {
                    continue;
                }
                uint32_t word = chip.window + i;
                auto clears = static_cast<uint16_t>(Cell(c, word) & ~chip.buffer[i]);
                auto mask = static_cast<uint16_t>(clears & ShareOfBits(base + word, share));
                if (clears != 0 && firstClear == kNoWindow) {
                    firstClear = word;
                }
                AndCell(c, word, static_cast<uint16_t>(~mask));
                changed = changed || mask != 0;
            }
            if (!changed && firstClear != kNoWindow) {
                // At least one cell was on its way: it shows.
                uint16_t cell = Cell(c, firstClear);
                uint16_t target = chip.buffer[firstClear - chip.window];
                auto clears = static_cast<uint16_t>(cell & ~target);
                AndCell(c, firstClear, static_cast<uint16_t>(~(clears & -clears)));
            }
            ApplyStuck(c, chip.window, kBufferWords);
            NoteChip(c, chip.window,
                     Format("%s cut off by a reset after %u/16 of its time: words left partly programmed",
                            OpName(chip.op), share));
            return;
        }
        const bool erasing = busy && chip.op == Op::kErase && chip.endError == 0;
        if (!erasing && !chip.suspended) {
            return;
        }
        uint32_t block = erasing ? chip.block : chip.suspendedBlock;
        uint32_t share = erasing ? ShareDone(chip) : 8;
        uint32_t first = block * kWordsPerBlock;
        for (uint32_t w = first; w < first + kWordsPerBlock; ++w) {
            uint16_t mask = ShareOfBits(base + w, share);
            size_t i = size_t{w} * 4 + 2 * c;
            cells[i] |= static_cast<uint8_t>(mask);
            cells[i + 1] |= static_cast<uint8_t>(mask >> 8);
        }
        ApplyStuck(c, first, kWordsPerBlock);
        NoteChip(c, first,
                 Format("erase of block %u cut off by a reset after %u/16 of its time: block left partly "
                        "erased",
                        block, share));
    }

    // ---- bus cycles of one chip ----

    uint16_t ReadChip(int c, uint32_t word) {
        Chip& chip = chips[c];
        switch (chip.mode) {
            case ChipMode::kReadArray:
                return Cell(c, word);
            case ChipMode::kReadIdentifier:
                switch (word % kWordsPerBlock) {
                    case 0:
                        return kManufacturerIntel;
                    case 1:
                        return DeviceCode(size / 2);
                    case 2:
                        return Locked(c, word / kWordsPerBlock, false) ? 1 : 0;
                    default:
                        return 0;
                }
            case ChipMode::kBusy:
                return BusyRead(c);
            default:
                return chip.status;
        }
    }

    void WriteChip(int c, uint32_t word, uint16_t value) {
        Chip& chip = chips[c];
        auto command = static_cast<uint8_t>(value);
        switch (chip.mode) {
            case ChipMode::kWriteBufferData:
                BufferData(c, word, value);
                return;
            case ChipMode::kWriteBufferCount:
                if (word / kWordsPerBlock != chip.block) {
                    SequenceError(c, word, "buffer count outside the block of the write-to-buffer command",
                                  value);
                } else if (value >= kBufferWords) {
                    SequenceError(c, word, "buffer count above 15", value);
                } else {
                    chip.left = value + 1u;
                    chip.loaded = 0;
                    chip.window = kNoWindow;
                    chip.mode = ChipMode::kWriteBufferData;
                }
                return;
            case ChipMode::kWordProgramData:
                chip.window = word & ~(kBufferWords - 1);
                chip.buffer[word & (kBufferWords - 1)] = value;
                chip.loaded = static_cast<uint16_t>(1u << (word & (kBufferWords - 1)));
                StartOperation(c, word, Op::kWordProgram);
                return;
            case ChipMode::kWriteBufferConfirm:
                if (command == kCmdConfirm) {
                    StartOperation(c, chip.window, Op::kProgram);
                } else {
                    SequenceError(c, word, "write to buffer not confirmed with D0", value);
                }
                return;
            case ChipMode::kEraseConfirm:
                if (command == kCmdConfirm) {
                    StartOperation(c, word, Op::kErase);
                } else {
                    SequenceError(c, word, "block erase not confirmed with D0", value);
                }
                return;
            case ChipMode::kLockSetup:
                if (command == kCmdSetLockBit) {
                    StartOperation(c, word, Op::kLockSet);
                } else if (command == kCmdConfirm) {
                    StartOperation(c, word, Op::kLockClearAll);
                } else {
                    SequenceError(c, word, "lock setup followed by neither 01 nor D0", value);
                }
                return;
            case ChipMode::kBusy:
                if (!SettleByTime(c)) {
                    BusyWrite(c, word, value);
                    return;
                }
                break;
            case ChipMode::kReadArray:
            case ChipMode::kReadStatus:
            case ChipMode::kReadIdentifier:
                break;
        }
        Command(c, word, value);
    }

    void BusyWrite(int c, uint32_t word, uint16_t value) {
        auto command = static_cast<uint8_t>(value);
        if (command == kCmdReadStatus) {
            return;  // the chip shows its status while busy anyway
        }
        if (command == kCmdClearStatus) {
            chips[c].status &= static_cast<uint8_t>(~kSrErrors);
            return;
        }
        if (command == kCmdSuspend && chips[c].op == Op::kErase && !chips[c].forever) {
            Suspend(c);
            return;
        }
        IgnoredWhileBusy(c, word, value);
    }

    // B0 during an erase: the erase stops where it is, the chip is ready
    // with SR.6 set and shows its status.
    void Suspend(int c) {
        Chip& chip = chips[c];
        uint64_t done = Progress(chip);
        chip.suspended = true;
        chip.suspendedBlock = chip.block;
        chip.suspendedNeed = done >= chip.needNanos ? 1 : chip.needNanos - done;
        chip.suspendedError = chip.endError;
        chip.endError = 0;
        chip.status |= kSrReady | kSrEraseSuspended;
        chip.mode = ChipMode::kReadStatus;
    }

    // D0 outside a command sequence while an erase is suspended: it goes on
    // for the time it still needed, and the chip shows its status.
    void Resume(int c) {
        Chip& chip = chips[c];
        chip.suspended = false;
        chip.op = Op::kErase;
        chip.block = chip.suspendedBlock;
        chip.endError = chip.suspendedError;
        chip.forever = false;
        chip.needNanos = chip.suspendedNeed;
        chip.readNanos = 0;
        chip.scale = TimeScale();
        chip.byClock = chip.scale > 0.0;
        chip.start = Clock::now();
        chip.status &= static_cast<uint8_t>(~(kSrReady | kSrEraseSuspended));
        chip.mode = ChipMode::kBusy;
    }

    [[gnu::cold, gnu::noinline]] void IgnoredWhileBusy(int c, uint32_t word, uint16_t value) {
        NoteChip(c, word, Format("0x%04X ignored: busy with %s", value, OpName(chips[c].op)));
    }

    [[gnu::cold, gnu::noinline]] void UnknownCommand(int c, uint32_t word, uint16_t value) {
        NoteChip(c, word,
                 Format("unknown command 0x%04X ignored in %s mode", value, ChipModeName(chips[c].mode)));
    }

    [[gnu::always_inline]] void BufferData(int c, uint32_t word, uint16_t value) {
        Chip& chip = chips[c];
        if (chip.window == kNoWindow) {
            if (word / kWordsPerBlock != chip.block) {
                SequenceError(c, word, "buffer data outside the block of the write-to-buffer command", value);
                return;
            }
            chip.window = word & ~(kBufferWords - 1);
        } else if ((word & ~(kBufferWords - 1)) != chip.window) {
            SequenceError(c, word, "buffer data outside the window of the first data word", value);
            return;
        }
        chip.buffer[word & (kBufferWords - 1)] = value;
        chip.loaded = static_cast<uint16_t>(chip.loaded | 1u << (word & (kBufferWords - 1)));
        if (--chip.left == 0) {
            chip.mode = ChipMode::kWriteBufferConfirm;
        }
    }

    void Command(int c, uint32_t word, uint16_t value) {
        Chip& chip = chips[c];
        switch (static_cast<uint8_t>(value)) {
            case kCmdReadArray:
                chip.mode = ChipMode::kReadArray;
                return;
            case kCmdReadStatus:
                chip.mode = ChipMode::kReadStatus;
                return;
            case kCmdClearStatus:
                chip.status &= static_cast<uint8_t>(~kSrErrors);
                return;
            case kCmdReadIdentifier:
                chip.mode = ChipMode::kReadIdentifier;
                return;
            case kCmdEraseSetup:
                if (chip.suspended) {
                    SequenceError(c, word, "block erase while an erase is suspended", value);
                    return;
                }
                chip.mode = ChipMode::kEraseConfirm;
                return;
            case kCmdWordProgram:
            case kCmdWordProgramAlt:
                chip.mode = ChipMode::kWordProgramData;
                return;
            case kCmdConfirm:
                if (chip.suspended) {
                    Resume(c);
                } else {
                    UnknownCommand(c, word, value);
                }
                return;
            case kCmdSuspend:
                return;  // nothing to suspend: the real part ignores it as well
            case kCmdWriteToBuffer:
                chip.block = word / kWordsPerBlock;
                chip.mode = ChipMode::kWriteBufferCount;
                return;
            case kCmdLockSetup:
                if (chip.suspended) {
                    SequenceError(c, word, "lock bits while an erase is suspended", value);
                    return;
                }
                chip.mode = ChipMode::kLockSetup;
                return;
            default:
                UnknownCommand(c, word, value);
                return;
        }
    }
};

FlashBank::FlashBank(uint32_t bytes, FlashTiming timing) {
    if (bytes == 0 || bytes % kFlashBlockBytes != 0 || bytes > kMaxBankBytes) {
        Fatal(Format("a bank of 0x%08X bytes is not a whole number of blocks up to 64 MB", bytes));
    }
    if (timing.readCycleNanos == 0) {
        Fatal("a read cycle takes time: FlashTiming::readCycleNanos must not be 0");
    }
    impl_ = std::make_unique<Impl>(bytes, timing);
}

FlashBank::~FlashBank() = default;

uint32_t FlashBank::Size() const {
    return impl_->size;
}

uint32_t FlashBank::Read32(uint32_t offset) {
    Impl& m = *impl_;
    m.CheckAccess(offset, 4);
    uint32_t value;
    if (m.chips[0].mode == ChipMode::kReadArray && m.chips[1].mode == ChipMode::kReadArray) {
        const uint8_t* p = m.cells.data() + offset;
        value = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
    } else {
        uint32_t word = offset >> 2;
        value = m.ReadChip(0, word) | uint32_t{m.ReadChip(1, word)} << 16;
    }
    if (m.logOn) [[unlikely]] {
        m.Log(false, 4, offset, value);
    }
    return value;
}

uint16_t FlashBank::Read16(uint32_t offset) {
    Impl& m = *impl_;
    m.CheckAccess(offset, 2);
    uint16_t value = m.ReadChip((offset >> 1) & 1, offset >> 2);
    if (m.logOn) [[unlikely]] {
        m.Log(false, 2, offset, value);
    }
    return value;
}

uint8_t FlashBank::Read8(uint32_t offset) {
    Impl& m = *impl_;
    m.CheckAccess(offset, 1);
    uint16_t half = m.ReadChip((offset >> 1) & 1, offset >> 2);
    auto value = static_cast<uint8_t>((offset & 1) != 0 ? half >> 8 : half);
    if (m.logOn) [[unlikely]] {
        m.Log(false, 1, offset, value);
    }
    return value;
}

void FlashBank::Write32(uint32_t offset, uint32_t value) {
    Impl& m = *impl_;
    m.CheckAccess(offset, 4);
    if (m.logOn) [[unlikely]] {
        m.Log(true, 4, offset, value);
    }
    ++m.storeSerial;
    uint32_t word = offset >> 2;
    // The data words of a buffered write are most of a flasher's stores.
    if (m.chips[0].mode == ChipMode::kWriteBufferData && m.chips[1].mode == ChipMode::kWriteBufferData) {
        m.BufferData(0, word, static_cast<uint16_t>(value));
        m.BufferData(1, word, static_cast<uint16_t>(value >> 16));
        return;
    }
    m.WriteChip(0, word, static_cast<uint16_t>(value));
    m.WriteChip(1, word, static_cast<uint16_t>(value >> 16));
}

void FlashBank::Write16(uint32_t offset, uint16_t value) {
    Impl& m = *impl_;
    m.CheckAccess(offset, 2);
    if (m.logOn) [[unlikely]] {
        m.Log(true, 2, offset, value);
    }
    ++m.storeSerial;
    m.WriteChip((offset >> 1) & 1, offset >> 2, value);
}

bool FlashBank::ReadArrayBytes(uint32_t offset, uint8_t* out, uint32_t count) {
    Impl& m = *impl_;
    if (count == 0 || m.logOn || !InReadArray()) {
        return false;
    }
    if (count > m.size || offset > m.size - count) [[unlikely]] {
        m.BadAccess(offset, count);
    }
    std::memcpy(out, m.cells.data() + offset, count);
    return true;
}

bool FlashBank::InReadArray() const {
    // A busy chip is in kBusy, so read array means idle too.
    return impl_->chips[0].mode == ChipMode::kReadArray && impl_->chips[1].mode == ChipMode::kReadArray;
}

ChipMode FlashBank::Mode(int chip) const {
    impl_->CheckChip(chip);
    impl_->SettleByTime(chip);
    return impl_->chips[chip].mode;
}

uint8_t FlashBank::Status(int chip) const {
    impl_->CheckChip(chip);
    impl_->SettleByTime(chip);
    return impl_->chips[chip].status;
}

std::span<const uint8_t> FlashBank::Cells() const {
    return impl_->cells;
}

std::span<uint8_t> FlashBank::MutableCells() {
    return impl_->cells;
}

void FlashBank::Reset() {
    for (int c = 0; c < 2; ++c) {
        impl_->Interrupt(c);
    }
    impl_->chips = {};
}

void FlashBank::SetInterruptSeed(uint64_t seed) {
    impl_->interruptSeed = seed;
    impl_->interruptions = 0;
}

std::string FlashBank::CheckFault(const FlashFault& fault) const {
    const Impl& m = *impl_;
    using Kind = FlashFault::Kind;
    if (fault.kind != Kind::kBusyForever && fault.kind != Kind::kEraseError &&
        fault.kind != Kind::kProgramError && fault.kind != Kind::kLocked && fault.kind != Kind::kStuckBits &&
        fault.kind != Kind::kSlowErase && fault.kind != Kind::kSlowProgram && fault.kind != Kind::kSlowLock &&
        fault.kind != Kind::kLockError) {
        return Format("unknown fault kind %d", static_cast<int>(fault.kind));
    }
    if (fault.chip < -1 || fault.chip > 1) {
        return Format("chip %d does not exist: use 0 (bits 0-15), 1 (bits 16-31) or -1 (both)", fault.chip);
    }
    bool slow =
        fault.kind == Kind::kSlowErase || fault.kind == Kind::kSlowProgram || fault.kind == Kind::kSlowLock;
    if (slow && fault.busyReads == 0 && fault.busyMicros == 0) {
        return "a slow fault needs a count of status reads or a time";
    }
    if (!slow && (fault.busyReads != 0 || fault.busyMicros != 0)) {
        return "status reads and time apply to slow faults only";
    }
    if (fault.kind == Kind::kStuckBits) {
        if (fault.blockFirst != -1 || fault.blockLast != -1 || fault.operations != 0) {
            return "stuck bits are placed by their word offset and last for ever: blocks and operations do "
                   "not apply";
        }
        if (fault.stuckOffset % 4 != 0 || fault.stuckOffset > m.size - 4) {
            return Format("stuck word offset 0x%08X is not a 32-bit word of the bank's 0x%08X bytes",
                          fault.stuckOffset, m.size);
        }
        if ((fault.stuckMask & ChipHalfMask(fault.chip)) == 0) {
            return Format("stuck mask 0x%08X holds no bit of the chosen chip", fault.stuckMask);
        }
        return {};
    }
    if (fault.blockFirst < -1 || fault.blockFirst >= static_cast<int64_t>(m.blocks)) {
        return Format("first block %d is not a block of the bank (0..%u) nor -1 (every block)",
                      fault.blockFirst, m.blocks - 1);
    }
    if (fault.blockLast != -1) {
        if (fault.blockFirst == -1) {
            return "a last block needs a first block";
        }
        if (fault.blockLast < fault.blockFirst || fault.blockLast >= static_cast<int64_t>(m.blocks)) {
            return Format("last block %d is not a block of the bank from the first block %d on (..%u)",
                          fault.blockLast, fault.blockFirst, m.blocks - 1);
        }
    }
    return {};
}

void FlashBank::InjectFault(const FlashFault& fault) {
    Impl& m = *impl_;
    std::string problem = CheckFault(fault);
    if (!problem.empty()) {
        Fatal("cannot inject fault: " + problem);
    }
    std::erase_if(m.faults, [&m](const InjectedFault& f) { return !m.FaultActive(f); });
    if (fault.kind == FlashFault::Kind::kStuckBits) {
        StuckWord s{fault.stuckOffset / 4, fault.stuckMask & ChipHalfMask(fault.chip)};
        m.stuck.push_back(s);
        for (int c = 0; c < 2; ++c) {
            m.ApplyStuck(c, s.word, 1);
        }
        return;
    }
    m.faults.push_back(InjectedFault{fault, fault.operations == 0, fault.operations, UINT64_MAX});
}

void FlashBank::ClearFaults() {
    impl_->faults.clear();
    impl_->stuck.clear();
}

void FlashBank::SetBlockLocked(uint32_t block, bool locked) {
    impl_->CheckBlock(block);
    for (auto& bits : impl_->lockBits) {
        bits[block] = locked ? 1 : 0;
    }
}

bool FlashBank::BlockLocked(uint32_t block) const {
    impl_->CheckBlock(block);
    return impl_->lockBits[0][block] != 0 || impl_->lockBits[1][block] != 0;
}

void FlashBank::EnableLog(bool on) {
    impl_->logOn = on;
}

std::vector<BusAccess> FlashBank::TakeLog() {
    impl_->logFull = false;
    return std::exchange(impl_->log, {});
}

std::vector<std::string> FlashBank::TakeNotes() {
    std::vector<std::string> notes(impl_->notes.begin(), impl_->notes.end());
    impl_->notes.clear();
    return notes;
}

}  // namespace nuva::sim
