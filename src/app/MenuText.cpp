#include "app/MenuText.h"

namespace varnello {

QString mnemonicFree(const std::string& text) {
    return QString::fromStdString(text).replace(QLatin1Char('&'), QStringLiteral("&&"));
}

std::string shownText(const QString& held) {
    QString shown;
    shown.reserve(held.size());
    for (qsizetype i = 0; i < held.size(); ++i) {
        if (held[i] == QLatin1Char('&')) {
            // "&&" shows one "&"; a lone "&" marks the next character and is not shown.
            if (i + 1 < held.size()) {
                ++i;
            } else {
                continue;
            }
        }
        shown.append(held[i]);
    }
    return shown.toStdString();
}

} // namespace varnello
