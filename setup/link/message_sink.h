// Where the device link and the long operations report progress: the window
// of a page in the wizard, or the command-line front end. Messages are the
// private window messages of formats/message_ids.h and are always posted,
// never sent: Post must return at once and may be called from any thread.
#pragma once

#include <cstdint>

namespace nuva {

class MessageSink {
  public:
    virtual ~MessageSink() = default;

    // Queues one message for the sink's own thread. wParam and lParam carry
    // byte counts (done, total) or 0.
    virtual void Post(uint32_t message, uint32_t wParam, uint32_t lParam) = 0;

    // Whether the sink still takes messages (the window still exists). A
    // transfer keeps going when its page has gone, it only stops reporting.
    virtual bool IsAlive() const = 0;
};

// Posts when a sink is given and still alive; a transfer with no one to tell
// passes nullptr.
inline void PostIfAlive(MessageSink* sink, uint32_t message, uint32_t wParam, uint32_t lParam) {
    if (sink != nullptr && sink->IsAlive())
        sink->Post(message, wParam, lParam);
}

}  // namespace nuva
