#include "app/TrayIcon.h"

#include <QPainter>
#include <QPixmap>

namespace varnello {

QIcon makeTrayIcon(const QPalette& palette) {
    const QIcon symbol(QStringLiteral(":/icons/varnello-bridge-symbolic.svg"));
    QIcon icon;
    for (const int size : {16, 22, 24, 32, 48, 64}) {
        QPixmap pixmap = symbol.pixmap(size, size);
        if (pixmap.isNull()) {
            return QIcon();
        }
        QPainter painter(&pixmap);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(pixmap.rect(), palette.color(QPalette::WindowText));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

} // namespace varnello
