// The integers a page or dialog of Setup ends with. They cross from the
// pages to the wizards and the main loop, which choose the next page by them.
#pragma once

namespace nuva {

// The integers pages end with.
namespace page_result {
inline constexpr int kOk = 1;              // OK / Continue
inline constexpr int kCancel = 2;          // Cancel, Esc, the close box
inline constexpr int kCheckFailed = 3;     // a device or image check failed; the user was told
inline constexpr int kConnectionLost = 4;  // the link dropped; the user was told
inline constexpr int kUpdateInfoNext = 1003;
inline constexpr int kUpdateInfoBack = 1004;
inline constexpr int kMenuBackupRestore = 1024;
inline constexpr int kMenuUpdate = 1025;
inline constexpr int kNoticeBack = 1025;
inline constexpr int kNoticeNext = 1026;
inline constexpr int kChoiceSave = 1037;
inline constexpr int kChoiceRestore = 1038;
inline constexpr int kRestoreInfoCancel = 1065;
inline constexpr int kRestoreInfoRestore = 1066;
}  // namespace page_result

}  // namespace nuva
