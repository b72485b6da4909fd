// The headers of update images and ROM backup files, as Setup reads them,
// judged against the DeviceInfo record the handheld's agent sends: every
// decision and text the pages take from them, the plan written from an
// accepted header, and the identity block of the contents behind it.
//
// Input: 8 bytes the file's length (little-endian), the 124-byte DeviceInfo,
// 4 bytes the OS major version the handheld reports, then the file's first
// bytes (the stored header, then contents).

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "formats/byte_sum.h"
#include "formats/device_info.h"
#include "formats/image_header.h"
#include "formats/le.h"
#include "formats/rom_identity.h"
#include "formats/update_handoff.h"
#include "setup/device/compatibility.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/info_texts.h"
#include "setup/device/update_plan.h"

namespace {

constexpr size_t kPrefixBytes = 8 + nuva::kDeviceInfoSize + 4;

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "image_header_fuzz: %s\n", what);
    std::abort();
}

// What the pages do with a header they accepted.
void JudgeHeader(const nuva::ImageHeader& header, uint64_t fileLength, const nuva::DeviceInfo& info,
                 uint32_t osMajor) {
    if (!header.HasMagic()) {
        Fail("a header without its magic was accepted");
    }
    const std::string shape = nuva::BackupShapeFault(header, fileLength);
    if (shape.empty() && fileLength != nuva::kImageHeaderSize + uint64_t{nuva::ContentBytesFor(
                                                                    nuva::PlanVariantForImage(header).os)}) {
        Fail("a backup of the wrong length passed as whole");
    }

    for (const int sameDevice : {0, 1}) {
        nuva::CompatibilityVerdict verdict;
        const int32_t refuse = nuva::CheckCompatibility(header, info, verdict, 1, 1, sameDevice);
        if (refuse != verdict.Refuse) {
            Fail("the compatibility result is not the verdict's");
        }
        (void)nuva::UpdateRefusalResult(nuva::ChooseUpdateRefusal(verdict));
        (void)nuva::ChooseRestoreRefusal(verdict);
    }
    (void)nuva::ImageColumnTexts(header);
    (void)nuva::DowngradeReasonLine(info, header);

    // The plan built from the header must be a hand-over file the flasher
    // takes as it stands.
    for (const nuva::PlanMode mode : {nuva::PlanMode::kUpdate, nuva::PlanMode::kRestore}) {
        const nuva::UpdateHandoff plan = nuva::PlanImageWrite(header, osMajor, mode);
        const auto file = nuva::WriteHandoffFile(plan);
        nuva::HandoffFile parsed;
        if (nuva::ParseHandoffFile(file.data(), file.size(), parsed) != nuva::HandoffError::kNone) {
            Fail("the flasher refuses the hand-over written from an accepted header");
        }
        if (parsed.Items != plan.Items || parsed.RestoreFlag != static_cast<uint16_t>(mode)) {
            Fail("the hand-over read back differs from the plan");
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < kPrefixBytes) {
        return -1;
    }
    const uint64_t fileLength = uint64_t{nuva::LoadLe32(data)} | (uint64_t{nuva::LoadLe32(data + 4)} << 32);
    const nuva::DeviceInfo info = nuva::ReadDeviceInfo(data + 8);
    const uint32_t osMajor = nuva::LoadLe32(data + 8 + nuva::kDeviceInfoSize);
    const uint8_t* file = data + kPrefixBytes;
    const size_t fileBytes = size - kPrefixBytes;

    // The handheld's own texts, and a backup header made from them, which
    // Setup must take back as it wrote it.
    (void)nuva::DeviceColumnTexts(info, osMajor);
    (void)nuva::BackupConfirmTexts(info);
    (void)nuva::BackupFileName(info);
    const uint32_t contentBytes = nuva::ContentBytesFor(nuva::PlanVariantForDevice(info).os);
    const auto ris = nuva::BuildRisHeader(info, contentBytes, nuva::ByteSum(file, fileBytes));
    nuva::ImageHeader risHeader;
    if (!nuva::AcceptImageHeader(ris.data(), nuva::kImageHeaderSize + uint64_t{contentBytes}, risHeader)) {
        Fail("Setup refuses the header of its own backup");
    }
    if (!nuva::BackupShapeFault(risHeader, nuva::kImageHeaderSize + uint64_t{contentBytes}).empty()) {
        Fail("Setup's own backup header is not the shape of a backup");
    }

    if (fileBytes < nuva::kImageHeaderSize) {
        return 0;
    }
    nuva::ImageHeader header;
    if (nuva::AcceptImageHeader(file, fileLength, header)) {
        JudgeHeader(header, fileLength, info, osMajor);
    }
    nuva::RomIdentity identity;
    (void)nuva::ReadRomIdentity(file + nuva::kImageHeaderSize, fileBytes - nuva::kImageHeaderSize, identity);
    return 0;
}
