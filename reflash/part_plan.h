// The flasher's plans: how many 1 MB buffers a part needs, in which order
// the final part is programmed, and which hand-over values the flasher can
// act on at all. Pure decisions, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/update_handoff.h"

namespace nuva::reflash {

inline constexpr uint32_t kMegabyte = 0x100000;
inline constexpr uint32_t kHalfMegabyte = 0x80000;
// PartBuffers holds 64 buffers of 1 MB: no part can be larger.
inline constexpr uint32_t kMaxPartBuffers = 64;
inline constexpr uint64_t kMaxPartBytes = uint64_t{kMaxPartBuffers} * kMegabyte;

// ceil(bytes / 1 MB).
uint32_t BuffersNeeded(uint64_t bytes);

// One ProgramRange of the final part. The final part's last megabyte is read
// into buffer 0 and megabyte m (below the last) into buffer m + 1; the part
// is programmed from its last megabyte down to megabyte 0, each megabyte
// upper half first, so that megabyte 0 (which holds what the handheld starts
// from) is written last, right before the restart.
struct FinalPartStep {
    uint32_t megabyte = 0;
    bool upperHalf = false;
    uint32_t offset = 0;    // first byte of the part this step programs
    uint32_t length = 0;    // bytes programmed
    uint32_t copyFrom = 0;  // heap buffer whose same half is first copied into buffer 0; 0: none
    bool announce = false;  // "Update complete" / "Restore complete" goes up before this step
    bool restart = false;   // ProgramRange pulls the restart line when done
};

// The steps for a final part of `bytes` bytes (none for 0).
std::vector<FinalPartStep> PlanFinalPart(uint32_t bytes);

// Whether `bytes` bytes at flash address `address` (either kernel window of
// the flash) lie inside the flash window and fit the part buffers.
bool PartFits(uint32_t address, uint64_t bytes);

// What is wrong with a hand-over's addresses, if anything: the flasher must
// not clear a screen, a reserved block word or a routine table, nor erase a
// range, that is not where this handheld has them.
enum class HandoffAddressProblem {
    kNone,
    kFrameBuffer,    // UI is not the frame buffer
    kReservedBlock,  // absoluate is not a word-aligned place in RAM with room for the cold-start words
    kRoutineArea,    // FRsvd is not a word-aligned place in RAM with room for the routine table
    kPsmRange,       // the PSM range does not lie inside the flash window
    kPartAddress,    // a record's FlashAddress is not in the flash window
};
struct HandoffAddressCheck {
    HandoffAddressProblem problem = HandoffAddressProblem::kNone;
    size_t record = 0;  // for kPartAddress
};
HandoffAddressCheck CheckHandoffAddresses(const HandoffFile& handoff);

}  // namespace nuva::reflash
