#include "handheld-sim/machine/interrupts.h"

#include "platform/clock/clock.h"

namespace nuva::sim {

double InterruptController::NowLocked() const {
    double scale = TimeScale();
    double real = 0;
    if (scale > 0.0) {
        real = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start_).count() /
               scale;
    }
    return real + skippedMs_;
}

void InterruptController::Start() {
    std::lock_guard<std::mutex> lock(mu_);
    masked_.store(false);
    start_ = std::chrono::steady_clock::now();
    skippedMs_ = 0;
    maskedMs_ = 0;
    maskedAt_ = 0;
    held_ = false;
    frozenReads_ = 0;
    awaySince_.reset();
}

bool InterruptController::Mask(bool flashAway) {
    std::lock_guard<std::mutex> lock(mu_);
    if (masked_.load()) {
        return false;
    }
    maskedAt_ = NowLocked();
    masked_.store(true);
    held_ = false;
    frozenReads_ = 0;
    awaySince_.reset();
    return flashAway;
}

bool InterruptController::Unmask(bool busyRead) {
    std::lock_guard<std::mutex> lock(mu_);
    if (!masked_.load()) {
        return false;
    }
    double now = NowLocked();
    bool held = held_ || busyRead || TickOf(now) != TickOf(maskedAt_);
    maskedMs_ += now - maskedAt_;
    if (held) {
        maskedMs_ -= kTickMs;  // the held tick runs now and counts
    }
    masked_.store(false);
    held_ = false;
    awaySince_.reset();
    return held;
}

bool InterruptController::Force() {
    std::lock_guard<std::mutex> lock(mu_);
    skippedMs_ += kTickMs;
    if (masked_.load()) {
        held_ = true;
        return false;
    }
    return true;
}

bool InterruptController::AfterAccess(bool flashAway, bool busyRead) {
    if (masked_.load(std::memory_order_relaxed)) {
        return false;  // a masked program's busy reads are told at the unmask
    }
    if (busyRead) {
        return true;
    }
    if (!flashAway) {
        if (awaySince_) {
            std::lock_guard<std::mutex> lock(mu_);
            awaySince_.reset();
        }
        return false;
    }
    std::lock_guard<std::mutex> lock(mu_);
    double now = NowLocked();
    if (!awaySince_) {
        awaySince_ = now;
        return false;
    }
    return TickOf(now) != TickOf(*awaySince_);
}

uint32_t InterruptController::Count(bool& hung) {
    std::lock_guard<std::mutex> lock(mu_);
    hung = false;
    double count;
    if (masked_.load()) {
        count = maskedAt_ - maskedMs_;
        hung = ++frozenReads_ >= kFrozenCountReads;
    } else {
        count = NowLocked() - maskedMs_;
    }
    return static_cast<uint32_t>(static_cast<uint64_t>(count));
}

void InterruptController::Slept(uint32_t ms) {
    if (TimeScale() > 0.0) {
        return;  // the scaled clock has moved on by itself
    }
    std::lock_guard<std::mutex> lock(mu_);
    skippedMs_ += ms;
}

}  // namespace nuva::sim
