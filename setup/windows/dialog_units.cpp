#include "setup/windows/dialog_units.h"

#include <QFontMetrics>
#include <QString>

namespace nuva {

namespace {

// a × b ÷ c rounded to nearest, for the non-negative sizes of templates.
int MulDiv(int a, int b, int c) {
    return (a * b + c / 2) / c;
}

}  // namespace

DialogUnits DialogUnits::ForFont(const QFont& font) {
    QFontMetrics metrics(font);
    int letters =
        metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    return DialogUnits((letters / 26 + 1) / 2, metrics.height());
}

int DialogUnits::X(int units) const {
    return MulDiv(units, baseX_, 4);
}

int DialogUnits::Y(int units) const {
    return MulDiv(units, baseY_, 8);
}

QRect DialogUnits::Rect(int x, int y, int width, int height) const {
    return QRect(X(x), Y(y), X(width), Y(height));
}

}  // namespace nuva
