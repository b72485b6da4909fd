#include "platform/rapi/rapi.h"
#include "setup/link/agent_calls.h"
#include "setup/link/device_access.h"
#include "setup/link/handheld_port.h"
#include "setup/link/handover.h"
#include "setup/link/link_monitor.h"

namespace nuva {

const std::atomic<int32_t>& RapiHandheldPort::Connected() const {
    return g_connected;
}
int32_t RapiHandheldPort::InstallAgent() {
    return nuva::InstallAgent();
}
uint32_t RapiHandheldPort::QueryDeviceInfo(DeviceInfo* out) {
    return nuva::QueryDeviceInfo(out);
}
bool RapiHandheldPort::QueryOsMajorVersion(uint32_t& major) {
    CEOSVERSIONINFO version{};
    version.dwOSVersionInfoSize = sizeof(version);
    if (LockedCeGetVersionEx(&version) == FALSE) {
        return false;
    }
    major = version.dwMajorVersion;
    return true;
}
uint32_t RapiHandheldPort::ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count) {
    return nuva::ReadDeviceFlash(address, buffer, count);
}
uint32_t RapiHandheldPort::ShowDeviceText(const std::string& text, uint32_t first, uint32_t second) {
    return nuva::ShowDeviceText(text.c_str(), first, second);
}
namespace {

// The handheld takes the link with it when it restarts. The watch thread
// would see that only at its next two probes, and until then g_connected
// still speaks of the connection that has just ended: a page waiting for the
// handheld to come back would take the stale flag for the new link and start
// its work on a handheld that is still restarting. So the flag drops as soon
// as the restart is accepted, and the initialisation waits for the
// handheld's return.
uint32_t LinkGoesWithRestart(uint32_t result) {
    if (result == static_cast<uint32_t>(RAPI_E_LINK_DOWN)) {
        g_connected.store(0);
        StartLinkInit();
    }
    return result;
}

}  // namespace

uint32_t RapiHandheldPort::ColdResetDevice() {
    return LinkGoesWithRestart(nuva::ColdResetDevice());
}
uint32_t RapiHandheldPort::WarmResetDevice(int selector) {
    return LinkGoesWithRestart(nuva::WarmResetDevice(selector));
}
uint32_t RapiHandheldPort::TransferImageParts(MessageSink* window, const std::string& imagePath,
                                              UpdateHandoff& plan, uint32_t handheldMemoryConfig) {
    return nuva::TransferImageParts(window, imagePath, plan, handheldMemoryConfig, g_connected);
}
void RapiHandheldPort::RemoveStartupShortcuts() {
    nuva::RemoveStartupShortcuts();
}
int32_t RapiHandheldPort::PlaceReflash() {
    return nuva::PlaceReflash();
}
uint32_t RapiHandheldPort::WriteUpdateInfo(const UpdateHandoff& plan) {
    return nuva::WriteUpdateInfo(plan);
}

}  // namespace nuva
