// The program's private window messages as Qt events. A message posted to a
// page travels as an event whose type is the message's own value (0x812C,
// 0x8136, ...), so that what a worker posts and what the page receives read
// the same in a debugger and in an event filter.
#pragma once

#include <QEvent>
#include <cstdint>

namespace nuva {

// Claims the event types of the program's messages from Qt, once per
// process. A type Qt has handed to someone else cannot carry its message, so
// that is fatal.
void RegisterPageMessages();

// Whether `message` can travel as an event type (Qt's user range).
bool IsPageMessageType(uint32_t message);

// One posted message, stamped with the showing of the page it was posted to:
// a message still queued when its showing ends is not delivered to the next.
class PageMessageEvent final : public QEvent {
  public:
    PageMessageEvent(uint32_t message, uint32_t wParam, uint32_t lParam, uint64_t showing)
        : QEvent(static_cast<QEvent::Type>(message)), wParam_(wParam), lParam_(lParam), showing_(showing) {}

    uint32_t Message() const { return type(); }
    uint32_t WParam() const { return wParam_; }
    uint32_t LParam() const { return lParam_; }
    uint64_t Showing() const { return showing_; }

  private:
    uint32_t wParam_;
    uint32_t lParam_;
    uint64_t showing_;
};

}  // namespace nuva
