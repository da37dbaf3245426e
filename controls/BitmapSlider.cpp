#include "BitmapSlider.h"

#include "AccessibleControls.h"
#include "BitmapResource.h"
#include "ControlEvents.h"
#include "FocusRect.h"
#include "WindowRegion.h"

#include <QAccessible>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <climits>
#include <cmath>
#include <memory>
#include <utility>

namespace velora {
namespace {

// Truncation toward zero, kept inside int so that no out-of-range conversion can happen.
int TruncateToInt(double value) {
    const double truncated = std::trunc(value);
    if (truncated >= static_cast<double>(INT_MAX)) {
        return INT_MAX;
    }
    if (truncated <= static_cast<double>(INT_MIN)) {
        return INT_MIN;
    }
    return static_cast<int>(truncated);
}

int ClampToInt(long long value) {
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

// The track as drawn. With transparent set, pixels of the key colour become fully transparent
// (black, alpha 0) so that the parent shows there; the key is the colour of pixel (keyX, keyY)
// when keyColour asks for it, and a pixel outside the bitmap gives no key at all.
// A twin with a device pixel ratio takes its key from the first pixel of the block that stands
// for (keyX, keyY).
QImage PrepareTrack(const QImage& loaded, bool transparent, quint32 keyColour, int keyX, int keyY) {
    if (!transparent) {
        return loaded.convertToFormat(QImage::Format_RGB32);
    }
    QImage track = loaded.convertToFormat(QImage::Format_ARGB32);
    quint32 key = keyColour & 0xFFFFFF;
    if (keyColour == BitmapSlider::KeyFromPixel) {
        const QRect logical(QPoint(0, 0), track.deviceIndependentSize().toSize());
        if (!logical.contains(keyX, keyY)) {
            return track;
        }
        const qreal ratio = track.devicePixelRatio();
        key = ColorrefFromRgb(
            track.pixel(static_cast<int>(keyX * ratio), static_cast<int>(keyY * ratio)));
    }
    for (int y = 0; y < track.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(track.scanLine(y));
        for (int x = 0; x < track.width(); ++x) {
            row[x] = ColorrefFromRgb(row[x]) == key ? 0u : (row[x] | 0xFF000000u);
        }
    }
    return track;
}

}  // namespace

BitmapSlider::BitmapSlider(int controlId, QWidget* parent)
    : QWidget(parent), ControlIdValue(controlId) {
    // Not a tab stop: the slider takes the focus when it is pressed (an owner may add it to the
    // tab chain).
    setFocusPolicy(Qt::ClickFocus);
    InstallAccessibleControls();
}

void BitmapSlider::ClearBitmaps() {
    ChannelBitmap = QImage();
    ActiveBitmap = QImage();
    SharpChannelBitmap = QImage();
    SharpActiveBitmap = QImage();
    HasActiveBitmap = false;
}

bool BitmapSlider::SetChannelBitmaps(int channelId, int activeId, bool transparent,
                                     quint32 keyColour, int keyX, int keyY) {
    channelId = static_cast<quint16>(channelId);
    activeId = static_cast<quint16>(activeId);
    if (channelId == 0) {
        ChannelLoadedValue = false;
        ClearBitmaps();
        update();
        return true;
    }
    const QImage channel = LoadBitmapResource(channelId);
    QImage active;
    if (activeId != 0) {
        active = LoadBitmapResource(activeId);
    }
    if (channel.isNull() || (activeId != 0 && active.isNull())) {
        // Nothing half-loaded stays behind: a failed load leaves no track to draw.
        ChannelLoadedValue = false;
        ClearBitmaps();
        update();
        return false;
    }
    ChannelBitmap = PrepareTrack(channel, transparent, keyColour, keyX, keyY);
    HasActiveBitmap = activeId != 0;
    ActiveBitmap =
        HasActiveBitmap ? PrepareTrack(active, transparent, keyColour, keyX, keyY) : QImage();
    // The twins, both or neither, and only where they match the tracks' own size.
    const QImage sharpChannel = LoadBitmapResource(channelId, 2.0);
    const QImage sharpActive = activeId != 0 ? LoadBitmapResource(activeId, 2.0) : QImage();
    const auto twinOf = [](const QImage& twin, const QImage& own) {
        return twin.devicePixelRatio() > 1.0 && twin.deviceIndependentSize() == QSizeF(own.size());
    };
    SharpChannelBitmap = QImage();
    SharpActiveBitmap = QImage();
    if (twinOf(sharpChannel, channel) && (activeId == 0 || twinOf(sharpActive, active))) {
        SharpChannelBitmap = PrepareTrack(sharpChannel, transparent, keyColour, keyX, keyY);
        if (HasActiveBitmap) {
            SharpActiveBitmap = PrepareTrack(sharpActive, transparent, keyColour, keyX, keyY);
        }
    }
    ChannelWidth = ChannelBitmap.width();
    ChannelHeight = ChannelBitmap.height();
    resize(ChannelWidth, ChannelHeight);
    Transparent = transparent;
    ChannelLoadedValue = true;
    update();
    return true;
}

void BitmapSlider::SetRange(int min, int max, bool redraw) {
    RangeMinValue = min;
    RangeMaxValue = max;
    if (redraw) {
        update();
    }
}

void BitmapSlider::SetPosition(int value) {
    if (value > RangeMaxValue) {
        value = RangeMaxValue;
    }
    if (value < RangeMinValue) {
        value = RangeMinValue;
    }
    const int previous = PositionValue.exchange(value, std::memory_order_relaxed);
    update();
    if (previous != value && QAccessible::isActive()) {
        QAccessibleValueChangeEvent changed(this, value);
        QAccessible::updateAccessibility(&changed);
    }
}

void BitmapSlider::MoveTo(int value) {
    SetPosition(value);
    Post(WM_SLIDER_DONE);
}

int BitmapSlider::SetPageStep(int step) {
    return std::exchange(PageStepValue, step);
}

int BitmapSlider::TrackLength() const {
    return ChannelWidth - MarginRight - MarginLeft;
}

int BitmapSlider::PositionToPixel(int value) const {
    const double range = static_cast<double>(RangeMaxValue) - RangeMinValue;
    if (range == 0.0) {
        return MarginLeft;  // an empty range has only one pixel to show
    }
    const double fraction = (static_cast<double>(value) - RangeMinValue) / range;
    return ClampToInt(static_cast<long long>(MarginLeft) +
                      TruncateToInt(fraction * static_cast<double>(TrackLength())));
}

int BitmapSlider::PixelToPosition(int x) const {
    const double length = static_cast<double>(ChannelWidth) - MarginRight - MarginLeft;
    if (length == 0.0) {
        return RangeMinValue;
    }
    const double fraction = (static_cast<double>(x) - MarginLeft) / length;
    return TruncateToInt(fraction * (static_cast<double>(RangeMaxValue) - RangeMinValue) +
                         RangeMinValue);
}

void BitmapSlider::Post(QEvent::Type type) {
    QWidget* parent = parentWidget();
    if (parent != nullptr) {
        QCoreApplication::postEvent(
            parent, std::make_unique<SliderEvent>(type, ControlIdValue, Position()).release());
    }
}

void BitmapSlider::TrackPointer(int x) {
    int target = x;
    if (target < MarginLeft) {
        target = MarginLeft;
    }
    if (target > ChannelWidth - MarginRight) {
        target = ChannelWidth - MarginRight;
    }
    if (target != PositionToPixel(Position())) {
        SetPosition(PixelToPosition(target));
        Post(WM_SLIDER_TRACK);
    }
}

void BitmapSlider::mousePressEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(e);
        return;
    }
    grabMouse();
    setFocus(Qt::MouseFocusReason);
    Dragging = true;
    TrackPointer(e->position().toPoint().x());
    update();
}

void BitmapSlider::mouseMoveEvent(QMouseEvent* e) {
    if (Dragging) {
        TrackPointer(e->position().toPoint().x());
    }
}

void BitmapSlider::mouseReleaseEvent(QMouseEvent* e) {
    if (e->button() != Qt::LeftButton) {
        QWidget::mouseReleaseEvent(e);
        return;
    }
    if (mouseGrabber() == this) {
        releaseMouse();
    }
    Dragging = false;
    update();
    Post(WM_SLIDER_DONE);
}

void BitmapSlider::keyPressEvent(QKeyEvent* e) {
    const long long position = Position();
    long long value = 0;
    switch (e->key()) {
        case Qt::Key_PageUp:
            value = position - PageStepValue;
            break;
        case Qt::Key_PageDown:
            value = position + PageStepValue;
            break;
        case Qt::Key_End:
            value = RangeMaxValue;
            break;
        case Qt::Key_Home:
            value = RangeMinValue;
            break;
        case Qt::Key_Left:
        case Qt::Key_Up:
            value = position - 1;
            break;
        case Qt::Key_Right:
        case Qt::Key_Down:
            value = position + 1;
            break;
        default:
            QWidget::keyPressEvent(e);
            return;
    }
    // Every key-down counts, auto-repeated ones included, and each ends a change.
    MoveTo(ClampToInt(value));
    e->accept();
}

void BitmapSlider::focusInEvent(QFocusEvent* e) {
    QWidget::focusInEvent(e);
    HasFocus = true;
    update();
}

void BitmapSlider::focusOutEvent(QFocusEvent* e) {
    QWidget::focusOutEvent(e);
    HasFocus = false;
    update();
}

void BitmapSlider::paintEvent(QPaintEvent*) {
    // The whole control is built off screen and shown with one copy, so dragging never flickers.
    // Built at the screen's pixel ratio; the twins are drawn where that ratio is above 1.
    const qreal ratio = devicePixelRatioF();
    QImage buffer((QSizeF(size()) * ratio).toSize(), QImage::Format_ARGB32_Premultiplied);
    buffer.setDevicePixelRatio(ratio);
    if (Transparent) {
        buffer.fill(Qt::transparent);
    } else {
        buffer.fill(palette().color(backgroundRole()));
    }
    if (ChannelLoadedValue) {
        QPainter painter(&buffer);
        const bool sharp = ratio > 1.0 && !SharpChannelBitmap.isNull();
        const QImage& channel = sharp ? SharpChannelBitmap : ChannelBitmap;
        const QImage& active = sharp ? SharpActiveBitmap : ActiveBitmap;
        const int n = sharp ? 2 : 1;  // the bitmap's pixels per control pixel
        if (HasActiveBitmap) {
            // A position left outside the range is drawn at the nearer end.
            const int p = std::clamp(PositionToPixel(Position()), 0, ChannelWidth);
            painter.drawImage(QPoint(p, 0), channel,
                              QRect(p * n, 0, (ChannelWidth - p) * n, ChannelHeight * n));
            painter.drawImage(QPoint(0, 0), active, QRect(0, 0, p * n, ChannelHeight * n));
        } else {
            painter.drawImage(QPoint(0, 0), channel);
        }
    }
    if (HasFocus) {
        DrawFocusRect(buffer, rect());
    }
    QPainter(this).drawImage(0, 0, buffer);
}

}  // namespace velora
