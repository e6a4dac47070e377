#include "platform/linux/qt/AppIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace platform {

namespace {

// Three screens side by side on a dark stand, the middle one lit: the wall.
QPixmap paintIcon(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 64.0, size / 64.0);
    QPainterPath back;
    back.addRoundedRect(2, 2, 60, 60, 12, 12);
    p.fillPath(back, QColor(0x1d, 0x2b, 0x3a));
    const QColor frame(0x9f, 0xb3, 0xc8), lit(0x2e, 0xc4, 0xb6), dim(0x3a, 0x6e, 0x8f);
    const QRectF screens[] = {{7, 18, 15, 22}, {24, 14, 16, 28}, {42, 18, 15, 22}};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(frame, 1.5));
        p.setBrush(i == 1 ? lit : dim);
        p.drawRoundedRect(screens[i], 2, 2);
    }
    // A rising line on the lit screen: a monitoring page.
    p.setPen(QPen(QColor(0xf4, 0xf7, 0xfa), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    const QPointF trend[] = {{27, 36}, {31, 30}, {34, 33}, {37, 22}};
    p.drawPolyline(trend, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(frame);
    p.drawRect(QRectF(29, 44, 6, 6));
    p.drawRoundedRect(QRectF(20, 50, 24, 4), 2, 2);
    return pixmap;
}

} // namespace

QIcon applicationIcon() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64, 128, 256})
        icon.addPixmap(paintIcon(size));
    return icon;
}

} // namespace platform
