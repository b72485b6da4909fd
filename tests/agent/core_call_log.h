// What the agent asked of the core library while a log was open: the sizes
// of its file reads, the blocks it tested for readability, the blocks it
// freed and its registry value deletions. The log can also make some calls
// fail as a handheld's platform might.
// The handheld binds a library's core library references to the first
// definition it finds, and the test program exports its own definitions of
// these functions (which hand every call on to the handheld's), so the
// agent's calls pass through here on their way to the machine.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace nuva::test {

struct CoreCalls {
    struct Read {
        uint32_t asked;
        uint32_t got;
    };
    std::vector<Read> reads;
    std::vector<const void*> readabilityTests;
    std::vector<const void*> freed;
    size_t valueDeletions = 0;
};

struct CoreFaults {
    // Every RegDeleteValueW fails with ERROR_ACCESS_DENIED and deletes
    // nothing, as for a protected value.
    bool valueDeletions = false;
    // Neither the OEM layer (PlatformCommand) nor the power driver ("PWR1:"
    // does not open) tells the memory configuration.
    bool memoryConfig = false;
};

// Records the calls made between construction and Take().
class CoreCallLog {
  public:
    CoreCallLog() : CoreCallLog(CoreFaults{}) {}
    explicit CoreCallLog(CoreFaults faults);
    ~CoreCallLog();
    CoreCallLog(const CoreCallLog&) = delete;
    CoreCallLog& operator=(const CoreCallLog&) = delete;
    // The calls so far; recording goes on.
    CoreCalls Take() const;
};

}  // namespace nuva::test
