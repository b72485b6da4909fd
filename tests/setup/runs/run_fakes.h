// What the run tests share beside the scripted handheld and the recording
// page: a sink that records posts, and small image files.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "setup/link/message_sink.h"
#include "tests/setup/support/fake_handheld_port.h"
#include "tests/setup/support/recording_view.h"

namespace nuva::test {

class RecordingSink : public MessageSink {
  public:
    void Post(uint32_t message, uint32_t wParam, uint32_t lParam) override;
    bool IsAlive() const override { return true; }
    std::vector<Posted> Take();
    // Waits (real time, bounded) until a message of this kind arrives.
    bool WaitFor(uint32_t message, int milliseconds);

  private:
    mutable std::mutex mutex_;
    std::vector<Posted> posted_;
};

// A small file that passes CheckImageFile: a header with the maker tag and
// the marker, OS code `osCode`, model byte `model`, then `contentBytes`.
std::string WriteSmallImage(const std::string& name, uint8_t osCode, uint8_t model,
                            size_t contentBytes = 4096);

std::string Text(uint32_t id);

}  // namespace nuva::test
