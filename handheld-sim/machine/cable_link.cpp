#include "handheld-sim/machine/cable_link.h"

namespace nuva::sim {

void CableLink::SetPlugged(bool plugged) {
    std::lock_guard<std::mutex> lock(mu_);
    plugged_ = plugged;
}

bool CableLink::Plugged() const {
    std::lock_guard<std::mutex> lock(mu_);
    return plugged_;
}

void CableLink::Note(bool available) {
    std::lock_guard<std::mutex> lock(mu_);
    if (available != shown_) {
        shown_ = available;
        ++generation_;
        events_.push_back(available);
        cv_.notify_all();
    }
}

void CableLink::Deliver() {
    // The listener lock is held while the changes are handed over, so that
    // the listener sees them in the order they happened.
    std::lock_guard<std::mutex> listening(listenerMu_);
    for (;;) {
        std::vector<bool> events;
        {
            std::lock_guard<std::mutex> lock(mu_);
            events.swap(events_);
        }
        if (events.empty()) {
            return;
        }
        for (bool available : events) {
            if (listener_) {
                listener_(available);
            }
        }
    }
}

bool CableLink::Available() const {
    std::lock_guard<std::mutex> lock(mu_);
    return shown_;
}

uint64_t CableLink::Generation() const {
    std::lock_guard<std::mutex> lock(mu_);
    return generation_;
}

bool CableLink::WaitForChange(uint64_t seen, std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, timeout, [&] { return generation_ != seen; });
}

void CableLink::SetListener(std::function<void(bool)> listener) {
    std::lock_guard<std::mutex> lock(listenerMu_);
    listener_ = std::move(listener);
}

}  // namespace nuva::sim
