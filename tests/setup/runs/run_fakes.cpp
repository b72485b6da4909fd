#include "tests/setup/runs/run_fakes.h"

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>
#include <utility>

#include "formats/byte_sum.h"
#include "formats/image_header.h"
#include "formats/le.h"
#include "setup/resources/string_table.h"

namespace nuva::test {

void RecordingSink::Post(uint32_t message, uint32_t wParam, uint32_t lParam) {
    std::lock_guard lock(mutex_);
    posted_.push_back({message, wParam, lParam});
}

std::vector<Posted> RecordingSink::Take() {
    std::lock_guard lock(mutex_);
    return std::exchange(posted_, {});
}

bool RecordingSink::WaitFor(uint32_t message, int milliseconds) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (std::chrono::steady_clock::now() < deadline) {
        {
            std::lock_guard lock(mutex_);
            for (const Posted& p : posted_) {
                if (p.message == message) {
                    return true;
                }
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return false;
}

void RecordingView::ArmTimer(uint32_t id, uint32_t periodMs) {
    armed[id] = periodMs;
}
void RecordingView::KillTimer(uint32_t id) {
    armed.erase(id);
}

void RecordingView::MessageBox(const std::string& text, const std::string& caption, bool owned) {
    events.push_back("box " + caption + ": " + text + (owned ? "" : " (no owner)"));
}

void RecordingView::ShowCompletionNotice(int updateForm, bool toPocketPc2002) {
    events.push_back("completion " + std::to_string(updateForm) + (toPocketPc2002 ? " 2002" : " 2003"));
}

void ScriptedDevice::Record(const std::string& call) {
    std::lock_guard lock(mutex);
    calls.push_back(call);
}

int32_t ScriptedDevice::InstallAgent() {
    Record("install");
    std::lock_guard lock(mutex);
    if (installResults.empty()) {
        return 0;
    }
    int32_t result = installResults.front();
    installResults.pop_front();
    return result;
}

uint32_t ScriptedDevice::QueryDeviceInfo(DeviceInfo* out) {
    Record("query");
    if (queryResult == 0 && out != nullptr) {
        *out = info;
    }
    return queryResult;
}

uint32_t ScriptedDevice::ReadDeviceFlash(uint32_t address, uint8_t* buffer, uint32_t count) {
    uint32_t offset = address - 0xA0000000u;
    {
        std::lock_guard lock(mutex);
        auto it = failReads.find(offset);
        if (it != failReads.end() && it->second > 0) {
            --it->second;
            return 0x80004005;
        }
    }
    if (offset > flash.size() || count > flash.size() - offset) {
        return 0x80004005;
    }
    std::memcpy(buffer, flash.data() + offset, count);
    return 0;
}

uint32_t ScriptedDevice::ShowDeviceText(const std::string& text, uint32_t first, uint32_t second) {
    std::lock_guard lock(mutex);
    deviceTexts.push_back(text);
    calls.push_back("text " + std::to_string(first) + " " + std::to_string(second));
    return 0x80004005;
}

uint32_t ScriptedDevice::ColdResetDevice() {
    Record("cold-reset");
    return 0;
}

uint32_t ScriptedDevice::WarmResetDevice(int selector) {
    Record("warm-reset " + std::to_string(selector));
    return 0;
}

uint32_t ScriptedDevice::TransferImageParts(MessageSink* window, const std::string&, UpdateHandoff& plan,
                                            uint32_t handheldMemoryConfig) {
    Record("transfer");
    {
        std::lock_guard lock(mutex);
        lastPlan = plan;
        lastMemoryConfig = handheldMemoryConfig;
    }
    if (window != nullptr) {
        window->Post(0x812C, 0, plan.TotalBytes);
    }
    return transferResult;
}

void ScriptedDevice::RemoveStartupShortcuts() {
    Record("remove-shortcuts");
}

int32_t ScriptedDevice::PlaceReflash() {
    Record("place-reflash");
    return placeResult;
}

uint32_t ScriptedDevice::WriteUpdateInfo(const UpdateHandoff&) {
    Record("write-info");
    return writeInfoResult;
}

std::string WriteSmallImage(const std::string& name, uint8_t osCode, uint8_t model, size_t contentBytes) {
    ImageHeader header;
    header.SetText(header_offset::kMagic, "BREL", 4);
    header.SetText(header_offset::kDateCode, "04100300", 8);
    header.SetText(header_offset::kLanguageCode, "EN", 2);
    header.SetByte(header_offset::kModelByte, model);
    header.SetByte(header_offset::kOsCode, osCode);
    header.SetText(header_offset::kMarker, "NUVA7", 5);
    header.SetText(header_offset::kRomName, "A03", 8);
    auto stored = header.ToFile();
    std::string path = (std::filesystem::temp_directory_path() / name).string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(stored.data()), static_cast<std::streamsize>(stored.size()));
    std::string contents(contentBytes, '\x5A');
    out.write(contents.data(), static_cast<std::streamsize>(contents.size()));
    return path;
}

std::string Text(uint32_t id) {
    return LoadString(id);
}

}  // namespace nuva::test
