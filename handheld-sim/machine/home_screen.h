// The home screen the handheld's boot code draws at the end of every start
// that found a ROM, before the start-up programs run: a "Start" title band
// and the facts a person checks after an update (model, OS generation, ROM
// version and date code, language, memory model, warm or cold start).
// Programs that draw on the screen draw over it.
//
// Layout on the 8 x 15 text grid (30 columns, 21 lines): line 0 is the title
// band, white text on dark blue, "Start" from column 1; the facts are black
// on white from column 1, one a line from line 2 on, in the order of
// HomeScreenLines. The rest of the screen is white.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace nuva::sim {

struct HomeScreenFacts {
    std::string version;   // "A03"
    std::string dateCode;  // "04100300"
    uint32_t osMajor = 0;  // 3 = Pocket PC 2002, 4 = Pocket PC 2003
    uint16_t language = 0;
    bool advanced = true;
    bool coldStart = false;
};

inline constexpr int kHomeTitleColumn = 1;
inline constexpr int kHomeFirstLine = 2;
inline constexpr int kHomeColumn = 1;

// The fact lines, e.g. "Brel Nuva Q7", "Pocket PC 2003", "ROM A03 (04100300)",
// "English (0409)", "Advanced (64 MB RAM)", "Cold start".
std::vector<std::string> HomeScreenLines(const HomeScreenFacts& facts);

// Draws the whole screen (kScreenWidth * kScreenHeight pixels).
void DrawHomeScreen(std::span<uint16_t> pixels, const HomeScreenFacts& facts);

}  // namespace nuva::sim
