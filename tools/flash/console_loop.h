// A modal loop for the command-line front end, in the manner of a dialog's
// message loop: windows with periodic timers (on the scaled clock) and posted
// messages, dispatched on the one thread that runs the loop. A window shown
// over another runs a nested loop that keeps dispatching every window's
// timers and messages, as a modal dialog's does.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "setup/link/message_sink.h"

namespace nuva {

class ConsoleWindow;

class WindowHandler {
  public:
    virtual ~WindowHandler() = default;
    virtual void OnTimer(uint32_t id) = 0;
    virtual void OnMessage(uint32_t message, uint32_t wParam, uint32_t lParam) = 0;
};

// A handler made of functions, for windows whose logic lives elsewhere (a
// controller). Posted WM_COMMAND messages (a button pressed by the user the
// front end stands for) go to `command` with the button in wParam.
class CallbackHandler : public WindowHandler {
  public:
    static constexpr uint32_t kCommandMessage = 0x0111;  // WM_COMMAND

    std::function<void(uint32_t)> timer = [](uint32_t) {};
    std::function<void(uint32_t, uint32_t, uint32_t)> message = [](uint32_t, uint32_t, uint32_t) {};
    std::function<void(uint32_t)> command = [](uint32_t) {};

    void OnTimer(uint32_t id) override { timer(id); }
    void OnMessage(uint32_t m, uint32_t wParam, uint32_t lParam) override {
        if (m == kCommandMessage) {
            command(wParam);
        } else {
            message(m, wParam, lParam);
        }
    }
};

class ConsoleLoop {
  public:
    // Dispatches until `window` has ended; returns its result.
    int RunModal(ConsoleWindow& window);

  private:
    friend class ConsoleWindow;
    using Clock = std::chrono::steady_clock;

    void Attach(ConsoleWindow* window);
    void Detach(ConsoleWindow* window);
    // One timer tick or message, or a wait until one is due. Called with the
    // lock held.
    void DispatchOne(std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable wake_;
    std::vector<ConsoleWindow*> windows_;
};

class ConsoleWindow : public MessageSink {
  public:
    ConsoleWindow(ConsoleLoop& loop, WindowHandler& handler);
    ~ConsoleWindow() override;
    ConsoleWindow(const ConsoleWindow&) = delete;
    ConsoleWindow& operator=(const ConsoleWindow&) = delete;

    void ArmTimer(uint32_t id, uint32_t periodMs);
    void KillTimer(uint32_t id);
    void EndModal(int result);
    bool Ended() const;

    // MessageSink: any thread.
    void Post(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    bool IsAlive() const override;

  private:
    friend class ConsoleLoop;
    struct Timer {
        std::chrono::nanoseconds period;
        ConsoleLoop::Clock::time_point due;
    };
    struct Message {
        uint32_t message;
        uint32_t wParam;
        uint32_t lParam;
    };

    ConsoleLoop& loop_;
    WindowHandler& handler_;
    std::map<uint32_t, Timer> timers_;
    std::deque<Message> messages_;
    bool ended_ = false;
    int result_ = 0;
};

}  // namespace nuva
