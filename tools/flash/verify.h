// Read-back verification: after the flasher has written an image or a
// backup, the flash is compared with the file it came from, range by range
// of what the hand-over wrote. The handheld's agent answers the ByteSum of
// every block; only a block whose sum differs from the file's is read back
// whole and compared byte by byte, so that a sound flash costs a few sums
// over the cable instead of all its bytes.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "formats/update_handoff.h"

namespace nuva {

// A range of flash and where its bytes stand in the file that was written.
struct WrittenRange {
    uint32_t address = 0;
    uint32_t length = 0;
    uint64_t fileOffset = 0;
};

// The ranges the flasher writes for `plan`: every part in use, its bytes
// taken from the file at ImageOffset + 512. Empty when the plan is not one
// the flasher would take (more parts than slots, an empty part, a range that
// wraps the address space).
std::vector<WrittenRange> WrittenRanges(const UpdateHandoff& plan);

// The handheld's flash as the verification reads it; AgentFlash is the real
// one, through the agent library.
class FlashSource {
  public:
    virtual ~FlashSource() = default;
    // The ByteSums of the blocks of `blockBytes` covering the range, the last
    // one possibly shorter: 0, or the failure code.
    virtual uint32_t BlockSums(uint32_t address, uint32_t length, uint32_t blockBytes,
                               std::vector<uint32_t>& sums) = 0;
    // `count` bytes of flash (at most kVerifyReadBytes): 0, or the failure
    // code.
    virtual uint32_t Read(uint32_t address, uint8_t* buffer, uint32_t count) = 0;
};

class AgentFlash final : public FlashSource {
  public:
    uint32_t BlockSums(uint32_t address, uint32_t length, uint32_t blockBytes,
                       std::vector<uint32_t>& sums) override;
    uint32_t Read(uint32_t address, uint8_t* buffer, uint32_t count) override;
};

// Blocks are summed 64 KB at a time, up to 64 blocks in one call; a block
// read back is read 16 KB at a time, as a backup reads the flash.
inline constexpr uint32_t kVerifyBlockBytes = 64 * 1024;
inline constexpr uint32_t kVerifyBlocksPerCall = 64;
inline constexpr uint32_t kVerifyReadBytes = 16 * 1024;
// How many differing addresses a report names.
inline constexpr size_t kReportedDifferences = 8;

enum class VerifyOutcome {
    kVerified,    // every range holds the file's bytes
    kDiffers,     // at least one byte differs
    kFileFailed,  // the file could not be read (or is shorter than the ranges)
    kReadFailed,  // the handheld did not answer a sum or a read
};

struct VerifyReport {
    VerifyOutcome outcome = VerifyOutcome::kReadFailed;
    uint64_t bytesChecked = 0;
    uint32_t rangesChecked = 0;
    // kDiffers: the first differing addresses, in order, and how many bytes
    // and blocks differ in all.
    std::vector<uint32_t> differences;
    uint64_t differingBytes = 0;
    uint32_t differingBlocks = 0;
    // kReadFailed: where, and the code the handheld's call gave.
    uint32_t failedAddress = 0;
    uint32_t failureCode = 0;
};

// Progress: bytes of the ranges checked so far, and their total.
using VerifyProgress = std::function<void(uint64_t done, uint64_t total)>;

// Compares the ranges of flash with the file at `path`. Checks every range
// to its end, so that a report of differences is complete; stops at the
// first read that fails.
VerifyReport VerifyFlash(FlashSource& flash, const std::string& path, const std::vector<WrittenRange>& ranges,
                         const VerifyProgress& progress = {});

// The report as the lines a person reads; `file` names what was compared.
std::vector<std::string> DescribeVerify(const VerifyReport& report, const std::string& file);

class Terminal;
class FlashEvents;
// Verifies what `plan` writes from the file at `path`, with its progress on
// the terminal's status line and its report as lines (and as "verify"
// events: start, progress, done); the exit code:
// kDone, kVerifyFailed, kConnectionLost (the handheld stopped answering) or
// kCheckFailed (the file).
int VerifyOnTerminal(Terminal& terminal, FlashEvents& events, FlashSource& flash, const std::string& path,
                     const UpdateHandoff& plan);

}  // namespace nuva
