#include "setup/frame/page_checks.h"

#include "setup/device/info_texts.h"

namespace nuva {

void ShowStartCheck(PageView& page, const StartCheckResult& checked) {
    switch (checked.show) {
        case ShowWhat::kNone:
            break;
        case ShowWhat::kConnectionLost:
            ShowConnectionLost(page, checked.mode);
            break;
        case ShowWhat::kCopyIncomplete:
            ShowMessage(page, MessageBoxKind::kCopyIncomplete);
            break;
        case ShowWhat::kWrongModel:
            ShowWrongModel(page);
            break;
        case ShowWhat::kImageMissing:
            ShowMessage(page, MessageBoxKind::kImageMissing);
            break;
        case ShowWhat::kImageCorrupt:
            ShowMessage(page, MessageBoxKind::kImageCorrupt);
            break;
        case ShowWhat::kOutOfMemory:
            ShowMessage(page, MessageBoxKind::kOutOfMemory);
            break;
        case ShowWhat::kReason:
            ShowReason(page, checked.mode, checked.reasons,
                       checked.reasons.downgrade ? DowngradeReasonLine(checked.deviceInfo, checked.header)
                                                 : std::string());
            break;
        case ShowWhat::kQuestionBeep:
            page.Beep(kBeepQuestion);
            break;
    }
}

}  // namespace nuva
