// Waiting for something other threads or processes bring about, without
// guessing a sleep: the condition is polled until it holds or a deadline in
// real time passes.
#pragma once

#include <chrono>
#include <functional>

namespace nuva::testing {

// True as soon as `condition` holds; false when it still does not after
// `limit` (it is asked once more at the deadline, so a slow machine that
// reaches the deadline while the condition became true still passes).
bool Eventually(const std::function<bool()>& condition,
                std::chrono::milliseconds limit = std::chrono::seconds(5),
                std::chrono::milliseconds poll = std::chrono::milliseconds(1));

}  // namespace nuva::testing
