#include "tools/flash/progress_pages.h"

#include <map>

#include "setup/frame/dialog_kit.h"
#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"

namespace nuva {
namespace {

using Handler = CallbackHandler;
constexpr uint32_t WM_COMMAND = CallbackHandler::kCommandMessage;

class TerminalRunView : public RunView {
  public:
    TerminalRunView(ConsoleLoop& loop, ConsoleWindow& window, Terminal& terminal, RunDevice& device,
                    std::chrono::nanoseconds restartTimeout = std::chrono::hours(24))
        : loop_(loop),
          window_(window),
          terminal_(terminal),
          device_(device),
          restartTimeout_(restartTimeout) {}

    // Whether the handheld answered again after the backup's restart.
    bool HandheldBack() const { return handheldBack_; }

    void ArmTimer(uint32_t id, uint32_t periodMs) override { window_.ArmTimer(id, periodMs); }
    void KillTimer(uint32_t id) override { window_.KillTimer(id); }
    void SetTitle(const std::string& text) override { terminal_.Line("== " + text + " =="); }
    void SetText(uint32_t control, const std::string& text) override {
        if (control == run_control::kStatusLine) {
            status_ = text;
            Redraw();
        } else if (control == run_control::kFinalButton) {
            finalLabel_ = text;
        } else {
            terminal_.Block(text);
        }
    }
    void ShowControl(uint32_t control, bool shown) override {
        shown_[control] = shown;
        if (control == run_control::kStatusLine && !shown) {
            terminal_.KeepStatus();
        }
    }
    void EnableControl(uint32_t control, bool enabled) override {
        if (enabled && (control == run_control::kFinalButton || control == run_control::kOkButton)) {
            if (!finalLabel_.empty()) {
                terminal_.Line("[" + WithoutMnemonic(finalLabel_) + "]");
            }
            window_.Post(WM_COMMAND, control, 0);
        }
    }
    void SetBar(uint32_t control, uint32_t position) override {
        bars_[control] = position;
        Redraw();
    }
    void MessageBox(const std::string& text, const std::string& caption, bool) override {
        PrintMessageBox(terminal_, caption, text);
    }
    void ShowConnectionLost(int mode) override { PrintConnectionLost(terminal_, mode); }
    void ShowWrongModel() override { PrintWrongModel(terminal_); }
    void ShowCompletionNotice(int updateForm, bool toPocketPc2002) override {
        CompletionNotice notice = CompletionNoticeFor(updateForm, toPocketPc2002);
        terminal_.Line("== " + LoadString(notice.captionId) + " ==");
        terminal_.Line("NOTICE :");
        terminal_.Block(LoadString(notice.textId));
        terminal_.Line(notice.picture == 3 ? "(the handheld now runs Pocket PC 2002)"
                                           : "(the handheld now runs Pocket PC 2003)");
        terminal_.Line("[Exit]");
    }
    int ShowBackupComplete() override;
    void HidePage() override {}
    void EndPage(int result) override {
        terminal_.KeepStatus();
        window_.EndModal(result);
    }
    MessageSink& Sink() override { return window_; }

  private:
    bool Shown(uint32_t control) const {
        auto it = shown_.find(control);
        return it != shown_.end() && it->second;
    }
    void Redraw() {
        std::string line;
        if (Shown(run_control::kOverallBar)) {
            uint32_t overall = bars_[run_control::kOverallBar];
            line += "all " + Bar(overall) + " " + std::to_string(overall > 100 ? 100 : overall) + "%  ";
        }
        if (Shown(run_control::kFileBar)) {
            uint32_t part = bars_[run_control::kFileBar];
            line += "part " + Bar(part, 12) + " " + std::to_string(part > 100 ? 100 : part) + "%  ";
        }
        terminal_.Status(line + status_);
    }

    ConsoleLoop& loop_;
    ConsoleWindow& window_;
    Terminal& terminal_;
    RunDevice& device_;
    std::chrono::nanoseconds restartTimeout_;
    bool handheldBack_ = true;
    std::map<uint32_t, bool> shown_;
    std::map<uint32_t, uint32_t> bars_;
    std::string status_;
    std::string finalLabel_;
};

int TerminalRunView::ShowBackupComplete() {
    Handler handler;
    ConsoleWindow window(loop_, handler);
    TerminalRunView view(loop_, window, terminal_, device_);
    BackupCompleteController dialog(view, device_);
    // The dialog waits for the link without limit; a command line cannot.
    const auto deadline = std::chrono::steady_clock::now() + restartTimeout_;
    handler.timer = [&](uint32_t id) {
        dialog.OnTimer(id);
        if (!window.Ended() && !dialog.OkEnabled() && std::chrono::steady_clock::now() >= deadline) {
            terminal_.KeepStatus();
            terminal_.Line("The handheld has not answered again since its restart.");
            handheldBack_ = false;
            window.EndModal(2);
        }
    };
    handler.message = [](uint32_t, uint32_t, uint32_t) {};
    handler.command = [&](uint32_t) { dialog.OnOk(); };
    terminal_.Line("== ROM Backup Complete ==");
    terminal_.Line("The ROM image has been saved successfully!");
    terminal_.Status("(the handheld restarts; waiting for it to answer again)");
    dialog.Init();
    int result = loop_.RunModal(window);
    terminal_.KeepStatus();
    return result;
}

}  // namespace

void PrintMessageBox(Terminal& terminal, const std::string& caption, const std::string& text) {
    terminal.Line("[" + caption + "]");
    terminal.Block(text);
}

void PrintConnectionLost(Terminal& terminal, int mode) {
    namespace s = string_id;
    uint32_t heading = mode == 1   ? s::kConnectionLostHeading1
                       : mode == 2 ? s::kConnectionLostHeading2
                                   : s::kConnectionLostHeading0;
    terminal.Line("[Caution]");
    terminal.Line(LoadString(heading));
    terminal.Line("* The connection between the computer and the device cannot be detected");
    terminal.Block("\nEnsure that the USB/serial cable/cradle \nis connected correctly and try again.");
}

void PrintWrongModel(Terminal& terminal) {
    terminal.Line("[Caution]");
    terminal.Line(std::string(kWrongModelText));
}

int RunUpdateProgressPage(ConsoleLoop& loop, Terminal& terminal, RunDevice& device, RunMode mode,
                          const std::string& path, const DeviceInfo& info, ImageHeader* written) {
    static WorkerSlot worker;  // the one UpdateWorker of the program
    Handler handler;
    ConsoleWindow window(loop, handler);
    TerminalRunView view(loop, window, terminal, device);
    UpdateRunController run(view, device, worker, mode, path, info);
    handler.timer = [&](uint32_t id) { run.OnTimer(id); };
    handler.message = [&](uint32_t m, uint32_t w, uint32_t l) { run.OnMessage(m, w, l); };
    handler.command = [&](uint32_t) { run.OnFinalButton(); };
    run.Init();
    int result = loop.RunModal(window);
    run.Destroy();
    if (written != nullptr) {
        *written = run.Header();
    }
    return result;
}

int RunBackupProgressPage(ConsoleLoop& loop, Terminal& terminal, RunDevice& device, BackupOrigin origin,
                          const std::string& path, const DeviceInfo& info,
                          std::chrono::nanoseconds restartTimeout, bool& handheldBack) {
    static WorkerSlot worker;  // the one BackupWorker of the program
    Handler handler;
    ConsoleWindow window(loop, handler);
    TerminalRunView view(loop, window, terminal, device, restartTimeout);
    BackupRunController run(view, device, worker, origin, path, info);
    handler.timer = [&](uint32_t id) { run.OnTimer(id); };
    handler.message = [&](uint32_t m, uint32_t w, uint32_t l) { run.OnMessage(m, w, l); };
    handler.command = [](uint32_t) {};
    run.Init();
    int result = loop.RunModal(window);
    run.Destroy();
    handheldBack = view.HandheldBack();
    return result;
}

}  // namespace nuva
