#include "setup/frame/main_menu.h"

#include <memory>

#include "formats/message_ids.h"
#include "setup/device/page_results.h"
#include "setup/resources/dialog_ids.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"

namespace nuva {

using namespace page_result;

MainMenuDialog::MainMenuDialog(PageView& view, HandheldPort& port, ImageFiles& files)
    : view_(view), port_(port), files_(files), timer_(view) {}

void MainMenuDialog::Init() {
    buttonsEnabled_ = false;
    const std::string& about = LoadString(string_id::kAboutMenuItem);
    if (!about.empty()) {
        view_.AddSystemMenuItem(kAboutCommand, about);
    }
    view_.Post(WM_APP_STARTCHECK, 0, 0);
}

void MainMenuDialog::OnMessage(uint32_t message, uint32_t, uint32_t) {
    if (message == WM_APP_STARTCHECK) {
        StartCheck();
    }
}

void MainMenuDialog::StartCheck() {
    StartCheckResult checked = MainMenuStartCheck(port_, files_);
    ShowStartCheck(view_, checked);
    if (checked.endWith) {
        End(*checked.endWith);
        return;
    }
    EnableButtons(true);
    timer_.Start(kDialogWatchTimerMs);
}

void MainMenuDialog::OnTimer(uint32_t id) {
    if (id != timer_.Id() || port_.IsConnected()) {
        return;
    }
    timer_.Stop();
    EnableButtons(false);
    ShowConnectionLost(view_, 0);
    End(kConnectionLost);
}

void MainMenuDialog::OnCommand(uint32_t control) {
    // A system command carries flags in its low four bits.
    if ((control & 0xFFF0) == kAboutCommand) {
        ShowAbout(view_);
        return;
    }
    switch (control) {
        case kUpdateButton:
        case kBackupRestoreButton:
            // Disabled until the checks have passed.
            if (buttonsEnabled_) {
                End(static_cast<int>(control));
            }
            break;
        case kExitButton:
            End(kCancel);
            break;
        default:
            break;
    }
}

void MainMenuDialog::Destroy() {
    timer_.Stop();
}

void MainMenuDialog::EnableButtons(bool enabled) {
    buttonsEnabled_ = enabled;
    view_.EnableControl(kUpdateButton, enabled);
    view_.EnableControl(kBackupRestoreButton, enabled);
}

void MainMenuDialog::End(int result) {
    timer_.Stop();
    view_.EndDialog(result);
}

void AboutDialog::OnCommand(uint32_t control) {
    if (control == kIdOk || control == kIdCancel) {
        view_.EndDialog(static_cast<int>(control));
    }
}

int ShowAbout(DialogHost& owner) {
    return owner.OpenDialog(dialog_id::kAbout,
                            [](PageView& view) { return std::make_unique<AboutDialog>(view); });
}

}  // namespace nuva
