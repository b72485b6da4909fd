// The ROM backup run: BackupProgressPage's logic without its widgets,
// BackupWorker, SaveRomImage (which reads the flash through the agent and
// writes the RisFile), and BackupCompleteDialog's wait for the handheld.
//
// The run is reached from the update wizard (before-update mode) and from the
// backup/restore wizard (plain-backup mode). Unlike the update run it does
// not restart the handheld before the worker starts; it restarts it (warm,
// without cleanup) when the backup is complete or has failed.
#pragma once

#include <cstdint>
#include <string>

#include "formats/device_info.h"
#include "formats/update_handoff.h"
#include "setup/frame/dialog_kit.h"
#include "setup/frame/page.h"
#include "setup/link/handheld_port.h"
#include "setup/runs/progress_page.h"
#include "setup/runs/run_controls.h"
#include "setup/runs/update_run.h"
#include "setup/runs/worker_slot.h"

namespace nuva {

inline constexpr uint32_t kBackupBlockBytes = 16384;
inline constexpr uint32_t kBackupReadAttempts = 5;

// Reads plan.TotalBytes of flash from plan.FlashOffset in 16 KB blocks (up to
// five attempts each) and writes the RisFile at `path`: 512 zero bytes, the
// flash bytes, then the header over the zeros. Progress goes to `window`
// after every other block and once at the end.
//
// The file is written under a temporary name beside `path` and renamed over
// `path` only when it is complete, so a failed run leaves no partial file
// and does not destroy an earlier file of that name. A block that fails five
// reads, a failed or short write (a full disk, a removed medium), a failed
// rename, or a stop request end the run with E_FAIL and delete the
// temporary file. Returns 0 or E_FAIL.
uint32_t SaveRomImage(HandheldPort& device, MessageSink* window, const std::string& path,
                      const UpdateHandoff& plan, const DeviceInfo& info, WorkerContext* context = nullptr);

// BackupWorker's body. `info` is what the page holds; when the page never
// got a DeviceInfo (the agent could not be installed when the run was
// prepared) the worker asks the handheld itself. Returns 0 or -1.
int RunBackupWorker(WorkerContext& context, HandheldPort& device, const std::string& path,
                    const DeviceInfo& info);

enum class BackupOrigin : int { kPlainBackup = 0, kBeforeUpdate = 1 };

class BackupRunController final : public ProgressPage {
  public:
    BackupRunController(PageView& view, HandheldPort& device, WorkerSlot& worker, BackupOrigin origin,
                        std::string path, const DeviceInfo& deviceInfo);

    void Init() override;
    void OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    // The page has no button a user could press, and a close request does
    // nothing.
    void OnCommand(uint32_t) override {}
    void OnClose() override {}

    const DeviceInfo& Info() const { return deviceInfo_; }
    static uint32_t DeviceTextCounter();

  private:
    void StartStep() override;
    std::function<void(WorkerContext&)> WorkerBody() override;
    void ShowRunControls() override;

    BackupOrigin origin_;
    std::string path_;
    DeviceInfo deviceInfo_;
    uint32_t bytesSaved_ = 0;
};

// BackupCompleteDialog: five seconds after the backup it restarts the
// handheld (warm, no cleanup) and enables OK once the link is back and at
// least seven ticks have passed.
class BackupCompleteController final : public PageController {
  public:
    static constexpr uint32_t kRestartTimer = 100;
    static constexpr uint32_t kRestartDelayMs = 5000;
    static constexpr uint32_t kWatchTimer = 200;
    static constexpr uint32_t kWatchTimerMs = 500;

    BackupCompleteController(PageView& view, HandheldPort& device);
    void Init() override;
    void OnTimer(uint32_t id) override;
    // OK (1) ends it with 1 once enabled; Esc with 2.
    void OnCommand(uint32_t control) override;
    void OnEscape() override;
    bool OkEnabled() const { return okEnabled_; }

  private:
    void StartCheck();

    PageView& view_;
    HandheldPort& device_;
    uint32_t ticks_ = 0;
    bool okEnabled_ = false;
};

}  // namespace nuva
