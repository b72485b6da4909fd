#include "tests/setup/support/recording_view.h"

#include <algorithm>

namespace nuva::test {

int RecordingPageView::OpenDialog(uint32_t templateId, const PageMaker& make) {
    events.push_back("dialog " + std::to_string(templateId));
    Nested entry;
    entry.templateId = templateId;
    entry.view = std::make_unique<RecordingPageView>();
    entry.controller = make(*entry.view);
    PageController& controller = *entry.controller;
    controller.Init();
    entry.view->DeliverPosted(controller);
    auto scripted = dialogResults.find(templateId);
    if (scripted != dialogResults.end() && !scripted->second.empty()) {
        entry.result = scripted->second.front();
        scripted->second.pop_front();
    } else {
        entry.result = entry.view->endResult.value_or(-1);
    }
    controller.Destroy();
    nested.push_back(std::move(entry));
    return nested.back().result;
}

void RecordingPageView::MessageBox(const std::string& text, const std::string& caption) {
    events.push_back("box " + caption + ": " + text);
}

void RecordingPageView::UnownedMessageBox(const std::string& text, const std::string& caption) {
    events.push_back("box " + caption + ": " + text + " (no owner)");
}

void RecordingPageView::Post(uint32_t message, uint32_t wParam, uint32_t lParam) {
    std::lock_guard lock(postedMutex_);
    posted_.push_back({message, wParam, lParam});
}

bool RecordingPageView::IsChecked(uint32_t control) const {
    auto it = checkedControls.find(control);
    return it != checkedControls.end() && it->second;
}

void RecordingPageView::DrawFrame(uint32_t control, Rgb colour, int grow) {
    events.push_back("frame " + std::to_string(control) + " " + std::to_string(colour.r) + "," +
                     std::to_string(colour.g) + "," + std::to_string(colour.b) + " +" + std::to_string(grow));
}

void RecordingPageView::AddSystemMenuItem(uint32_t command, const std::string& text) {
    events.push_back("system-menu " + std::to_string(command) + " " + text);
}

void RecordingPageView::EndDialog(int result) {
    ends.push_back(result);
    if (!endResult) {
        endResult = result;
    }
}

std::optional<std::string> RecordingPageView::AskFileName(const FileQuestion& question) {
    fileQuestions.push_back(question);
    if (fileAnswers.empty()) {
        return std::nullopt;
    }
    std::optional<std::string> answer = fileAnswers.front();
    fileAnswers.pop_front();
    return answer;
}

uint32_t RecordingPageView::OpenInBrowser(const std::string& target) {
    browsed.push_back(target);
    return browserResult;
}

int RecordingPageView::DeliverPosted(PageController& controller) {
    int delivered = 0;
    for (;;) {
        Posted next{};
        {
            std::lock_guard lock(postedMutex_);
            if (posted_.empty()) {
                return delivered;
            }
            next = posted_.front();
            posted_.pop_front();
        }
        controller.OnMessage(next.message, next.wParam, next.lParam);
        ++delivered;
    }
}

bool RecordingPageView::Tick(PageController& controller, uint32_t id) {
    if (!Armed(id)) {
        return false;
    }
    controller.OnTimer(id);
    return true;
}

bool RecordingPageView::Enabled(uint32_t control) const {
    auto it = enabledControls.find(control);
    return it != enabledControls.end() && it->second;
}

bool RecordingPageView::Shown(uint32_t control) const {
    auto it = shownControls.find(control);
    return it != shownControls.end() && it->second;
}

int RecordingPageView::Opened(uint32_t templateId) const {
    const std::string event = "dialog " + std::to_string(templateId);
    return static_cast<int>(std::count(events.begin(), events.end(), event));
}

const RecordingPageView::Nested* RecordingPageView::LastNested(uint32_t templateId) const {
    for (auto it = nested.rbegin(); it != nested.rend(); ++it) {
        if (it->templateId == templateId) {
            return &*it;
        }
    }
    return nullptr;
}

}  // namespace nuva::test
