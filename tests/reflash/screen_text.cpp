#include "screen_text.h"

#include <algorithm>
#include <array>
#include <map>

#include "handheld-common/console/console_cursor.h"
#include "handheld-common/console/console_font.h"

namespace nuva::reflash::test {
namespace {

constexpr int kWidth = 240;
constexpr uint16_t kWhite = 0xFFFF;
using Cell = std::array<uint8_t, kGlyphRows>;

const std::map<Cell, char>& Glyphs() {
    static const std::map<Cell, char> glyphs = [] {
        std::map<Cell, char> map;
        // Printable ASCII first, so that it wins over look-alikes.
        for (int c = 32; c < 127; ++c) {
            Cell cell;
            std::copy_n(Glyph(static_cast<uint8_t>(c)), kGlyphRows, cell.begin());
            map.emplace(cell, static_cast<char>(c));
        }
        return map;
    }();
    return glyphs;
}

}  // namespace

std::vector<std::string> ScreenLines(const std::vector<uint16_t>& pixels) {
    std::vector<std::string> lines;
    for (int line = 0; line < ConsoleCursor::kLines; ++line) {
        std::string text;
        for (int column = 0; column < ConsoleCursor::kColumns; ++column) {
            Cell cell{};
            for (size_t r = 0; r < kGlyphRows; ++r) {
                for (size_t j = 0; j < kGlyphWidth; ++j) {
                    size_t x = static_cast<size_t>(column) * kGlyphWidth + j;
                    size_t y = static_cast<size_t>(line) * kGlyphRows + r;
                    if (pixels.at(y * kWidth + x) != kWhite) {
                        cell[r] = static_cast<uint8_t>(cell[r] | (0x80 >> j));
                    }
                }
            }
            auto it = Glyphs().find(cell);
            text += it == Glyphs().end() ? '?' : it->second;
        }
        lines.push_back(text);
    }
    return lines;
}

std::vector<std::string> TrimmedScreenLines(const std::vector<uint16_t>& pixels) {
    auto lines = ScreenLines(pixels);
    for (auto& line : lines) {
        line.erase(line.find_last_not_of(' ') + 1);
    }
    return lines;
}

}  // namespace nuva::reflash::test
