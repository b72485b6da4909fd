#include "tests/handheld-common/console/fake_screen.h"

#include <cstdio>
#include <cstring>
#include <stdexcept>

#include "platform/wince/wince.h"

namespace nuva::test {
namespace {

constexpr uint32_t kScreenBytes = 240 * 320 * 2;
FakeScreen* g_current = nullptr;

uint32_t AddressOf(volatile const void* p) {
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p));
}

}  // namespace

FakeScreen::FakeScreen() {
    regions_.push_back({0xBE042000, std::vector<uint8_t>(kScreenBytes)});
    regions_.push_back({kOtherFrameBuffer, std::vector<uint8_t>(kScreenBytes)});
    g_current = this;
}

FakeScreen::~FakeScreen() {
    g_current = nullptr;
}

const FakeScreen::Region& FakeScreen::Find(uint32_t base) const {
    for (const Region& r : regions_) {
        if (r.base == base) {
            return r;
        }
    }
    throw std::logic_error("no such screen");
}

void FakeScreen::Fill(uint32_t base, uint16_t pixel) {
    auto& bytes = const_cast<Region&>(Find(base)).bytes;
    for (size_t i = 0; i < bytes.size(); i += 2) {
        bytes[i] = static_cast<uint8_t>(pixel);
        bytes[i + 1] = static_cast<uint8_t>(pixel >> 8);
    }
}

uint16_t FakeScreen::Pixel(uint32_t base, uint32_t x, uint32_t y) const {
    const auto& bytes = Find(base).bytes;
    const size_t at = (static_cast<size_t>(y) * 240 + x) * 2;
    return static_cast<uint16_t>(bytes.at(at) | (bytes.at(at + 1) << 8));
}

std::vector<uint8_t> FakeScreen::Bytes(uint32_t base) const {
    return Find(base).bytes;
}

uint8_t* FakeScreen::Resolve(uint32_t address, uint32_t length) {
    for (Region& r : regions_) {
        if (address >= r.base &&
            static_cast<uint64_t>(address) + length <= r.base + uint64_t{r.bytes.size()}) {
            return r.bytes.data() + (address - r.base);
        }
    }
    char text[64];
    std::snprintf(text, sizeof text, "access of %u bytes at 0x%08X", length, address);
    faults_.emplace_back(text);
    return nullptr;
}

}  // namespace nuva::test

using nuva::test::AddressOf;
using nuva::test::g_current;

extern "C" {

void WRITE_REGISTER_USHORT(volatile USHORT* reg, USHORT value) {
    if (uint8_t* p = g_current->Resolve(AddressOf(reg), 2)) {
        p[0] = static_cast<uint8_t>(value);
        p[1] = static_cast<uint8_t>(value >> 8);
    }
}

void READ_REGISTER_BUFFER_UCHAR(volatile UCHAR* reg, UCHAR* buffer, ULONG count) {
    if (const uint8_t* p = g_current->Resolve(AddressOf(reg), count)) {
        std::memcpy(buffer, p, count);
    }
}

void WRITE_REGISTER_BUFFER_UCHAR(volatile UCHAR* reg, const UCHAR* buffer, ULONG count) {
    if (uint8_t* p = g_current->Resolve(AddressOf(reg), count)) {
        std::memcpy(p, buffer, count);
    }
}

}  // extern "C"
