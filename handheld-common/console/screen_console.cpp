#include "handheld-common/console/screen_console.h"

#include <array>
#include <cmath>

#include "handheld-common/console/console_font.h"
#include "platform/wince/wince.h"

namespace nuva {
namespace {

constexpr uint32_t kLineBytes = ScreenConsole::kRowBytes * kGlyphRows;       // 7,200
constexpr uint32_t kScrollBytes = kLineBytes * (ConsoleCursor::kLines - 1);  // 144,000
constexpr uint32_t kLastLineOffset = kScrollBytes;                           // pixel row 300
constexpr uint32_t kCellRowBytes = kGlyphWidth * 2;
constexpr uint32_t kTextBytes = kLineBytes * ConsoleCursor::kLines;  // rows 0 to 314

// White is 0xFFFF, so a run of white pixels is a run of 0xFF bytes at any
// alignment; clearing streams this block out through the bulk accessor.
constexpr uint32_t kWhiteBlockBytes = ScreenConsole::kRowBytes * 10;
constexpr auto kWhiteBlock = [] {
    std::array<UCHAR, kWhiteBlockBytes> block{};
    block.fill(0xFF);
    return block;
}();

uint32_t Resolve(uint32_t address) {
    return address == 0 ? ScreenConsole::kDefaultFrameBuffer : address;
}

void FillWhite(uint32_t address, uint32_t bytes) {
    while (bytes > 0) {
        const uint32_t piece = bytes < kWhiteBlockBytes ? bytes : kWhiteBlockBytes;
        WRITE_REGISTER_BUFFER_UCHAR(NUVA_KADDR(UCHAR, address), kWhiteBlock.data(), piece);
        address += piece;
        bytes -= piece;
    }
}

}  // namespace

static_assert(kTextBytes <= ScreenConsole::kScreenBytes);
static_assert(kScrollBytes % ScreenConsole::kRowBytes == 0);

void ScreenConsole::SetFrameBuffer(uint32_t address) {
    frameBuffer_ = Resolve(address);
    cursor_.Home();
}

void ScreenConsole::ClearFrameBuffer(uint32_t address) {
    FillWhite(Resolve(address), kScreenBytes);
}

void ScreenConsole::DrawCharacter(uint8_t code, uint16_t colour) {
    const uint8_t* glyph = Glyph(code);
    const auto colourLow = static_cast<UCHAR>(colour & 0xFF);
    const auto colourHigh = static_cast<UCHAR>(colour >> 8);
    uint32_t rowAddress = frameBuffer_ + static_cast<uint32_t>(cursor_.line) * kLineBytes +
                          static_cast<uint32_t>(cursor_.column) * kCellRowBytes;
    for (size_t r = 0; r < kGlyphRows; ++r) {
        // One glyph row is eight adjacent pixels: written as 16 bytes in one
        // go, each pixel little-endian.
        std::array<UCHAR, kGlyphWidth * 2> pixels{};
        for (size_t j = 0; j < kGlyphWidth; ++j) {
            const bool set = (glyph[r] & (0x80u >> j)) != 0;
            pixels[2 * j] = set ? colourLow : 0xFF;
            pixels[2 * j + 1] = set ? colourHigh : 0xFF;
        }
        WRITE_REGISTER_BUFFER_UCHAR(NUVA_KADDR(UCHAR, rowAddress), pixels.data(), pixels.size());
        rowAddress += kRowBytes;
    }
    if (cursor_.AdvanceAfterCharacter()) {
        Scroll();
    }
}

void ScreenConsole::Newline() {
    if (cursor_.Newline()) {
        Scroll();
    }
}

void ScreenConsole::Scroll() {
    // One text line up, a pixel row at a time in ascending address order
    // through the bulk accessors: each destination row lies one text line
    // before its source, so a row is only overwritten after it has been
    // copied. A pixel at a time, a screen of scrolling cost 144,000 bus
    // accesses; a row at a time it costs 600.
    const uint32_t from = frameBuffer_ + kLineBytes;
    UCHAR row[kRowBytes] = {};
    for (uint32_t offset = 0; offset < kScrollBytes; offset += kRowBytes) {
        READ_REGISTER_BUFFER_UCHAR(NUVA_KADDR(UCHAR, from + offset), row, kRowBytes);
        WRITE_REGISTER_BUFFER_UCHAR(NUVA_KADDR(UCHAR, frameBuffer_ + offset), row, kRowBytes);
    }
    FillWhite(frameBuffer_ + kLastLineOffset, kLineBytes);
    cursor_.column = 0;
    cursor_.line = ConsoleCursor::kLines - 1;
}

void ScreenConsole::PutText(uint16_t colour, const char* text, size_t maxLength) {
    for (size_t i = 0; i < maxLength && text[i] != '\0'; ++i) {
        if (text[i] == '\n') {
            Newline();
        } else {
            DrawCharacter(static_cast<uint8_t>(text[i]), colour);
        }
    }
}

void ScreenConsole::Print(uint16_t colour, const char* format, ...) {
    va_list args;
    va_start(args, format);
    VPrint(colour, format, args);
    va_end(args);
}

void ScreenConsole::VPrint(uint16_t colour, const char* format, va_list args) {
    for (const char* p = format; *p != '\0'; ++p) {
        if (*p == '\n') {
            Newline();
            continue;
        }
        if (*p != '%') {
            DrawCharacter(static_cast<uint8_t>(*p), colour);
            continue;
        }
        const char conversion = p[1];
        if (conversion == '\0') {
            DrawCharacter('%', colour);  // a lone "%" ends the format: nothing past the NUL is read
            break;
        }
        ++p;
        switch (conversion) {
            case 'd': {
                const int value = va_arg(args, int);
                const int64_t wide = value;
                DrawDecimal(static_cast<uint64_t>(wide < 0 ? -wide : wide), wide < 0, colour, 1);
                break;
            }
            case 's': {
                const char* text = va_arg(args, const char*);
                for (const char* t = text != nullptr ? text : "(null)"; *t != '\0'; ++t) {
                    DrawCharacter(static_cast<uint8_t>(*t), colour);
                }
                break;
            }
            case 'f':
                DrawFixedPoint(va_arg(args, double), colour);
                break;
            default:
                DrawCharacter(static_cast<uint8_t>(conversion), colour);
                break;
        }
    }
}

void ScreenConsole::DrawDecimal(uint64_t magnitude, bool negative, uint16_t colour, int minDigits) {
    std::array<char, 24> digits{};
    int count = 0;
    do {
        digits[static_cast<size_t>(count++)] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 || count < minDigits);
    if (negative) {
        DrawCharacter('-', colour);
    }
    while (count > 0) {
        DrawCharacter(static_cast<uint8_t>(digits[static_cast<size_t>(--count)]), colour);
    }
}

void ScreenConsole::DrawFixedPoint(double value, uint16_t colour) {
    const char* word = nullptr;
    if (std::isnan(value)) {
        word = "nan";
    } else if (std::isinf(value)) {
        word = value < 0 ? "-inf" : "inf";
    } else if (std::fabs(value) >= 1e16) {
        word = "overflow";
    }
    if (word != nullptr) {
        PutText(colour, word, 8);
        return;
    }
    // In hundredths, so that rounding may carry into the integer part.
    const auto hundredths = static_cast<uint64_t>(std::llround(std::fabs(value) * 100.0));
    DrawDecimal(hundredths / 100, value < 0 && hundredths != 0, colour, 1);
    DrawCharacter('.', colour);
    DrawDecimal(hundredths % 100, false, colour, 2);
}

}  // namespace nuva
