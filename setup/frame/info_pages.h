// The two information pages, which show the handheld (left column) beside
// what would be written to it (right column) and let the user commit only
// when the checks pass and the battery holds at least 40 %.
//
// UpdateInfoPage (template 130) compares the handheld with the update image;
// it shares UpdateInfoPageFields with the update wizard: the ROM backup
// option (check box 1039), the valid-data flags and what they vouch for.
// Results: 1003 (Next), 1004 (Back), 2 (Cancel, or the same ROM), 3 (a check
// failed or refused; the user was told), 4 (the link was lost).
//
// RestoreInfoPage (template 146) compares the handheld with a backup file,
// whose whole contents it adds up beside the page before Restore may be
// used. Results: 1066 (Restore), 1065 (Cancel), 2 (Esc, or any failed or
// refused check), 4 (the link was lost).
#pragma once

#include <cstdint>
#include <string>

#include "formats/device_info.h"
#include "setup/device/image_files.h"
#include "setup/device/start_checks.h"
#include "setup/frame/contents_sum_task.h"
#include "setup/frame/page.h"
#include "setup/frame/page_checks.h"
#include "setup/frame/wizards.h"
#include "setup/link/handheld_port.h"

namespace nuva {

// The value controls of one column; both pages use the same ids. The
// templates create them hidden: a column is shown only once filled.
struct InfoColumnControls {
    uint32_t model;
    uint32_t romVersion;
    uint32_t osVersion;
    uint32_t language;
};
inline constexpr InfoColumnControls kDeviceColumn{1016, 1017, 1051, 1018};
inline constexpr InfoColumnControls kImageColumn{1050, 1052, 1053, 1054};

class UpdateInfoPage final : public PageController {
  public:
    static constexpr uint32_t kNextButton = 1003;
    static constexpr uint32_t kBackButton = 1004;
    static constexpr uint32_t kBackupOption = 1039;

    // `fields` outlives the page: the wizard reads it after every showing.
    UpdateInfoPage(PageView& view, HandheldPort& port, ImageFiles& files, UpdateInfoPageFields& fields);

    void Init() override;
    void OnTimer(uint32_t id) override;
    void OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    void OnCommand(uint32_t control) override;
    void Destroy() override;

  private:
    void StartCheck();
    void OnNext();
    void LoseConnection();
    void End(int result);

    PageView& view_;
    HandheldPort& port_;
    ImageFiles& files_;
    UpdateInfoPageFields& fields_;
    WatchTimer timer_;
    bool nextEnabled_ = false;
};

class RestoreInfoPage final : public PageController {
  public:
    static constexpr uint32_t kRestoreButton = 1066;
    static constexpr uint32_t kCancelButton = 1065;

    // `info` is the page's record of the handheld, which the wizard takes
    // when the page ends with 1066; it outlives the page.
    RestoreInfoPage(PageView& view, HandheldPort& port, ImageFiles& files, std::string backupPath,
                    DeviceInfo& info);

    void Init() override;
    void OnTimer(uint32_t id) override;
    void OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    void OnCommand(uint32_t control) override;
    void Destroy() override;

  private:
    void StartCheck();
    void OnSummed();
    // Ready when the checks passed; otherwise tells the user and ends.
    void Conclude();
    void OnRestore();
    void End(int result);

    PageView& view_;
    HandheldPort& port_;
    ImageFiles& files_;
    std::string backupPath_;
    DeviceInfo& info_;
    WatchTimer timer_;
    ContentsSumTask sum_;
    StartCheckResult checked_;
    bool restoreEnabled_ = false;
};

}  // namespace nuva
