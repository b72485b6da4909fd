#include "handheld-sim/machine/call_thread.h"

#include <utility>

namespace nuva::sim {

CallThread::~CallThread() {
    {
        std::lock_guard<std::mutex> lock(mu_);
        quit_ = true;
        posted_.notify_all();
    }
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool CallThread::Run(const std::function<void()>& call, const std::function<void()>& leave) {
    std::unique_lock<std::mutex> lock(mu_);
    if (!waiting_) {
        // None yet, or the last one was ended inside its call: it has left
        // its body already and is joined at once.
        if (thread_.joinable()) {
            thread_.join();
        }
        quit_ = false;
        waiting_ = true;
        thread_ = std::thread([this] { Serve(); });
    }
    call_ = &call;
    leave_ = &leave;
    finished_ = false;
    returned_ = false;
    posted_.notify_one();
    done_.wait(lock, [&] { return finished_; });
    return returned_;
}

void CallThread::Serve() {
    // Runs when the thread leaves, at the end or ended inside a call
    // (pthread_exit unwinds through here).
    struct Leave {
        CallThread* owner;
        const std::function<void()>* inCall = nullptr;
        ~Leave() {
            if (inCall != nullptr) {
                (*inCall)();
            }
            std::lock_guard<std::mutex> lock(owner->mu_);
            owner->waiting_ = false;
            if (inCall != nullptr) {
                owner->finished_ = true;
                owner->done_.notify_all();
            }
        }
    } leave{this};
    for (;;) {
        const std::function<void()>* call = nullptr;
        {
            std::unique_lock<std::mutex> lock(mu_);
            posted_.wait(lock, [&] { return quit_ || call_ != nullptr; });
            if (quit_) {
                return;
            }
            call = std::exchange(call_, nullptr);
            leave.inCall = leave_;
        }
        (*call)();
        std::exchange(leave.inCall, nullptr)->operator()();
        std::lock_guard<std::mutex> lock(mu_);
        finished_ = true;
        returned_ = true;
        done_.notify_all();
    }
}

}  // namespace nuva::sim
