// The flasher's interfaces bound to the handheld: the DDK register
// accessors, the screen console, WinCE files, heap and page locking.
#pragma once

#include <cstdint>
#include <string_view>

#include "handheld-common/console/screen_console.h"
#include "platform/wince/wince.h"
#include "reflash/contiguous_buffer.h"
#include "reflash/flash_port.h"
#include "reflash/programmer.h"

namespace nuva::reflash {

class WinCePort final : public FlashPort {
  public:
    explicit WinCePort(ScreenConsole& console) : console_(console) {}
    uint32_t Read32(uint32_t address) override;
    void Write32(uint32_t address, uint32_t value) override;
    void Read32s(uint32_t address, uint32_t* words, uint32_t count) override;
    void Write32s(uint32_t address, const uint32_t* words, uint32_t count) override;
    void Write8(uint32_t address, uint8_t value) override;
    void Mark(char c) override;

  private:
    ScreenConsole& console_;
};

// Characters go to the console's drawing address; the screen is cleared
// through the frame-buffer address the hand-over names.
class WinCeScreen final : public FlasherScreen {
  public:
    WinCeScreen(ScreenConsole& console, uint32_t clearAddress)
        : console_(console), clearAddress_(clearAddress) {}
    void Text(uint16_t colour, std::string_view text) override;
    void Glyphs(uint16_t colour, std::string_view text) override;
    void Home() override { console_.Home(); }
    void Clear() override { ScreenConsole::ClearFrameBuffer(clearAddress_); }

  private:
    ScreenConsole& console_;
    uint32_t clearAddress_;
};

class WinCePages final : public PageSource {
  public:
    void* Commit(uint32_t bytes) override;
    bool Lock(void* address, uint32_t bytes, uint32_t* frames) override;
    void Unlock(void* address, uint32_t bytes) override;
    void Release(void* address) override;
};

class WinCeSystem final : public FlasherSystem {
  public:
    explicit WinCeSystem(FlasherScreen& screen) : screen_(screen) {}
    ~WinCeSystem() override;
    WinCeSystem(const WinCeSystem&) = delete;
    WinCeSystem& operator=(const WinCeSystem&) = delete;

    bool Open(const char16_t* path) override;
    bool Size(uint32_t* bytes) override;
    bool Read(uint8_t* buffer, uint32_t count, uint32_t* done) override;
    void Close() override;
    bool Delete(const char16_t* path) override;
    uint8_t* AllocateHeapBuffer() override;
    bool AllocateContiguousBuffer(uint32_t* physical) override;
    void MaskInterrupts() override;

  private:
    FlasherScreen& screen_;
    HANDLE file_ = INVALID_HANDLE_VALUE;
};

}  // namespace nuva::reflash
