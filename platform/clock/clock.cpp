#include "platform/clock/clock.h"

#include <atomic>
#include <cmath>
#include <cstdlib>
#include <thread>

namespace nuva {
namespace {

double ScaleFromEnvironment() {
    const char* text = std::getenv("NUVA_TIME_SCALE");
    if (text == nullptr || *text == '\0') {
        return 1.0;
    }
    char* end = nullptr;
    double value = std::strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(value) || value < 0.0) {
        return 1.0;
    }
    return value;
}

std::atomic<double>& ScaleCell() {
    static std::atomic<double> scale{ScaleFromEnvironment()};
    return scale;
}

}  // namespace

double TimeScale() {
    return ScaleCell().load(std::memory_order_relaxed);
}

void SetTimeScale(double scale) {
    ScaleCell().store(std::isfinite(scale) && scale >= 0.0 ? scale : 1.0, std::memory_order_relaxed);
}

std::chrono::nanoseconds Scaled(std::chrono::nanoseconds nominal) {
    double real = static_cast<double>(nominal.count()) * TimeScale();
    return std::chrono::nanoseconds(static_cast<int64_t>(real));
}

void ScaledSleepMs(uint32_t milliseconds) {
    auto real = ScaledMs(milliseconds);
    if (real.count() <= 0) {
        std::this_thread::yield();
        return;
    }
    std::this_thread::sleep_for(real);
}

}  // namespace nuva
