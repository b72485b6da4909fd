// The flasher's programming sequence: from copying the flash routines to RAM
// to the restart that follows the final part. It runs alone on the
// handheld, interrupts masked from its third step on, and reports only on
// the screen.
//
// The sequence works through interfaces so that the same code runs on the
// handheld (WinCE files, heap and page locking, the screen console, the DDK
// register accessors) and in tests.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string_view>

#include "formats/update_handoff.h"
#include "reflash/flash_port.h"
#include "reflash/flash_routines.h"
#include "reflash/part_files.h"
#include "reflash/part_plan.h"

namespace nuva::reflash {

inline constexpr uint16_t kTextColour = 0x8080;
inline constexpr uint16_t kStatusColour = 0x0C0C;

// A part is read into the buffers in pieces of at most this many bytes.
inline constexpr uint32_t kReadPieceBytes = 32768;

// Buffer 0's working address is its physical address less this: the kernel's
// static mapping of RAM.
inline constexpr uint32_t kStaticMappingOffset = 0x1C000000;

// The platform registers the sequence sets up before masking interrupts.
inline constexpr uint32_t kMemoryControlBase = 0xA8100000;
inline constexpr uint32_t kLcdControlWord = 0xBE040100;
inline constexpr uint32_t kInterruptControlWord = 0xA8F00004;

class FlasherScreen {
  public:
    virtual ~FlasherScreen() = default;
    // Draws a text at the cursor; '\n' starts the next line.
    virtual void Text(uint16_t colour, std::string_view text) = 0;
    // Draws every byte as its glyph, newlines included.
    virtual void Glyphs(uint16_t colour, std::string_view text) = 0;
    virtual void Home() = 0;
    // Clears the whole screen to white; the cursor stays.
    virtual void Clear() = 0;
};

// The rest of the handheld the sequence needs.
class FlasherSystem : public PartFiles {
  public:
    // One 1 MB heap block; null when there is no memory.
    virtual uint8_t* AllocateHeapBuffer() = 0;
    // Buffer 0: 1 MB of physically contiguous RAM; its physical address, or
    // false when none could be had (the reason is already on the screen).
    virtual bool AllocateContiguousBuffer(uint32_t* physical) = 0;
    // Masks IRQ and FIQ for the rest of the run.
    virtual void MaskInterrupts() = 0;
};

// How long the flash routines wait for the chips: kFlasherPollBudget on the
// handheld; tests choose their own.
using SequenceLimits = PollBudget;

enum class SequenceEnd {
    kRoutinesNotCopied,  // RAM did not keep the routine table
    kUnlockFailed,       // "Flash unlock failed ..": the run stops
    kRestarted,          // the restart line was pulled (final part done, or no memory)
    kPartFailed,         // a part failed; the run stops (with the FAILED lines after the first record)
    kListDone,           // every record was programmed and none was the final part
};

// Result codes of one record.
inline constexpr uint32_t kPartOk = 0;
inline constexpr uint32_t kPartFailed = 1;
// kFlasherNoMemory (formats/result_codes.h): a buffer could not be had.

class Programmer {
  public:
    Programmer(const HandoffFile& handoff, FlasherSystem& system, FlasherScreen& screen, FlashPort& port,
               SequenceLimits limits);
    ~Programmer();
    Programmer(const Programmer&) = delete;
    Programmer& operator=(const Programmer&) = delete;

    SequenceEnd Run();

    // The steps of Run, for tests that exercise one record at a time. Both
    // need buffer 0 (AllocateBufferZero) and the routines (Copy).
    uint32_t ProgramPart(const ImagePart& part);
    uint32_t ProgramFinalPart(const ImagePart& part);
    bool CopyRoutines() { return routines_.Copy(); }
    bool AllocateBufferZero();
    uint32_t BuffersInUse() const { return inUse_; }

  private:
    bool PartSize(const ImagePart& part, uint32_t* size);
    bool EnsureBuffers(uint32_t count, bool final);
    bool ReadPart(const ImagePart& part, uint32_t size, bool final);
    void CopyToBufferZero(uint32_t buffer, uint32_t offset, uint32_t bytes);
    void WriteBufferZero(uint32_t offset, const uint8_t* bytes, uint32_t count);
    // ProgramRange until it succeeds, each repetition announced; false when
    // the routines can no longer be called.
    bool ProgramWithRetry(uint32_t address, uint32_t source, uint32_t length, bool restart);
    void ClearColdStartWords();
    void SetUpRegisters();
    void EraseBuiltInStorage();
    void Printf(uint16_t colour, const char* format, ...) __attribute__((format(printf, 3, 4)));

    const HandoffFile& handoff_;
    FlasherSystem& system_;
    FlasherScreen& screen_;
    FlashPort& port_;
    SequenceLimits limits_;
    FlashRoutines routines_;

    // PartBuffers: buffer 0 by its working address, the others as heap blocks.
    uint32_t bufferZero_ = 0;
    std::array<uint8_t*, kMaxPartBuffers> heap_{};
    uint32_t inUse_ = 0;
    uint8_t* spare_ = nullptr;
    std::unique_ptr<uint32_t[]> staging_;  // one read piece on its way into buffer 0
};

}  // namespace nuva::reflash
