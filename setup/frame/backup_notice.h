// BackupNoticePage (template 137), the first page of the update wizard: it
// tells the user to back up the handheld's data, offers the "Additional
// help" link, and runs the start checks of an update before "&Next >" may be
// used: the agent, the handheld's identity, the update image and its header,
// and the sum of its contents, which runs beside the page.
//
// Results: 1026 (Next), 1025 (Back), 3 (a check failed; the user was told),
// 4 (the link was lost), 2 (Esc or the close box).
#pragma once

#include <cstdint>

#include "setup/device/image_files.h"
#include "setup/device/start_checks.h"
#include "setup/frame/contents_sum_task.h"
#include "setup/frame/page.h"
#include "setup/frame/page_checks.h"
#include "setup/link/handheld_port.h"

namespace nuva {

class BackupNoticePage final : public PageController {
  public:
    static constexpr uint32_t kBackButton = 1025;
    static constexpr uint32_t kNextButton = 1026;
    static constexpr uint32_t kNoticeHeading = 1029;  // "NOTICE :", red
    static constexpr uint32_t kNoticeFrame = 1030;    // where the red frame is drawn
    static constexpr uint32_t kHelpLink = 1064;       // "Additional help", blue and underlined

    // Timer 200 lets the page become visible before the checks run.
    static constexpr uint32_t kStartTimer = 200;
    static constexpr uint32_t kStartTimerMs = 100;
    // Timer 100 watches the link once the checks have started summing.
    static constexpr uint32_t kWatchTimerMs = 1000;

    BackupNoticePage(PageView& view, HandheldPort& port, ImageFiles& files);

    void Init() override;
    void OnTimer(uint32_t id) override;
    void OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    void OnCommand(uint32_t control) override;
    // Traces the control under the pointer.
    void OnPointerOver(uint32_t control) override;
    void Destroy() override;

  private:
    void StartCheck();
    void OnSummed();
    // Ready when the checks passed; otherwise tells the user and ends.
    void Conclude();
    void OpenHelp();
    void End(int result);

    PageView& view_;
    HandheldPort& port_;
    ImageFiles& files_;
    WatchTimer startTimer_;
    WatchTimer watchTimer_;
    ContentsSumTask sum_;
    StartCheckResult checked_;  // the image's header and path among what the checks read
    bool nextEnabled_ = false;
};

}  // namespace nuva
