// Dialog units, the measure every template is laid out in: a horizontal unit
// is a quarter of the dialog font's average character width, a vertical unit
// an eighth of its height. Measuring the templates in the font the windows
// are drawn with keeps every text in the room its template gives it, whatever
// font the desktop uses.
#pragma once

#include <QFont>
#include <QRect>

namespace nuva {

class DialogUnits {
  public:
    // The base units in pixels: the average character width and the height.
    DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}
    // The base units of `font`, measured as the classic dialog manager does:
    // the average width is that of the 52 letters, rounded to nearest.
    static DialogUnits ForFont(const QFont& font);

    int BaseX() const { return baseX_; }
    int BaseY() const { return baseY_; }

    // Units to pixels, rounded to nearest. Position and size are converted
    // each on its own, as controls are created from a template.
    int X(int units) const;
    int Y(int units) const;
    QRect Rect(int x, int y, int width, int height) const;

  private:
    int baseX_;
    int baseY_;
};

}  // namespace nuva
