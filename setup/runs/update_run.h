// The update run (and the restore run, which is the same run in restore
// mode): UpdateProgressPage's logic without its widgets, and UpdateWorker.
//
// The page's first half runs on the user-interface thread, driven by three
// timers: the start step (timer 100) checks the source file and prepares the
// handheld (agent, query, cold restart); the waiting step (timer 200) turns
// the animation until the link is back and seven ticks have passed; then
// UpdateWorker copies and verifies the parts, places the flasher and writes
// the hand-over, while timer 300 animates until the first progress arrives.
// On completion the page warm-restarts the handheld with the cleanup
// selector, so that it starts the flasher without its cable drivers.
#pragma once

#include <cstdint>
#include <string>

#include "formats/device_info.h"
#include "formats/image_header.h"
#include "setup/frame/dialog_kit.h"
#include "setup/frame/page.h"
#include "setup/link/handheld_port.h"
#include "setup/runs/progress_page.h"
#include "setup/runs/run_controls.h"
#include "setup/runs/worker_slot.h"

namespace nuva {

enum class RunMode : int { kRestore = 0, kUpdate = 1 };

// What UpdateWorker needs, copied from the page when it starts.
struct UpdateWorkerInput {
    std::string imagePath;
    ImageHeader header;
    RunMode mode = RunMode::kUpdate;
};

// UpdateWorker's body: agent installation (5 attempts while connected), a
// fresh DeviceInfo, the plan, the transfer, the shortcuts, the flasher and
// the hand-over; ends by posting WM_RUN_COMPLETE, WM_RUN_FAILED or
// WM_VERIFY_FAILED (unless it was let go). Returns 0 or -1.
int RunUpdateWorker(WorkerContext& context, HandheldPort& device, const UpdateWorkerInput& input);

class UpdateRunController final : public ProgressPage {
  public:
    UpdateRunController(PageView& view, HandheldPort& device, WorkerSlot& worker, RunMode mode,
                        std::string imagePath, const DeviceInfo& deviceInfo);

    // The page's initialisation: bars, counters, texts by mode, timer 100.
    void Init() override;
    // Posted messages from the worker.
    void OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    // The final button (control 1000) after success.
    void OnCommand(uint32_t control) override;
    // A close request ends the page with 0.
    void OnClose() override;

    bool ChangesGeneration() const;
    const ImageHeader& Header() const { return header_; }

    // The device-text counter lives as long as the program.
    static uint32_t DeviceTextCounter();

  private:
    void StartStep() override;
    std::function<void(WorkerContext&)> WorkerBody() override;
    void ShowRunControls() override;
    bool PrepareUpdateRun();
    void OnFinalButton();
    void OnProgress(uint32_t message, uint32_t wParam, uint32_t lParam);
    void OnComplete();
    void OnFailed(uint32_t message);

    RunMode mode_;
    std::string imagePath_;
    DeviceInfo deviceInfo_;
    ImageHeader header_;
    uint32_t doneBefore_ = 0;
    uint32_t doneInFile_ = 0;
};

}  // namespace nuva
