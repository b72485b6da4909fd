#include "handheld-sim/machine/message_box_view.h"

#include <algorithm>

#include "handheld-sim/machine/handheld.h"
#include "handheld-sim/machine/screen_painter.h"

namespace nuva::sim {
namespace {

constexpr int kBorder = 1;
constexpr int kTitleHeight = kCellHeight + 2;
constexpr int kMargin = 8;
constexpr int kButtonWidth = 48;
constexpr int kButtonHeight = kCellHeight + 6;

static_assert(kBoxColumns * kCellWidth + 2 * kMargin == kBoxWidth);
static_assert(2 * kBorder + kTitleHeight + 3 * kMargin + kBoxMaxLines * kCellHeight + kButtonHeight <=
              kScreenHeight);

void WrapParagraph(std::string_view paragraph, size_t columns, std::vector<std::string>& lines) {
    while (paragraph.size() > columns) {
        // The last space within the first `columns` + 1 characters: a line
        // may end right before it.
        const size_t space = paragraph.substr(0, columns + 1).rfind(' ');
        if (space == std::string_view::npos || space == 0) {
            lines.emplace_back(paragraph.substr(0, columns));
            paragraph.remove_prefix(columns);
        } else {
            lines.emplace_back(paragraph.substr(0, space));
            paragraph.remove_prefix(space + 1);
        }
    }
    lines.emplace_back(paragraph);
}

}  // namespace

std::vector<std::string> WrapText(std::string_view codes, size_t columns, size_t maxLines) {
    std::vector<std::string> lines;
    if (columns == 0 || maxLines == 0) {
        return lines;
    }
    for (;;) {
        const size_t end = codes.find('\n');
        WrapParagraph(codes.substr(0, end), columns, lines);
        if (end == std::string_view::npos) {
            break;
        }
        codes.remove_prefix(end + 1);
    }
    if (lines.size() > maxLines) {
        lines.resize(maxLines);
        std::string& last = lines.back();
        const std::string_view ellipsis = "...";
        last.resize(std::min(last.size(), columns > ellipsis.size() ? columns - ellipsis.size() : 0));
        last.append(ellipsis.substr(0, std::min(columns, ellipsis.size())));
    }
    return lines;
}

void DrawMessageBox(std::span<uint16_t> pixels, const MessageBoxState& box) {
    std::string caption = ToCp437(box.caption, false);
    if (caption.size() > kBoxColumns) {
        caption.resize(kBoxColumns);
    }
    const std::vector<std::string> lines = WrapText(ToCp437(box.text, true), kBoxColumns, kBoxMaxLines);
    const int textHeight = static_cast<int>(lines.size()) * kCellHeight;
    const int height = 2 * kBorder + kTitleHeight + 3 * kMargin + textHeight + kButtonHeight;
    const int top = (kScreenHeight - height) / 2;

    ScreenPainter painter(pixels);
    painter.Fill(kBoxLeft, top, kBoxWidth, height, kPaintWhite);
    painter.Outline(kBoxLeft, top, kBoxWidth, height, kPaintBlack);
    const int inside = kBoxLeft + kBorder;
    const int insideWidth = kBoxWidth - 2 * kBorder;
    painter.Fill(inside, top + kBorder, insideWidth, kTitleHeight, kTitleBand);
    painter.Text(kBoxLeft + kMargin, top + kBorder + 1, caption, kPaintWhite, kTitleBand);

    int y = top + kBorder + kTitleHeight + kMargin;
    for (const std::string& line : lines) {
        painter.Text(kBoxLeft + kMargin, y, line, kPaintBlack, kPaintWhite);
        y += kCellHeight;
    }

    const int buttonLeft = (kScreenWidth - kButtonWidth) / 2;
    const int buttonTop = y + kMargin;
    painter.Outline(buttonLeft, buttonTop, kButtonWidth, kButtonHeight, kPaintBlack);
    painter.Text(buttonLeft + (kButtonWidth - 2 * kCellWidth) / 2, buttonTop + 3, "OK", kPaintBlack,
                 kPaintWhite);
}

}  // namespace nuva::sim
