// The one clock that every pause, timer period, poll interval and modelled
// duration of the system goes through, on the desktop and on the emulated
// handheld alike.
//
// NUVA_TIME_SCALE multiplies every duration: 1 (the default) is real time,
// 0.01 makes a whole update take seconds, 0 removes the waiting but keeps the
// order of events. Code states durations as the system means them (the 100 ms
// pause after a transfer chunk, the flasher's 2-second waiting screens) and
// lets this clock scale them.
#pragma once

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>

namespace nuva {

// The scale in force: NUVA_TIME_SCALE read once, at the first call. A value
// that is not a finite non-negative number is ignored (scale 1).
double TimeScale();

// Overrides the scale for this process (tests and benchmarks that must not
// depend on the environment).
void SetTimeScale(double scale);

// A nominal duration turned into the real time to wait.
std::chrono::nanoseconds Scaled(std::chrono::nanoseconds nominal);
inline std::chrono::nanoseconds ScaledMs(uint32_t milliseconds) {
    return Scaled(std::chrono::milliseconds(milliseconds));
}

// A nominal poll period turned into real time, a millisecond at least: a
// loop that polls another party (the cable, the handheld) must not take the
// processor or the cable from the work it waits for when the clock is
// unscaled (scale 0).
inline std::chrono::nanoseconds ScaledPollMs(uint32_t milliseconds) {
    return std::max<std::chrono::nanoseconds>(ScaledMs(milliseconds), std::chrono::milliseconds(1));
}

// Pauses the calling thread for a nominal number of milliseconds. At scale 0
// it only yields, so that other threads still get their turn in order.
void ScaledSleepMs(uint32_t milliseconds);

// Waits on `cv` for at most a nominal number of milliseconds or until `done`
// holds; returns done(). Used where a pause must end early when told to stop.
template <class Predicate>
bool ScaledWaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock, uint32_t milliseconds,
                   Predicate done) {
    return cv.wait_for(lock, ScaledMs(milliseconds), done);
}

}  // namespace nuva
