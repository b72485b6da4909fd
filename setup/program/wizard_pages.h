// The pages of the program's dialogs as their controllers: the main menu,
// and every page the two wizards show, each opened over the program's host
// with its controller. One object serves one wizard call.
#pragma once

#include <optional>
#include <string>

#include "setup/device/image_files.h"
#include "setup/frame/page.h"
#include "setup/frame/wizards.h"
#include "setup/link/handheld_port.h"
#include "setup/program/program.h"
#include "setup/runs/worker_slot.h"

namespace nuva {

// MainMenuDialog: 1025, 1024, 2 or 4.
int ShowMainMenu(DialogHost& host, HandheldPort& port, ImageFiles& images);

class ControllerWizardPages final : public WizardPages {
  public:
    // `lastRun` receives every progress page's outcome.
    ControllerWizardPages(DialogHost& host, HandheldPort& port, ImageFiles& images, WorkerSlot& updateWorker,
                          WorkerSlot& backupWorker, std::optional<RunRecord>& lastRun);

    int ShowBackupNoticePage() override;
    int ShowUpdateInfoPage(UpdateInfoPageFields& page) override;
    int ShowBackupRequired(const DeviceInfo& info, std::string& path) override;
    uint32_t QueryDeviceInfo(DeviceInfo* out) override;
    int ShowBackupRestoreChoice(std::string& restorePath) override;
    int ShowBackupConfirm(std::string& path) override;
    int ShowRestoreInfoPage(const std::string& path, DeviceInfo& info) override;
    uint64_t CheckImageFile(const std::string& path, ImageHeader& header) override;
    int ShowOsChangeNotice() override;
    int ShowEraseCaution(int mode) override;
    int ShowBackupProgress(int origin, const std::string& path, const DeviceInfo* info) override;
    int ShowUpdateProgress(int mode, const std::string& path, const DeviceInfo& info) override;

  private:
    DialogHost& host_;
    HandheldPort& port_;
    ImageFiles& images_;
    WorkerSlot& updateWorker_;
    WorkerSlot& backupWorker_;
    std::optional<RunRecord>& lastRun_;
};

}  // namespace nuva
