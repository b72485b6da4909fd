// Reads back what the screen console drew: every 8 x 15 cell of the
// handheld's screen compared with the console's own glyphs, whatever the
// colour. A cell that holds no glyph reads as '?'.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace nuva::reflash::test {

// The 21 text lines of 30 characters, each exactly as drawn (blank cells are
// spaces, nothing trimmed).
std::vector<std::string> ScreenLines(const std::vector<uint16_t>& pixels);

// The lines with trailing spaces removed.
std::vector<std::string> TrimmedScreenLines(const std::vector<uint16_t>& pixels);

}  // namespace nuva::reflash::test
