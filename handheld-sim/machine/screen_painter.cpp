#include "handheld-sim/machine/screen_painter.h"

#include <algorithm>
#include <cassert>

#include "handheld-common/console/console_font.h"

namespace nuva::sim {

static_assert(kCellWidth == static_cast<int>(kGlyphWidth) && kCellHeight == static_cast<int>(kGlyphRows));

ScreenPainter::ScreenPainter(std::span<uint16_t> pixels) : pixels_(pixels) {
    assert(pixels.size() == static_cast<size_t>(kScreenWidth) * kScreenHeight && "not a whole screen");
}

void ScreenPainter::Fill(int x, int y, int width, int height, uint16_t colour) {
    const int left = std::max(x, 0);
    const int right = std::min(x + width, kScreenWidth);
    const int top = std::max(y, 0);
    const int bottom = std::min(y + height, kScreenHeight);
    for (int row = top; row < bottom; ++row) {
        for (int column = left; column < right; ++column) {
            pixels_[static_cast<size_t>(row) * kScreenWidth + column] = colour;
        }
    }
}

void ScreenPainter::Outline(int x, int y, int width, int height, uint16_t colour) {
    Fill(x, y, width, 1, colour);
    Fill(x, y + height - 1, width, 1, colour);
    Fill(x, y, 1, height, colour);
    Fill(x + width - 1, y, 1, height, colour);
}

void ScreenPainter::Text(int x, int y, std::string_view codes, uint16_t ink, uint16_t paper) {
    for (size_t i = 0; i < codes.size(); ++i) {
        const int cellX = x + static_cast<int>(i) * kCellWidth;
        if (cellX >= kScreenWidth) {
            return;
        }
        const uint8_t* glyph = Glyph(static_cast<uint8_t>(codes[i]));
        for (int r = 0; r < kCellHeight; ++r) {
            const int row = y + r;
            if (row < 0 || row >= kScreenHeight) {
                continue;
            }
            for (int j = 0; j < kCellWidth; ++j) {
                const int column = cellX + j;
                if (column < 0 || column >= kScreenWidth) {
                    continue;
                }
                const bool set = (glyph[r] & (0x80u >> j)) != 0;
                pixels_[static_cast<size_t>(row) * kScreenWidth + column] = set ? ink : paper;
            }
        }
    }
}

std::string ToCp437(std::u16string_view text, bool keepLineBreaks) {
    std::string codes;
    codes.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        if (c == u'\r' || c == u'\n') {
            if (c == u'\r' && i + 1 < text.size() && text[i + 1] == u'\n') {
                ++i;
            }
            codes.push_back(keepLineBreaks ? '\n' : ' ');
            continue;
        }
        if (c == u'\t') {
            codes.push_back(' ');
            continue;
        }
        uint8_t code = 0;
        // Below 0x20 the code page holds pictures, not the control codes a
        // program meant; surrogate halves are characters it lacks anyway.
        if (c < 0x20 || c == 0x7F || !Cp437Code(c, code)) {
            code = '?';
        }
        codes.push_back(static_cast<char>(code));
    }
    return codes;
}

}  // namespace nuva::sim
