// The checks a page runs on the handheld and the image when it opens, and the
// battery test of the information pages' commit buttons: which one message
// or reason the page shows and which result it ends with.
//
// The decisions are kept apart from the link: every answer (the connection
// flag, the agent installation, the handheld's record, the image lookup, the
// header check, the contents' sum) comes through StartCheckDevice, so that a
// scripted handheld can fail any step. LinkStartCheckDevice is the real one,
// over the device link and the installation's image catalogue.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "setup/device/compatibility.h"
#include "setup/frame/dialog_kit.h"

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
    // checks passed, or a commit button was refused and the user may try
    // again).
    std::optional<int> endWith;

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

// Where the update image of a class stands.
enum class ImageLookup { kFound, kMissing, kOutOfMemory };
struct LocatedImage {
    ImageLookup status = ImageLookup::kMissing;
    std::string path;  // with kFound
};

class StartCheckDevice {
  public:
    virtual ~StartCheckDevice() = default;

    // g_connected is 1.
    virtual bool IsConnected() = 0;
    // 0, or -1 when the agent library could not be copied.
    virtual int32_t InstallAgent() = 0;
    // 0 with the record, or a failure code.
    virtual uint32_t QueryDeviceInfo(DeviceInfo* out) = 0;
    // The update image setup.ini names for the "Advanced" (high) or the
    // "Basic" class.
    virtual LocatedImage LocateImage(bool highModel) = 0;
    // The file's length when its header is acceptable, else 0.
    virtual uint64_t CheckImageFile(const std::string& path, ImageHeader& header) = 0;
    // The ByteSum of `count` bytes of the file from offset 512 (the
    // contents behind the header): 0 with `sum`, or a failure code when the
    // file cannot be opened or ends before the range does.
    virtual uint32_t SumImageContents(const std::string& path, uint32_t count, uint32_t& sum) = 0;
};

// MainMenuDialog. A failed agent installation is left for the wizard's first
// page to report. Ends with 2 for an unsupported handheld or a missing image,
// 4 when the link is gone; stays (buttons enabled) otherwise.
StartCheckResult MainMenuStartCheck(StartCheckDevice& device);

// BackupNoticePage: the agent, the model, the image for the class, its
// header (an update image, not a backup) and, when the header counts the
// contents, their sum. Ends with 3 after a message, 4 when the link is gone.
StartCheckResult BackupNoticeStartCheck(StartCheckDevice& device);

// UpdateInfoPage: the agent, the model, the image and its header, then the
// compatibility test (a downgrade is refused unless `force` is 1). Ends with
// 3 (2 for the same ROM) after a message, 4 when the link is gone.
StartCheckResult UpdateInfoStartCheck(StartCheckDevice& device, int32_t force);

// RestoreInfoPage for the backup file `backupPath`: the agent (a failure ends
// the page with 2 silently), the model, the file's header, its length and
// the sum of its contents, then the restore rules (same handheld, no
// downgrade test). Every failure ends with 2.
StartCheckResult RestoreInfoStartCheck(StartCheckDevice& device, const std::string& backupPath);

// "&Next >" of UpdateInfoPage (`proceedResult` 1003) and "&Restore >" of
// RestoreInfoPage (1066): a fresh record; a failed query beeps, a charge
// below 40 % (BatteryEnough) shows the battery reason (mode 0), and in both
// cases the page stays; otherwise it ends with `proceedResult`. The fresh record is in
// deviceInfo whenever deviceValid is set.
StartCheckResult BatteryCheck(StartCheckDevice& device, int proceedResult);

// The device link over RAPI, g_connected, and the installation's images in
// g_installDir.
class LinkStartCheckDevice final : public StartCheckDevice {
  public:
    bool IsConnected() override;
    int32_t InstallAgent() override;
    uint32_t QueryDeviceInfo(DeviceInfo* out) override;
    LocatedImage LocateImage(bool highModel) override;
    uint64_t CheckImageFile(const std::string& path, ImageHeader& header) override;
    uint32_t SumImageContents(const std::string& path, uint32_t count, uint32_t& sum) override;
};

}  // namespace nuva
