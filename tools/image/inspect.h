// What nuva-image tells about an image or backup file: every header field
// unscrambled (completed as Setup completes an early header), Setup's verdict
// on the header, the byte count and its sum, and the ROM identity block that
// the handheld will read from the contents.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/image_header.h"
#include "formats/rom_identity.h"

namespace nuva::image_tool {

// Files larger than this cannot be a ROM image or backup of this handheld
// (its largest flash is 48 MB) and are not read.
inline constexpr uint64_t kLargestInspectedFile = 64ull * 1024 * 1024;

struct InspectReport {
    uint64_t length = 0;
    ImageHeader header;         // as CheckImageFile leaves it
    bool accepted = false;      // CheckImageFile's verdict
    bool early = false;         // no "NUVA7" marker: header completed from the length
    std::string refusal;        // why CheckImageFile refused, when it did
    std::optional<bool> sumOk;  // empty when the header counts no bytes
    std::string sumNote;        // what went wrong with the count or sum
    std::string lengthNote;     // a length that does not fit the OS code
    std::string backupFault;    // a backup a restore would refuse: why
    RomIdentityError identityError = RomIdentityError::kNoBlock;
    RomIdentity identity;
};

enum class InspectError { kNone, kCannotOpen, kNotAFile, kEmpty, kTooShort, kTooLarge, kReadFailed };

// Reads and judges the file. On an error other than kNone, `message` says
// what is wrong with the file and nothing else of `report` is meaningful.
InspectError InspectFile(const std::string& path, InspectReport& report, std::string& message);

// "update", "backup" or "unknown", from the header's kind field.
const char* KindName(const ImageHeader& header);

// The report as lines for a person, and as one JSON object with the keys
// kind, magic, date_code, language, model_byte, os_code, rom_name,
// byte_count, byte_sum, sum_ok, uuid, length, accepted.
std::string FormatText(const std::string& path, const InspectReport& report);
std::string FormatJson(const InspectReport& report);

// Whether the file would pass Setup's image checks: accepted, its count,
// when it has one, matches its sum, and a backup is one a restore takes.
bool Passes(const InspectReport& report);

}  // namespace nuva::image_tool
