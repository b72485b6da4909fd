// What the update page and the backup page share: the three timers of a
// progress page and the worker they start. Timer 100 (100 ms) runs the start
// step once; after a successful preparation timer 200 (500 ms) turns the
// waiting animation until the link is up and the spinner has made eight
// steps, then the page's worker starts and timer 300 (500 ms) animates until
// the first overall progress arrives.
#pragma once

#include <cstdint>
#include <functional>

#include "setup/frame/dialog_kit.h"
#include "setup/frame/page.h"
#include "setup/link/handheld_port.h"
#include "setup/runs/run_controls.h"
#include "setup/runs/worker_slot.h"

namespace nuva {

inline constexpr uint32_t kStartTimer = 100;
inline constexpr uint32_t kWaitTimer = 200;
inline constexpr uint32_t kAnimationTimer = 300;
inline constexpr uint32_t kStartTimerMs = 100;
inline constexpr uint32_t kWaitTimerMs = 500;
inline constexpr uint32_t kAnimationTimerMs = 500;
// The worker starts once the link is up and the spinner has made this many
// steps (the preparation's step and seven waiting ticks).
inline constexpr uint32_t kStepsBeforeWorker = 8;

// The text of one animation step: "...\", "...|", ".../", "...-".
std::string SpinnerText(uint32_t step);
// Percentages as the pages compute them: done ÷ (total ÷ 100), unsigned. A
// total below 100 bytes counts as 100 (no division by zero).
uint32_t PercentOf(uint32_t done, uint32_t total);

class ProgressPage : public PageController {
  public:
    void OnTimer(uint32_t id) override;
    // Esc and Cancel do nothing: a run cannot be abandoned from the desktop.
    void OnEscape() override {}
    // The page's destruction: the armed timer, then the worker (waits up to
    // 2000 ms, then lets it go).
    void Destroy() override;

    uint32_t ActiveTimer() const { return activeTimer_; }
    uint32_t SpinnerCount() const { return spinnerCount_; }

  protected:
    ProgressPage(PageView& view, HandheldPort& device, WorkerSlot& worker)
        : view_(view), device_(device), worker_(worker) {}
    ~ProgressPage() override = default;

    // Initialisation: counters cleared, timer 100 armed.
    void ArmStartTimer();
    // A successful preparation: the first animation step, the status line,
    // timer 200.
    void BeginWaiting();
    void KillActiveTimer();

    // Timer 100's tick, after the timer is killed.
    virtual void StartStep() = 0;
    // The worker's body, from what the page holds now.
    virtual std::function<void(WorkerContext&)> WorkerBody() = 0;
    // The controls shown once the worker runs.
    virtual void ShowRunControls() = 0;

    PageView& view_;
    HandheldPort& device_;
    uint32_t overallTotal_ = 0;

  private:
    void WaitingStep();
    void AnimationStep();

    WorkerSlot& worker_;
    uint32_t activeTimer_ = 0;
    uint32_t spinnerCount_ = 0;
};

}  // namespace nuva
