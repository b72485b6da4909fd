#include "setup/program/wizard_pages.h"

#include <memory>

#include "setup/frame/backup_file_dialogs.h"
#include "setup/frame/backup_notice.h"
#include "setup/frame/dialog_kit.h"
#include "setup/frame/info_pages.h"
#include "setup/frame/main_menu.h"
#include "setup/resources/dialog_ids.h"
#include "setup/runs/backup_run.h"
#include "setup/runs/update_run.h"

namespace nuva {

int ShowMainMenu(DialogHost& host, HandheldPort& port, ImageFiles& images) {
    return host.OpenDialog(dialog_id::kMainMenu, [&](PageView& view) {
        return std::make_unique<MainMenuDialog>(view, port, images);
    });
}

ControllerWizardPages::ControllerWizardPages(DialogHost& host, HandheldPort& port, ImageFiles& images,
                                             WorkerSlot& updateWorker, WorkerSlot& backupWorker,
                                             std::optional<RunRecord>& lastRun)
    : host_(host),
      port_(port),
      images_(images),
      updateWorker_(updateWorker),
      backupWorker_(backupWorker),
      lastRun_(lastRun) {}

int ControllerWizardPages::ShowBackupNoticePage() {
    return host_.OpenDialog(dialog_id::kBackupNotice, [&](PageView& view) {
        return std::make_unique<BackupNoticePage>(view, port_, images_);
    });
}

int ControllerWizardPages::ShowUpdateInfoPage(UpdateInfoPageFields& page) {
    return host_.OpenDialog(dialog_id::kUpdateInfo, [&](PageView& view) {
        return std::make_unique<UpdateInfoPage>(view, port_, images_, page);
    });
}

int ControllerWizardPages::ShowBackupRequired(const DeviceInfo& info, std::string& path) {
    return host_.OpenDialog(dialog_id::kBackupRequired, [&](PageView& view) {
        return std::make_unique<BackupRequiredDialog>(view, port_, info, path);
    });
}

uint32_t ControllerWizardPages::QueryDeviceInfo(DeviceInfo* out) {
    return port_.QueryDeviceInfo(out);
}

int ControllerWizardPages::ShowBackupRestoreChoice(std::string& restorePath) {
    return host_.OpenDialog(dialog_id::kBackupRestoreChoice, [&](PageView& view) {
        return std::make_unique<BackupRestoreChoiceDialog>(view, port_, restorePath);
    });
}

int ControllerWizardPages::ShowBackupConfirm(std::string& path) {
    return host_.OpenDialog(dialog_id::kBackupConfirm, [&](PageView& view) {
        return std::make_unique<BackupConfirmDialog>(view, port_, path);
    });
}

int ControllerWizardPages::ShowRestoreInfoPage(const std::string& path, DeviceInfo& info) {
    return host_.OpenDialog(dialog_id::kRestoreInfo, [&](PageView& view) {
        return std::make_unique<RestoreInfoPage>(view, port_, images_, path, info);
    });
}

uint64_t ControllerWizardPages::CheckImageFile(const std::string& path, ImageHeader& header) {
    return images_.CheckImageFile(path, header);
}

int ControllerWizardPages::ShowOsChangeNotice() {
    return nuva::ShowOsChangeNotice(host_, port_);
}

int ControllerWizardPages::ShowEraseCaution(int mode) {
    return nuva::ShowEraseCaution(host_, port_,
                                  mode == kWizardModeRestore ? EraseCautionController::Mode::kRestore
                                                             : EraseCautionController::Mode::kUpdateOrBackup);
}

int ControllerWizardPages::ShowBackupProgress(int origin, const std::string& path, const DeviceInfo* info) {
    int result = host_.OpenDialog(dialog_id::kBackupProgress, [&](PageView& view) {
        return std::make_unique<BackupRunController>(
            view, port_, backupWorker_,
            origin == kBackupOriginBeforeUpdate ? BackupOrigin::kBeforeUpdate : BackupOrigin::kPlainBackup,
            path, info != nullptr ? *info : DeviceInfo{});
    });
    lastRun_ = RunRecord{RunRecord::Kind::kBackup, path, result};
    return result;
}

int ControllerWizardPages::ShowUpdateProgress(int mode, const std::string& path, const DeviceInfo& info) {
    bool restore = mode == kWizardModeRestore;
    int result = host_.OpenDialog(dialog_id::kUpdateProgress, [&](PageView& view) {
        return std::make_unique<UpdateRunController>(
            view, port_, updateWorker_, restore ? RunMode::kRestore : RunMode::kUpdate, path, info);
    });
    lastRun_ = RunRecord{restore ? RunRecord::Kind::kRestore : RunRecord::Kind::kUpdate, path, result};
    return result;
}

}  // namespace nuva
