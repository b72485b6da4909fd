// A desktop for running the whole program without widgets: each dialog is
// a recording page whose timers run on a virtual clock, whose posted
// messages (also from worker threads) are delivered in order, and on which
// a scripted user acts. What opened, in which order, and every message box
// are recorded.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "setup/program/program.h"
#include "tests/setup/support/recording_view.h"

namespace nuva::test {

class ScriptedDesktop;

// A dialog as the scripted desktop shows it.
class ScriptedPage final : public RecordingPageView {
  public:
    ScriptedPage(ScriptedDesktop& desktop, uint32_t templateId)
        : desktop_(desktop), templateId_(templateId) {}

    int OpenDialog(uint32_t templateId, const PageMaker& make) override;
    void MessageBox(const std::string& text, const std::string& caption) override;
    void UnownedMessageBox(const std::string& text, const std::string& caption) override;
    void ArmTimer(uint32_t id, uint32_t periodMs) override;
    void KillTimer(uint32_t id) override;

    uint32_t TemplateId() const { return templateId_; }
    // The user presses a control of the page (delivered before any timer).
    void Press(uint32_t control) { presses_.push_back(control); }
    // For the user's script: whether it has acted on this showing yet.
    bool acted = false;

    // Runs the page until its controller ends it; -1 when it neither ends
    // nor has anything left to wait for.
    int Run(PageController& controller);

  private:
    ScriptedDesktop& desktop_;
    uint32_t templateId_;
    std::map<uint32_t, uint64_t> due_;  // timer id -> virtual due time (ms)
    std::vector<uint32_t> presses_;
};

class ScriptedDesktop final : public ProgramHost {
  public:
    // What the user does on a page of `templateId`: called once the page has
    // opened and again after every event delivered to it.
    using Action = std::function<void(ScriptedPage&)>;

    int OpenDialog(uint32_t templateId, const PageMaker& make) override;
    void MessageBox(const std::string& text, const std::string& caption) override;
    void Wait(uint32_t milliseconds) override { now += milliseconds; }

    std::map<uint32_t, Action> actions;
    // Every dialog opened, in order, and every message box ("caption: text").
    std::vector<uint32_t> opened;
    std::vector<std::string> boxes;
    // Every dialog once it has ended: its title and texts as it left them.
    struct Closed {
        uint32_t templateId = 0;
        std::string title;
        std::map<uint32_t, std::string> texts;
    };
    std::vector<Closed> closed;
    // Pages that neither ended nor had anything left to wait for, or stayed
    // open past the real-time limit: a test that meets one has gone wrong.
    std::vector<uint32_t> stuck;
    uint64_t now = 0;  // the virtual clock, in milliseconds

  private:
    friend class ScriptedPage;
    int depth_ = 0;
};

}  // namespace nuva::test
