// What a progress page shows, as the run controllers drive it. The Qt pages
// and the command-line front end both implement it; tests record it.
//
// Every call comes from the thread that owns the page (the user-interface
// thread). Timers are periodic, as window timers are, until killed; the
// owner of the view delivers their ticks to the controller's OnTimer.
// Posted messages (from the workers, through Sink()) reach the controller's
// OnMessage on the same thread, in the order posted.
#pragma once

#include <cstdint>
#include <string>

#include "setup/link/message_sink.h"

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

class RunView {
  public:
    virtual ~RunView() = default;

    virtual void ArmTimer(uint32_t id, uint32_t periodMs) = 0;
    virtual void KillTimer(uint32_t id) = 0;

    virtual void SetTitle(const std::string& text) = 0;
    virtual void SetText(uint32_t control, const std::string& text) = 0;
    virtual void ShowControl(uint32_t control, bool shown) = 0;
    virtual void EnableControl(uint32_t control, bool enabled) = 0;
    // Progress bars run from 0 to 100.
    virtual void SetBar(uint32_t control, uint32_t position) = 0;

    // Modal message box with one OK button; returns when it is dismissed.
    // `owned`: owned by the page (string-table boxes) or without owner (the
    // two "Error" boxes).
    virtual void MessageBox(const std::string& text, const std::string& caption, bool owned) = 0;
    virtual void ShowConnectionLost(int mode) = 0;
    virtual void ShowWrongModel() = 0;
    // CompletionNoticeDialog: `updateForm` 1 = update, 0 = restore.
    virtual void ShowCompletionNotice(int updateForm, bool toPocketPc2002) = 0;
    // BackupCompleteDialog, modal (it restarts the handheld and waits for
    // it, see BackupCompleteController); returns its result.
    virtual int ShowBackupComplete() = 0;
    virtual void HidePage() = 0;
    // Ends the page (the modal loop returns `result`).
    virtual void EndPage(int result) = 0;

    // Where the page's worker posts.
    virtual MessageSink& Sink() = 0;
};

}  // namespace nuva
