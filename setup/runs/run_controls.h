// The controls of the progress pages (UpdateProgressPage, BackupProgressPage)
// and of BackupCompleteDialog, by the identifiers of their templates.
#pragma once

#include <cstdint>

namespace nuva {

// Controls of the progress pages.
namespace run_control {
inline constexpr uint32_t kFinalButton = 1000;
inline constexpr uint32_t kOverallBar = 1007;
inline constexpr uint32_t kFileBar = 1010;
inline constexpr uint32_t kStatusLine = 1011;
inline constexpr uint32_t kHeading = 1013;
inline constexpr uint32_t kExplanation = 1014;
inline constexpr uint32_t kOkButton = 1;  // BackupCompleteDialog's OK
}  // namespace run_control

}  // namespace nuva
