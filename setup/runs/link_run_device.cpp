#include "setup/frame/link_monitor.h"
#include "setup/link/agent_calls.h"
#include "setup/link/handover.h"
#include "setup/runs/run_device.h"

namespace nuva {

const std::atomic<int32_t>& LinkRunDevice::Connected() const {
    return g_connected;
}
int32_t LinkRunDevice::InstallAgent() {
    return nuva::InstallAgent();
}
uint32_t LinkRunDevice::QueryDeviceInfo(DeviceInfo* out) {
    return nuva::QueryDeviceInfo(out);
}
uint32_t LinkRunDevice::ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count) {
    return nuva::ReadDeviceFlash(address, buffer, count);
}
uint32_t LinkRunDevice::ShowDeviceText(const std::string& text, uint32_t first, uint32_t second) {
    return nuva::ShowDeviceText(text.c_str(), first, second);
}
uint32_t LinkRunDevice::ColdResetDevice() {
    return nuva::ColdResetDevice();
}
uint32_t LinkRunDevice::WarmResetDevice(int selector) {
    return nuva::WarmResetDevice(selector);
}
uint32_t LinkRunDevice::TransferImageParts(MessageSink* window, const std::string& imagePath,
                                           UpdateHandoff& plan, uint32_t handheldMemoryConfig) {
    return nuva::TransferImageParts(window, imagePath, plan, handheldMemoryConfig, g_connected);
}
void LinkRunDevice::RemoveStartupShortcuts() {
    nuva::RemoveStartupShortcuts();
}
int32_t LinkRunDevice::PlaceReflash() {
    return nuva::PlaceReflash();
}
uint32_t LinkRunDevice::WriteUpdateInfo(const UpdateHandoff& plan) {
    return nuva::WriteUpdateInfo(plan);
}

}  // namespace nuva
