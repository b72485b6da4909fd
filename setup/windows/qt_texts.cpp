#include "setup/windows/qt_texts.h"

namespace nuva {

QString StripMnemonics(const QString& text) {
    QString plain;
    plain.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'&') {
            plain += text[i];
        } else if (i + 1 < text.size() && text[i + 1] == u'&') {
            plain += u'&';
            ++i;
        }
    }
    return plain;
}

QStringList QtNameFilters(std::string_view filter) {
    QStringList parts = QString::fromUtf8(filter.data(), static_cast<qsizetype>(filter.size())).split(u'|');
    QStringList filters;
    // The list ends at the first empty part (the "||" that closes it); a
    // description without patterns is no filter.
    for (qsizetype i = 0; i + 1 < parts.size() && !parts[i].isEmpty() && !parts[i + 1].isEmpty(); i += 2) {
        QStringList patterns = parts[i + 1].split(u';', Qt::SkipEmptyParts);
        filters << parts[i] + QStringLiteral(" (") + patterns.join(u' ') + u')';
    }
    return filters;
}

}  // namespace nuva
