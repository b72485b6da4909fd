// The two wizards of the main menu: chains of modal pages in which the
// integer a page ends with chooses the next page.
//
// RunUpdateWizard leads from the backup notice through the update
// information, an optional ROM backup and the erase caution to the update
// run; RunBackupRestoreWizard leads from the backup/restore choice to a plain
// backup (and back to the choice) or to a restore. Both walk fixed state
// tables and know nothing of how a page looks: every page is shown through
// WizardPages, which the program implements with the pages' controllers
// (setup/program) and which tests script.
#pragma once

#include <cstdint>
#include <string>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "setup/device/page_results.h"

namespace nuva {

// EraseCautionDialog's and UpdateProgressPage's mode.
inline constexpr int kWizardModeRestore = 0;
inline constexpr int kWizardModeUpdate = 1;  // update, or a backup (the caution's reasons read alike)
// BackupProgressPage's origin.
inline constexpr int kBackupOriginPlain = 0;
inline constexpr int kBackupOriginBeforeUpdate = 1;

// What the update wizard and UpdateInfoPage share. The page object lives for
// one RunUpdateWizard call, so these fields keep what earlier showings left
// in them.
struct UpdateInfoPageFields {
    // Check box 1039 ("Save the current ROM to a specified location."): 1
    // when the page is made, shown when it opens, read back on every click.
    int backupOption = 1;
    // Told before every showing: 1 once a ROM backup has been made in this
    // wizard call. The page enables the check box only while it is not 1.
    int backupDone = 0;
    // Cleared when the page opens, set by its start checks once the
    // handheld's record (left column) and the image's header (right column)
    // have been read. The wizard takes only what they vouch for.
    int deviceDataValid = 0;
    int imageDataValid = 0;
    DeviceInfo deviceInfo;
    ImageHeader header;
    std::string imagePath;
};

// Shows the wizards' pages. One object serves one wizard call: a page shown
// again is the same page object shown again. Every Show returns the integer
// the page ended with.
class WizardPages {
  public:
    virtual ~WizardPages() = default;

    // The update wizard.
    virtual int ShowBackupNoticePage() = 0;
    virtual int ShowUpdateInfoPage(UpdateInfoPageFields& page) = 0;
    // BackupRequiredDialog: on 1, `path` holds the backup file chosen.
    virtual int ShowBackupRequired(const DeviceInfo& info, std::string& path) = 0;
    // The handheld's record, through the agent: 0 or a failure code.
    virtual uint32_t QueryDeviceInfo(DeviceInfo* out) = 0;

    // The backup/restore wizard.
    // BackupRestoreChoiceDialog: on 1038, `restorePath` holds the backup file
    // chosen in the Open dialog.
    virtual int ShowBackupRestoreChoice(std::string& restorePath) = 0;
    // BackupConfirmDialog: on 1, `path` holds the backup file chosen.
    virtual int ShowBackupConfirm(std::string& path) = 0;
    // RestoreInfoPage for the backup file `path`; `info` is the page's
    // record of the handheld, which the wizard takes when the page ends with
    // 1066.
    virtual int ShowRestoreInfoPage(const std::string& path, DeviceInfo& info) = 0;
    // The header of a backup or image file (setup/device's check): the
    // file's length when the header is acceptable, else 0.
    virtual uint64_t CheckImageFile(const std::string& path, ImageHeader& header) = 0;

    // Shared.
    virtual int ShowOsChangeNotice() = 0;
    // `mode`: kWizardModeUpdate or kWizardModeRestore.
    virtual int ShowEraseCaution(int mode) = 0;
    // `origin`: kBackupOriginBeforeUpdate with the handheld's record, or
    // kBackupOriginPlain without one (`info` null).
    virtual int ShowBackupProgress(int origin, const std::string& path, const DeviceInfo* info) = 0;
    // `mode`: kWizardModeUpdate (an update image) or kWizardModeRestore (a
    // backup file).
    virtual int ShowUpdateProgress(int mode, const std::string& path, const DeviceInfo& info) = 0;
};

// 1: show the main menu again; 4: the connection was lost, test it before
// the menu; 0: end the program (an update ran, or a check failed).
int RunUpdateWizard(WizardPages& pages);

// 0: end the program (a restore ran, or a page failed); anything else: test
// the connection, then show the main menu again.
int RunBackupRestoreWizard(WizardPages& pages);

}  // namespace nuva
