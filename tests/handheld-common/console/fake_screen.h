// A stand-in for the handheld's bus as the console sees it: the register
// accessors the console calls, backed by plain memory regions placed at
// kernel addresses. Any access that does not lie wholly inside a region is
// recorded as a fault, so a console that writes past its screen fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nuva::test {

class FakeScreen {
  public:
    // The screens in use: the default frame buffer and a second one elsewhere.
    static constexpr uint32_t kOtherFrameBuffer = 0xA4100000;

    FakeScreen();
    ~FakeScreen();

    // Fills a whole region with one pixel value.
    void Fill(uint32_t base, uint16_t pixel);
    uint16_t Pixel(uint32_t base, uint32_t x, uint32_t y) const;
    std::vector<uint8_t> Bytes(uint32_t base) const;

    const std::vector<std::string>& Faults() const { return faults_; }

    // Used by the accessors.
    uint8_t* Resolve(uint32_t address, uint32_t length);

  private:
    struct Region {
        uint32_t base;
        std::vector<uint8_t> bytes;
    };
    const Region& Find(uint32_t base) const;
    std::vector<Region> regions_;
    std::vector<std::string> faults_;
};

}  // namespace nuva::test
