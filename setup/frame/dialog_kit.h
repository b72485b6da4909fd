// The shared dialogs of Setup without their widgets: the erase caution that
// waits for AC power, the Pocket PC generation notice, the reason dialog's
// text, the completion notice's choice of texts and picture, and the message
// boxes. Each dialog is a controller driven by its owner (timer ticks and
// button presses) that acts through a small view, as the progress pages of
// setup/runs are; the Qt dialogs and the command-line front end both drive
// them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/device_info.h"

namespace nuva {

// Dialogs end with the results of every page: 1 OK or Continue, 2 Cancel,
// 4 the connection was lost.

// The timer a watching dialog runs, and its period.
inline constexpr uint32_t kDialogWatchTimer = 100;
inline constexpr uint32_t kDialogWatchTimerMs = 500;

// MessageBeep's question sound, the answer to a power query that failed.
inline constexpr uint32_t kBeepQuestion = 0x20;

// The reasons a ReasonDialog lists; any number may be set.
struct ReasonFlags {
    bool noAcPower = false;
    bool lowBattery = false;
    bool language = false;
    bool sameRom = false;
    bool downgrade = false;
    bool otherDevice = false;
    bool diskSpace = false;
};

// ReasonDialog's heading: string 159, 160 or 161 for reason mode 0, 1 or 2,
// string 137 for any other mode.
uint32_t ReasonHeadingId(int reasonMode);
// The reason list: the line of every flag that is set, in the fixed order
// AC power, battery, language, same ROM, downgrade, other device, disk
// space. The downgrade line is formatted from the handheld and the image
// (DowngradeReasonLine of setup/device) and passed in by the caller.
std::string ReasonListText(const ReasonFlags& flags, std::string_view downgradeLine = {});

// What a dialog does outside itself.
class DialogView {
  public:
    virtual ~DialogView() = default;
    virtual void ArmTimer(uint32_t id, uint32_t periodMs) = 0;
    virtual void KillTimer(uint32_t id) = 0;
    virtual void EnableControl(uint32_t control, bool enabled) = 0;
    virtual void Beep(uint32_t type) = 0;
    // ReasonDialog, modal, with the given reason mode and the reasons set.
    virtual void ShowReason(int reasonMode, const ReasonFlags& reasons) = 0;
    // Ends the dialog (its modal loop returns `result`).
    virtual void EndDialog(int result) = 0;
};

// The handheld as the dialogs ask it: the connection flag and the agent's
// information call.
class DialogDevice {
  public:
    virtual ~DialogDevice() = default;
    virtual bool IsConnected() const = 0;
    // 0 on success, else the call's failure code.
    virtual uint32_t QueryDeviceInfo(DeviceInfo* out) = 0;
};

// The battery rule: at least 40 %, compared unsigned, so a handheld that
// reports no level (0xFFFFFFFF) passes.
inline constexpr uint32_t kMinimumBatteryPercent = 40;
inline bool BatteryEnough(uint32_t batteryPercent) {
    return batteryPercent >= kMinimumBatteryPercent;
}

// EraseCautionDialog: asks before anything erases the handheld and lets the
// user go on only with the AC adapter connected. Its timer enables Continue
// exactly while the handheld reports AC power; Continue asks the handheld
// again, so an adapter pulled since the last tick is still caught.
class EraseCautionController {
  public:
    static constexpr uint32_t kContinueButton = 1;
    static constexpr uint32_t kCancelButton = 2;

    enum class Mode : int { kRestore = 0, kUpdateOrBackup = 1 };

    // How the last Continue ended, for the owner that shows the dialog.
    enum class ContinueOutcome { kNone, kQueryFailed, kNoAcPower, kLowBattery, kAccepted };

    EraseCautionController(DialogView& view, DialogDevice& device, Mode mode);

    // Opening: Continue disabled, timer 100 every 500 ms.
    void Init();
    void OnTimer(uint32_t id);
    void OnContinue();
    void OnCancel();
    // Destruction: the timer stops if it runs.
    void Destroy();

    // The reason mode of the reason dialogs it opens: 0 in update (or backup)
    // mode, 2 in restore mode.
    int ReasonMode() const { return mode_ == Mode::kUpdateOrBackup ? 0 : 2; }
    bool TimerRunning() const { return timerRunning_; }
    bool Closing() const { return closing_; }
    bool ContinueEnabled() const { return continueEnabled_; }
    ContinueOutcome LastContinue() const { return lastContinue_; }

  private:
    void StartTimer();
    void StopTimer();
    void SetContinue(bool enabled);

    DialogView& view_;
    DialogDevice& device_;
    Mode mode_;
    bool timerRunning_ = false;
    bool closing_ = false;
    bool continueEnabled_ = false;
    ContinueOutcome lastContinue_ = ContinueOutcome::kNone;
};

// OsChangeNoticeDialog: warns that moving between Pocket PC 2002 and 2003
// erases the built-in storage. Continue ends it with 1, Cancel (also Esc and
// the close box) with 2; a lost connection ends it with 4 without a message
// (the page shown next tells the user).
class OsChangeNoticeController {
  public:
    static constexpr uint32_t kContinueButton = 1036;
    static constexpr uint32_t kCancelButton = 1035;

    OsChangeNoticeController(DialogView& view, DialogDevice& device);
    void Init();
    void OnTimer(uint32_t id);
    void OnContinue();
    void OnCancel();
    void Destroy();

  private:
    void StopTimer();

    DialogView& view_;
    DialogDevice& device_;
    bool timerRunning_ = false;
};

// The notice's text (strings 172 and 179), drawn in red.
std::string OsChangeNoticeText();
inline constexpr std::string_view kOsChangeNoticeClickText = "Click [Continue] to begin the update process.";

// EraseCautionDialog's fixed texts.
inline constexpr std::string_view kEraseCautionText =
    "The reflash procedure clears all data in your Pocket PC.";
inline constexpr std::string_view kEraseCautionQuestion = "Do you want to continue?";
inline constexpr std::string_view kEraseCautionAcHint =
    "Ensure that the AC adapter is connected before proceeding.";

// WrongModelDialog's text.
inline constexpr std::string_view kWrongModelText =
    "This utiliyu only support the Brel NUVA Q7 device.  Program will be terminated.";

// CompletionNoticeDialog: its caption, text and which of its two pictures
// shows.
struct CompletionNotice {
    uint32_t captionId = 0;      // string 127 (update) or 129 (restore)
    uint32_t textId = 0;         // string 112 (update) or 113 (restore)
    int picture = 4;             // 3: the target is Pocket PC 2002; 4 otherwise
    uint32_t shownPicture = 0;   // control 1073 (bitmap 152) for picture 3, else 1071 (bitmap 151)
    uint32_t hiddenPicture = 0;  // the other one
};
// `mode`: 1 = update, 0 = restore.
CompletionNotice CompletionNoticeFor(int mode, bool toPocketPc2002);

// The message boxes of the dialog kit.
enum class MessageBoxKind {
    kConnectHint,     // string 128
    kImageMissing,    // string 134
    kImageCorrupt,    // string 135
    kCopyIncomplete,  // string 130
    kReflashCorrupt,  // string 133
    kOutOfMemory,     // "Memory Allocate Faile", captioned "Error"
    kThreadFailed,    // "Thread Create Failed..", captioned "Error"
};
struct MessageBoxTexts {
    std::string text;
    std::string caption;
    bool owned = true;  // owned by the calling page; the "Error" boxes have no owner
};
MessageBoxTexts MessageBoxFor(MessageBoxKind kind);

}  // namespace nuva
