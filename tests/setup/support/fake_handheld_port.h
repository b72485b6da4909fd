// A scripted handheld for driving the desktop's pages, dialogs and runs
// without a cable: every answer is set by the test, every call is recorded.
#pragma once

#include <atomic>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "setup/link/handheld_port.h"

namespace nuva::test {

class FakeHandheldPort : public HandheldPort {
  public:
    FakeHandheldPort();

    const std::atomic<int32_t>& Connected() const override { return connected; }
    int32_t InstallAgent() override;
    uint32_t QueryDeviceInfo(DeviceInfo* out) override;
    bool QueryOsMajorVersion(uint32_t& major) override;
    uint32_t ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count) override;
    uint32_t ShowDeviceText(const std::string& text, uint32_t first, uint32_t second) override;
    uint32_t ColdResetDevice() override;
    uint32_t WarmResetDevice(int selector) override;
    uint32_t TransferImageParts(MessageSink* window, const std::string& imagePath, UpdateHandoff& plan,
                                uint32_t handheldMemoryConfig) override;
    void RemoveStartupShortcuts() override;
    int32_t PlaceReflash() override;
    uint32_t WriteUpdateInfo(const UpdateHandoff& plan) override;

    // The calls made so far, in order ("install", "query", "cold-reset", ...).
    std::vector<std::string> Calls();
    int Count(const std::string& call);
    void ClearCalls();

    std::atomic<int32_t> connected{1};
    // Installation results, front first; when empty every installation
    // answers `installResult`.
    std::deque<int32_t> installResults;
    int32_t installResult = 0;
    // Answers of the information call, front first; when empty every call
    // answers `queryResult` with `info`.
    struct InfoAnswer {
        uint32_t result = 0;
        DeviceInfo info;
    };
    std::deque<InfoAnswer> queryAnswers;
    uint32_t queryResult = 0;
    DeviceInfo info;  // a supported "Advanced" English handheld on AC power, unless changed
    std::optional<uint32_t> osMajor = 4;  // nothing: the version call fails
    uint32_t transferResult = 0;
    int32_t placeResult = 0;
    uint32_t writeInfoResult = 0;
    // Flash served by ReadDeviceFlash from 0xA0000000; `failReads[offset]`
    // failures before a block's read succeeds.
    std::vector<uint8_t> flash;
    std::map<uint32_t, int> failReads;

    std::mutex mutex;
    std::vector<std::string> deviceTexts;
    UpdateHandoff lastPlan;
    uint32_t lastMemoryConfig = 0;

  private:
    void Record(const std::string& call);
    std::vector<std::string> calls_;
};

}  // namespace nuva::test
