#include "setup/windows/page_windows.h"

#include <QtGlobal>
#include <algorithm>

#include "setup/resources/dialog_ids.h"
#include "setup/windows/template_dialog.h"

namespace nuva {

namespace {

namespace id = dialog_id;

constexpr PageWindow kPageWindows[] = {
    {id::kAbout, "AboutWindow"},
    {id::kMainMenu, "MainMenuWindow"},
    {id::kUpdateProgress, "UpdateProgressWindow"},
    {id::kUpdateInfo, "UpdateInfoWindow"},
    {id::kEraseCaution, "EraseCautionWindow"},
    {id::kReason, "ReasonWindow"},
    {id::kBackupNotice, "BackupNoticeWindow"},
    {id::kOsChangeNotice, "OsChangeNoticeWindow"},
    {id::kBackupRequired, "BackupRequiredWindow"},
    {id::kBackupRestoreChoice, "BackupRestoreChoiceWindow"},
    {id::kBackupConfirm, "BackupConfirmWindow"},
    {id::kBackupComplete, "BackupCompleteWindow"},
    {id::kConnectionLost, "ConnectionLostWindow"},
    {id::kBackupProgress, "BackupProgressWindow"},
    {id::kRestoreInfo, "RestoreInfoWindow"},
    {id::kWrongModel, "WrongModelWindow"},
    {id::kCompletionNotice, "CompletionNoticeWindow"},
};

}  // namespace

std::span<const PageWindow> PageWindows() {
    return kPageWindows;
}

std::unique_ptr<TemplateDialog> MakePageWindow(uint32_t templateId, QWidget* owner) {
    std::span<const PageWindow> windows = PageWindows();
    auto found = std::find_if(windows.begin(), windows.end(), [templateId](const PageWindow& window) {
        return window.templateId == templateId;
    });
    if (found == windows.end()) {
        qFatal("No window for dialog template %u", templateId);
    }
    auto window = std::make_unique<TemplateDialog>(templateId, owner);
    window->setObjectName(QLatin1String(found->name));
    return window;
}

}  // namespace nuva
