// Drawing what the handheld itself shows (its home screen after a start, the
// message boxes of programs) into 240 x 320 RGB 5-6-5 pixels, with the same
// 8 x 15 code page 437 font as the handheld programs' screen console.
// Everything is clipped to the screen.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace nuva::sim {

inline constexpr int kScreenWidth = 240;
inline constexpr int kScreenHeight = 320;
inline constexpr int kCellWidth = 8;
inline constexpr int kCellHeight = 15;

inline constexpr uint16_t kPaintWhite = 0xFFFF;
inline constexpr uint16_t kPaintBlack = 0x0000;
// The title bands of the home screen and of message boxes: dark blue.
inline constexpr uint16_t kTitleBand = 0x0010;

class ScreenPainter {
  public:
    // `pixels` holds the whole screen, row by row (kScreenWidth *
    // kScreenHeight values); anything else is a bug of the caller.
    explicit ScreenPainter(std::span<uint16_t> pixels);

    void Fill(int x, int y, int width, int height, uint16_t colour);
    // A one-pixel outline of the rectangle.
    void Outline(int x, int y, int width, int height, uint16_t colour);
    // Draws `codes` (code page 437, one 8 x 15 cell each, no control codes
    // interpreted) from (x, y): set bits of the glyphs in `ink`, clear bits
    // in `paper`.
    void Text(int x, int y, std::string_view codes, uint16_t ink, uint16_t paper);

  private:
    std::span<uint16_t> pixels_;
};

// The code page 437 codes that show `text`. Characters the code page lacks
// and control characters show as '?'; a line break ("\n", "\r\n" or "\r")
// becomes "\n" when `keepLineBreaks`, a space otherwise, and a tab a space.
std::string ToCp437(std::u16string_view text, bool keepLineBreaks);

}  // namespace nuva::sim
