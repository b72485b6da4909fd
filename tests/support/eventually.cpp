#include "tests/support/eventually.h"

#include <thread>

namespace nuva::testing {

bool Eventually(const std::function<bool()>& condition, std::chrono::milliseconds limit,
                std::chrono::milliseconds poll) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        if (condition())
            return true;
        std::this_thread::sleep_for(poll);
    }
    return condition();
}

}  // namespace nuva::testing
