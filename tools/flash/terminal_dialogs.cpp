#include "tools/flash/terminal_dialogs.h"

#include "setup/resources/string_ids.h"
#include "setup/resources/string_table.h"
#include "tools/flash/progress_pages.h"

namespace nuva {
namespace {

// The user's own timer: how often the front end looks for a typed answer
// and, after an AC refusal, asks the handheld whether the adapter is back.
constexpr uint32_t kUserTimer = 901;
constexpr uint32_t kUserTimerMs = 100;
constexpr uint32_t kUserTicksPerPowerPoll = 5;  // 500 ms
// A handheld that has not answered this many power queries in a row is
// given up on (the caution's Cancel).
constexpr int kUnansweredQueriesLimit = 20;

class TerminalDialogView : public DialogView {
  public:
    TerminalDialogView(ConsoleWindow& window, Terminal& terminal) : window_(window), terminal_(terminal) {}

    void ArmTimer(uint32_t id, uint32_t periodMs) override { window_.ArmTimer(id, periodMs); }
    void KillTimer(uint32_t id) override { window_.KillTimer(id); }
    void EnableControl(uint32_t, bool) override {}
    void Beep(uint32_t) override {
        terminal_.Line("(beep: the handheld did not answer; press Continue again)");
    }
    void ShowReason(int reasonMode, const ReasonFlags& reasons) override {
        PrintReason(terminal_, reasonMode, reasons);
    }
    void EndDialog(int result) override {
        terminal_.KeepStatus();
        window_.EndModal(result);
    }

  private:
    ConsoleWindow& window_;
    Terminal& terminal_;
};

void Ask(Terminal& terminal, const Answers& answers, const std::string& question) {
    if (answers.AutoYes()) {
        terminal.Line(question + " [y/N] y  (--yes)");
    } else {
        terminal.Prompt(question + " [y/N] ");
    }
}

}  // namespace

void PrintReason(Terminal& terminal, int reasonMode, const ReasonFlags& reasons,
                 const std::string& downgradeLine) {
    terminal.Line("[" + LoadString(string_id::kCaution) + "]");
    terminal.Line(LoadString(ReasonHeadingId(reasonMode)));
    terminal.Block(ReasonListText(reasons, downgradeLine));
}

int AskYesNo(ConsoleLoop& loop, Terminal& terminal, Answers& answers, const std::string& question,
             DialogDevice* watched, int lostMode) {
    CallbackHandler handler;
    ConsoleWindow window(loop, handler);
    handler.timer = [&](uint32_t id) {
        if (id == kDialogWatchTimer) {
            if (watched != nullptr && !watched->IsConnected()) {
                window.KillTimer(kDialogWatchTimer);
                terminal.KeepStatus();
                PrintConnectionLost(terminal, lostMode);
                window.EndModal(4);
            }
            return;
        }
        if (std::optional<bool> answer = answers.Poll()) {
            window.EndModal(*answer ? 1 : 2);
        }
    };
    Ask(terminal, answers, question);
    if (watched != nullptr) {
        window.ArmTimer(kDialogWatchTimer, kDialogWatchTimerMs);
    }
    window.ArmTimer(kUserTimer, kUserTimerMs);
    return loop.RunModal(window);
}

int ShowEraseCaution(ConsoleLoop& loop, Terminal& terminal, Answers& answers, DialogDevice& device,
                     EraseCautionController::Mode mode, CautionEnd& end) {
    using Outcome = EraseCautionController::ContinueOutcome;
    CallbackHandler handler;
    ConsoleWindow window(loop, handler);
    TerminalDialogView view(window, terminal);
    EraseCautionController caution(view, device, mode);

    enum class User { kWatching, kAsking, kWaitingForAc };
    User user = User::kWatching;
    bool controllerTicked = false;
    bool saidWaiting = false;
    uint32_t userTicks = 0;
    int unanswered = 0;
    bool userCancelled = false;
    auto cancel = [&] {
        userCancelled = true;
        caution.OnCancel();
    };
    const std::string question(kEraseCautionQuestion);

    auto ask = [&] {
        user = User::kAsking;
        Ask(terminal, answers, question);
    };
    auto press = [&] {
        caution.OnContinue();
        if (window.Ended()) {
            return;
        }
        if (caution.LastContinue() == Outcome::kQueryFailed && ++unanswered >= kUnansweredQueriesLimit) {
            terminal.Line("The handheld does not answer; the caution is cancelled.");
            cancel();
            return;
        }
        if (caution.LastContinue() == Outcome::kNoAcPower && !answers.AutoYes()) {
            terminal.Line("Connect the AC adapter, then answer again.");
        }
        if (answers.AutoYes()) {
            // As a user would: wait until the handheld reports the adapter,
            // then press Continue again.
            user = User::kWaitingForAc;
            terminal.Status("Waiting for the AC adapter to be connected...");
        } else {
            ask();
        }
    };

    handler.timer = [&](uint32_t id) {
        if (id == kDialogWatchTimer) {
            controllerTicked = true;
            caution.OnTimer(id);
            return;
        }
        if (id != kUserTimer) {
            return;
        }
        ++userTicks;
        switch (user) {
            case User::kWatching:
                if (caution.ContinueEnabled()) {
                    if (answers.AutoYes()) {
                        Ask(terminal, answers, question);
                        press();
                    } else {
                        ask();
                    }
                } else if (controllerTicked && !saidWaiting) {
                    saidWaiting = true;
                    terminal.Status(
                        "Waiting for the AC adapter to be connected (Continue is enabled once it is)...");
                }
                break;
            case User::kAsking:
                if (std::optional<bool> answer = answers.Poll()) {
                    if (!*answer) {
                        cancel();
                    } else if (caution.ContinueEnabled()) {
                        press();
                    } else {
                        terminal.Line("Continue is not enabled: the handheld runs on battery.");
                        user = User::kWatching;
                        saidWaiting = false;
                    }
                }
                break;
            case User::kWaitingForAc: {
                if (userTicks % kUserTicksPerPowerPoll != 0) {
                    break;
                }
                if (!device.IsConnected()) {
                    caution.OnCancel();  // as its tick would: the page shown next reports the lost link
                    break;
                }
                DeviceInfo info;
                if (device.QueryDeviceInfo(&info) != 0) {
                    if (++unanswered >= kUnansweredQueriesLimit) {
                        terminal.Line("The handheld does not answer; the caution is cancelled.");
                        cancel();
                    }
                } else if (info.AcOnline != 0) {
                    Ask(terminal, answers, question);
                    press();
                }
                break;
            }
        }
    };

    terminal.Line("[" + LoadString(string_id::kCaution) + "]");
    terminal.Line(std::string(kEraseCautionText));
    terminal.Line(std::string(kEraseCautionAcHint));
    caution.Init();
    window.ArmTimer(kUserTimer, kUserTimerMs);
    int result = loop.RunModal(window);
    caution.Destroy();
    if (result == 1) {
        end = CautionEnd::kContinued;
    } else if (caution.LastContinue() == Outcome::kLowBattery) {
        end = CautionEnd::kRefused;
    } else {
        end = userCancelled ? CautionEnd::kCancelled : CautionEnd::kByItsTick;
    }
    return result;
}

int ShowOsChangeNotice(ConsoleLoop& loop, Terminal& terminal, Answers& answers, DialogDevice& device) {
    CallbackHandler handler;
    ConsoleWindow window(loop, handler);
    TerminalDialogView view(window, terminal);
    OsChangeNoticeController notice(view, device);
    handler.timer = [&](uint32_t id) {
        if (id == kDialogWatchTimer) {
            notice.OnTimer(id);
        } else if (std::optional<bool> answer = answers.Poll()) {
            *answer ? notice.OnContinue() : notice.OnCancel();
        }
    };
    terminal.Line("[" + LoadString(string_id::kCaution) + "]");
    terminal.Block(OsChangeNoticeText());
    terminal.Line("Notice :");
    terminal.Line(std::string(kOsChangeNoticeClickText));
    notice.Init();
    Ask(terminal, answers, "Continue");
    window.ArmTimer(kUserTimer, kUserTimerMs);
    int result = loop.RunModal(window);
    notice.Destroy();
    return result;
}

}  // namespace nuva
