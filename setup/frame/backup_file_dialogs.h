// The dialogs that choose a backup file: where a ROM backup is saved before
// an update (BackupRequiredDialog, template 140) or on its own
// (BackupConfirmDialog, 142), and which backup a restore reads
// (BackupRestoreChoiceDialog, 141). Each watches the link with timer 100
// (500 ms) and hands the chosen path back to the wizard through `path`.
//
// Saving goes through ChooseBackupFile: the Save As dialog with a proposed
// name, then the free-space rule, whose refusal is the disk-space reason.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "formats/device_info.h"
#include "setup/device/backup_space.h"
#include "setup/frame/page.h"
#include "setup/frame/page_checks.h"
#include "setup/link/handheld_port.h"

namespace nuva {

// Whether the file system of a chosen path has room for a backup.
using BackupSpaceTest = std::function<bool(const std::string& path)>;

// The Save As question for a backup of the handheld `info` describes, and
// the Open question for the backup a restore reads. `documentsFolder` is
// where the dialog starts ("" for the front end's choice).
FileQuestion BackupSaveQuestion(const DeviceInfo& info, std::string documentsFolder);
FileQuestion BackupOpenQuestion(std::string documentsFolder);

// The Save button of BackupRequiredDialog and BackupConfirmDialog, after the
// page has stopped its timer: asks for the file (into `path`) and checks its
// disk's free space. Returns the result the page ends with: 1, or 2 when the
// user cancelled or the disk is too full (after the disk-space reason,
// reason mode 1).
int ChooseBackupFile(PageView& page, const DeviceInfo& info, std::string& path,
                     const BackupSpaceTest& enoughSpace);

// BackupRequiredDialog: the wizard gives the handheld's record. "&Save" ends
// it with 1 and the chosen path, or 2; "&Cancel", Esc and the close box with
// 2; a lost link with 4.
class BackupRequiredDialog final : public PageController {
  public:
    static constexpr uint32_t kSaveButton = 1037;
    static constexpr uint32_t kCancelButton = 1035;

    BackupRequiredDialog(PageView& view, HandheldPort& port, const DeviceInfo& info, std::string& path,
                         BackupSpaceTest enoughSpace = EnoughSpaceForBackupAt);

    void Init() override;
    void OnTimer(uint32_t id) override;
    void OnCommand(uint32_t control) override;
    void Destroy() override;

  private:
    void End(int result);

    PageView& view_;
    HandheldPort& port_;
    const DeviceInfo& info_;
    std::string& path_;
    BackupSpaceTest enoughSpace_;
    WatchTimer timer_;
};

// BackupConfirmDialog: reads the handheld itself when it opens and shows its
// model, ROM, OS and language in red; "&Save" is offered only when that
// worked. Results as BackupRequiredDialog's.
class BackupConfirmDialog final : public PageController {
  public:
    static constexpr uint32_t kSaveButton = 1037;
    static constexpr uint32_t kCancelButton = 1035;
    static constexpr uint32_t kModelValue = 1041;
    static constexpr uint32_t kRomVersionValue = 1040;
    static constexpr uint32_t kOsVersionValue = 1047;
    static constexpr uint32_t kLanguageValue = 1042;
    // The four labels and the four values, 1040 to 1047, are drawn red.
    static constexpr uint32_t kFirstRedText = 1040;
    static constexpr uint32_t kLastRedText = 1047;

    BackupConfirmDialog(PageView& view, HandheldPort& port, std::string& path,
                        BackupSpaceTest enoughSpace = EnoughSpaceForBackupAt);

    void Init() override;
    void OnTimer(uint32_t id) override;
    void OnCommand(uint32_t control) override;
    void Destroy() override;

  private:
    void End(int result);

    PageView& view_;
    HandheldPort& port_;
    std::string& path_;
    BackupSpaceTest enoughSpace_;
    WatchTimer timer_;
    DeviceInfo info_;
    bool saveEnabled_ = false;
};

// BackupRestoreChoiceDialog: "Save ROM" ends it with 1037; "Restore ROM"
// asks for the backup to restore and ends with 1038 and its path in
// `restorePath`, or stays when the user cancels; "Cancel" and Esc end it
// with 2; a lost link with 4.
class BackupRestoreChoiceDialog final : public PageController {
  public:
    static constexpr uint32_t kSaveButton = 1037;
    static constexpr uint32_t kRestoreButton = 1038;
    static constexpr uint32_t kCancelButton = 1035;

    BackupRestoreChoiceDialog(PageView& view, HandheldPort& port, std::string& restorePath);

    void Init() override;
    void OnTimer(uint32_t id) override;
    void OnCommand(uint32_t control) override;
    void Destroy() override;

  private:
    void OnRestore();
    void End(int result);

    PageView& view_;
    HandheldPort& port_;
    std::string& restorePath_;
    WatchTimer timer_;
};

}  // namespace nuva
