#include "cloud/qt/LoginBackground.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace {

// The wall's colours, as in the application icon.
const QColor kNight(0x1d, 0x2b, 0x3a);
const QColor kDusk(0x27, 0x3d, 0x52);
const QColor kFrame(0x9f, 0xb3, 0xc8);
const QColor kLit(0x2e, 0xc4, 0xb6);
const QColor kDim(0x3a, 0x6e, 0x8f);
const QColor kPaper(0xee, 0xf3, 0xf7);
const QColor kChalk(0xf4, 0xf7, 0xfa);

// One row of knitted stitches: a chain of V shapes.
void knitRow(QPainter& p, qreal y, qreal stitch, const QColor& colour, qreal width) {
    p.setPen(QPen(colour, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    for (qreal x = -stitch / 2; x < kLoginBackgroundWidth + stitch; x += stitch) {
        const QPointF v[] = {{x, y}, {x + stitch / 2, y + stitch * 0.7}, {x + stitch, y}};
        p.drawPolyline(v, 3);
    }
}

// A screen of the wall: frame, face and what the page shows on it.
void screen(QPainter& p, const QRectF& r, bool lit) {
    p.setPen(QPen(kFrame, 2));
    p.setBrush(lit ? kLit : kDim);
    p.drawRoundedRect(r, 4, 4);
    p.setPen(Qt::NoPen);
    p.setBrush(kChalk);
    if (lit) {
        // A rising trend: a monitoring page.
        p.setPen(QPen(kChalk, 3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        const QPointF trend[] = {{r.left() + 12, r.bottom() - 14},
                                 {r.left() + r.width() * 0.35, r.top() + r.height() * 0.55},
                                 {r.left() + r.width() * 0.55, r.top() + r.height() * 0.68},
                                 {r.right() - 12, r.top() + 14}};
        p.drawPolyline(trend, 4);
    } else {
        // Machine bars of a status page.
        const qreal bar = (r.width() - 20) / 4;
        for (int i = 0; i < 4; ++i) {
            const qreal h = (r.height() - 20) * (0.35 + 0.15 * ((i * 3) % 4));
            p.drawRect(QRectF(r.left() + 10 + i * bar + 2, r.bottom() - 10 - h, bar - 4, h));
        }
    }
}

} // namespace

QImage loginBackground() {
    QImage image(kLoginBackgroundWidth, kLoginBackgroundHeight, QImage::Format_RGB888);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);

    // Upper part: the wall at night.
    const qreal horizon = 196;
    QLinearGradient sky(0, 0, 0, horizon);
    sky.setColorAt(0, kNight);
    sky.setColorAt(1, kDusk);
    p.fillRect(QRectF(0, 0, kLoginBackgroundWidth, horizon), sky);
    for (int row = 0; row < 4; ++row)
        knitRow(p, 10 + row * 11, 16, QColor(0x2b, 0x41, 0x57), 1.5);
    screen(p, QRectF(22, 70, 74, 58), false);
    screen(p, QRectF(106, 56, 88, 80), true);
    screen(p, QRectF(204, 70, 74, 58), false);
    // The stand.
    p.setPen(Qt::NoPen);
    p.setBrush(kFrame);
    p.drawRect(QRectF(144, 136, 12, 20));
    p.drawRoundedRect(QRectF(110, 156, 80, 6), 3, 3);

    // Lower part: a quiet field for the account and the password, edged
    // with a band of stitches in the lit colour.
    p.fillRect(QRectF(0, horizon, kLoginBackgroundWidth, kLoginBackgroundHeight - horizon), kPaper);
    p.fillRect(QRectF(0, horizon - 14, kLoginBackgroundWidth, 14), kDusk);
    knitRow(p, horizon - 11, 12, kLit, 2);
    for (int row = 0; row < 6; ++row)
        knitRow(p, 300 + row * 14, 14, QColor(0xdd, 0xe6, 0xee), 1.5);
    return image;
}

QImage coverArea(const QImage& picture, QSize area) {
    if (picture.isNull() || area.isEmpty())
        return picture;
    const QImage scaled =
        picture.scaled(area, Qt::KeepAspectRatioByExpanding, Qt::SmoothTransformation);
    return scaled.copy((scaled.width() - area.width()) / 2, (scaled.height() - area.height()) / 2,
                       area.width(), area.height());
}
