// Setup's dialogs on the terminal: a view for any dialog template that
// writes what the page shows (its caption, its texts, its progress) and a
// host that runs each dialog's controller in the console loop, as a modal
// dialog runs in a window's message loop. The views decide nothing; what is
// pressed when is the business of the user the front end stands for
// (TerminalUser).
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "setup/frame/page.h"
#include "setup/program/program.h"
#include "tools/flash/console_loop.h"
#include "tools/flash/json_events.h"
#include "tools/flash/terminal.h"

namespace nuva {

class TerminalPage;

// The person in front of the terminal: told what each page does, presses
// its buttons and answers its questions.
class TerminalUser {
  public:
    virtual ~TerminalUser() = default;
    // The page has opened (its controller's Init has run).
    virtual void Opened(TerminalPage& page) = 0;
    // A control of the page has become enabled.
    virtual void Enabled(TerminalPage& page, uint32_t control) = 0;
    // The user's own timer, every 100 ms while the page is open.
    virtual void Tick(TerminalPage& page) = 0;
    // The page beeped (the handheld did not answer a button's question).
    virtual void Beeped(TerminalPage& page) = 0;
    // A nested dialog or message box is about to open over the page (0 for
    // a message box), or the program opens one with no page (page null).
    virtual void Opening(TerminalPage* page, uint32_t templateId) = 0;
    // The page has ended with `result`.
    virtual void Ended(TerminalPage& page, int result) = 0;
    // A message box was shown, over `page` or over nothing.
    virtual void Boxed(TerminalPage* page, const std::string& text) = 0;
    // The Save As or Open dialog: the file chosen, or nothing.
    virtual std::optional<std::string> ChooseFile(TerminalPage& page, const FileQuestion& question) = 0;
};

class TerminalHost final : public ProgramHost {
  public:
    // `shortestWait`: a pause of the program lasts at least this long (real
    // time), so that a handheld still starting on its cable is waited for.
    TerminalHost(ConsoleLoop& loop, Terminal& terminal, TerminalUser& user,
                 std::chrono::nanoseconds shortestWait = {})
        : loop_(loop), terminal_(terminal), user_(user), shortestWait_(shortestWait) {}

    int OpenDialog(uint32_t templateId, const PageMaker& make) override;
    void MessageBox(const std::string& text, const std::string& caption) override;
    void Wait(uint32_t milliseconds) override;

    // A dialog opened over `owner` (null: over the desktop).
    int Open(TerminalPage* owner, uint32_t templateId, const PageMaker& make);
    void Box(TerminalPage* owner, const std::string& text, const std::string& caption);

    Terminal& Out() { return terminal_; }
    ConsoleLoop& Loop() { return loop_; }
    TerminalUser& User() { return user_; }
    // Where the machine-readable events go (off unless set).
    void SetEvents(FlashEvents& events) { events_ = &events; }
    FlashEvents& Events() { return *events_; }

    // What the program showed, in order: the dialogs by template and the
    // message boxes (template 0) with their texts, so that what a run came
    // to can be explained after it.
    struct Shown {
        uint32_t templateId = 0;
        std::string text;  // a message box's text
    };
    const std::vector<Shown>& History() const { return history_; }
    bool Showed(uint32_t templateId) const;
    bool ShowedBox(const std::string& text) const;

  private:
    ConsoleLoop& loop_;
    Terminal& terminal_;
    TerminalUser& user_;
    std::chrono::nanoseconds shortestWait_;
    FlashEvents off_;
    FlashEvents* events_ = &off_;
    std::vector<Shown> history_;
};

class TerminalPage final : public PageView, private WindowHandler {
  public:
    static constexpr uint32_t kUserTimer = 901;
    static constexpr uint32_t kUserTimerMs = 100;

    TerminalPage(TerminalHost& host, uint32_t templateId);

    // Runs `controller` in the console loop until it ends the page.
    int Run(PageController& controller);

    uint32_t TemplateId() const { return templateId_; }
    // What the page shows now.
    std::string Text(uint32_t control) const;
    bool Enabled(uint32_t control) const;
    bool Shown(uint32_t control) const;
    // The user presses a control (a button, a check box), Esc, or the
    // close box: delivered in the page's loop, as a click would be.
    void Press(uint32_t control);
    void PressEscape();
    bool Ended() const { return window_.Ended(); }
    Terminal& Out() { return host_.Out(); }
    ConsoleLoop& Loop() { return host_.Loop(); }
    FlashEvents& Events() { return host_.Events(); }
    // The two columns of an information page, once, when they hold values.
    void PrintColumns();

    // DialogHost
    int OpenDialog(uint32_t templateId, const PageMaker& make) override;
    void MessageBox(const std::string& text, const std::string& caption) override;
    // MessageSink
    void Post(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        window_.Post(message, wParam, lParam);
    }
    bool IsAlive() const override { return window_.IsAlive(); }
    // PageView
    void ArmTimer(uint32_t id, uint32_t periodMs) override { window_.ArmTimer(id, periodMs); }
    void KillTimer(uint32_t id) override { window_.KillTimer(id); }
    void SetTitle(const std::string& text) override;
    void SetText(uint32_t control, const std::string& text) override;
    void ShowControl(uint32_t control, bool shown) override;
    void EnableControl(uint32_t control, bool enabled) override;
    void SetChecked(uint32_t control, bool checked) override { checked_[control] = checked; }
    bool IsChecked(uint32_t control) const override;
    void SetBar(uint32_t control, uint32_t percent) override;
    void SetTextColour(uint32_t, Rgb) override {}
    void SetUnderlined(uint32_t) override {}
    void DrawFrame(uint32_t, Rgb, int) override {}
    void AddSystemMenuItem(uint32_t, const std::string&) override {}
    void Beep(uint32_t) override;
    void HidePage() override {}
    void EndDialog(int result) override;
    void UnownedMessageBox(const std::string& text, const std::string& caption) override;
    std::optional<std::string> AskFileName(const FileQuestion& question) override;
    uint32_t OpenInBrowser(const std::string& target) override;
    void Trace(const std::string&) override {}

  private:
    void OnTimer(uint32_t id) override;
    void OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    // Every text the page shows, in its template's order, as lines (a
    // label and its value on one line).
    std::vector<std::string> ShownTexts() const;
    // The page's caption and every text it shows.
    void PrintTexts();
    // The page's opening, as an event.
    void ReportOpened();
    // The page's progress bars and status line, as one status line.
    void Redraw();

    TerminalHost& host_;
    uint32_t templateId_;
    PageController* controller_ = nullptr;
    ConsoleWindow window_;
    std::map<uint32_t, std::string> texts_;
    std::map<uint32_t, bool> enabled_;
    std::map<uint32_t, bool> shown_;
    std::map<uint32_t, bool> checked_;
    std::map<uint32_t, uint32_t> bars_;
    bool opened_ = false;
    bool columnsPrinted_ = false;
};

// A message box as the terminal shows it.
void PrintMessageBox(Terminal& terminal, const std::string& caption, const std::string& text);

}  // namespace nuva
