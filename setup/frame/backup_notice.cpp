#include "setup/frame/backup_notice.h"

#include <cstdio>
#include <string>

#include "formats/message_ids.h"
#include "setup/device/page_results.h"
#include "setup/frame/dialog_kit.h"
#include "setup/resources/settings.h"

namespace nuva {

using namespace page_result;

BackupNoticePage::BackupNoticePage(PageView& view, HandheldPort& port, ImageFiles& files)
    : view_(view), port_(port), files_(files), startTimer_(view, kStartTimer), watchTimer_(view) {}

void BackupNoticePage::Init() {
    checked_ = {};
    nextEnabled_ = false;
    view_.SetUnderlined(kHelpLink);
    view_.SetTextColour(kNoticeHeading, kRed);
    view_.SetTextColour(kHelpLink, kBlue);
    view_.DrawFrame(kNoticeFrame, kRed, 0);
    startTimer_.Start(kStartTimerMs);
}

void BackupNoticePage::OnTimer(uint32_t id) {
    if (id == startTimer_.Id()) {
        startTimer_.Stop();
        view_.Post(WM_APP_STARTCHECK, 0, 0);
        return;
    }
    if (id != watchTimer_.Id() || port_.IsConnected()) {
        return;
    }
    sum_.Cancel();
    watchTimer_.Stop();
    nextEnabled_ = false;
    view_.EnableControl(kNextButton, false);
    ShowConnectionLost(view_, 0);
    End(kConnectionLost);
}

void BackupNoticePage::OnMessage(uint32_t message, uint32_t, uint32_t) {
    if (message == WM_APP_STARTCHECK) {
        StartCheck();
    } else if (message == kContentsSummedMessage) {
        OnSummed();
    }
}

void BackupNoticePage::StartCheck() {
    checked_ = BackupNoticeStartCheck(port_, files_);
    if (!checked_.pendingSum) {
        Conclude();
        return;
    }
    if (!sum_.Start(view_, files_, *checked_.pendingSum)) {
        ShowMessage(view_, MessageBoxKind::kThreadFailed);
        End(kCheckFailed);
        return;
    }
    // The sum takes a while; the link is watched meanwhile.
    watchTimer_.Start(kWatchTimerMs);
}

void BackupNoticePage::OnSummed() {
    std::optional<SumOutcome> outcome = sum_.Take();
    if (!outcome) {
        return;
    }
    checked_ = FinishBackupNoticeCheck(std::move(checked_), *outcome);
    Conclude();
}

void BackupNoticePage::Conclude() {
    if (checked_.endWith) {
        watchTimer_.Stop();
        ShowStartCheck(view_, checked_);
        End(*checked_.endWith);
        return;
    }
    if (!watchTimer_.Running()) {
        watchTimer_.Start(kWatchTimerMs);
    }
    nextEnabled_ = true;
    view_.EnableControl(kNextButton, true);
}

void BackupNoticePage::OnCommand(uint32_t control) {
    switch (control) {
        case kBackButton:
            End(kNoticeBack);
            break;
        case kNextButton:
            if (nextEnabled_) {
                End(kNoticeNext);
            }
            break;
        case kIdCancel:
            End(kCancel);
            break;
        case kHelpLink:
            OpenHelp();
            break;
        default:
            break;
    }
}

void BackupNoticePage::OpenHelp() {
    // With neither Help key set the target is the default address, which is
    // as good a target as any: the result is not looked at.
    std::string target;
    FindHelpTarget(g_installDir, target, g_languageId);
    // A browser that cannot be started shows nothing.
    view_.OpenInBrowser(target);
}

void BackupNoticePage::OnPointerOver(uint32_t control) {
    char line[32];
    std::snprintf(line, sizeof line, "0x%08x ,%d\r\n", control, static_cast<int>(control));
    view_.Trace(line);
}

void BackupNoticePage::Destroy() {
    sum_.Cancel();
    startTimer_.Stop();
    watchTimer_.Stop();
}

void BackupNoticePage::End(int result) {
    sum_.Cancel();
    startTimer_.Stop();
    watchTimer_.Stop();
    view_.EndDialog(result);
}

}  // namespace nuva
