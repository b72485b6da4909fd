// Adding up an image's or a backup's contents beside the thread that drives
// the pages. The sum reads the whole file (26 MB or more), and a page that
// waited for it on its own thread would freeze: no paint, no timer tick to
// notice a lost link, no Back button. So the page starts the sum here, keeps
// running, and is posted kContentsSummedMessage when the outcome is ready.
//
// The task belongs to its page: Cancel (from the page's Destroy, or the
// task's destructor) stops the sum and waits for its thread, so nothing the
// thread does reaches the page or the files once Cancel has returned.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <thread>

#include "formats/message_ids.h"
#include "setup/device/image_files.h"
#include "setup/link/message_sink.h"

namespace nuva {

// Posted to a page when its contents sum has ended (no parameters).
inline constexpr uint32_t kContentsSummedMessage = WM_APP + 0x13A;

class ContentsSumTask {
  public:
    ContentsSumTask() = default;
    ContentsSumTask(const ContentsSumTask&) = delete;
    ContentsSumTask& operator=(const ContentsSumTask&) = delete;
    ~ContentsSumTask() { Cancel(); }

    // Starts summing `what` through `files` on a thread of its own, after
    // cancelling a sum still running. False when no thread could be made.
    bool Start(MessageSink& page, ImageFiles& files, ContentsSum what);
    // The outcome, once kContentsSummedMessage has come; nothing before it,
    // for a message of a cancelled sum, or when it was taken already.
    std::optional<SumOutcome> Take();
    // Stops the sum and waits for its thread; its outcome is dropped.
    void Cancel();

  private:
    std::mutex mutex_;
    std::optional<SumOutcome> outcome_;
    // Last, so that it is joined before the members its thread uses go.
    std::jthread thread_;
};

}  // namespace nuva
