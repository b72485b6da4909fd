#include "handheld-sim/machine/message_boxes.h"

namespace nuva::sim {

bool MessageBoxes::Show(MessageBoxState box, const std::function<bool()>& stopped) {
    std::unique_lock<std::mutex> lock(mu_);
    cv_.wait(lock, [&] { return !box_ || stopped(); });
    if (stopped()) {
        return false;
    }
    box_ = std::move(box);
    uint64_t serial = ++serial_;
    cv_.notify_all();
    cv_.wait(lock, [&] { return !box_ || serial_ != serial || stopped(); });
    return !stopped();
}

std::optional<MessageBoxState> MessageBoxes::Up() const {
    std::lock_guard<std::mutex> lock(mu_);
    return box_;
}

bool MessageBoxes::PressOk() {
    std::lock_guard<std::mutex> lock(mu_);
    if (!box_) {
        return false;
    }
    box_.reset();
    cv_.notify_all();
    return true;
}

bool MessageBoxes::WaitUntilUp(std::chrono::milliseconds timeout) {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, timeout, [&] { return box_.has_value(); });
}

void MessageBoxes::Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    box_.reset();
    cv_.notify_all();
}

void MessageBoxes::Wake() {
    std::lock_guard<std::mutex> lock(mu_);
    cv_.notify_all();
}

}  // namespace nuva::sim
