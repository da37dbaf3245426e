#include "FacePainter.h"

#include "Palette.h"
#include "SkinGeometry.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace velora::skin {

namespace {

QImage Canvas(QSize size, int scale, const QColor& ground) {
    QImage image(size * scale, QImage::Format_RGB32);
    image.fill(ground);
    return image;
}

struct KeyLook {
    QColor Top, Bottom, Border, Shine;
};

KeyLook PushLook(FaceState state) {
    switch (state) {
        case FaceState::Hover:
            return {QColor(255, 247, 232), QColor(246, 205, 140), Accent, QColor(255, 255, 255)};
        case FaceState::Pressed:
            return {QColor(214, 150, 62), QColor(248, 196, 118), AccentDark, QColor(255, 236, 200)};
        case FaceState::Disabled:
            return {QColor(184, 189, 195), QColor(170, 175, 182), QColor(58, 64, 72),
                    QColor(200, 204, 209)};
        case FaceState::Normal:
        default:
            return {QColor(240, 243, 246), QColor(190, 198, 207), QColor(8, 10, 13),
                    QColor(255, 255, 255)};
    }
}

}  // namespace

QImage DrawPushFace(FaceState state, int scale) {
    QImage image = Canvas(PushFaceSize, scale, Rail);
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    const KeyLook look = PushLook(state);
    const QRectF outer(1.0, 1.0, 78.0, 28.0);
    const double radius = 14.0;

    // Soft glow round the hovered key, a dark ring round the others.
    if (state == FaceState::Hover) {
        QColor glow = Accent;
        glow.setAlpha(90);
        p.setPen(QPen(glow, 2.0));
        p.setBrush(Qt::NoBrush);
        p.drawRoundedRect(outer.adjusted(-0.5, -0.5, 0.5, 0.5), radius + 0.5, radius + 0.5);
    }
    QLinearGradient fill(0, outer.top(), 0, outer.bottom());
    fill.setColorAt(0, look.Top);
    fill.setColorAt(1, look.Bottom);
    p.setPen(QPen(look.Border, 1.0));
    p.setBrush(fill);
    p.drawRoundedRect(outer.adjusted(0.5, 0.5, -0.5, -0.5), radius - 0.5, radius - 0.5);

    // Highlight along the upper half; pressed keys show it at the bottom, as if sunk.
    const QRectF inner = outer.adjusted(2.0, 2.0, -2.0, -2.0);
    QPainterPath shine;
    shine.addRoundedRect(inner, radius - 2, radius - 2);
    QColor shineColour = look.Shine;
    QLinearGradient gloss(0, inner.top(), 0, inner.bottom());
    if (state == FaceState::Pressed) {
        shineColour.setAlpha(0);
        gloss.setColorAt(0, QColor(120, 70, 10, 70));
        gloss.setColorAt(0.35, shineColour);
        gloss.setColorAt(1, shineColour);
    } else {
        shineColour.setAlpha(state == FaceState::Disabled ? 30 : 150);
        gloss.setColorAt(0, shineColour);
        shineColour.setAlpha(0);
        gloss.setColorAt(0.5, shineColour);
        gloss.setColorAt(1, shineColour);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(gloss);
    p.drawPath(shine);
    return image;
}

QImage DrawCheckFace(FaceState state, int scale) {
    QImage image = Canvas(CheckFaceSize, scale, Panel);
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF box(2.5, 2.5, 15.0, 15.0);
    QColor top, bottom, border;
    switch (state) {
        case FaceState::Hover:
            top = QColor(255, 252, 246);
            bottom = QColor(252, 232, 204);
            border = Accent;
            break;
        case FaceState::Pressed:
            top = QColor(249, 187, 96);
            bottom = AccentDark;
            border = QColor(150, 86, 14);
            break;
        case FaceState::Disabled:
            top = QColor(224, 220, 211);
            bottom = QColor(214, 210, 201);
            border = QColor(184, 179, 169);
            break;
        case FaceState::Normal:
        default:
            top = QColor(255, 255, 255);
            bottom = QColor(226, 224, 219);
            border = QColor(112, 120, 130);
            break;
    }
    QLinearGradient fill(0, box.top(), 0, box.bottom());
    fill.setColorAt(0, top);
    fill.setColorAt(1, bottom);
    p.setPen(QPen(border, state == FaceState::Hover ? 1.6 : 1.2));
    p.setBrush(fill);
    p.drawRoundedRect(box, 3.5, 3.5);
    if (state == FaceState::Pressed) {
        QPainterPath tick;
        tick.moveTo(6.0, 10.4);
        tick.lineTo(8.8, 13.2);
        tick.lineTo(14.2, 6.8);
        p.setPen(QPen(Qt::white, 2.3, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        p.setBrush(Qt::NoBrush);
        p.drawPath(tick);
    }
    return image;
}

QImage DrawBlackMask(QSize size) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::black);
    return image;
}

QImage DrawTrack(bool filled, int scale) {
    QImage image = Canvas(TrackSize, scale, Panel);
    QPainter p(&image);
    p.scale(scale, scale);
    p.setRenderHint(QPainter::Antialiasing);
    const QRectF groove(TrackLeft, 6.5, TrackRight - TrackLeft, 7.0);
    QLinearGradient fill(0, groove.top(), 0, groove.bottom());
    if (filled) {
        fill.setColorAt(0, QColor(250, 192, 104));
        fill.setColorAt(1, AccentDark);
        p.setPen(QPen(QColor(150, 86, 14), 1.0));
    } else {
        fill.setColorAt(0, QColor(150, 145, 136));
        fill.setColorAt(1, QColor(196, 191, 182));
        p.setPen(QPen(QColor(128, 122, 112), 1.0));
    }
    p.setBrush(fill);
    p.drawRoundedRect(groove.adjusted(0.5, 0.5, -0.5, -0.5), 3.0, 3.0);
    p.end();

    // The key must occur once: nudge any anti-aliased pixel that lands on it by chance.
    const QRgb key = qRgb(252, 252, 252);
    for (int y = 0; y < image.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < image.width(); ++x) {
            if ((row[x] & 0xFFFFFF) == (key & 0xFFFFFF)) {
                row[x] = qRgb(251, 251, 251);
            }
        }
    }
    // A finer track keys the whole block that stands for the track's pixel (0, 0).
    for (int y = 0; y < scale; ++y) {
        for (int x = 0; x < scale; ++x) {
            image.setPixel(x, y, key);
        }
    }
    return image.convertToFormat(QImage::Format_RGB888);
}

}  // namespace velora::skin
