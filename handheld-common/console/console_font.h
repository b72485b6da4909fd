// The console's built-in font: 256 glyphs of the PC code page 437 character
// set, 8 x 15 pixels each. Glyph c starts at byte c * 15; each byte is one
// pixel row, top row first, bit 7 the leftmost pixel. Codes 0, 32 and 255 are
// blank. The tables are generated at build time (see make_console_font.cpp and
// FONT-LICENSE).
#pragma once

#include <cstddef>
#include <cstdint>

namespace nuva {

inline constexpr size_t kGlyphWidth = 8;
inline constexpr size_t kGlyphRows = 15;
inline constexpr size_t kConsoleFontBytes = 256 * kGlyphRows;

extern const uint8_t kConsoleFont[kConsoleFontBytes];

// The Unicode code point each code page 437 code stands for (the graphic
// forms of codes 1 to 31 and 127 included; code 0 is U+0000).
extern const uint16_t kCp437CodePoints[256];

// The 15 rows of the glyph for an 8-bit character code.
inline const uint8_t* Glyph(uint8_t code) {
    return kConsoleFont + static_cast<size_t>(code) * kGlyphRows;
}

// The code page 437 code that shows `codePoint`; false when the code page
// has no such character (U+0000 included).
inline bool Cp437Code(uint32_t codePoint, uint8_t& code) {
    for (size_t c = 1; c < 256; ++c) {
        if (kCp437CodePoints[c] == codePoint) {
            code = static_cast<uint8_t>(c);
            return true;
        }
    }
    return false;
}

}  // namespace nuva
