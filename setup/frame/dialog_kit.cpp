#include "setup/frame/dialog_kit.h"

#include <memory>
#include <utility>

#include "setup/resources/dialog_ids.h"
#include "setup/resources/dialog_templates.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"

namespace nuva {

uint32_t ReasonHeadingId(int reasonMode) {
    switch (reasonMode) {
        case 0:
            return string_id::kReasonHeading0;
        case 1:
            return string_id::kReasonHeading1;
        case 2:
            return string_id::kReasonHeading2;
        default:
            return string_id::kConnectionLostHeading0;
    }
}

std::string ReasonListText(const ReasonFlags& flags, std::string_view downgradeLine) {
    namespace s = string_id;
    std::string text;
    if (flags.noAcPower)
        text += LoadString(s::kReasonNoAcPower);
    if (flags.lowBattery)
        text += LoadString(s::kReasonLowBattery);
    if (flags.language)
        text += LoadString(s::kReasonLanguage);
    if (flags.sameRom)
        text += LoadString(s::kReasonSameRom);
    if (flags.downgrade)
        text += downgradeLine;
    if (flags.otherDevice)
        text += LoadString(s::kReasonOtherDevice);
    if (flags.diskSpace)
        text += LoadString(s::kReasonDiskSpace);
    return text;
}

ReasonController::ReasonController(PageView& view, int reasonMode, const ReasonFlags& reasons,
                                   std::string downgradeLine)
    : view_(view), reasonMode_(reasonMode), reasons_(reasons), downgradeLine_(std::move(downgradeLine)) {}

void ReasonController::Init() {
    view_.SetText(kHeading, LoadString(ReasonHeadingId(reasonMode_)));
    view_.SetText(kReasonList, ReasonListText(reasons_, downgradeLine_));
}

void ReasonController::OnCommand(uint32_t control) {
    if (control == kIdCancel) {
        view_.EndDialog(2);
    }
}

void ConnectionLostController::Init() {
    namespace s = string_id;
    uint32_t heading = mode_ == 1   ? s::kConnectionLostHeading1
                       : mode_ == 2 ? s::kConnectionLostHeading2
                                    : s::kConnectionLostHeading0;
    view_.SetText(kHeading, LoadString(heading));
    view_.DrawFrame(kHint, kRed, 1);
}

void ConnectionLostController::OnCommand(uint32_t control) {
    if (control == kIdOk) {
        view_.EndDialog(1);
    }
}

void WrongModelController::OnCommand(uint32_t control) {
    if (control == kIdOk) {
        view_.EndDialog(1);
    }
}

void CompletionNoticeController::Init() {
    view_.SetTitle(LoadString(notice_.captionId));
    view_.SetText(kText, LoadString(notice_.textId));
    view_.ShowControl(notice_.shownPicture, true);
    view_.ShowControl(notice_.hiddenPicture, false);
}

void CompletionNoticeController::OnCommand(uint32_t control) {
    if (control == kIdCancel) {
        view_.EndDialog(2);
    }
}

EraseCautionController::EraseCautionController(PageView& view, HandheldPort& device, Mode mode)
    : view_(view), device_(device), mode_(mode) {}

void EraseCautionController::StartTimer() {
    view_.ArmTimer(kDialogWatchTimer, kDialogWatchTimerMs);
    timerRunning_ = true;
}

void EraseCautionController::StopTimer() {
    if (timerRunning_) {
        view_.KillTimer(kDialogWatchTimer);
        timerRunning_ = false;
    }
}

void EraseCautionController::SetContinue(bool enabled) {
    continueEnabled_ = enabled;
    view_.EnableControl(kContinueButton, enabled);
}

void EraseCautionController::Init() {
    closing_ = false;
    lastContinue_ = ContinueOutcome::kNone;
    SetContinue(false);
    StartTimer();
}

void EraseCautionController::OnTimer(uint32_t id) {
    if (id != kDialogWatchTimer) {
        return;
    }
    StopTimer();
    if (!device_.IsConnected()) {
        view_.EndDialog(2);
        return;
    }
    // After a Continue the last tick only watches the connection: the
    // dialog is on its way out or waits for another press.
    if (closing_) {
        return;
    }
    DeviceInfo info;
    if (device_.QueryDeviceInfo(&info) != 0) {
        view_.EndDialog(2);
        return;
    }
    SetContinue(info.AcOnline != 0);
    StartTimer();
}

void EraseCautionController::OnContinue() {
    closing_ = true;
    StopTimer();
    DeviceInfo info;
    if (device_.QueryDeviceInfo(&info) != 0) {
        lastContinue_ = ContinueOutcome::kQueryFailed;
        view_.Beep(kBeepQuestion);
        StartTimer();
        return;
    }
    // The adapter may have been pulled since the tick that enabled Continue.
    if (info.AcOnline == 0) {
        lastContinue_ = ContinueOutcome::kNoAcPower;
        ReasonFlags reasons;
        reasons.noAcPower = true;
        ShowReason(view_, ReasonMode(), reasons);
        StartTimer();
        return;
    }
    if (!BatteryEnough(info.BatteryPercent)) {
        lastContinue_ = ContinueOutcome::kLowBattery;
        ReasonFlags reasons;
        reasons.lowBattery = true;
        ShowReason(view_, ReasonMode(), reasons);
        view_.EndDialog(2);
        return;
    }
    lastContinue_ = ContinueOutcome::kAccepted;
    view_.EndDialog(1);
}

void EraseCautionController::OnCommand(uint32_t control) {
    if (control == kContinueButton) {
        OnContinue();
    } else if (control == kCancelButton) {
        OnCancel();
    }
}

void EraseCautionController::OnCancel() {
    closing_ = true;
    StopTimer();
    view_.EndDialog(2);
}

void EraseCautionController::Destroy() {
    closing_ = false;
    StopTimer();
}

void OsChangeNoticeController::StopTimer() {
    if (timerRunning_) {
        view_.KillTimer(kDialogWatchTimer);
        timerRunning_ = false;
    }
}

void OsChangeNoticeController::Init() {
    view_.SetText(kNoticeText, OsChangeNoticeText());
    view_.SetTextColour(kNoticeText, kRed);
    view_.ArmTimer(kDialogWatchTimer, kDialogWatchTimerMs);
    timerRunning_ = true;
}

void OsChangeNoticeController::OnTimer(uint32_t id) {
    if (id == kDialogWatchTimer && !device_.IsConnected()) {
        StopTimer();
        view_.EndDialog(4);
    }
}

void OsChangeNoticeController::OnCommand(uint32_t control) {
    // Esc and the close box arrive as the Cancel identifier.
    if (control == kContinueButton) {
        StopTimer();
        view_.EndDialog(1);
    } else if (control == kCancelButton || control == kIdCancel) {
        StopTimer();
        view_.EndDialog(2);
    }
}

void OsChangeNoticeController::Destroy() {
    StopTimer();
}

std::string OsChangeNoticeText() {
    return LoadString(string_id::kOsChangeNotice1) + LoadString(string_id::kOsChangeNotice2);
}

CompletionNotice CompletionNoticeFor(int mode, bool toPocketPc2002) {
    namespace s = string_id;
    constexpr uint32_t kPicture2002 = 1073;   // bitmap 152
    constexpr uint32_t kPictureOther = 1071;  // bitmap 151
    CompletionNotice notice;
    notice.captionId = mode == 1 ? s::kUpdateCompleteCaption : s::kRestoreCompleteCaption;
    notice.textId = mode == 1 ? s::kFormatNoticeUpdate : s::kFormatNoticeRestore;
    notice.picture = toPocketPc2002 ? 3 : 4;
    notice.shownPicture = notice.picture == 3 ? kPicture2002 : kPictureOther;
    notice.hiddenPicture = notice.picture == 3 ? kPictureOther : kPicture2002;
    return notice;
}

MessageBoxTexts MessageBoxFor(MessageBoxKind kind) {
    namespace s = string_id;
    auto fromTable = [](uint32_t id) {
        return MessageBoxTexts{LoadString(id), LoadString(s::kCaution), true};
    };
    switch (kind) {
        case MessageBoxKind::kConnectHint:
            return fromTable(s::kConnectHint);
        case MessageBoxKind::kImageMissing:
            return fromTable(s::kImageMissing);
        case MessageBoxKind::kImageCorrupt:
            return fromTable(s::kImageCorrupt);
        case MessageBoxKind::kCopyIncomplete:
            return fromTable(s::kCopyIncomplete);
        case MessageBoxKind::kReflashCorrupt:
            return fromTable(s::kReflashCorrupt);
        case MessageBoxKind::kOutOfMemory:
            return MessageBoxTexts{DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kOutOfMemory),
                                   DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kErrorCaption),
                                   false};
        case MessageBoxKind::kThreadFailed:
            return MessageBoxTexts{DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kThreadFailed),
                                   DialogText(dialog_id::kLooseTexts, dialog_id::loose_text::kErrorCaption),
                                   false};
    }
    return {};
}

int ShowReason(DialogHost& owner, int reasonMode, const ReasonFlags& reasons, std::string downgradeLine) {
    return owner.OpenDialog(dialog_id::kReason, [&](PageView& view) {
        return std::make_unique<ReasonController>(view, reasonMode, reasons, downgradeLine);
    });
}

int ShowConnectionLost(DialogHost& owner, int mode) {
    return owner.OpenDialog(dialog_id::kConnectionLost, [&](PageView& view) {
        return std::make_unique<ConnectionLostController>(view, mode);
    });
}

int ShowWrongModel(DialogHost& owner) {
    return owner.OpenDialog(dialog_id::kWrongModel,
                            [](PageView& view) { return std::make_unique<WrongModelController>(view); });
}

int ShowCompletionNotice(DialogHost& owner, int mode, bool toPocketPc2002) {
    return owner.OpenDialog(dialog_id::kCompletionNotice, [&](PageView& view) {
        return std::make_unique<CompletionNoticeController>(view, mode, toPocketPc2002);
    });
}

int ShowEraseCaution(DialogHost& owner, HandheldPort& device, EraseCautionController::Mode mode) {
    return owner.OpenDialog(dialog_id::kEraseCaution, [&](PageView& view) {
        return std::make_unique<EraseCautionController>(view, device, mode);
    });
}

int ShowOsChangeNotice(DialogHost& owner, HandheldPort& device) {
    return owner.OpenDialog(dialog_id::kOsChangeNotice, [&](PageView& view) {
        return std::make_unique<OsChangeNoticeController>(view, device);
    });
}

void ShowMessage(PageView& page, MessageBoxKind kind) {
    MessageBoxTexts box = MessageBoxFor(kind);
    if (box.owned) {
        page.MessageBox(box.text, box.caption);
    } else {
        page.UnownedMessageBox(box.text, box.caption);
    }
}

void ShowMessage(DialogHost& desktop, MessageBoxKind kind) {
    MessageBoxTexts box = MessageBoxFor(kind);
    desktop.MessageBox(box.text, box.caption);
}

}  // namespace nuva
