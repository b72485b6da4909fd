// Whether an image may be written to the handheld: the one test that compares
// an ImageHeader with the handheld's DeviceInfo, and the choice of the one
// message an information page shows for its verdict.
#pragma once

#include <cstdint>

#include "formats/device_info.h"
#include "formats/image_header.h"

namespace nuva {

struct CompatibilityVerdict {
    int32_t Refuse = 0;            // the operation must not proceed
    int32_t LanguageMismatch = 0;  // the image's language is not the handheld's
    int32_t SameRom = 0;           // the image is the ROM the handheld runs
    int32_t ModelMismatch = 0;     // the image's model byte does not fit MemoryConfig
    int32_t OsStep = 0;            // image OS code - (OS major - 1): <0 older family, >0 newer
    int32_t RomOrder = 0;          // <0 when the image's date code is older than the handheld's
    int32_t OtherDevice = 0;       // the backup was taken from another handheld

    bool operator==(const CompatibilityVerdict&) const = default;
};

// Fills `verdict` (zeroed first) and returns its Refuse. The switches:
// a language mismatch refuses; a downgrade (older family, or same family and
// older date) refuses; the header's device UUID must equal the handheld's.
// The update page passes (1, !g_force, 0), the restore page (1, 0, 1).
int32_t CheckCompatibility(const ImageHeader& header, const DeviceInfo& info, CompatibilityVerdict& verdict,
                           int languageRefuses, int downgradeRefuses, int sameDeviceRequired);

// What the update information page does with a refusal, first match wins.
enum class UpdateRefusal {
    kImageCorrupt,     // ModelMismatch: the image is not for this model; page result 3
    kReasonLanguage,   // result 3
    kReasonDowngrade,  // same family and older, or an older family; result 3
    kReasonSameRom,    // result 2
    kSilent,           // result 3 without a message
};
UpdateRefusal ChooseUpdateRefusal(const CompatibilityVerdict& verdict);
int UpdateRefusalResult(UpdateRefusal refusal);

// What the restore information page does with a refusal; it always ends
// with 2.
enum class RestoreRefusal {
    kImageCorrupt,       // ModelMismatch
    kReasonLanguage,     // reason mode 0
    kReasonSameRom,      // reason mode 1
    kReasonOtherDevice,  // reason mode 2
    kSilent,
};
RestoreRefusal ChooseRestoreRefusal(const CompatibilityVerdict& verdict);

}  // namespace nuva
