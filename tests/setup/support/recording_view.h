// A page view that records what its controller does to it, for driving a
// controller tick by tick in tests. Nested dialogs are really made over
// recording views of their own (so their texts can be checked) and answer
// with the result scripted for their template, or with the result their
// controller ended them with while opening.
#pragma once

#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "setup/frame/page.h"

namespace nuva::test {

struct Posted {
    uint32_t message;
    uint32_t wParam;
    uint32_t lParam;
};

class RecordingPageView : public PageView {
  public:
    // DialogHost
    int OpenDialog(uint32_t templateId, const PageMaker& make) override;
    void MessageBox(const std::string& text, const std::string& caption) override;

    // MessageSink: any thread.
    void Post(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    bool IsAlive() const override { return true; }

    void ArmTimer(uint32_t id, uint32_t periodMs) override { armed[id] = periodMs; }
    void KillTimer(uint32_t id) override { armed.erase(id); }
    void SetTitle(const std::string& text) override { title = text; }
    void SetText(uint32_t control, const std::string& text) override { texts[control] = text; }
    void ShowControl(uint32_t control, bool shown) override { shownControls[control] = shown; }
    void EnableControl(uint32_t control, bool enabled) override { enabledControls[control] = enabled; }
    void SetChecked(uint32_t control, bool checked) override { checkedControls[control] = checked; }
    bool IsChecked(uint32_t control) const override;
    void SetBar(uint32_t control, uint32_t percent) override { bars[control] = percent; }
    void SetTextColour(uint32_t control, Rgb colour) override { colours[control] = colour; }
    void SetUnderlined(uint32_t control) override { underlined.push_back(control); }
    void DrawFrame(uint32_t control, Rgb colour, int grow) override;
    void AddSystemMenuItem(uint32_t command, const std::string& text) override;
    void Beep(uint32_t type) override { events.push_back("beep " + std::to_string(type)); }
    void HidePage() override { events.push_back("hide"); }
    void EndDialog(int result) override;
    void UnownedMessageBox(const std::string& text, const std::string& caption) override;
    std::optional<std::string> AskFileName(const FileQuestion& question) override;
    uint32_t OpenInBrowser(const std::string& target) override;
    void Trace(const std::string& line) override { traces.push_back(line); }

    // Delivers the messages posted so far to `controller`, in order; returns
    // how many.
    int DeliverPosted(PageController& controller);
    // Ticks timer `id` when it is armed; false when it is not.
    bool Tick(PageController& controller, uint32_t id);
    bool Armed(uint32_t id) const { return armed.count(id) != 0; }
    bool Enabled(uint32_t control) const;
    bool Shown(uint32_t control) const;
    // The events that opened a dialog of `templateId` ("dialog 144").
    int Opened(uint32_t templateId) const;
    // The nested dialogs opened so far, with what they showed.
    struct Nested {
        uint32_t templateId = 0;
        std::unique_ptr<RecordingPageView> view;
        std::unique_ptr<PageController> controller;  // kept, so a test can ask it what it was given
        int result = 0;
    };
    const Nested* LastNested(uint32_t templateId) const;

    // Scripted answers.
    std::map<uint32_t, std::deque<int>> dialogResults;   // by template; when none: what the dialog ended with
    std::deque<std::optional<std::string>> fileAnswers;  // when empty: cancelled
    uint32_t browserResult = 0;

    // What was done.
    std::map<uint32_t, uint32_t> armed;  // timer id -> period, while armed
    std::string title;
    std::map<uint32_t, std::string> texts;
    std::map<uint32_t, bool> shownControls;
    std::map<uint32_t, bool> enabledControls;
    std::map<uint32_t, bool> checkedControls;
    std::map<uint32_t, uint32_t> bars;
    std::map<uint32_t, Rgb> colours;
    std::vector<uint32_t> underlined;
    std::vector<std::string> events;  // "dialog 144", "box Caution: ...", "beep 32", ...
    std::vector<FileQuestion> fileQuestions;
    std::vector<std::string> browsed;
    std::vector<std::string> traces;
    std::vector<Nested> nested;
    std::optional<int> endResult;  // what the page was first ended with
    std::vector<int> ends;         // every EndDialog, in order

  private:
    std::mutex postedMutex_;
    std::deque<Posted> posted_;
};

}  // namespace nuva::test
