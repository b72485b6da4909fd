#include "tools/flash/verify.h"

#include <algorithm>
#include <cstdio>
#include <optional>

#include "formats/byte_sum.h"
#include "formats/image_header.h"
#include "formats/result_codes.h"
#include "setup/link/agent_calls.h"
#include "setup/link/desktop_file.h"
#include "tools/flash/json_events.h"
#include "tools/flash/options.h"
#include "tools/flash/terminal.h"

namespace nuva {
namespace {

std::string Hex32(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

// Reads exactly `count` bytes; false when the file fails or ends first.
bool ReadExactly(DesktopFile& file, uint8_t* buffer, size_t count) {
    size_t done = 0;
    while (done < count) {
        std::optional<size_t> got = file.Read(buffer + done, count - done);
        if (!got || *got == 0) {
            return false;
        }
        done += *got;
    }
    return true;
}

// One block whose sum differed: read back and compared byte by byte.
// False when the handheld did not answer (report filled).
bool CompareBlock(FlashSource& flash, uint32_t address, const uint8_t* expected, uint32_t length,
                  VerifyReport& report) {
    std::vector<uint8_t> actual(kVerifyReadBytes);
    uint64_t differing = 0;
    for (uint32_t offset = 0; offset < length; offset += kVerifyReadBytes) {
        const uint32_t count = std::min(length - offset, kVerifyReadBytes);
        const uint32_t code = flash.Read(address + offset, actual.data(), count);
        if (code != 0) {
            report.outcome = VerifyOutcome::kReadFailed;
            report.failedAddress = address + offset;
            report.failureCode = code;
            return false;
        }
        for (uint32_t i = 0; i < count; ++i) {
            if (actual[i] != expected[offset + i]) {
                ++differing;
                if (report.differences.size() < kReportedDifferences) {
                    report.differences.push_back(address + offset + i);
                }
            }
        }
    }
    // A block whose sum differed but whose bytes all match was read wrongly
    // once; the bytes read now are what counts.
    if (differing != 0) {
        report.differingBytes += differing;
        ++report.differingBlocks;
    }
    return true;
}

}  // namespace

std::vector<WrittenRange> WrittenRanges(const UpdateHandoff& plan) {
    std::vector<WrittenRange> ranges;
    if (plan.Items > kMaxImageParts) {
        return {};
    }
    for (uint32_t i = 0; i < plan.Items; ++i) {
        const ImagePart& part = plan.parts[i];
        if (part.PartLength == 0 || uint64_t{part.FlashAddress} + part.PartLength > 0x100000000ull) {
            return {};
        }
        ranges.push_back({part.FlashAddress, part.PartLength, uint64_t{part.ImageOffset} + kImageHeaderSize});
    }
    return ranges;
}

uint32_t AgentFlash::BlockSums(uint32_t address, uint32_t length, uint32_t blockBytes,
                               std::vector<uint32_t>& sums) {
    return ReadFlashBlockSums(address, length, blockBytes, sums);
}

uint32_t AgentFlash::Read(uint32_t address, uint8_t* buffer, uint32_t count) {
    return ReadDeviceFlash(address, buffer, count);
}

VerifyReport VerifyFlash(FlashSource& flash, const std::string& path, const std::vector<WrittenRange>& ranges,
                         const VerifyProgress& progress) {
    VerifyReport report;
    DesktopFile file = DesktopFile::OpenForReading(path);
    if (!file.IsOpen() || ranges.empty()) {
        report.outcome = VerifyOutcome::kFileFailed;
        return report;
    }
    uint64_t total = 0;
    for (const WrittenRange& range : ranges) {
        total += range.length;
    }
    constexpr uint32_t kCallBytes = kVerifyBlockBytes * kVerifyBlocksPerCall;
    std::vector<uint8_t> expected(kCallBytes);
    std::vector<uint32_t> sums;
    for (const WrittenRange& range : ranges) {
        if (!file.SeekTo(range.fileOffset)) {
            report.outcome = VerifyOutcome::kFileFailed;
            return report;
        }
        for (uint32_t offset = 0; offset < range.length; offset += kCallBytes) {
            const uint32_t length = std::min(range.length - offset, kCallBytes);
            const uint32_t address = range.address + offset;
            if (!ReadExactly(file, expected.data(), length)) {
                report.outcome = VerifyOutcome::kFileFailed;
                return report;
            }
            const uint32_t code = flash.BlockSums(address, length, kVerifyBlockBytes, sums);
            const size_t blocks = (length + kVerifyBlockBytes - 1) / kVerifyBlockBytes;
            if (code != 0 || sums.size() != blocks) {
                report.outcome = VerifyOutcome::kReadFailed;
                report.failedAddress = address;
                report.failureCode = code != 0 ? code : kResultFail;
                return report;
            }
            for (size_t block = 0; block < blocks; ++block) {
                const uint32_t at = static_cast<uint32_t>(block) * kVerifyBlockBytes;
                const uint32_t bytes = std::min(length - at, kVerifyBlockBytes);
                if (ByteSum(expected.data() + at, bytes, 0) != sums[block] &&
                    !CompareBlock(flash, address + at, expected.data() + at, bytes, report)) {
                    return report;
                }
            }
            report.bytesChecked += length;
            if (progress) {
                progress(report.bytesChecked, total);
            }
        }
        ++report.rangesChecked;
    }
    report.outcome = report.differingBytes == 0 ? VerifyOutcome::kVerified : VerifyOutcome::kDiffers;
    return report;
}

std::vector<std::string> DescribeVerify(const VerifyReport& report, const std::string& file) {
    switch (report.outcome) {
        case VerifyOutcome::kVerified:
            return {"verified: the flash holds " + file + " (" + std::to_string(report.rangesChecked) +
                    " ranges, " + std::to_string(report.bytesChecked) + " bytes)"};
        case VerifyOutcome::kDiffers: {
            std::string first;
            for (uint32_t address : report.differences) {
                first += (first.empty() ? "" : ", ") + Hex32(address);
            }
            return {"The flash differs from " + file + ": " + std::to_string(report.differingBytes) +
                        " bytes in " + std::to_string(report.differingBlocks) + " blocks of 64 KB.",
                    "first differing addresses: " + first};
        }
        case VerifyOutcome::kFileFailed:
            return {file + " cannot be read to the end of what was written from it; nothing was compared."};
        case VerifyOutcome::kReadFailed:
            break;
    }
    return {"The handheld did not answer while its flash was read at " + Hex32(report.failedAddress) + " (" +
            Hex32(report.failureCode) + "); the flash was not verified."};
}

int VerifyOnTerminal(Terminal& terminal, FlashEvents& events, FlashSource& flash, const std::string& path,
                     const UpdateHandoff& plan) {
    const std::vector<WrittenRange> ranges = WrittenRanges(plan);
    uint64_t total = 0;
    for (const WrittenRange& range : ranges) {
        total += range.length;
    }
    events.Verify("start", std::nullopt, 0, total, path);
    const VerifyReport report = VerifyFlash(flash, path, ranges, [&](uint64_t done, uint64_t all) {
        const auto percent = static_cast<uint32_t>(all == 0 ? 100 : done * 100 / all);
        terminal.Status("Verifying the flash " + Bar(percent) + " " + std::to_string(percent) + " %");
        events.Verify("progress", std::nullopt, done, all, "");
    });
    const std::vector<std::string> lines = DescribeVerify(report, path);
    std::string said;
    for (const std::string& text : lines) {
        terminal.Line(text);
        said += (said.empty() ? "" : "\n") + text;
    }
    events.Verify("done", report.outcome == VerifyOutcome::kVerified, report.bytesChecked, total, said);
    switch (report.outcome) {
        case VerifyOutcome::kVerified:
            return flash_exit::kDone;
        case VerifyOutcome::kDiffers:
            return flash_exit::kVerifyFailed;
        case VerifyOutcome::kFileFailed:
            return flash_exit::kCheckFailed;
        case VerifyOutcome::kReadFailed:
            break;
    }
    return flash_exit::kConnectionLost;
}

}  // namespace nuva
