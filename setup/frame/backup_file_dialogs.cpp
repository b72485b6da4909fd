#include "setup/frame/backup_file_dialogs.h"

#include <optional>
#include <utility>

#include "setup/device/info_texts.h"
#include "setup/device/page_results.h"
#include "setup/frame/dialog_kit.h"
#include "setup/resources/settings.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"

namespace nuva {
namespace {

using namespace page_result;

constexpr const char* kBackupSuffix = "RIS";

// Where the file dialogs start: the user's documents folder when the desktop
// has one.
std::string DocumentsFolder() {
    std::string folder;
    return GetDocumentsFolder(folder) == 1 ? folder : std::string();
}

}  // namespace

FileQuestion BackupSaveQuestion(const DeviceInfo& info, std::string documentsFolder) {
    FileQuestion question;
    question.save = true;
    question.title = LoadString(string_id::kSaveRomTitle);
    question.filter = LoadString(string_id::kRisFileFilter);
    question.defaultSuffix = kBackupSuffix;
    question.proposedName = BackupFileName(info);
    question.initialFolder = std::move(documentsFolder);
    question.overwritePrompt = true;
    return question;
}

FileQuestion BackupOpenQuestion(std::string documentsFolder) {
    FileQuestion question;
    question.save = false;
    question.title = LoadString(string_id::kRestoreOpenTitle);
    question.filter = LoadString(string_id::kRisFileFilter);
    question.defaultSuffix = kBackupSuffix;
    question.initialFolder = std::move(documentsFolder);
    // Asked for although the dialog opens a file; an Open dialog never
    // replaces anything, so it changes nothing.
    question.overwritePrompt = true;
    return question;
}

int ChooseBackupFile(PageView& page, const DeviceInfo& info, std::string& path,
                     const BackupSpaceTest& enoughSpace) {
    std::optional<std::string> chosen = page.AskFileName(BackupSaveQuestion(info, DocumentsFolder()));
    if (!chosen) {
        return kCancel;
    }
    path = std::move(*chosen);
    if (!enoughSpace(path)) {
        ReasonFlags reasons;
        reasons.diskSpace = true;
        ShowReason(page, 1, reasons);
        return kCancel;
    }
    return kOk;
}

BackupRequiredDialog::BackupRequiredDialog(PageView& view, HandheldPort& port, const DeviceInfo& info,
                                           std::string& path, BackupSpaceTest enoughSpace)
    : view_(view),
      port_(port),
      info_(info),
      path_(path),
      enoughSpace_(std::move(enoughSpace)),
      timer_(view) {}

void BackupRequiredDialog::Init() {
    path_.clear();
    timer_.Start(kDialogWatchTimerMs);
}

void BackupRequiredDialog::OnTimer(uint32_t id) {
    if (id != timer_.Id() || port_.IsConnected()) {
        return;
    }
    timer_.Stop();
    view_.EnableControl(kSaveButton, false);
    ShowConnectionLost(view_, 0);
    End(kConnectionLost);
}

void BackupRequiredDialog::OnCommand(uint32_t control) {
    switch (control) {
        case kSaveButton:
            timer_.Stop();
            End(ChooseBackupFile(view_, info_, path_, enoughSpace_));
            break;
        case kCancelButton:
        case kIdCancel:
            End(kCancel);
            break;
        default:
            break;
    }
}

void BackupRequiredDialog::Destroy() {
    timer_.Stop();
}

void BackupRequiredDialog::End(int result) {
    timer_.Stop();
    view_.EndDialog(result);
}

BackupConfirmDialog::BackupConfirmDialog(PageView& view, HandheldPort& port, std::string& path,
                                         BackupSpaceTest enoughSpace)
    : view_(view), port_(port), path_(path), enoughSpace_(std::move(enoughSpace)), timer_(view) {}

void BackupConfirmDialog::Init() {
    saveEnabled_ = false;
    view_.EnableControl(kSaveButton, false);
    for (uint32_t control = kFirstRedText; control <= kLastRedText; ++control) {
        view_.SetTextColour(control, kRed);
    }
    // Without the agent or an answer there is nothing to back up: the page
    // stays empty, unwatched, and only Cancel leaves it.
    if (port_.InstallAgent() != 0 || port_.QueryDeviceInfo(&info_) != kResultOk) {
        return;
    }
    InfoColumn texts = BackupConfirmTexts(info_);
    view_.SetText(kModelValue, texts.model);
    view_.SetText(kRomVersionValue, texts.romVersion);
    view_.SetText(kOsVersionValue, texts.osVersion);
    view_.SetText(kLanguageValue, texts.language);
    for (uint32_t control : {kModelValue, kRomVersionValue, kOsVersionValue, kLanguageValue}) {
        view_.ShowControl(control, true);
    }
    saveEnabled_ = true;
    view_.EnableControl(kSaveButton, true);
    timer_.Start(kDialogWatchTimerMs);
}

void BackupConfirmDialog::OnTimer(uint32_t id) {
    if (id != timer_.Id() || port_.IsConnected()) {
        return;
    }
    timer_.Stop();
    saveEnabled_ = false;
    view_.EnableControl(kSaveButton, false);
    ShowConnectionLost(view_, 2);
    End(kConnectionLost);
}

void BackupConfirmDialog::OnCommand(uint32_t control) {
    switch (control) {
        case kSaveButton:
            if (saveEnabled_) {
                timer_.Stop();
                End(ChooseBackupFile(view_, info_, path_, enoughSpace_));
            }
            break;
        case kCancelButton:
        case kIdCancel:
            End(kCancel);
            break;
        default:
            break;
    }
}

void BackupConfirmDialog::Destroy() {
    timer_.Stop();
}

void BackupConfirmDialog::End(int result) {
    timer_.Stop();
    view_.EndDialog(result);
}

BackupRestoreChoiceDialog::BackupRestoreChoiceDialog(PageView& view, HandheldPort& port,
                                                     std::string& restorePath)
    : view_(view), port_(port), restorePath_(restorePath), timer_(view) {}

void BackupRestoreChoiceDialog::Init() {
    timer_.Start(kDialogWatchTimerMs);
}

void BackupRestoreChoiceDialog::OnTimer(uint32_t id) {
    if (id != timer_.Id() || port_.IsConnected()) {
        return;
    }
    timer_.Stop();
    view_.EnableControl(kSaveButton, false);
    view_.EnableControl(kRestoreButton, false);
    ShowConnectionLost(view_, 0);
    End(kConnectionLost);
}

void BackupRestoreChoiceDialog::OnCommand(uint32_t control) {
    switch (control) {
        case kSaveButton:
            End(kChoiceSave);
            break;
        case kRestoreButton:
            OnRestore();
            break;
        case kCancelButton:
        case kIdCancel:
            End(kCancel);
            break;
        default:
            break;
    }
}

void BackupRestoreChoiceDialog::OnRestore() {
    timer_.Stop();
    std::optional<std::string> chosen = view_.AskFileName(BackupOpenQuestion(DocumentsFolder()));
    if (!chosen) {
        // The user may choose again, or save instead; the link is watched
        // again meanwhile.
        timer_.Start(kDialogWatchTimerMs);
        return;
    }
    restorePath_ = std::move(*chosen);
    End(kChoiceRestore);
}

void BackupRestoreChoiceDialog::Destroy() {
    timer_.Stop();
}

void BackupRestoreChoiceDialog::End(int result) {
    timer_.Stop();
    view_.EndDialog(result);
}

}  // namespace nuva
