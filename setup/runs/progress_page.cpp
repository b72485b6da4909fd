#include "setup/runs/progress_page.h"

namespace nuva {

std::string SpinnerText(uint32_t step) {
    static constexpr const char* kFrames[4] = {"\\", "|", "/", "-"};
    return std::string("...") + kFrames[step % 4];
}

uint32_t PercentOf(uint32_t done, uint32_t total) {
    uint32_t hundredth = total / 100;
    return done / (hundredth == 0 ? 1 : hundredth);
}

void ProgressPage::ArmStartTimer() {
    overallTotal_ = 0;
    spinnerCount_ = 0;
    activeTimer_ = kStartTimer;
    view_.ArmTimer(kStartTimer, kStartTimerMs);
}

void ProgressPage::OnTimer(uint32_t id) {
    switch (id) {
        case kStartTimer:
            activeTimer_ = 0;
            view_.KillTimer(kStartTimer);
            StartStep();
            break;
        case kWaitTimer:
            WaitingStep();
            break;
        case kAnimationTimer:
            if (overallTotal_ == 0) {
                AnimationStep();
            }
            break;
        default:
            break;
    }
}

void ProgressPage::BeginWaiting() {
    spinnerCount_ = 0;
    AnimationStep();
    view_.ShowControl(run_control::kStatusLine, true);
    activeTimer_ = kWaitTimer;
    view_.ArmTimer(kWaitTimer, kWaitTimerMs);
}

void ProgressPage::WaitingStep() {
    view_.KillTimer(kWaitTimer);
    AnimationStep();
    if (device_.IsConnected() && spinnerCount_ >= kStepsBeforeWorker) {
        activeTimer_ = 0;
        if (!worker_.Start(view_, WorkerBody())) {
            ShowMessage(view_, MessageBoxKind::kThreadFailed);
            view_.EndDialog(2);
            return;
        }
        ShowRunControls();
        activeTimer_ = kAnimationTimer;
        view_.ArmTimer(kAnimationTimer, kAnimationTimerMs);
        return;
    }
    // While the handheld is away (restarting) the animation keeps turning.
    if (activeTimer_ != 0) {
        view_.ArmTimer(kWaitTimer, kWaitTimerMs);
    }
}

void ProgressPage::AnimationStep() {
    view_.SetText(run_control::kStatusLine, SpinnerText(spinnerCount_));
    ++spinnerCount_;
}

void ProgressPage::KillActiveTimer() {
    if (activeTimer_ != 0) {
        view_.KillTimer(activeTimer_);
        activeTimer_ = 0;
    }
}

void ProgressPage::Destroy() {
    KillActiveTimer();
    worker_.Stop(2000);
}

}  // namespace nuva
