// What the pages share around their checks: the timer that watches the link
// together with the flag that says it runs, and telling the user what a
// start check or a commit button's check decided, through the dialog kit.
#pragma once

#include <cstdint>

#include "setup/device/start_checks.h"
#include "setup/frame/dialog_kit.h"
#include "setup/frame/page.h"

namespace nuva {

// A page's timer and whether it runs. Every way out of a page stops the
// timer first, and only when it runs.
class WatchTimer {
  public:
    explicit WatchTimer(PageView& view, uint32_t id = kDialogWatchTimer) : view_(view), id_(id) {}

    void Start(uint32_t periodMs) {
        view_.ArmTimer(id_, periodMs);
        running_ = true;
    }
    void Stop() {
        if (running_) {
            view_.KillTimer(id_);
            running_ = false;
        }
    }
    bool Running() const { return running_; }
    uint32_t Id() const { return id_; }

  private:
    PageView& view_;
    uint32_t id_;
    bool running_ = false;
};

// Shows over `page` the one dialog, message box or beep that `checked`
// calls for (nothing for ShowWhat::kNone). Ending the page is the caller's.
void ShowStartCheck(PageView& page, const StartCheckResult& checked);

}  // namespace nuva
