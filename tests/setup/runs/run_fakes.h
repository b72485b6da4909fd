// A scripted handheld and a recording page for driving the run controllers
// tick by tick.
#pragma once

#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "setup/runs/run_device.h"
#include "setup/runs/run_view.h"

namespace nuva::test {

struct Posted {
    uint32_t message;
    uint32_t wParam;
    uint32_t lParam;
};

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

class RecordingView : public RunView {
  public:
    void ArmTimer(uint32_t id, uint32_t periodMs) override;
    void KillTimer(uint32_t id) override;
    void SetTitle(const std::string& text) override { title = text; }
    void SetText(uint32_t control, const std::string& text) override { texts[control] = text; }
    void ShowControl(uint32_t control, bool shown) override { shownControls[control] = shown; }
    void EnableControl(uint32_t control, bool enabled) override { enabledControls[control] = enabled; }
    void SetBar(uint32_t control, uint32_t position) override { bars[control] = position; }
    void MessageBox(const std::string& text, const std::string& caption, bool owned) override;
    void ShowConnectionLost(int mode) override {
        events.push_back("connection-lost " + std::to_string(mode));
    }
    void ShowWrongModel() override { events.push_back("wrong-model"); }
    void ShowCompletionNotice(int updateForm, bool toPocketPc2002) override;
    int ShowBackupComplete() override {
        events.push_back("backup-complete");
        return 1;
    }
    void HidePage() override { events.push_back("hide"); }
    void EndPage(int result) override { endResult = result; }
    MessageSink& Sink() override { return sink; }

    std::map<uint32_t, uint32_t> armed;  // timer id -> period, while armed
    std::string title;
    std::map<uint32_t, std::string> texts;
    std::map<uint32_t, bool> shownControls;
    std::map<uint32_t, bool> enabledControls;
    std::map<uint32_t, uint32_t> bars;
    std::vector<std::string> events;
    int endResult = -1;
    RecordingSink sink;
};

// Answers as scripted; counts every call.
class ScriptedDevice : public RunDevice {
  public:
    const std::atomic<int32_t>& Connected() const override { return connected; }
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

    std::atomic<int32_t> connected{1};
    std::deque<int32_t> installResults;  // front first; empty = success
    uint32_t queryResult = 0;
    DeviceInfo info;
    uint32_t transferResult = 0;
    int32_t placeResult = 0;
    uint32_t writeInfoResult = 0;
    // Flash served by ReadDeviceFlash from 0xA0000000; `failReads[block]`
    // failures before a block's read succeeds.
    std::vector<uint8_t> flash;
    std::map<uint32_t, int> failReads;

    std::mutex mutex;
    std::vector<std::string> calls;
    std::vector<std::string> deviceTexts;
    UpdateHandoff lastPlan;
    uint32_t lastMemoryConfig = 0;

  private:
    void Record(const std::string& call);
};

// A small file that passes CheckImageFile: a header with the maker tag and
// the marker, OS code `osCode`, model byte `model`, then `contentBytes`.
std::string WriteSmallImage(const std::string& name, uint8_t osCode, uint8_t model,
                            size_t contentBytes = 4096);

std::string Text(uint32_t id);

}  // namespace nuva::test
