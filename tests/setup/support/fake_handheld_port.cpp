#include "tests/setup/support/fake_handheld_port.h"

#include <algorithm>
#include <cstring>

#include "formats/message_ids.h"
#include "formats/result_codes.h"

namespace nuva::test {

FakeHandheldPort::FakeHandheldPort() {
    info.Supported = 1;
    info.AcOnline = 1;
    info.BatteryPercent = 100;
    info.LanguageId = 0x0409;
    info.MemoryConfig = kMemoryConfigAdvanced;
    info.PlatformInfo = 0x03050300;
    info.OsMajorVersion = 4;
    const char16_t version[] = u"A02";
    std::copy(std::begin(version), std::end(version), std::begin(info.RomVersion));
}

void FakeHandheldPort::Record(const std::string& call) {
    std::lock_guard lock(mutex);
    calls_.push_back(call);
}

std::vector<std::string> FakeHandheldPort::Calls() {
    std::lock_guard lock(mutex);
    return calls_;
}

int FakeHandheldPort::Count(const std::string& call) {
    std::lock_guard lock(mutex);
    return static_cast<int>(std::count(calls_.begin(), calls_.end(), call));
}

void FakeHandheldPort::ClearCalls() {
    std::lock_guard lock(mutex);
    calls_.clear();
}

int32_t FakeHandheldPort::InstallAgent() {
    Record("install");
    std::lock_guard lock(mutex);
    if (installResults.empty()) {
        return installResult;
    }
    int32_t result = installResults.front();
    installResults.pop_front();
    return result;
}

uint32_t FakeHandheldPort::QueryDeviceInfo(DeviceInfo* out) {
    Record("query");
    std::lock_guard lock(mutex);
    InfoAnswer answer{queryResult, info};
    if (!queryAnswers.empty()) {
        answer = queryAnswers.front();
        queryAnswers.pop_front();
    }
    if (answer.result == 0 && out != nullptr) {
        *out = answer.info;
    }
    return answer.result;
}

bool FakeHandheldPort::QueryOsMajorVersion(uint32_t& major) {
    Record("version");
    std::lock_guard lock(mutex);
    if (!osMajor) {
        return false;
    }
    major = *osMajor;
    return true;
}

uint32_t FakeHandheldPort::ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count) {
    uint32_t offset = address - 0xA0000000u;
    std::lock_guard lock(mutex);
    auto it = failReads.find(offset);
    if (it != failReads.end() && it->second > 0) {
        --it->second;
        return kResultFail;
    }
    if (offset > flash.size() || count > flash.size() - offset) {
        return kResultFail;
    }
    std::memcpy(buffer, flash.data() + offset, count);
    return 0;
}

uint32_t FakeHandheldPort::ShowDeviceText(const std::string& text, uint32_t first, uint32_t second) {
    std::lock_guard lock(mutex);
    deviceTexts.push_back(text);
    calls_.push_back("text " + std::to_string(first) + " " + std::to_string(second));
    // The export always answers E_FAIL.
    return kResultFail;
}

uint32_t FakeHandheldPort::ColdResetDevice() {
    Record("cold-reset");
    return 0;
}

uint32_t FakeHandheldPort::WarmResetDevice(int selector) {
    Record("warm-reset " + std::to_string(selector));
    return 0;
}

uint32_t FakeHandheldPort::TransferImageParts(MessageSink* window, const std::string&, UpdateHandoff& plan,
                                              uint32_t handheldMemoryConfig) {
    Record("transfer");
    {
        std::lock_guard lock(mutex);
        lastPlan = plan;
        lastMemoryConfig = handheldMemoryConfig;
    }
    PostIfAlive(window, WM_OVERALL_PROGRESS, 0, plan.TotalBytes);
    return transferResult;
}

void FakeHandheldPort::RemoveStartupShortcuts() {
    Record("remove-shortcuts");
}

int32_t FakeHandheldPort::PlaceReflash() {
    Record("place-reflash");
    return placeResult;
}

uint32_t FakeHandheldPort::WriteUpdateInfo(const UpdateHandoff&) {
    Record("write-info");
    return writeInfoResult;
}

}  // namespace nuva::test
