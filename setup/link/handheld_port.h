// The handheld as every page, dialog and run of the desktop reaches it: the
// connection flag and the device link's operations behind one interface, so
// that the whole program can be driven by a scripted handheld in tests.
// RapiHandheldPort is the real one, over RAPI and g_connected.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "formats/device_info.h"
#include "formats/update_handoff.h"
#include "setup/link/message_sink.h"

namespace nuva {

class HandheldPort {
  public:
    virtual ~HandheldPort() = default;

    // The process-wide connection flag (g_connected): 1 while connected.
    virtual const std::atomic<int32_t>& Connected() const = 0;
    bool IsConnected() const { return Connected().load() == 1; }

    // Copies the agent library to the handheld: 0, or -1.
    virtual int32_t InstallAgent() = 0;
    // The agent's record of the handheld: 0 with `out` filled, or a failure
    // code.
    virtual uint32_t QueryDeviceInfo(DeviceInfo* out) = 0;
    // The OS major version the handheld reports for itself (the version
    // call, not the agent's record): true with `major`, false when the call
    // failed.
    virtual bool QueryOsMajorVersion(uint32_t& major) = 0;
    virtual uint32_t ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count) = 0;
    virtual uint32_t ShowDeviceText(const std::string& text, uint32_t first, uint32_t second) = 0;
    virtual uint32_t ColdResetDevice() = 0;
    virtual uint32_t WarmResetDevice(int selector) = 0;

    // What an update leaves on the handheld for the flasher.
    virtual uint32_t TransferImageParts(MessageSink* window, const std::string& imagePath,
                                        UpdateHandoff& plan, uint32_t handheldMemoryConfig) = 0;
    virtual void RemoveStartupShortcuts() = 0;
    virtual int32_t PlaceReflash() = 0;
    virtual uint32_t WriteUpdateInfo(const UpdateHandoff& plan) = 0;
};

// The device link of this folder over RAPI, with g_connected of the
// connection monitor.
class RapiHandheldPort final : public HandheldPort {
  public:
    const std::atomic<int32_t>& Connected() const override;
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
};

}  // namespace nuva
