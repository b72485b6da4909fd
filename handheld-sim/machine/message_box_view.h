// How a message box looks on the handheld's screen while it is up: a framed
// box across the screen, the caption in white on a dark title band, the text
// in black, wrapped to the box (its line breaks kept), and an "OK" button
// under it, the whole box centred on the screen.
//
// The box is drawn over a copy of the screen's pixels when the screen is
// looked at; the frame buffer keeps what the programs wrote, so the pixels
// under the box are back as soon as the box is dismissed.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace nuva::sim {

struct MessageBoxState;

inline constexpr int kBoxLeft = 8;
inline constexpr int kBoxWidth = 224;
// Columns of text in the caption and in each text line.
inline constexpr size_t kBoxColumns = 26;
// Text lines the box shows at most; a longer text ends in "...".
inline constexpr size_t kBoxMaxLines = 14;

// `codes` (code page 437, "\n" for line breaks) in lines of at most
// `columns` characters: each line break starts a line, a line too long is
// broken after its last space that fits (the space dropped) or, in a word
// longer than a line, after `columns` characters. At most `maxLines`
// lines; when more would be needed, the last one ends in "...".
std::vector<std::string> WrapText(std::string_view codes, size_t columns, size_t maxLines);

// Draws `box` over the screen's pixels (kScreenWidth * kScreenHeight).
void DrawMessageBox(std::span<uint16_t> pixels, const MessageBoxState& box);

}  // namespace nuva::sim
