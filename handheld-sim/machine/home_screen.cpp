#include "handheld-sim/machine/home_screen.h"

#include <cstdio>

#include "handheld-sim/machine/screen_painter.h"

namespace nuva::sim {
namespace {

// The primary language of a LANGID (its low ten bits) by name, for the
// languages Pocket PC ROMs come in.
const char* LanguageName(uint16_t language) {
    switch (language & 0x3FF) {
        case 0x04:
            return "Chinese";
        case 0x06:
            return "Danish";
        case 0x07:
            return "German";
        case 0x09:
            return "English";
        case 0x0A:
            return "Spanish";
        case 0x0B:
            return "Finnish";
        case 0x0C:
            return "French";
        case 0x10:
            return "Italian";
        case 0x11:
            return "Japanese";
        case 0x12:
            return "Korean";
        case 0x13:
            return "Dutch";
        case 0x14:
            return "Norwegian";
        case 0x16:
            return "Portuguese";
        case 0x19:
            return "Russian";
        case 0x1D:
            return "Swedish";
        default:
            return "Language";
    }
}

std::string OsName(uint32_t osMajor) {
    switch (osMajor) {
        case 3:
            return "Pocket PC 2002";
        case 4:
            return "Pocket PC 2003";
        default:
            return "Windows CE " + std::to_string(osMajor);
    }
}

}  // namespace

std::vector<std::string> HomeScreenLines(const HomeScreenFacts& facts) {
    char language[32];
    std::snprintf(language, sizeof language, "%s (%04X)", LanguageName(facts.language),
                  static_cast<unsigned>(facts.language));
    return {
        "Brel Nuva Q7",
        OsName(facts.osMajor),
        "ROM " + facts.version + " (" + facts.dateCode + ")",
        language,
        facts.advanced ? "Advanced (64 MB RAM)" : "Basic (32 MB RAM)",
        facts.coldStart ? "Cold start" : "Warm start",
    };
}

void DrawHomeScreen(std::span<uint16_t> pixels, const HomeScreenFacts& facts) {
    ScreenPainter painter(pixels);
    painter.Fill(0, 0, kScreenWidth, kScreenHeight, kPaintWhite);
    painter.Fill(0, 0, kScreenWidth, kCellHeight, kTitleBand);
    painter.Text(kHomeTitleColumn * kCellWidth, 0, "Start", kPaintWhite, kTitleBand);
    int line = kHomeFirstLine;
    for (const std::string& text : HomeScreenLines(facts)) {
        painter.Text(kHomeColumn * kCellWidth, line * kCellHeight, text, kPaintBlack, kPaintWhite);
        ++line;
    }
}

}  // namespace nuva::sim
