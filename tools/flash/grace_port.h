// The handheld port of nuva-flash: Setup's own port over RAPI, with one
// addition the command line can ask for: a transfer of the parts that waits
// out a cable that drops for a moment (--link-grace). What the transfer does
// about a drop is kept as notes for the terminal, which the page that shows
// the run takes on its own thread.
#pragma once

#include <chrono>
#include <mutex>
#include <string>
#include <vector>

#include "setup/link/handheld_port.h"

namespace nuva {

class GracePort final : public HandheldPort {
  public:
    // A `grace` of 0 leaves every operation exactly as Setup's.
    explicit GracePort(std::chrono::nanoseconds grace) : grace_(grace) {}

    // The notes since the last call, oldest first.
    std::vector<std::string> TakeNotes();

    const std::atomic<int32_t>& Connected() const override { return rapi_.Connected(); }
    int32_t InstallAgent() override { return rapi_.InstallAgent(); }
    uint32_t QueryDeviceInfo(DeviceInfo* out) override { return rapi_.QueryDeviceInfo(out); }
    bool QueryOsMajorVersion(uint32_t& major) override { return rapi_.QueryOsMajorVersion(major); }
    uint32_t ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count) override {
        return rapi_.ReadDeviceFlash(address, buffer, count);
    }
    uint32_t ShowDeviceText(const std::string& text, uint32_t first, uint32_t second) override {
        return rapi_.ShowDeviceText(text, first, second);
    }
    uint32_t ColdResetDevice() override { return rapi_.ColdResetDevice(); }
    uint32_t WarmResetDevice(int selector) override { return rapi_.WarmResetDevice(selector); }
    uint32_t TransferImageParts(MessageSink* window, const std::string& imagePath, UpdateHandoff& plan,
                                uint32_t handheldMemoryConfig) override;
    void RemoveStartupShortcuts() override { rapi_.RemoveStartupShortcuts(); }
    int32_t PlaceReflash() override { return rapi_.PlaceReflash(); }
    uint32_t WriteUpdateInfo(const UpdateHandoff& plan) override { return rapi_.WriteUpdateInfo(plan); }

  private:
    RapiHandheldPort rapi_;
    std::chrono::nanoseconds grace_;
    std::mutex mutex_;
    std::vector<std::string> notes_;
};

}  // namespace nuva
