// The checks a page runs on the handheld and the image when it opens, and the
// battery test of the information pages' commit buttons: which one message
// or reason the page shows and which result it ends with.
//
// The decisions are kept apart from the link and the disk: the handheld
// answers through HandheldPort, the installation's image files through
// ImageFiles, so that a scripted handheld or file can fail any step.
//
// Two checks add up a whole file (the update image on BackupNoticePage, the
// backup on RestoreInfoPage). That sum is the one slow step, so those checks
// come in two halves: the first stops with `pendingSum` set, the page has the
// contents summed beside it (SumContents), and the second half decides from
// what the sum gave.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "setup/device/compatibility.h"
#include "setup/device/image_files.h"
#include "setup/device/reasons.h"
#include "setup/link/handheld_port.h"

namespace nuva {

// What the page shows before it ends or stays.
enum class ShowWhat {
    kNone,
    kConnectionLost,  // ConnectionLostDialog, in `mode`
    kCopyIncomplete,  // string 130
    kWrongModel,      // WrongModelDialog
    kImageMissing,    // string 134
    kImageCorrupt,    // string 135
    kOutOfMemory,     // "Memory Allocate Faile"
    kReason,          // ReasonDialog with `reasons` in `mode`
    kQuestionBeep,    // the device did not answer a commit button's query
};

struct StartCheckResult {
    ShowWhat show = ShowWhat::kNone;
    // With kReason: the one reason set. The downgrade line is formatted
    // from deviceInfo and header (DowngradeReasonLine).
    ReasonFlags reasons;
    int mode = 0;  // ReasonMode with kReason; the dialog's mode with kConnectionLost
    // The result the page ends with; empty when the page stays open (the
    // checks passed, a sum is still to come, or a commit button was refused
    // and the user may try again).
    std::optional<int> endWith;
    // Set when the check waits for the contents of a file to be summed.
    std::optional<ContentsSum> pendingSum;

    // What the checks read: the handheld's record (the left column may be
    // shown) and the image's header and path (the right column may be
    // shown).
    bool deviceValid = false;
    DeviceInfo deviceInfo;
    bool imageValid = false;
    ImageHeader header;
    std::string imagePath;
    CompatibilityVerdict verdict;
};

// MainMenuDialog. A failed agent installation is left for the wizard's first
// page to report. Ends with 2 for an unsupported handheld or a missing image,
// 4 when the link is gone; stays (buttons enabled) otherwise.
StartCheckResult MainMenuStartCheck(HandheldPort& port, ImageFiles& files);

// BackupNoticePage: the agent, the model, the image for the class and its
// header (an update image, not a backup). Ends with 3 after a message, 4 when
// the link is gone. When the header counts the contents, their sum is still
// to come (pendingSum); imageValid is set once everything has passed.
StartCheckResult BackupNoticeStartCheck(HandheldPort& port, ImageFiles& files);
// The rest of BackupNoticePage's check once the pending sum is done: a sum
// that cannot be had or differs from the header's ends with 3.
StartCheckResult FinishBackupNoticeCheck(StartCheckResult checked, const SumOutcome& outcome);

// UpdateInfoPage: the agent, the model, the image and its header, then the
// compatibility test (a downgrade is refused unless `force` is 1). Ends with
// 3 (2 for the same ROM) after a message, 4 when the link is gone.
StartCheckResult UpdateInfoStartCheck(HandheldPort& port, ImageFiles& files, int32_t force);

// RestoreInfoPage for the backup file `backupPath`: the agent (a failure ends
// the page with 2 silently), the model, the file's header and its length.
// Every failure ends with 2. Once the header has passed (both columns may be
// shown) the sum of the contents is still to come (pendingSum).
StartCheckResult RestoreInfoStartCheck(HandheldPort& port, ImageFiles& files, const std::string& backupPath);
// The rest of RestoreInfoPage's check once the sum is done: the sum, then the
// restore rules (same handheld, no downgrade test). Every failure ends with 2.
StartCheckResult FinishRestoreInfoCheck(StartCheckResult checked, const SumOutcome& outcome);

// "&Next >" of UpdateInfoPage (`proceedResult` 1003) and "&Restore >" of
// RestoreInfoPage (1066): a fresh record; a failed query beeps, a charge
// below 40 % (BatteryEnough) shows the battery reason (mode 0), and in both
// cases the page stays; otherwise it ends with `proceedResult`. The fresh
// record is in deviceInfo whenever deviceValid is set.
StartCheckResult BatteryCheck(HandheldPort& port, int proceedResult);

}  // namespace nuva
