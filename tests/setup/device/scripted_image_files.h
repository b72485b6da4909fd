// The installation's image files, scripted for the start checks and the
// pages that run them: every answer is set by the test, and every call is
// noted in one log with the scripted handheld's calls, so that a test sees
// the order of both. A sum can be held until the test releases it, to catch
// a page while its sum runs.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "formats/image_header.h"
#include "formats/result_codes.h"
#include "setup/device/image_files.h"
#include "tests/setup/support/fake_handheld_port.h"

namespace nuva::test {

class ScriptedImageFiles : public ImageFiles {
  public:
    explicit ScriptedImageFiles(FakeHandheldPort& port) : port_(port) {
        // A newer 2003 image for the port's handheld, its contents counted
        // and summed.
        SetImage("04100300", kOsCode2003);
        header.SetWord32(header_offset::kByteCount, 1000);
        header.SetWord32(header_offset::kByteSumField, 0x1234);
    }

    void SetImage(std::string_view date, uint8_t osCode, uint8_t model = kModelByteAdvanced,
                  std::string_view language = "EN") {
        header.SetText(header_offset::kMagic, "BREL", 4);
        header.SetText(header_offset::kDateCode, date, 8);
        header.SetByte(header_offset::kOsCode, osCode);
        header.SetByte(header_offset::kModelByte, model);
        header.SetText(header_offset::kLanguageCode, language, 2);
        header.SetText(header_offset::kRomName, "A03", 8);
    }
    // A whole backup of the port's handheld, taken on `date` under the OS of
    // `osCode`, whose contents add up to what its header says.
    void SetBackupOfThisHandheld(std::string_view date, uint8_t osCode) {
        SetImage(date, osCode);
        header.SetWord16(header_offset::kKind, 1);
        uint32_t contents = osCode == kOsCode2003 ? kContentBytes2003 : kContentBytes2002;
        header.SetWord32(header_offset::kByteCount, contents);
        header.SetWord32(header_offset::kByteSumField, contentsSum);
        length = kImageHeaderSize + uint64_t{contents};
        for (size_t i = 0; i < 16; ++i) {
            port_.info.DeviceUuid[i] = static_cast<uint8_t>(0xA0 + i);
            header.SetByte(header_offset::kUuid + i, port_.info.DeviceUuid[i]);
        }
    }

    LocatedImage LocateImage(bool highModel) override {
        Note(highModel ? "locate high" : "locate low");
        if (onLocate) {
            onLocate();
        }
        return image;
    }
    uint64_t CheckImageFile(const std::string& path, ImageHeader& out) override {
        Note("check " + path);
        out = header;
        return length;
    }
    uint32_t SumImageContents(const std::string& path, uint32_t count, uint32_t& sum,
                              std::stop_token stop) override {
        Note("sum " + path + " " + std::to_string(count));
        std::unique_lock lock(mutex_);
        ++sumsStarted_;
        changed_.notify_all();
        if (!changed_.wait(lock, stop, [this] { return !hold_; })) {
            ++sumsStopped_;
            return kResultFail;
        }
        if (sumResult == kResultOk) {
            sum = contentsSum;
        }
        return sumResult;
    }

    RomIdentityError CheckContentsIdentity(const std::string& path, std::stop_token) override {
        Note("identity " + path);
        return identity;
    }

    // Sums started from now on wait for ReleaseSums (or their stop).
    void HoldSums() {
        std::lock_guard lock(mutex_);
        hold_ = true;
    }
    void ReleaseSums() {
        std::lock_guard lock(mutex_);
        hold_ = false;
        changed_.notify_all();
    }
    // Waits (a few seconds at most) until `count` sums have started.
    bool WaitForSums(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(5), [&] { return sumsStarted_ >= count; });
    }
    int SumsStopped() {
        std::lock_guard lock(mutex_);
        return sumsStopped_;
    }

    // The handheld's calls and these, in the order made.
    std::vector<std::string> Log() {
        std::lock_guard lock(mutex_);
        TakePortCalls();
        return log_;
    }

    LocatedImage image{ImageLookup::kFound, "/install/rom-h.nb0"};
    std::function<void()> onLocate;  // runs inside LocateImage (the link may go meanwhile)
    ImageHeader header;
    uint64_t length = kImageFileBytes2003;
    uint32_t sumResult = kResultOk;
    uint32_t contentsSum = 0x1234;
    RomIdentityError identity = RomIdentityError::kNone;

  private:
    void Note(const std::string& call) {
        std::lock_guard lock(mutex_);
        TakePortCalls();
        log_.push_back(call);
    }
    void TakePortCalls() {
        std::vector<std::string> calls = port_.Calls();
        log_.insert(log_.end(), calls.begin() + static_cast<std::ptrdiff_t>(portCallsSeen_), calls.end());
        portCallsSeen_ = calls.size();
    }

    FakeHandheldPort& port_;
    std::mutex mutex_;
    std::condition_variable_any changed_;
    bool hold_ = false;
    int sumsStarted_ = 0;
    int sumsStopped_ = 0;
    std::vector<std::string> log_;
    size_t portCallsSeen_ = 0;
};

}  // namespace nuva::test
