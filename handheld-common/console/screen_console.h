// ScreenConsole: text drawn straight into the handheld's 240 x 320, 16-bit
// (RGB 5-6-5) frame buffer with the built-in 8 x 15 font, without the window
// system. Both handheld programs use it: the agent to show the desktop's
// texts, the flasher for its progress, also while interrupts are masked.
//
// Every pixel goes through the DDK register accessors at kernel virtual
// addresses, so the console does not care where the pixels live. It assumes
// the frame buffer it is given is mapped and writable; it keeps a cursor and
// a drawing address, and is used from one thread.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>

#include "handheld-common/console/console_cursor.h"

namespace nuva {

class ScreenConsole {
  public:
    static constexpr uint32_t kDefaultFrameBuffer = 0xBE042000;
    static constexpr uint32_t kWidth = 240;
    static constexpr uint32_t kHeight = 320;
    static constexpr uint32_t kRowBytes = kWidth * 2;
    static constexpr uint32_t kScreenBytes = kRowBytes * kHeight;  // 153,600
    static constexpr uint16_t kWhite = 0xFFFF;

    // Whether an address names this handheld's screen (0 stands for it). An
    // address that comes from outside (the cable, a file) is checked with this
    // before anything is drawn or cleared there: the console would otherwise
    // write 153,600 bytes wherever it points (RAM, flash, registers).
    static constexpr bool IsScreenAddress(uint32_t address) {
        return address == 0 || address == kDefaultFrameBuffer;
    }

    // Sets the address characters are drawn at (0 selects the default) and
    // puts the cursor at column 0 of line 0.
    void SetFrameBuffer(uint32_t address);
    uint32_t FrameBuffer() const { return frameBuffer_; }

    void Home() { cursor_.Home(); }
    int Column() const { return cursor_.column; }
    int Line() const { return cursor_.line; }

    // Fills the whole screen at the drawing address with white; the cursor
    // stays where it is.
    void ClearScreen() const { ClearFrameBuffer(frameBuffer_); }
    // The same for a frame buffer other than the drawing address (the flasher
    // clears through the address its hand-over names but always draws at the
    // default one). 0 selects the default.
    static void ClearFrameBuffer(uint32_t address);

    // Draws one glyph at the cursor (the whole 8 x 15 cell: set bits in
    // `colour`, clear bits white) and moves the cursor on, wrapping and
    // scrolling as needed.
    void DrawCharacter(uint8_t code, uint16_t colour);
    // Start of the next line, scrolling from the last line.
    void Newline();

    // Draws plain text up to its NUL or `maxLength` characters, whichever
    // comes first: '\n' performs Newline, every other byte is drawn as its
    // glyph. Nothing in the text is interpreted as a conversion.
    void PutText(uint16_t colour, const char* text, size_t maxLength);

    // Formatted print. '\n' in the format performs Newline; conversions:
    //   %d  a 32-bit int in decimal ("-" first when negative)
    //   %s  a NUL-terminated 8-bit text, every byte drawn as its glyph (a
    //       newline inside it shows as glyph 10); a null pointer draws "(null)"
    //   %f  a double as [-]integer digits, ".", then two fraction digits,
    //       rounded to the nearest hundredth; "nan", "inf" or "-inf" for
    //       values that are not finite and "overflow" from 1e16 on
    //   %c  anything else: that character itself ("%%" draws "%")
    // A "%" at the very end of the format draws "%" and nothing past the NUL
    // is read.
    void Print(uint16_t colour, const char* format, ...) __attribute__((format(printf, 3, 4)));
    void VPrint(uint16_t colour, const char* format, va_list args);

  private:
    void Scroll();
    void DrawDecimal(uint64_t magnitude, bool negative, uint16_t colour, int minDigits);
    void DrawFixedPoint(double value, uint16_t colour);

    uint32_t frameBuffer_ = kDefaultFrameBuffer;
    ConsoleCursor cursor_;
};

}  // namespace nuva
