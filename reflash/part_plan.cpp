#include "reflash/part_plan.h"

#include <algorithm>

#include "reflash/flash_routines.h"

namespace nuva::reflash {
namespace {

constexpr uint32_t kFlashWindowEnd = 0xA4000000;  // 64 MB of flash at most
constexpr uint32_t kRamWindowStart = 0xA4000000;  // uncached view; the cached one differs by kUncachedWindow
constexpr uint32_t kRamWindowEnd = 0xA8000000;
constexpr uint32_t kReservedWordsEnd = 0x710;  // the highest word used is the cold-start word at 0x70C

bool InFlashWindow(uint32_t address, uint64_t bytes) {
    uint64_t start = address | kUncachedWindow;
    return start >= kFlashBase && start + bytes <= kFlashWindowEnd;
}

// A word-aligned range of `bytes` in either RAM window.
bool InRam(uint32_t address, uint32_t bytes) {
    uint64_t start = address | kUncachedWindow;
    return (address & 3) == 0 && start >= kRamWindowStart && start + bytes <= kRamWindowEnd;
}

}  // namespace

uint32_t BuffersNeeded(uint64_t bytes) {
    return static_cast<uint32_t>((bytes + kMegabyte - 1) / kMegabyte);
}

std::vector<FinalPartStep> PlanFinalPart(uint32_t bytes) {
    std::vector<FinalPartStep> steps;
    uint32_t megabytes = BuffersNeeded(bytes);
    // What is still to be programmed ends here; each step programs up to it.
    uint32_t end = bytes;
    for (uint32_t m = megabytes; m-- > 0;) {
        bool last = m + 1 == megabytes;
        uint32_t base = m * kMegabyte;
        bool announce = m == 0;
        if (bytes > base + kHalfMegabyte) {
            uint32_t start = base + kHalfMegabyte;
            steps.push_back({m, true, start, end - start, last ? 0 : m + 1, announce, false});
            end = start;
            announce = false;
        }
        steps.push_back({m, false, base, end - base, last ? 0 : m + 1, announce, m == 0});
        end = base;
    }
    return steps;
}

bool PartFits(uint32_t address, uint64_t bytes) {
    return bytes <= kMaxPartBytes && InFlashWindow(address, bytes);
}

HandoffAddressCheck CheckHandoffAddresses(const HandoffFile& handoff) {
    if (handoff.UI != kFrameBufferAddress) {
        return {HandoffAddressProblem::kFrameBuffer};
    }
    if (!InRam(handoff.absoluate, kReservedWordsEnd)) {
        return {HandoffAddressProblem::kReservedBlock};
    }
    if (!InRam(handoff.FRsvd, FlashRoutines::kTableBytes)) {
        return {HandoffAddressProblem::kRoutineArea};
    }
    if (handoff.PSMStart != 0 && handoff.PSMLength != 0 &&
        !InFlashWindow(handoff.PSMStart, handoff.PSMLength)) {
        return {HandoffAddressProblem::kPsmRange};
    }
    for (size_t r = 0; r < handoff.Items && r < handoff.records.size(); ++r) {
        if (!InFlashWindow(handoff.records[r].FlashAddress, 1)) {
            return {HandoffAddressProblem::kPartAddress, r};
        }
    }
    return {};
}

}  // namespace nuva::reflash
