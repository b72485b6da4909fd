// The shared dialogs of Setup without their widgets: the erase caution that
// waits for AC power, the Pocket PC generation notice, the reason dialog, the
// connection-lost dialog, the wrong-model dialog, the completion notice, and
// the message boxes. Each dialog is a controller over a PageView (page.h);
// the Show functions open one over its owner and return its result, so that
// every page opens them the same way whatever front end shows them.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "formats/device_info.h"
#include "setup/device/reasons.h"
#include "setup/frame/page.h"
#include "setup/link/handheld_port.h"

namespace nuva {

// The timer a watching dialog runs, and its period.
inline constexpr uint32_t kDialogWatchTimer = 100;
inline constexpr uint32_t kDialogWatchTimerMs = 500;

// MessageBeep's question sound, the answer to a power query that failed.
inline constexpr uint32_t kBeepQuestion = 0x20;

// ReasonDialog's heading: string 159, 160 or 161 for reason mode 0, 1 or 2,
// string 137 for any other mode.
uint32_t ReasonHeadingId(int reasonMode);
// The reason list: the line of every flag that is set, in the fixed order
// AC power, battery, language, same ROM, downgrade, other device, disk
// space. The downgrade line is formatted from the handheld and the image
// (DowngradeReasonLine of setup/device) and passed in by the caller.
std::string ReasonListText(const ReasonFlags& flags, std::string_view downgradeLine = {});

// ReasonDialog (template 136): the heading by reason mode and the reasons
// set. Its one button, OK, has the Cancel identifier: it ends with 2.
class ReasonController final : public PageController {
  public:
    static constexpr uint32_t kHeading = 1069;
    static constexpr uint32_t kReasonList = 1023;

    ReasonController(PageView& view, int reasonMode, const ReasonFlags& reasons, std::string downgradeLine);
    void Init() override;
    void OnCommand(uint32_t control) override;

    int ReasonMode() const { return reasonMode_; }
    const ReasonFlags& Reasons() const { return reasons_; }

  private:
    PageView& view_;
    int reasonMode_;
    ReasonFlags reasons_;
    std::string downgradeLine_;
};

// ConnectionLostDialog (template 144): the heading by mode (string 137, 138
// or 139; any other mode 137), the fixed reason of its template, and the
// hint framed in red; OK ends it with 1.
class ConnectionLostController final : public PageController {
  public:
    static constexpr uint32_t kHeading = 1046;
    static constexpr uint32_t kReason = 1021;
    static constexpr uint32_t kHint = 1048;

    ConnectionLostController(PageView& view, int mode) : view_(view), mode_(mode) {}
    void Init() override;
    void OnCommand(uint32_t control) override;

  private:
    PageView& view_;
    int mode_;
};

// WrongModelDialog (template 148): only OK (1) closes it; Esc and the close
// box do nothing.
class WrongModelController final : public PageController {
  public:
    explicit WrongModelController(PageView& view) : view_(view) {}
    void Init() override {}
    void OnCommand(uint32_t control) override;
    void OnEscape() override {}
    void OnClose() override {}

  private:
    PageView& view_;
};

// CompletionNoticeDialog (template 150): its caption, text and which of its
// two pictures shows.
struct CompletionNotice {
    uint32_t captionId = 0;      // string 127 (update) or 129 (restore)
    uint32_t textId = 0;         // string 112 (update) or 113 (restore)
    int picture = 4;             // 3: the target is Pocket PC 2002; 4 otherwise
    uint32_t shownPicture = 0;   // control 1073 (bitmap 152) for picture 3, else 1071 (bitmap 151)
    uint32_t hiddenPicture = 0;  // the other one
};
// `mode`: 1 = update, 0 = restore.
CompletionNotice CompletionNoticeFor(int mode, bool toPocketPc2002);

// "Exit" (identifier 2, also Esc and the close box) ends it with 2.
class CompletionNoticeController final : public PageController {
  public:
    static constexpr uint32_t kText = 1072;

    CompletionNoticeController(PageView& view, int mode, bool toPocketPc2002)
        : view_(view), notice_(CompletionNoticeFor(mode, toPocketPc2002)) {}
    void Init() override;
    void OnCommand(uint32_t control) override;

  private:
    PageView& view_;
    CompletionNotice notice_;
};

// EraseCautionDialog (template 134): asks before anything erases the
// handheld and lets the user go on only with the AC adapter connected. Its
// timer enables Continue exactly while the handheld reports AC power;
// Continue asks the handheld again, so an adapter pulled since the last tick
// is still caught.
class EraseCautionController final : public PageController {
  public:
    static constexpr uint32_t kContinueButton = 1;
    static constexpr uint32_t kCancelButton = 2;

    enum class Mode : int { kRestore = 0, kUpdateOrBackup = 1 };

    // How the last Continue ended, for a front end that stands for the user.
    enum class ContinueOutcome { kNone, kQueryFailed, kNoAcPower, kLowBattery, kAccepted };

    EraseCautionController(PageView& view, HandheldPort& device, Mode mode);

    // Opening: Continue disabled, timer 100 every 500 ms.
    void Init() override;
    void OnTimer(uint32_t id) override;
    void OnCommand(uint32_t control) override;
    // Destruction: the timer stops if it runs.
    void Destroy() override;

    // The reason mode of the reason dialogs it opens: 0 in update (or backup)
    // mode, 2 in restore mode.
    int ReasonMode() const { return mode_ == Mode::kUpdateOrBackup ? 0 : 2; }
    bool TimerRunning() const { return timerRunning_; }
    bool Closing() const { return closing_; }
    bool ContinueEnabled() const { return continueEnabled_; }
    ContinueOutcome LastContinue() const { return lastContinue_; }

  private:
    void OnContinue();
    void OnCancel();
    void StartTimer();
    void StopTimer();
    void SetContinue(bool enabled);

    PageView& view_;
    HandheldPort& device_;
    Mode mode_;
    bool timerRunning_ = false;
    bool closing_ = false;
    bool continueEnabled_ = false;
    ContinueOutcome lastContinue_ = ContinueOutcome::kNone;
};

// OsChangeNoticeDialog (template 139): warns that moving between Pocket PC
// 2002 and 2003 erases the built-in storage, in red. Continue ends it with
// 1, Cancel (also Esc and the close box) with 2; a lost connection ends it
// with 4 without a message (the page shown next tells the user).
class OsChangeNoticeController final : public PageController {
  public:
    static constexpr uint32_t kContinueButton = 1036;
    static constexpr uint32_t kCancelButton = 1035;
    static constexpr uint32_t kNoticeText = 1033;

    OsChangeNoticeController(PageView& view, HandheldPort& device) : view_(view), device_(device) {}
    void Init() override;
    void OnTimer(uint32_t id) override;
    void OnCommand(uint32_t control) override;
    void Destroy() override;

  private:
    void StopTimer();

    PageView& view_;
    HandheldPort& device_;
    bool timerRunning_ = false;
};

// The notice's text (strings 172 and 179).
std::string OsChangeNoticeText();

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

// Opening the shared dialogs over their owner; each returns the dialog's
// result.
int ShowReason(DialogHost& owner, int reasonMode, const ReasonFlags& reasons, std::string downgradeLine = {});
int ShowConnectionLost(DialogHost& owner, int mode);
int ShowWrongModel(DialogHost& owner);
int ShowCompletionNotice(DialogHost& owner, int mode, bool toPocketPc2002);
// EraseCautionDialog (1 or 2) and OsChangeNoticeDialog (1, 2 or 4).
int ShowEraseCaution(DialogHost& owner, HandheldPort& device, EraseCautionController::Mode mode);
int ShowOsChangeNotice(DialogHost& owner, HandheldPort& device);
// A message box of the kit: owned by `page`, or without owner for the two
// "Error" boxes.
void ShowMessage(PageView& page, MessageBoxKind kind);
// The same from the program itself, where no page is open.
void ShowMessage(DialogHost& desktop, MessageBoxKind kind);

}  // namespace nuva
