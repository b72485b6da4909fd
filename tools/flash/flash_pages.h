// The wizards' pages on the terminal: the start checks of setup/device, the
// dialogs of setup/frame and the runs of setup/runs, with every text the
// pages would show written to the terminal and every button the user would
// press pressed by the command line (the file it names) and the user's
// answers.
//
// The pages are one command's worth of a wizard: a page shown again after
// the user declined or a reason refused the operation ends at once the way
// its Cancel would, so the wizard leads back out instead of waiting for
// another choice. What happened is recorded for the program's exit code.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "setup/device/start_checks.h"
#include "setup/frame/wizards.h"
#include "setup/runs/run_device.h"
#include "tools/flash/answers.h"
#include "tools/flash/console_loop.h"
#include "tools/flash/options.h"
#include "tools/flash/terminal.h"

namespace nuva {

// The handheld's OS major version from the version call, as the
// information pages' left column asks it; `fallback` when the call fails.
uint32_t HandheldOsMajor(uint32_t fallback);

// The two columns of the information pages, side by side.
void PrintColumns(Terminal& terminal, const std::string& rightHeading, const DeviceInfo* device,
                  const ImageHeader* image);

// What a start check shows, as the terminal shows it.
void ReportStartCheck(Terminal& terminal, const StartCheckResult& result);

// The exit code a start check that ended its page stands for.
int ExitCodeForStartCheck(const StartCheckResult& result);

// The adapter that lets the dialog kit ask the handheld through a RunDevice.
class RunDialogDevice : public DialogDevice {
  public:
    explicit RunDialogDevice(RunDevice& device) : device_(device) {}
    bool IsConnected() const override { return device_.IsConnected(); }
    uint32_t QueryDeviceInfo(DeviceInfo* out) override { return device_.QueryDeviceInfo(out); }

  private:
    RunDevice& device_;
};

class TerminalWizardPages : public WizardPages {
  public:
    TerminalWizardPages(ConsoleLoop& loop, Terminal& terminal, Answers& answers, const FlashOptions& options,
                        RunDevice& runDevice, StartCheckDevice& checkDevice);

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

    // The first decisive event's exit code (refused, check failed, link
    // lost, run failed), if any.
    std::optional<int> Failure() const { return failure_; }
    // The update or restore run completed: the handheld is restarting into
    // the flasher to write `WrittenHeader()`.
    bool RunCompleted() const { return runCompleted_; }
    const ImageHeader& WrittenHeader() const { return writtenHeader_; }
    // A plain backup was saved.
    bool BackupSaved() const { return backupSaved_; }
    // The handheld did not answer again after the restart that ends a backup.
    bool BackupRestartLost() const { return backupRestartLost_; }

  private:
    void Record(int exitCode);
    // The user declined, or a reason refused the operation.
    void Decline();
    // The user declined: said so, then Decline.
    void Cancelled();
    // The Save button and the Save As steps of the backup pages: the file
    // from the command line, a replace question, the free-space rule.
    // Returns 1 with `path`, 2, or 4.
    int ChooseBackupFile(const std::string& file, int lostMode, std::string& path);
    // A commit button of an information page: the battery test, with a few
    // more presses when the handheld did not answer. Returns the page's
    // result, with `info` the fresh record on success.
    int PressCommitButton(int proceedResult, int cancelResult, DeviceInfo* info);

    ConsoleLoop& loop_;
    Terminal& terminal_;
    Answers& answers_;
    FlashOptions options_;
    RunDevice& runDevice_;
    StartCheckDevice& checkDevice_;
    bool declined_ = false;
    bool choiceShown_ = false;
    std::optional<int> failure_;
    bool runCompleted_ = false;
    ImageHeader writtenHeader_;
    bool backupSaved_ = false;
    bool backupRestartLost_ = false;
};

}  // namespace nuva
