#include "tests/setup/support/scripted_desktop.h"

#include <thread>

namespace nuva::test {
namespace {

// How long a page with nothing armed waits (real time) for a worker's post,
// and how long any page may stay open in real time.
constexpr auto kIdleLimit = std::chrono::seconds(10);
constexpr auto kPageLimit = std::chrono::seconds(60);
// Virtual time runs far ahead of a worker thread's real time; after this
// many ticks in a row with nothing else happening, each tick gives the
// worker a moment first.
constexpr int kTicksBeforeYielding = 20;

}  // namespace

int ScriptedDesktop::OpenDialog(uint32_t templateId, const PageMaker& make) {
    opened.push_back(templateId);
    ScriptedPage page(*this, templateId);
    std::unique_ptr<PageController> controller = make(page);
    ++depth_;
    int result = page.Run(*controller);
    --depth_;
    closed.push_back({templateId, page.title, page.texts});
    return result;
}

void ScriptedDesktop::MessageBox(const std::string& text, const std::string& caption) {
    boxes.push_back(caption + ": " + text);
}

int ScriptedPage::OpenDialog(uint32_t templateId, const PageMaker& make) {
    return desktop_.OpenDialog(templateId, make);
}

void ScriptedPage::MessageBox(const std::string& text, const std::string& caption) {
    RecordingPageView::MessageBox(text, caption);
    desktop_.MessageBox(text, caption);
}

void ScriptedPage::UnownedMessageBox(const std::string& text, const std::string& caption) {
    RecordingPageView::UnownedMessageBox(text, caption);
    desktop_.MessageBox(text, caption);
}

void ScriptedPage::ArmTimer(uint32_t id, uint32_t periodMs) {
    RecordingPageView::ArmTimer(id, periodMs);
    due_[id] = desktop_.now + (periodMs == 0 ? 1 : periodMs);
}

void ScriptedPage::KillTimer(uint32_t id) {
    RecordingPageView::KillTimer(id);
    due_.erase(id);
}

int ScriptedPage::Run(PageController& controller) {
    auto act = [&] {
        auto action = desktop_.actions.find(templateId_);
        if (action != desktop_.actions.end()) {
            action->second(*this);
        }
    };
    controller.Init();
    act();
    const auto pageDeadline = std::chrono::steady_clock::now() + kPageLimit;
    int ticksInARow = 0;
    while (!endResult && std::chrono::steady_clock::now() < pageDeadline) {
        if (!presses_.empty()) {
            uint32_t control = presses_.front();
            presses_.erase(presses_.begin());
            ticksInARow = 0;
            controller.OnCommand(control);
        } else if (DeliverPosted(controller) > 0) {
            ticksInARow = 0;
        } else if (!due_.empty()) {
            auto next = due_.begin();
            for (auto it = due_.begin(); it != due_.end(); ++it) {
                if (it->second < next->second) {
                    next = it;
                }
            }
            if (++ticksInARow > kTicksBeforeYielding) {
                std::this_thread::sleep_for(std::chrono::microseconds(200));
                if (DeliverPosted(controller) > 0) {
                    ticksInARow = 0;
                    continue;
                }
            }
            uint32_t id = next->first;
            desktop_.now = std::max(desktop_.now, next->second);
            next->second = desktop_.now + armed.at(id);
            controller.OnTimer(id);
        } else {
            // Only a worker thread can move the page on now.
            auto deadline = std::chrono::steady_clock::now() + kIdleLimit;
            int delivered = 0;
            while (delivered == 0 && std::chrono::steady_clock::now() < deadline) {
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
                delivered = DeliverPosted(controller);
            }
            if (delivered == 0) {
                break;
            }
        }
        if (!endResult) {
            act();
        }
    }
    controller.Destroy();
    if (!endResult) {
        desktop_.stuck.push_back(templateId_);
    }
    return endResult.value_or(-1);
}

}  // namespace nuva::test
