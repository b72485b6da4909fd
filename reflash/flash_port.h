// What the flasher's flash routines reach the handheld through: 32-bit loads
// and stores at kernel virtual addresses (flash, RAM through the kernel's
// static mapping, platform registers), and the console marks the erase
// routine leaves when a block fails.
//
// The flasher itself binds this to the DDK register accessors of the WinCE
// core library; tests bind it to a model of the flash bank. Nothing behind
// it may use an operating-system service: the routines call it while the
// flash is busy and interrupts are masked.
#pragma once

#include <cstdint>

namespace nuva::reflash {

class FlashPort {
  public:
    virtual ~FlashPort() = default;

    virtual uint32_t Read32(uint32_t address) = 0;
    virtual void Write32(uint32_t address, uint32_t value) = 0;
    // `count` consecutive 32-bit words from or to `address`.
    virtual void Read32s(uint32_t address, uint32_t* words, uint32_t count) = 0;
    virtual void Write32s(uint32_t address, const uint32_t* words, uint32_t count) = 0;
    // One byte (words the flasher must not assume aligned).
    virtual void Write8(uint32_t address, uint8_t value) = 0;
    // Draws one character of the erase routine's failure marks ("E", "e").
    virtual void Mark(char c) = 0;
};

}  // namespace nuva::reflash
