#include "setup/runs/worker_slot.h"

#include <utility>

#include "platform/clock/clock.h"

namespace nuva {

struct WorkerContext::State : MessageSink {
    mutable std::mutex mutex;
    std::condition_variable changed;
    MessageSink* page = nullptr;  // null once the gate is closed
    bool stop = false;
    bool finished = false;

    void Post(uint32_t message, uint32_t wParam, uint32_t lParam) override {
        std::lock_guard lock(mutex);
        if (page != nullptr) {
            page->Post(message, wParam, lParam);
        }
    }
    bool IsAlive() const override {
        std::lock_guard lock(mutex);
        return page != nullptr && page->IsAlive();
    }
};

WorkerContext::WorkerContext(std::shared_ptr<State> state) : state_(std::move(state)) {}

bool WorkerContext::StopRequested() const {
    std::lock_guard lock(state_->mutex);
    return state_->stop;
}

bool WorkerContext::Pause(uint32_t milliseconds) {
    std::unique_lock lock(state_->mutex);
    if (state_->stop) {
        return false;
    }
    if (ScaledMs(milliseconds).count() <= 0) {
        lock.unlock();
        std::this_thread::yield();
        return !StopRequested();
    }
    return !ScaledWaitFor(state_->changed, lock, milliseconds, [this] { return state_->stop; });
}

void WorkerContext::Post(uint32_t message, uint32_t wParam, uint32_t lParam) {
    state_->Post(message, wParam, lParam);
}

MessageSink* WorkerContext::Sink() {
    return state_.get();
}

namespace {

bool LaunchThread(std::function<void()> body) {
    try {
        std::thread(std::move(body)).detach();
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

}  // namespace

WorkerSlot::WorkerSlot() : launcher_(LaunchThread) {}
WorkerSlot::WorkerSlot(Launcher launcher) : launcher_(std::move(launcher)) {}
WorkerSlot::~WorkerSlot() {
    Stop(0);
}

bool WorkerSlot::Start(MessageSink& page, std::function<void(WorkerContext&)> body) {
    Stop(0);
    auto state = std::make_shared<WorkerContext::State>();
    state->page = &page;
    bool started = launcher_([state, body = std::move(body)] {
        WorkerContext context(state);
        body(context);
        std::lock_guard lock(state->mutex);
        state->finished = true;
        state->changed.notify_all();
    });
    if (started) {
        current_ = std::move(state);
    }
    return started;
}

void WorkerSlot::Stop(uint32_t waitMs) {
    if (!current_) {
        return;
    }
    auto state = std::move(current_);
    std::unique_lock lock(state->mutex);
    bool ended = ScaledWaitFor(state->changed, lock, waitMs, [&] { return state->finished; });
    if (ended) {
        return;
    }
    state->page = nullptr;
    state->stop = true;
    state->changed.notify_all();
    lock.unlock();
    ScaledSleepMs(100);
}

bool WorkerSlot::Running() const {
    if (!current_) {
        return false;
    }
    std::lock_guard lock(current_->mutex);
    return !current_->finished;
}

}  // namespace nuva
