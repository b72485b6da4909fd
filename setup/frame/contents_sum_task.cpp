#include "setup/frame/contents_sum_task.h"

#include <system_error>
#include <utility>

namespace nuva {

bool ContentsSumTask::Start(MessageSink& page, ImageFiles& files, ContentsSum what) {
    Cancel();
    try {
        thread_ = std::jthread([this, &page, &files, what = std::move(what)](std::stop_token stop) {
            SumOutcome outcome = SumContents(files, what, stop);
            if (stop.stop_requested()) {
                return;
            }
            {
                std::lock_guard lock(mutex_);
                outcome_ = outcome;
            }
            page.Post(kContentsSummedMessage, 0, 0);
        });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

std::optional<SumOutcome> ContentsSumTask::Take() {
    std::optional<SumOutcome> outcome;
    {
        std::lock_guard lock(mutex_);
        outcome = std::exchange(outcome_, std::nullopt);
    }
    if (outcome && thread_.joinable()) {
        // The thread has posted its last message and is ending.
        thread_.join();
    }
    return outcome;
}

void ContentsSumTask::Cancel() {
    if (thread_.joinable()) {
        thread_.request_stop();
        thread_.join();
    }
    std::lock_guard lock(mutex_);
    outcome_.reset();
}

}  // namespace nuva
