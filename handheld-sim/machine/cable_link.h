// The cable as the handheld's side of it: whether it is plugged, and whether
// the link is up (plugged, started, the USB and serial drivers loaded, not
// crashed, interrupts enabled: the machine decides and tells Note). Every
// change of the link is counted and handed to the listener (the cable
// endpoint) in the order it happened.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <vector>

namespace nuva::sim {

class CableLink {
  public:
    void SetPlugged(bool plugged);
    bool Plugged() const;
    // Records whether the link is up now; a change is counted and queued.
    void Note(bool available);
    // Hands the queued changes to the listener, in order. Called without the
    // machine's locks, as the listener may call back into the handheld.
    void Deliver();

    bool Available() const;
    uint64_t Generation() const;
    bool WaitForChange(uint64_t seen, std::chrono::milliseconds timeout);
    void SetListener(std::function<void(bool)> listener);

  private:
    mutable std::mutex mu_;
    std::condition_variable cv_;
    bool plugged_ = false;
    bool shown_ = false;  // Available() as last recorded
    uint64_t generation_ = 0;
    std::vector<bool> events_;  // recorded changes not yet handed to the listener
    std::mutex listenerMu_;     // taken before mu_
    std::function<void(bool)> listener_;
};

}  // namespace nuva::sim
