#include "setup/frame/info_pages.h"

#include <utility>

#include "formats/message_ids.h"
#include "setup/device/info_texts.h"
#include "setup/device/page_results.h"
#include "setup/frame/dialog_kit.h"
#include "setup/resources/settings.h"

namespace nuva {
namespace {

using namespace page_result;

// The labels and values of both columns are drawn red.
void ColourInfoTexts(PageView& view) {
    for (auto [first, last] : {std::pair{1016u, 1018u}, std::pair{1050u, 1054u}, std::pair{1056u, 1063u}}) {
        for (uint32_t control = first; control <= last; ++control) {
            view.SetTextColour(control, kRed);
        }
    }
}

void SetColumn(PageView& view, const InfoColumnControls& controls, const InfoColumn& texts) {
    view.SetText(controls.model, texts.model);
    view.SetText(controls.romVersion, texts.romVersion);
    view.SetText(controls.osVersion, texts.osVersion);
    view.SetText(controls.language, texts.language);
    for (uint32_t control : {controls.model, controls.romVersion, controls.osVersion, controls.language}) {
        view.EnableControl(control, true);
        view.ShowControl(control, true);
    }
}

// Fills the columns the checks vouch for.
void FillColumns(PageView& view, HandheldPort& port, const StartCheckResult& checked) {
    if (checked.deviceValid) {
        // The handheld's own version call, not the agent's copy; a failed
        // call reads as major version 0, as the zeroed record it fills does.
        uint32_t osMajor = 0;
        if (!port.QueryOsMajorVersion(osMajor)) {
            osMajor = 0;
        }
        SetColumn(view, kDeviceColumn, DeviceColumnTexts(checked.deviceInfo, osMajor));
    }
    if (checked.imageValid) {
        SetColumn(view, kImageColumn, ImageColumnTexts(checked.header));
    }
}

}  // namespace

UpdateInfoPage::UpdateInfoPage(PageView& view, HandheldPort& port, ImageFiles& files,
                               UpdateInfoPageFields& fields)
    : view_(view), port_(port), files_(files), fields_(fields), timer_(view) {}

void UpdateInfoPage::Init() {
    fields_.deviceDataValid = 0;
    fields_.imageDataValid = 0;
    nextEnabled_ = false;
    ColourInfoTexts(view_);
    view_.SetChecked(kBackupOption, fields_.backupOption == 1);
    // One backup per wizard call: once made it is not offered again.
    view_.EnableControl(kBackupOption, fields_.backupDone != 1);
    fields_.backupOption = view_.IsChecked(kBackupOption) ? 1 : 0;
    view_.Post(WM_APP_STARTCHECK, 0, 0);
}

void UpdateInfoPage::OnMessage(uint32_t message, uint32_t, uint32_t) {
    if (message == WM_APP_STARTCHECK) {
        StartCheck();
    }
}

void UpdateInfoPage::StartCheck() {
    StartCheckResult checked = UpdateInfoStartCheck(port_, files_, g_force);
    if (checked.show == ShowWhat::kConnectionLost) {
        LoseConnection();
        return;
    }
    if (checked.deviceValid) {
        fields_.deviceInfo = checked.deviceInfo;
        fields_.deviceDataValid = 1;
    }
    if (checked.imageValid) {
        fields_.header = checked.header;
        fields_.imagePath = checked.imagePath;
        fields_.imageDataValid = 1;
        // Both columns are filled once the image has been read, refused or
        // not, so the user sees what the refusal is about.
        FillColumns(view_, port_, checked);
    }
    if (checked.endWith) {
        ShowStartCheck(view_, checked);
        End(*checked.endWith);
        return;
    }
    nextEnabled_ = true;
    view_.EnableControl(kNextButton, true);
    timer_.Start(kDialogWatchTimerMs);
}

void UpdateInfoPage::OnTimer(uint32_t id) {
    if (id == timer_.Id() && !port_.IsConnected()) {
        LoseConnection();
    }
}

void UpdateInfoPage::LoseConnection() {
    timer_.Stop();
    fields_.deviceDataValid = 0;
    fields_.imageDataValid = 0;
    nextEnabled_ = false;
    view_.EnableControl(kNextButton, false);
    ShowConnectionLost(view_, 0);
    End(kConnectionLost);
}

void UpdateInfoPage::OnCommand(uint32_t control) {
    switch (control) {
        case kNextButton:
            OnNext();
            break;
        case kBackButton:
            End(kUpdateInfoBack);
            break;
        case kIdCancel:
            End(kCancel);
            break;
        case kBackupOption:
            fields_.backupOption = view_.IsChecked(kBackupOption) ? 1 : 0;
            break;
        default:
            break;
    }
}

void UpdateInfoPage::OnNext() {
    if (!nextEnabled_) {
        return;
    }
    timer_.Stop();
    StartCheckResult battery = BatteryCheck(port_, kUpdateInfoNext);
    ShowStartCheck(view_, battery);
    if (battery.endWith) {
        End(*battery.endWith);
        return;
    }
    timer_.Start(kDialogWatchTimerMs);
}

void UpdateInfoPage::Destroy() {
    timer_.Stop();
}

void UpdateInfoPage::End(int result) {
    timer_.Stop();
    view_.EndDialog(result);
}

RestoreInfoPage::RestoreInfoPage(PageView& view, HandheldPort& port, ImageFiles& files,
                                 std::string backupPath, DeviceInfo& info)
    : view_(view),
      port_(port),
      files_(files),
      backupPath_(std::move(backupPath)),
      info_(info),
      timer_(view) {}

void RestoreInfoPage::Init() {
    checked_ = {};
    restoreEnabled_ = false;
    ColourInfoTexts(view_);
    view_.Post(WM_APP_STARTCHECK, 0, 0);
}

void RestoreInfoPage::OnMessage(uint32_t message, uint32_t, uint32_t) {
    if (message == WM_APP_STARTCHECK) {
        StartCheck();
    } else if (message == kContentsSummedMessage) {
        OnSummed();
    }
}

void RestoreInfoPage::StartCheck() {
    checked_ = RestoreInfoStartCheck(port_, files_, backupPath_);
    if (checked_.deviceValid) {
        info_ = checked_.deviceInfo;
    }
    // The backup's header has passed: both columns are shown while its
    // contents are added up.
    if (checked_.imageValid) {
        FillColumns(view_, port_, checked_);
    }
    if (!checked_.pendingSum) {
        Conclude();
        return;
    }
    if (!sum_.Start(view_, files_, *checked_.pendingSum)) {
        ShowMessage(view_, MessageBoxKind::kThreadFailed);
        End(kCancel);
        return;
    }
    timer_.Start(kDialogWatchTimerMs);
}

void RestoreInfoPage::OnSummed() {
    std::optional<SumOutcome> outcome = sum_.Take();
    if (!outcome) {
        return;
    }
    checked_ = FinishRestoreInfoCheck(std::move(checked_), *outcome);
    Conclude();
}

void RestoreInfoPage::Conclude() {
    if (checked_.endWith) {
        timer_.Stop();
        ShowStartCheck(view_, checked_);
        End(*checked_.endWith);
        return;
    }
    if (!timer_.Running()) {
        timer_.Start(kDialogWatchTimerMs);
    }
    restoreEnabled_ = true;
    view_.EnableControl(kRestoreButton, true);
}

void RestoreInfoPage::OnTimer(uint32_t id) {
    if (id != timer_.Id() || port_.IsConnected()) {
        return;
    }
    sum_.Cancel();
    timer_.Stop();
    restoreEnabled_ = false;
    view_.EnableControl(kRestoreButton, false);
    ShowConnectionLost(view_, 0);
    End(kConnectionLost);
}

void RestoreInfoPage::OnCommand(uint32_t control) {
    switch (control) {
        case kRestoreButton:
            OnRestore();
            break;
        case kCancelButton:
            End(kRestoreInfoCancel);
            break;
        case kIdCancel:
            End(kCancel);
            break;
        default:
            break;
    }
}

void RestoreInfoPage::OnRestore() {
    if (!restoreEnabled_) {
        return;
    }
    timer_.Stop();
    StartCheckResult battery = BatteryCheck(port_, kRestoreInfoRestore);
    if (battery.deviceValid) {
        info_ = battery.deviceInfo;
    }
    ShowStartCheck(view_, battery);
    if (battery.endWith) {
        End(*battery.endWith);
        return;
    }
    timer_.Start(kDialogWatchTimerMs);
}

void RestoreInfoPage::Destroy() {
    sum_.Cancel();
    timer_.Stop();
}

void RestoreInfoPage::End(int result) {
    sum_.Cancel();
    timer_.Stop();
    view_.EndDialog(result);
}

}  // namespace nuva
