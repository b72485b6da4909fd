// The message box of the handheld's user interface, as its programs see it:
// MessageBoxW puts one box up (a second waits until the first is gone) and
// returns IDOK when the user presses OK. The user here is the control
// interface or a test (PressOk). A restart takes the box away.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "handheld-sim/machine/handheld.h"

namespace nuva::sim {

class MessageBoxes {
  public:
    // Puts `box` up once no other box is, and waits until OK is pressed;
    // false, at once, when `stopped` holds (checked whenever Wake is called).
    bool Show(MessageBoxState box, const std::function<bool()>& stopped);
    std::optional<MessageBoxState> Up() const;
    bool PressOk();
    bool WaitUntilUp(std::chrono::milliseconds timeout);
    // The box goes away without an answer (a restart).
    void Clear();
    // The waiters look at their stop condition again.
    void Wake();

  private:
    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::optional<MessageBoxState> box_;
    uint64_t serial_ = 0;
};

}  // namespace nuva::sim
