// An emulated handheld with the built agent library in its \Windows\ folder,
// and the calls the desktop makes into it.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "formats/device_info.h"
#include "handheld-sim/machine/handheld.h"
#include "tools/imagegen/imagegen.h"

namespace nuva::test {

inline constexpr std::chrono::seconds kStartTimeout{20};

struct AgentCall {
    HRESULT result = 0;
    std::vector<uint8_t> output;
    std::string detail;
};

// The wide text with its terminator, as the desktop sends it.
std::vector<uint8_t> WideBlock(std::u16string_view text);
std::vector<uint8_t> FlashRequest(uint32_t address, uint32_t length);
std::vector<uint8_t> ShowRequest(uint32_t frameBuffer, std::string_view text);

class AgentHandheld {
  public:
    // A started handheld made from an image of `spec` with `settings`, the
    // agent installed.
    explicit AgentHandheld(const sim::FactorySettings& settings = Supported(),
                           const imagegen::ImageSpec& spec = imagegen::ImageSpec{});

    static sim::FactorySettings Supported();

    sim::Handheld& Device() { return *handheld_; }
    const std::vector<uint8_t>& Image() const { return image_; }

    AgentCall Call(std::u16string_view function, std::span<const uint8_t> input);
    // FnNUVAInfo with "ALL", unpacked; fails the test when the call fails.
    DeviceInfo Info();

    // Writes a file into the handheld's file store.
    void PutFile(std::u16string_view path, std::span<const uint8_t> contents);
    bool FileExists(std::u16string_view path);
    bool KeyExists(std::u16string_view path);

    // Calls a restarting export and waits for the handheld to start again.
    // Returns the export's result as the desktop would see it.
    HRESULT CallAndRestart(std::u16string_view function, std::span<const uint8_t> input);

  private:
    std::vector<uint8_t> image_;
    std::unique_ptr<sim::Handheld> handheld_;
};

}  // namespace nuva::test
