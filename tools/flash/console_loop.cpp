#include "tools/flash/console_loop.h"

#include <algorithm>

#include "platform/clock/clock.h"

namespace nuva {
namespace {

// Timers never tick faster than this in real time, so that a run at time
// scale 0 keeps its order of events without spinning.
constexpr std::chrono::milliseconds kShortestTick{1};

}  // namespace

void ConsoleLoop::Attach(ConsoleWindow* window) {
    std::lock_guard lock(mutex_);
    windows_.push_back(window);
}

void ConsoleLoop::Detach(ConsoleWindow* window) {
    std::lock_guard lock(mutex_);
    windows_.erase(std::remove(windows_.begin(), windows_.end(), window), windows_.end());
}

int ConsoleLoop::RunModal(ConsoleWindow& window) {
    std::unique_lock lock(mutex_);
    while (!window.ended_) {
        DispatchOne(lock);
    }
    return window.result_;
}

void ConsoleLoop::DispatchOne(std::unique_lock<std::mutex>& lock) {
    // Posted messages first, in the order posted, window by window.
    for (ConsoleWindow* window : windows_) {
        if (!window->messages_.empty()) {
            ConsoleWindow::Message m = window->messages_.front();
            window->messages_.pop_front();
            lock.unlock();
            window->handler_.OnMessage(m.message, m.wParam, m.lParam);
            lock.lock();
            return;
        }
    }
    // Then the timer that is due first.
    ConsoleWindow* owner = nullptr;
    uint32_t id = 0;
    Clock::time_point due = Clock::time_point::max();
    for (ConsoleWindow* window : windows_) {
        for (const auto& [timerId, timer] : window->timers_) {
            if (timer.due < due) {
                due = timer.due;
                owner = window;
                id = timerId;
            }
        }
    }
    if (owner != nullptr && due <= Clock::now()) {
        auto& timer = owner->timers_.at(id);
        timer.due = Clock::now() + std::max<std::chrono::nanoseconds>(timer.period, kShortestTick);
        lock.unlock();
        owner->handler_.OnTimer(id);
        lock.lock();
        return;
    }
    if (owner != nullptr) {
        wake_.wait_until(lock, due);
    } else {
        wake_.wait(lock);
    }
}

ConsoleWindow::ConsoleWindow(ConsoleLoop& loop, WindowHandler& handler) : loop_(loop), handler_(handler) {
    loop_.Attach(this);
}

ConsoleWindow::~ConsoleWindow() {
    loop_.Detach(this);
}

void ConsoleWindow::ArmTimer(uint32_t id, uint32_t periodMs) {
    std::lock_guard lock(loop_.mutex_);
    auto period = std::max<std::chrono::nanoseconds>(ScaledMs(periodMs), kShortestTick);
    timers_[id] = Timer{period, ConsoleLoop::Clock::now() + period};
    loop_.wake_.notify_all();
}

void ConsoleWindow::KillTimer(uint32_t id) {
    std::lock_guard lock(loop_.mutex_);
    timers_.erase(id);
}

void ConsoleWindow::EndModal(int result) {
    std::lock_guard lock(loop_.mutex_);
    if (!ended_) {
        ended_ = true;
        result_ = result;
        timers_.clear();
    }
    loop_.wake_.notify_all();
}

bool ConsoleWindow::Ended() const {
    std::lock_guard lock(loop_.mutex_);
    return ended_;
}

void ConsoleWindow::Post(uint32_t message, uint32_t wParam, uint32_t lParam) {
    std::lock_guard lock(loop_.mutex_);
    if (ended_) {
        return;  // the window is gone: nothing reaches it any more
    }
    messages_.push_back({message, wParam, lParam});
    loop_.wake_.notify_all();
}

bool ConsoleWindow::IsAlive() const {
    return !Ended();
}

}  // namespace nuva
