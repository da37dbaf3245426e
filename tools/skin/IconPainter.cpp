#include "IconPainter.h"

#include "Palette.h"

#include <QConicalGradient>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

#include <algorithm>

namespace velora::skin {

namespace {

// Qt's own conversion picks a SIMD routine by the CPU, and they round differently; this one
// gives every machine the same bytes, so the committed icons can be reproduced anywhere.
QImage Unpremultiplied(const QImage& premultiplied) {
    QImage image(premultiplied.size(), QImage::Format_ARGB32);
    for (int y = 0; y < image.height(); ++y) {
        const auto* from = reinterpret_cast<const QRgb*>(premultiplied.constScanLine(y));
        auto* to = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            const int alpha = qAlpha(from[x]);
            auto channel = [alpha](int value) {
                return alpha == 0 ? 0 : std::min(255, (value * 255 + alpha / 2) / alpha);
            };
            to[x] = qRgba(channel(qRed(from[x])), channel(qGreen(from[x])), channel(qBlue(from[x])),
                          alpha);
        }
    }
    return image;
}

}  // namespace

QImage DrawIcon(int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 256.0, size / 256.0);

    // Tile.
    const QRectF tile(12, 12, 232, 232);
    QLinearGradient body(0, tile.top(), 0, tile.bottom());
    body.setColorAt(0, BodyTop.lighter(118));
    body.setColorAt(1, BodyBottom);
    p.setPen(QPen(Edge, 4));
    p.setBrush(body);
    p.drawRoundedRect(tile, 52, 52);
    p.setPen(QPen(QColor(255, 255, 255, 40), 3));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(tile.adjusted(5, 5, -5, -5), 47, 47);

    // Lens: a sunset in colour on the left, the same scene restyled to grey on the right.
    const QPointF centre(128, 128);
    const double radius = 82;
    QPainterPath lens;
    lens.addEllipse(centre, radius, radius);
    QLinearGradient colour(0, centre.y() - radius, 0, centre.y() + radius);
    colour.setColorAt(0.0, QColor(255, 206, 120));
    colour.setColorAt(0.45, Accent);
    colour.setColorAt(0.62, QColor(214, 86, 62));
    colour.setColorAt(1.0, QColor(58, 64, 132));
    QLinearGradient grey(0, centre.y() - radius, 0, centre.y() + radius);
    grey.setColorAt(0.0, QColor(236, 236, 236));
    grey.setColorAt(0.45, QColor(176, 176, 176));
    grey.setColorAt(0.62, QColor(118, 118, 118));
    grey.setColorAt(1.0, QColor(52, 52, 52));
    p.save();
    p.setClipPath(lens);
    p.fillRect(QRectF(centre.x() - radius, centre.y() - radius, radius, 2 * radius), colour);
    p.fillRect(QRectF(centre.x(), centre.y() - radius, radius, 2 * radius), grey);
    // The sun sets across the seam, so both halves read as one picture.
    p.setPen(Qt::NoPen);
    QRadialGradient sun(QPointF(128, 138), 30);
    sun.setColorAt(0, QColor(255, 248, 220, 240));
    sun.setColorAt(1, QColor(255, 248, 220, 0));
    p.setBrush(sun);
    p.drawEllipse(QPointF(128, 138), 30, 30);
    // Hills in the foreground.
    QPainterPath hills;
    hills.moveTo(40, 190);
    hills.cubicTo(90, 150, 130, 176, 170, 160);
    hills.cubicTo(196, 150, 214, 162, 220, 170);
    hills.lineTo(220, 220);
    hills.lineTo(40, 220);
    hills.closeSubpath();
    p.setBrush(QColor(24, 28, 40, 220));
    p.drawPath(hills);
    p.restore();

    // The lens barrel.
    QConicalGradient ring(centre, 135);
    ring.setColorAt(0.0, QColor(250, 252, 255));
    ring.setColorAt(0.5, QColor(120, 130, 142));
    ring.setColorAt(1.0, QColor(250, 252, 255));
    p.setPen(QPen(QBrush(ring), 10));
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius + 5, radius + 5);
    p.setPen(QPen(Edge, 2));
    p.drawEllipse(centre, radius + 10.5, radius + 10.5);
    p.end();
    return Unpremultiplied(image);
}

}  // namespace velora::skin
