// Identifiers of Setup's dialog templates. Each template's caption, size,
// controls and texts are in the resources beside this file; a language module
// gives its own texts for the same template and control identifiers.
#pragma once

#include <cstdint>

namespace nuva::dialog_id {

inline constexpr uint32_t kAbout = 100;
inline constexpr uint32_t kMainMenu = 102;
inline constexpr uint32_t kUpdateProgress = 129;
inline constexpr uint32_t kUpdateInfo = 130;
inline constexpr uint32_t kEraseCaution = 134;
inline constexpr uint32_t kReason = 136;
inline constexpr uint32_t kBackupNotice = 137;
inline constexpr uint32_t kOsChangeNotice = 139;
inline constexpr uint32_t kBackupRequired = 140;
inline constexpr uint32_t kBackupRestoreChoice = 141;
inline constexpr uint32_t kBackupConfirm = 142;
inline constexpr uint32_t kBackupComplete = 143;
inline constexpr uint32_t kConnectionLost = 144;
inline constexpr uint32_t kBackupProgress = 145;
inline constexpr uint32_t kRestoreInfo = 146;
inline constexpr uint32_t kWrongModel = 148;
inline constexpr uint32_t kCompletionNotice = 150;

// Texts the program shows outside any template and outside the string table
// (the two "Error" boxes and the start-up's box when the initialisation
// thread cannot be made) are kept as the controls of this pseudo-template,
// so that a language module can replace them like any other text.
inline constexpr uint32_t kLooseTexts = 0;
namespace loose_text {
inline constexpr uint32_t kOutOfMemory = 1;     // "Memory Allocate Faile"
inline constexpr uint32_t kThreadFailed = 2;    // "Thread Create Failed.."
inline constexpr uint32_t kErrorCaption = 3;    // "Error"
inline constexpr uint32_t kRapiInitFailed = 4;  // "CeRapiInit() ... Filed "
}  // namespace loose_text

// The pictures of the templates.
inline constexpr uint32_t kIconSetup = 128;
inline constexpr uint32_t kBitmapMainMenu = 131;
inline constexpr uint32_t kBitmapNotice2003 = 151;
inline constexpr uint32_t kBitmapNotice2002 = 152;

}  // namespace nuva::dialog_id
