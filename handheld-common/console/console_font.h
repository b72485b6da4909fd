// The console's built-in font: 256 glyphs of the PC code page 437 character
// set, 8 x 15 pixels each. Glyph c starts at byte c * 15; each byte is one
// pixel row, top row first, bit 7 the leftmost pixel. Codes 0, 32 and 255 are
// blank. The table is generated at build time (see make_console_font.cpp and
// FONT-LICENSE).
#pragma once

#include <cstddef>
#include <cstdint>

namespace nuva {

inline constexpr size_t kGlyphWidth = 8;
inline constexpr size_t kGlyphRows = 15;
inline constexpr size_t kConsoleFontBytes = 256 * kGlyphRows;

extern const uint8_t kConsoleFont[kConsoleFontBytes];

// The 15 rows of the glyph for an 8-bit character code.
inline const uint8_t* Glyph(uint8_t code) {
    return kConsoleFont + static_cast<size_t>(code) * kGlyphRows;
}

}  // namespace nuva
