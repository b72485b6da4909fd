// The handheld as the long operations reach it: the device link's operations
// and the connection flag, behind one interface so that the runs can be
// driven by a scripted handheld in tests. LinkRunDevice is the real one.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "formats/device_info.h"
#include "formats/update_handoff.h"
#include "setup/link/message_sink.h"

namespace nuva {

class RunDevice {
  public:
    virtual ~RunDevice() = default;

    // The process-wide connection flag (g_connected): 1 while connected.
    virtual const std::atomic<int32_t>& Connected() const = 0;
    bool IsConnected() const { return Connected().load() == 1; }

    virtual int32_t InstallAgent() = 0;
    virtual uint32_t QueryDeviceInfo(DeviceInfo* out) = 0;
    virtual uint32_t ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count) = 0;
    virtual uint32_t ShowDeviceText(const std::string& text, uint32_t first, uint32_t second) = 0;
    virtual uint32_t ColdResetDevice() = 0;
    virtual uint32_t WarmResetDevice(int selector) = 0;

    virtual uint32_t TransferImageParts(MessageSink* window, const std::string& imagePath,
                                        UpdateHandoff& plan, uint32_t handheldMemoryConfig) = 0;
    virtual void RemoveStartupShortcuts() = 0;
    virtual int32_t PlaceReflash() = 0;
    virtual uint32_t WriteUpdateInfo(const UpdateHandoff& plan) = 0;
};

// The device link of setup/link over RAPI, with g_connected of the
// connection monitor.
class LinkRunDevice final : public RunDevice {
  public:
    const std::atomic<int32_t>& Connected() const override;
    int32_t InstallAgent() override;
    uint32_t QueryDeviceInfo(DeviceInfo* out) override;
    uint32_t ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count) override;
    uint32_t ShowDeviceText(const std::string& text, uint32_t first, uint32_t second) override;
    uint32_t ColdResetDevice() override;
    uint32_t WarmResetDevice(int selector) override;
    uint32_t TransferImageParts(MessageSink* window, const std::string& imagePath, UpdateHandoff& plan,
                                uint32_t handheldMemoryConfig) override;
    void RemoveStartupShortcuts() override;
    int32_t PlaceReflash() override;
    uint32_t WriteUpdateInfo(const UpdateHandoff& plan) override;
};

}  // namespace nuva
