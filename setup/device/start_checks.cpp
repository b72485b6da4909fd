#include "setup/device/start_checks.h"

#include <utility>

#include "formats/result_codes.h"
#include "setup/device/page_results.h"
#include "setup/device/update_plan.h"

namespace nuva {
namespace {

using namespace page_result;

// The page tells the user `show` and ends with `result`.
StartCheckResult& End(StartCheckResult& r, ShowWhat show, int result) {
    r.show = show;
    r.endWith = result;
    return r;
}

// The page shows ReasonDialog with the one reason `flag` of ReasonFlags set
// and ends with `result`.
StartCheckResult& EndWithReason(StartCheckResult& r, bool ReasonFlags::*flag, int mode, int result) {
    r.reasons.*flag = true;
    r.mode = mode;
    return End(r, ShowWhat::kReason, result);
}

// The page tells the user `show` and stays.
StartCheckResult& Stay(StartCheckResult& r, ShowWhat show) {
    r.show = show;
    r.endWith.reset();
    return r;
}

// The handheld's record into the result, when the agent answers. A failed
// query leaves the result's record empty.
bool Query(HandheldPort& port, StartCheckResult& r) {
    DeviceInfo info;
    if (port.QueryDeviceInfo(&info) != kResultOk) {
        return false;
    }
    r.deviceInfo = info;
    return true;
}

// A handheld of this model: supported, in one of the two memory classes.
bool KnownModel(const DeviceInfo& info) {
    return (info.MemoryConfig == kMemoryConfigAdvanced || info.MemoryConfig == kMemoryConfigBasic) &&
           info.Supported != 0;
}

// The image for the handheld's class and its header, as UpdateInfoPage and
// BackupNoticePage find them. Returns false after ending the page with
// `failResult`.
bool ReadUpdateImage(ImageFiles& files, StartCheckResult& r, int failResult) {
    LocatedImage image = files.LocateImage(r.deviceInfo.MemoryConfig == kMemoryConfigAdvanced);
    if (image.status == ImageLookup::kMissing) {
        End(r, ShowWhat::kImageMissing, failResult);
        return false;
    }
    if (image.status == ImageLookup::kOutOfMemory) {
        End(r, ShowWhat::kOutOfMemory, failResult);
        return false;
    }
    if (files.CheckImageFile(image.path, r.header) == 0) {
        End(r, ShowWhat::kImageCorrupt, failResult);
        return false;
    }
    r.imagePath = std::move(image.path);
    return true;
}

}  // namespace

StartCheckResult MainMenuStartCheck(HandheldPort& port, ImageFiles& files) {
    StartCheckResult r;
    if (port.IsConnected() && port.InstallAgent() == 0) {
        if (!Query(port, r) || !KnownModel(r.deviceInfo)) {
            return End(r, ShowWhat::kWrongModel, kCancel);
        }
        r.deviceValid = true;
        LocatedImage image = files.LocateImage(r.deviceInfo.MemoryConfig == kMemoryConfigAdvanced);
        if (image.status != ImageLookup::kFound) {
            return End(r, ShowWhat::kImageMissing, kCancel);
        }
    }
    // Asked again: the checks above take time, and the buttons are enabled
    // only for a handheld that is still there.
    if (!port.IsConnected()) {
        return End(r, ShowWhat::kConnectionLost, kConnectionLost);
    }
    return r;
}

StartCheckResult BackupNoticeStartCheck(HandheldPort& port, ImageFiles& files) {
    StartCheckResult r;
    if (!port.IsConnected()) {
        return End(r, ShowWhat::kConnectionLost, kConnectionLost);
    }
    if (port.InstallAgent() != 0) {
        return End(r, ShowWhat::kCopyIncomplete, kCheckFailed);
    }
    if (!Query(port, r) || r.deviceInfo.Supported != 1) {
        return End(r, ShowWhat::kWrongModel, kCheckFailed);
    }
    r.deviceValid = true;
    if (!ReadUpdateImage(files, r, kCheckFailed)) {
        return r;
    }
    // A backup file named as the update image carries kind 1.
    if (r.header.Kind() != 0) {
        return End(r, ShowWhat::kImageCorrupt, kCheckFailed);
    }
    // Before anything is written, the contents must carry the identity block
    // the handheld checks at every start: an image whose byte count is 0 has
    // no sum to be checked by, and flashing a damaged one bricks the
    // handheld. The count, when there is one, is summed too.
    r.pendingSum = ContentsSum{r.imagePath, r.header.ByteCount(), r.header.ByteSumField(), true};
    return r;
}

StartCheckResult FinishBackupNoticeCheck(StartCheckResult r, const SumOutcome& outcome) {
    if (!r.pendingSum) {
        return r;
    }
    const ContentsSum what = *std::exchange(r.pendingSum, std::nullopt);
    if (!SumMatches(what, outcome)) {
        return End(r, ShowWhat::kImageCorrupt, kCheckFailed);
    }
    r.imageValid = true;
    return r;
}

StartCheckResult UpdateInfoStartCheck(HandheldPort& port, ImageFiles& files, int32_t force) {
    StartCheckResult r;
    if (!port.IsConnected()) {
        return End(r, ShowWhat::kConnectionLost, kConnectionLost);
    }
    if (port.InstallAgent() != 0) {
        return End(r, ShowWhat::kCopyIncomplete, kCheckFailed);
    }
    if (!Query(port, r) || !KnownModel(r.deviceInfo)) {
        return End(r, ShowWhat::kWrongModel, kCheckFailed);
    }
    r.deviceValid = true;
    if (!ReadUpdateImage(files, r, kCheckFailed)) {
        return r;
    }
    r.imageValid = true;

    if (CheckCompatibility(r.header, r.deviceInfo, r.verdict, 1, force == 1 ? 0 : 1, 0) == 0) {
        return r;
    }
    UpdateRefusal refusal = ChooseUpdateRefusal(r.verdict);
    int result = UpdateRefusalResult(refusal);
    switch (refusal) {
        case UpdateRefusal::kImageCorrupt:
            return End(r, ShowWhat::kImageCorrupt, result);
        case UpdateRefusal::kReasonLanguage:
            return EndWithReason(r, &ReasonFlags::language, 0, result);
        case UpdateRefusal::kReasonDowngrade:
            return EndWithReason(r, &ReasonFlags::downgrade, 0, result);
        case UpdateRefusal::kReasonSameRom:
            return EndWithReason(r, &ReasonFlags::sameRom, 0, result);
        case UpdateRefusal::kSilent:
            break;
    }
    return End(r, ShowWhat::kNone, result);
}

StartCheckResult RestoreInfoStartCheck(HandheldPort& port, ImageFiles& files, const std::string& backupPath) {
    StartCheckResult r;
    if (port.InstallAgent() != 0) {
        return End(r, ShowWhat::kNone, kCancel);
    }
    if (!Query(port, r) || !KnownModel(r.deviceInfo)) {
        return End(r, ShowWhat::kWrongModel, kCancel);
    }
    r.deviceValid = true;
    uint64_t length = files.CheckImageFile(backupPath, r.header);
    if (length == 0) {
        return End(r, ShowWhat::kImageCorrupt, kCancel);
    }
    // The run cold-restarts the handheld before it copies a single part, and
    // the flasher programs whatever the parts hold: a backup that is cut short
    // or whose contents no longer add up to the sum its header records is
    // refused here, before the handheld loses anything.
    if (!BackupShapeFault(r.header, length).empty()) {
        return End(r, ShowWhat::kImageCorrupt, kCancel);
    }
    r.imagePath = backupPath;
    r.imageValid = true;
    r.pendingSum = ContentsSum{backupPath, r.header.ByteCount(), r.header.ByteSumField()};
    return r;
}

StartCheckResult FinishRestoreInfoCheck(StartCheckResult r, const SumOutcome& outcome) {
    if (!r.pendingSum) {
        return r;
    }
    const ContentsSum what = *std::exchange(r.pendingSum, std::nullopt);
    if (!SumMatches(what, outcome)) {
        return End(r, ShowWhat::kImageCorrupt, kCancel);
    }
    if (CheckCompatibility(r.header, r.deviceInfo, r.verdict, 1, 0, 1) == 0) {
        return r;
    }
    switch (ChooseRestoreRefusal(r.verdict)) {
        case RestoreRefusal::kImageCorrupt:
            return End(r, ShowWhat::kImageCorrupt, kCancel);
        case RestoreRefusal::kReasonLanguage:
            return EndWithReason(r, &ReasonFlags::language, 0, kCancel);
        case RestoreRefusal::kReasonSameRom:
            return EndWithReason(r, &ReasonFlags::sameRom, 1, kCancel);
        case RestoreRefusal::kReasonOtherDevice:
            return EndWithReason(r, &ReasonFlags::otherDevice, 2, kCancel);
        case RestoreRefusal::kSilent:
            break;
    }
    return End(r, ShowWhat::kNone, kCancel);
}

StartCheckResult BatteryCheck(HandheldPort& port, int proceedResult) {
    StartCheckResult r;
    if (!Query(port, r)) {
        return Stay(r, ShowWhat::kQuestionBeep);
    }
    r.deviceValid = true;
    if (!BatteryEnough(r.deviceInfo.BatteryPercent)) {
        r.reasons.lowBattery = true;
        r.mode = 0;
        return Stay(r, ShowWhat::kReason);
    }
    r.endWith = proceedResult;
    return r;
}

}  // namespace nuva
