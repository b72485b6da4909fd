#include "tools/flash/flash_pages.h"

#include <filesystem>
#include <system_error>

#include "platform/clock/clock.h"
#include "setup/device/image_catalogue.h"
#include "setup/device/info_texts.h"
#include "setup/frame/dialog_kit.h"
#include "setup/frame/link_monitor.h"
#include "setup/frame/settings.h"
#include "setup/link/device_access.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"
#include "setup/runs/backup_run.h"
#include "tools/flash/progress_pages.h"
#include "tools/flash/terminal_dialogs.h"

namespace nuva {
namespace {

using namespace page_result;

// A commit button whose query the handheld did not answer is pressed again
// after this pause, this many times in all.
constexpr int kCommitPresses = 3;
constexpr uint32_t kCommitRetryMs = 500;

std::string Padded(const std::string& text, size_t width) {
    return text.size() >= width ? text + "  " : text + std::string(width - text.size(), ' ');
}

void PrintBox(Terminal& terminal, MessageBoxKind kind) {
    MessageBoxTexts box = MessageBoxFor(kind);
    PrintMessageBox(terminal, box.caption, box.text);
}

}  // namespace

uint32_t HandheldOsMajor(uint32_t fallback) {
    CEOSVERSIONINFO version{};
    version.dwOSVersionInfoSize = sizeof(version);
    return LockedCeGetVersionEx(&version) != FALSE ? version.dwMajorVersion : fallback;
}

void PrintColumns(Terminal& terminal, const std::string& rightHeading, const DeviceInfo* device,
                  const ImageHeader* image) {
    InfoColumn left;
    InfoColumn right;
    if (device != nullptr) {
        left = DeviceColumnTexts(*device, HandheldOsMajor(device->OsMajorVersion));
    }
    if (image != nullptr) {
        right = ImageColumnTexts(*image);
    }
    constexpr size_t kLabel = 16;
    constexpr size_t kColumn = 30;
    terminal.Line(Padded("", kLabel) + Padded("Current System Information", kColumn) + rightHeading);
    const std::pair<const char*, std::pair<std::string, std::string>> rows[] = {
        {"Model :", {left.model, right.model}},
        {"ROM version :", {left.romVersion, right.romVersion}},
        {"OS Version:", {left.osVersion, right.osVersion}},
        {"Language :", {left.language, right.language}},
    };
    for (const auto& [label, values] : rows) {
        terminal.Line(Padded(label, kLabel) + Padded(values.first, kColumn) + values.second);
    }
}

void ReportStartCheck(Terminal& terminal, const StartCheckResult& result) {
    switch (result.show) {
        case ShowWhat::kNone:
            break;
        case ShowWhat::kConnectionLost:
            PrintConnectionLost(terminal, result.mode);
            break;
        case ShowWhat::kCopyIncomplete:
            PrintBox(terminal, MessageBoxKind::kCopyIncomplete);
            break;
        case ShowWhat::kWrongModel:
            PrintWrongModel(terminal);
            break;
        case ShowWhat::kImageMissing:
            PrintBox(terminal, MessageBoxKind::kImageMissing);
            break;
        case ShowWhat::kImageCorrupt:
            PrintBox(terminal, MessageBoxKind::kImageCorrupt);
            break;
        case ShowWhat::kOutOfMemory:
            PrintBox(terminal, MessageBoxKind::kOutOfMemory);
            break;
        case ShowWhat::kReason:
            PrintReason(
                terminal, result.mode, result.reasons,
                result.reasons.downgrade ? DowngradeReasonLine(result.deviceInfo, result.header) : "");
            break;
        case ShowWhat::kQuestionBeep:
            terminal.Line("(beep: the handheld did not answer)");
            break;
    }
}

int ExitCodeForStartCheck(const StartCheckResult& result) {
    if (result.endWith == kConnectionLost) {
        return flash_exit::kConnectionLost;
    }
    return result.show == ShowWhat::kReason ? flash_exit::kRefused : flash_exit::kCheckFailed;
}

TerminalWizardPages::TerminalWizardPages(ConsoleLoop& loop, Terminal& terminal, Answers& answers,
                                         const FlashOptions& options, RunDevice& runDevice,
                                         StartCheckDevice& checkDevice)
    : loop_(loop),
      terminal_(terminal),
      answers_(answers),
      options_(options),
      runDevice_(runDevice),
      checkDevice_(checkDevice) {}

void TerminalWizardPages::Record(int exitCode) {
    if (!failure_) {
        failure_ = exitCode;
    }
}

void TerminalWizardPages::Decline() {
    declined_ = true;
    Record(flash_exit::kRefused);
}

void TerminalWizardPages::Cancelled() {
    terminal_.Line("Cancelled.");
    Decline();
}

int TerminalWizardPages::ShowBackupNoticePage() {
    if (declined_) {
        return kNoticeBack;
    }
    terminal_.Line("== " + LoadString(string_id::kUpdateTitle) + " ==");
    terminal_.Line("NOTICE : Back up your data before proceeding");
    terminal_.Line("with the upgrade. All existing data will be lost.");
    terminal_.Line("Before you begin :");
    terminal_.Line("*Use ActiveSync to back up your Pocket PC data.");
    terminal_.Line(
        "*If you have data stored in your built-in storage, copy the contents to a folder in My "
        "Device\\My Documents. ");
    terminal_.Line(
        "*Connect the AC adapter. Disable any power management modes and close all programs on the "
        "host computer.");
    StartCheckResult check = BackupNoticeStartCheck(checkDevice_);
    if (check.endWith) {
        ReportStartCheck(terminal_, check);
        Record(ExitCodeForStartCheck(check));
        return *check.endWith;
    }
    return kNoticeNext;
}

int TerminalWizardPages::ShowUpdateInfoPage(UpdateInfoPageFields& page) {
    if (declined_) {
        return kCancel;
    }
    page.deviceDataValid = 0;
    page.imageDataValid = 0;
    StartCheckResult check = UpdateInfoStartCheck(checkDevice_, g_force);
    if (check.deviceValid) {
        page.deviceInfo = check.deviceInfo;
        page.deviceDataValid = 1;
    }
    if (check.imageValid) {
        page.header = check.header;
        page.imagePath = check.imagePath;
        page.imageDataValid = 1;
    }
    if (check.deviceValid || check.imageValid) {
        PrintColumns(terminal_, "Update Information", check.deviceValid ? &check.deviceInfo : nullptr,
                     check.imageValid ? &check.header : nullptr);
    }
    if (check.endWith) {
        ReportStartCheck(terminal_, check);
        Record(ExitCodeForStartCheck(check));
        if (check.show == ShowWhat::kReason) {
            declined_ = true;
        }
        return *check.endWith;
    }
    // The ROM backup option: ticked only when the command line names a
    // file for it, and never again once a backup has been made.
    page.backupOption = !options_.backupFile.empty() && page.backupDone != 1 ? 1 : 0;
    terminal_.Line(std::string(page.backupOption == 1 ? "[x]" : "[ ]") +
                   " Save the current ROM to a specified location.");
    DeviceInfo fresh;
    int result = PressCommitButton(kUpdateInfoNext, kCancel, &fresh);
    if (result == kUpdateInfoNext) {
        page.deviceInfo = fresh;
    }
    return result;
}

int TerminalWizardPages::PressCommitButton(int proceedResult, int cancelResult, DeviceInfo* info) {
    for (int press = 0; press < kCommitPresses; ++press) {
        if (press > 0) {
            ScaledSleepMs(kCommitRetryMs);
        }
        StartCheckResult check = BatteryCheck(checkDevice_, proceedResult);
        if (check.endWith) {
            if (check.deviceValid) {
                *info = check.deviceInfo;
            }
            return *check.endWith;
        }
        ReportStartCheck(terminal_, check);
        if (check.show == ShowWhat::kReason) {
            Decline();
            return cancelResult;
        }
    }
    terminal_.Line("The handheld does not answer.");
    Record(flash_exit::kCheckFailed);
    declined_ = true;
    return cancelResult;
}

int TerminalWizardPages::ChooseBackupFile(const std::string& file, int lostMode, std::string& path) {
    RunDialogDevice device(runDevice_);
    int save =
        AskYesNo(loop_, terminal_, answers_, "Save the current ROM to " + file + "?", &device, lostMode);
    if (save == 4) {
        return 4;
    }
    if (save != 1) {
        Cancelled();
        return kCancel;
    }
    std::error_code error;
    std::filesystem::path chosen = std::filesystem::absolute(file, error);
    if (error || chosen.filename().empty()) {
        terminal_.Line(file + ": not a file name");
        Record(flash_exit::kUsage);
        declined_ = true;
        return kCancel;
    }
    if (std::filesystem::is_directory(chosen, error)) {
        terminal_.Line(file + ": is a folder, not a file");
        Record(flash_exit::kUsage);
        declined_ = true;
        return kCancel;
    }
    if (std::filesystem::exists(chosen, error)) {
        int replace = AskYesNo(loop_, terminal_, answers_, chosen.string() + " already exists. Replace it?",
                               &device, lostMode);
        if (replace == 4) {
            return 4;
        }
        if (replace != 1) {
            Cancelled();
            return kCancel;
        }
    }
    if (!EnoughSpaceForBackupAt(chosen.string())) {
        ReasonFlags reasons;
        reasons.diskSpace = true;
        PrintReason(terminal_, 1, reasons);
        Decline();
        return kCancel;
    }
    path = chosen.string();
    return kOk;
}

int TerminalWizardPages::ShowBackupRequired(const DeviceInfo&, std::string& path) {
    if (declined_) {
        return kCancel;
    }
    terminal_.Line("== " + LoadString(string_id::kBackupTitleBeforeUpdate) + " ==");
    terminal_.Line(
        "Before you can begin the update process, you must back up your current ROM. Saving your ROM "
        "image enables you to restore the current ROM on your Pocket PC if you ever have any issues "
        "with the update.");
    if (!runDevice_.IsConnected()) {
        PrintConnectionLost(terminal_, 0);
        return kConnectionLost;
    }
    return ChooseBackupFile(options_.backupFile, 0, path);
}

uint32_t TerminalWizardPages::QueryDeviceInfo(DeviceInfo* out) {
    return runDevice_.QueryDeviceInfo(out);
}

int TerminalWizardPages::ShowBackupRestoreChoice(std::string& restorePath) {
    // Shown again after a plain backup: the command is done.
    if (choiceShown_ || declined_) {
        return kCancel;
    }
    choiceShown_ = true;
    if (!runDevice_.IsConnected()) {
        PrintConnectionLost(terminal_, 0);
        Record(flash_exit::kConnectionLost);
        return kConnectionLost;
    }
    if (options_.command == FlashCommand::kBackup) {
        return kChoiceSave;
    }
    // The Open dialog offers only files that exist.
    std::error_code error;
    if (!std::filesystem::is_regular_file(options_.file, error)) {
        terminal_.Line(options_.file + ": no such backup file");
        Record(flash_exit::kUsage);
        return kCancel;
    }
    restorePath = std::filesystem::absolute(options_.file, error).string();
    if (error) {
        restorePath = options_.file;
    }
    return kChoiceRestore;
}

int TerminalWizardPages::ShowBackupConfirm(std::string& path) {
    if (declined_) {
        return kCancel;
    }
    terminal_.Line("== " + LoadString(string_id::kBackupTitleBeforeUpdate) + " ==");
    terminal_.Line("The program is about to save your device's current System ROM to an image file.");
    DeviceInfo info;
    if (runDevice_.InstallAgent() != 0 || runDevice_.QueryDeviceInfo(&info) != 0) {
        // Save stays disabled; only Cancel leaves the page.
        terminal_.Line("The handheld could not be read through the agent library: Save stays disabled.");
        Record(flash_exit::kCheckFailed);
        declined_ = true;
        return kCancel;
    }
    InfoColumn values = BackupConfirmTexts(info);
    terminal_.Line("Current System Information:");
    terminal_.Line("  Model : " + values.model);
    terminal_.Line("  ROM version : " + values.romVersion);
    terminal_.Line("  OS Version: " + values.osVersion);
    terminal_.Line("  Language : " + values.language);
    terminal_.Line("Click [Save] to back up your current ROM image.");
    return ChooseBackupFile(options_.file, 2, path);
}

int TerminalWizardPages::ShowRestoreInfoPage(const std::string& path, DeviceInfo& info) {
    if (declined_) {
        return kRestoreInfoCancel;
    }
    StartCheckResult check = RestoreInfoStartCheck(checkDevice_, path);
    if (check.deviceValid || check.imageValid) {
        PrintColumns(terminal_, "Backup ROM information", check.deviceValid ? &check.deviceInfo : nullptr,
                     check.imageValid ? &check.header : nullptr);
    }
    if (check.endWith) {
        if (check.show == ShowWhat::kNone && check.endWith != kConnectionLost) {
            // The page ends without a word when the agent cannot be copied;
            // a command line owes its user the reason.
            terminal_.Line("The agent library could not be copied to the handheld.");
        }
        ReportStartCheck(terminal_, check);
        Record(ExitCodeForStartCheck(check));
        declined_ = true;
        return *check.endWith;
    }
    DeviceInfo fresh;
    int result = PressCommitButton(kRestoreInfoRestore, kRestoreInfoCancel, &fresh);
    if (result == kRestoreInfoRestore) {
        info = fresh;
    }
    return result;
}

uint64_t TerminalWizardPages::CheckImageFile(const std::string& path, ImageHeader& header) {
    return nuva::CheckImageFile(path, header);
}

int TerminalWizardPages::ShowOsChangeNotice() {
    if (declined_) {
        return kCancel;
    }
    RunDialogDevice device(runDevice_);
    int result = nuva::ShowOsChangeNotice(loop_, terminal_, answers_, device);
    if (result == kCancel) {
        Cancelled();
    }
    return result;
}

int TerminalWizardPages::ShowEraseCaution(int mode) {
    if (declined_) {
        return kCancel;
    }
    RunDialogDevice device(runDevice_);
    CautionEnd end = CautionEnd::kContinued;
    int result =
        nuva::ShowEraseCaution(loop_, terminal_, answers_, device,
                               mode == kWizardModeRestore ? EraseCautionController::Mode::kRestore
                                                          : EraseCautionController::Mode::kUpdateOrBackup,
                               end);
    if (end == CautionEnd::kRefused) {
        Decline();
    } else if (end == CautionEnd::kCancelled) {
        Cancelled();
    } else if (end == CautionEnd::kByItsTick) {
        // The handheld stopped answering. The caution leaves the news to the
        // page shown next; give the connection monitor its probe and retry
        // first, so that the page reports a lost link as such rather than
        // as a copy that failed.
        constexpr uint32_t kPollMs = 100;
        for (uint32_t waited = 0; runDevice_.IsConnected() && waited < kProbePeriodMs + 2 * kProbeRetryMs;
             waited += kPollMs) {
            ScaledSleepMs(kPollMs);
        }
    }
    return result;
}

int TerminalWizardPages::ShowBackupProgress(int origin, const std::string& path, const DeviceInfo* info) {
    bool handheldBack = true;
    int result = RunBackupProgressPage(
        loop_, terminal_, runDevice_,
        origin == kBackupOriginBeforeUpdate ? BackupOrigin::kBeforeUpdate : BackupOrigin::kPlainBackup, path,
        info != nullptr ? *info : DeviceInfo{}, RestartTimeout(options_), handheldBack);
    if (result == kOk) {
        backupSaved_ = true;
        backupRestartLost_ = backupRestartLost_ || !handheldBack;
    } else if (result == kConnectionLost) {
        Record(flash_exit::kConnectionLost);
    } else {
        Record(flash_exit::kRunFailed);
    }
    return result;
}

int TerminalWizardPages::ShowUpdateProgress(int mode, const std::string& path, const DeviceInfo& info) {
    int result =
        RunUpdateProgressPage(loop_, terminal_, runDevice_,
                              mode == kWizardModeRestore ? RunMode::kRestore : RunMode::kUpdate, path, info);
    if (result == kOk) {
        runCompleted_ = nuva::CheckImageFile(path, writtenHeader_) != 0;
        if (!runCompleted_) {
            PrintBox(terminal_, MessageBoxKind::kImageCorrupt);
            Record(flash_exit::kCheckFailed);
        }
    } else if (result == kConnectionLost) {
        Record(flash_exit::kConnectionLost);
    } else {
        Record(flash_exit::kRunFailed);
    }
    return result;
}

}  // namespace nuva
