#include "Preview.h"

#include "Palette.h"
#include "Resources.h"
#include "SkinGeometry.h"

#include <QFont>
#include <QLinearGradient>
#include <QPainter>
#include <QRadialGradient>

#include <cmath>

namespace velora::skin {

namespace {

// A stand-in photograph so the frame is judged with a picture in it: dusk over hills.
QImage SamplePicture(int w, int h) {
    QImage pic(w, h, QImage::Format_RGB32);
    QPainter p(&pic);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, h);
    sky.setColorAt(0, QColor(46, 72, 128));
    sky.setColorAt(0.55, QColor(236, 150, 92));
    sky.setColorAt(1, QColor(250, 206, 140));
    p.fillRect(pic.rect(), sky);
    QRadialGradient sun(QPointF(w * 0.62, h * 0.58), h * 0.16);
    sun.setColorAt(0, QColor(255, 244, 214));
    sun.setColorAt(1, QColor(255, 244, 214, 0));
    p.fillRect(pic.rect(), sun);
    p.setPen(Qt::NoPen);
    for (int layer = 0; layer < 3; ++layer) {
        QPolygonF hill;
        hill << QPointF(0, h);
        for (int x = 0; x <= w; x += 8) {
            const double t = x / double(w);
            hill << QPointF(x, h * (0.62 + 0.1 * layer) +
                                   h * 0.06 * std::sin(t * (5 + layer * 2) + layer * 1.3));
        }
        hill << QPointF(w, h);
        p.setBrush(QColor(40 - layer * 10, 44 - layer * 10, 62 - layer * 14));
        p.drawPolygon(hill);
    }
    return pic;
}

void DrawTrackAt(QPainter& p, const QImage& channel, const QImage& active, QPoint at, int value) {
    const int pixel = TrackLeft + (TrackRight - TrackLeft) * value / 100;
    QImage composed = channel.convertToFormat(QImage::Format_ARGB32);
    QPainter c(&composed);
    c.drawImage(QPoint(0, 0), active, QRect(0, 0, pixel, active.height()));
    c.end();
    composed.setPixel(0, 0, qRgba(0, 0, 0, 0));  // the key pixel is transparent
    p.drawImage(at, composed);
}

}  // namespace

QImage ComposePreview(const std::map<int, QImage>& bitmaps) {
    const QImage& skin = bitmaps.at(IDB_SKIN);
    QImage out(skin.size(), QImage::Format_RGB32);
    {
        QPainter p(&out);
        QLinearGradient desk(0, 0, out.width(), out.height());
        desk.setColorAt(0, QColor(72, 118, 160));
        desk.setColorAt(1, QColor(150, 176, 196));
        p.fillRect(out.rect(), desk);
    }
    // Cut the skin by its key, as the window region does.
    QImage cut = skin.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < cut.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(cut.scanLine(y));
        for (int x = 0; x < cut.width(); ++x) {
            if ((row[x] & 0xFFFFFF) == SkinKeyRgb) {
                row[x] = 0;
            }
        }
    }
    QPainter p(&out);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.drawImage(0, 0, cut);

    // Frame and picture as the window paints them.
    p.setBrush(QColor(127, 127, 127));
    p.setPen(QPen(QColor(50, 50, 50), 2));
    p.drawRect(150, 170, 471, 471);
    p.drawImage(QRect(154, 251, 462, 300), SamplePicture(924, 600));
    QFont label(QStringLiteral("NanumGothic"));
    label.setPixelSize(12);
    p.setFont(label);
    p.setPen(QColor(200, 200, 200));
    p.drawText(FileNamePoint + QPoint(0, 12), QStringLiteral("dusk_vlr.jpg"));
    p.setPen(Qt::black);
    for (const PlacedLabel& l : PanelLabels()) {
        p.drawText(QRect(l.TopLeft, QSize(200, 16)), Qt::AlignLeft | Qt::AlignTop, l.Text);
    }

    // Push buttons, each in another state so that all faces are seen side by side.
    const int faces[] = {IDB_PUSH_NORMAL, IDB_PUSH_HOVER, IDB_PUSH_PRESSED, IDB_PUSH_DISABLED,
                         IDB_PUSH_NORMAL};
    QFont caption(QStringLiteral("NanumGothic"));
    caption.setPixelSize(12);
    caption.setBold(true);
    p.setFont(caption);
    int i = 0;
    for (const PlacedControl& b : PushButtons()) {
        const int face = faces[i++];
        p.drawImage(b.Pixels.topLeft(), bitmaps.at(face));
        const QString text =
            QString::fromUtf8(FindDialogTemplate(IDD_MAIN_DIALOG)->Find(b.Id)->Caption);
        QRect t = b.Pixels.adjusted(2, 0, -2, 0);
        if (face == IDB_PUSH_DISABLED) {
            p.setPen(QColor(255, 255, 255));
            p.drawText(t, Qt::AlignCenter, text);
            p.setPen(QColor(109, 109, 109));
            p.drawText(t.translated(-1, -1), Qt::AlignCenter, text);
            continue;
        }
        if (face == IDB_PUSH_PRESSED) {
            t.translate(1, 1);
        }
        p.setPen(Qt::black);
        p.drawText(t, Qt::AlignCenter, text);
    }

    for (const PlacedControl& c : PanelControls()) {
        switch (c.Id) {
            case IDC_GRAY_CONTRAST:
                p.drawImage(c.Pixels.topLeft(), bitmaps.at(IDB_CHECK_PRESSED));
                break;
            case IDC_REDDISH_FILM:
            case IDC_BLUEISH_FILM:
                // Plain check boxes of the toolkit.
                p.setPen(QColor(118, 118, 118));
                p.setBrush(c.Id == IDC_REDDISH_FILM ? QColor(58, 120, 210) : Qt::white);
                p.drawRect(c.Pixels.adjusted(0, 0, -1, -1));
                break;
            case IDC_SLIDER_COLOR:
                DrawTrackAt(p, bitmaps.at(IDB_SLIDER_CHANNEL), bitmaps.at(IDB_SLIDER_ACTIVE),
                            c.Pixels.topLeft(), 62);
                break;
            case IDC_SLIDER_GRAY:
                DrawTrackAt(p, bitmaps.at(IDB_SLIDER_CHANNEL), bitmaps.at(IDB_SLIDER_ACTIVE),
                            c.Pixels.topLeft(), 30);
                break;
            default:
                break;
        }
    }

    // The vertical progress bar, a third of the way.
    const QRect bar = ProgressBarRect();
    p.setPen(QColor(90, 90, 90));
    p.setBrush(QColor(236, 236, 236));
    p.drawRect(bar.adjusted(0, 0, -1, -1));
    p.fillRect(QRect(bar.left() + 2, bar.bottom() - 50, bar.width() - 4, 49), QColor(6, 176, 37));
    return out;
}

}  // namespace velora::skin
