// Texts written the Windows way (mnemonic marks, file dialog filters) in the
// forms Qt's widgets take.
#pragma once

#include <QString>
#include <QStringList>
#include <string_view>

namespace nuva {

// The text as it reads without its mnemonic marks: "&&" stays one "&", any
// other "&" goes. What screen readers are given, and what a text shows where
// no key can reach a control through it.
QString StripMnemonics(const QString& text);

// A filter of the common file dialogs, "Name(*.EXT)|*.EXT||" (pairs of a
// description and patterns separated by ';'), as Qt's name filters:
// "Name(*.EXT) (*.EXT)", one for each pair.
QStringList QtNameFilters(std::string_view filter);

}  // namespace nuva
