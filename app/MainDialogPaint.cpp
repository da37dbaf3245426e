// Painting of the main window and the colour probe that draws over it.
#include <QPaintEvent>
#include <QPainter>

#include "BitmapResource.h"
#include "ColorProbe.h"
#include "MainDialog.h"
#include "Orientation.h"
#include "Resources.h"
#include "WindowGeometry.h"

namespace velora {

namespace {

const QColor FrameFill(127, 127, 127);
const QColor FramePen(50, 50, 50);
const QColor FileNameColour(200, 200, 200);
const QColor GreyedLabel(158, 158, 158);
constexpr int FramePenWidth = 2;

// Texts are placed by their top-left corner, as the labels were laid out; the box only has to be
// larger than any one line.
void DrawTextAt(QPainter& painter, const QPoint& topLeft, const QString& text) {
    painter.drawText(QRect(topLeft, QSize(1000, 100)),
                     Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text);
}

}  // namespace

void MainDialog::DrawWindowContents() {
    Probe.reset();
    if (isVisible()) {
        repaint();
    }
}

void MainDialog::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    EraseWithSkin(painter);
    PaintContents(painter, event->rect());
    PaintProbe(painter);
}

void MainDialog::EraseWithSkin(QPainter& painter) {
    if (devicePixelRatioF() > 1.0 && !SharpSkinTried) {
        SharpSkinTried = true;
        const QImage twin = LoadBitmapResource(IDB_SKIN, 2.0);
        if (twin.devicePixelRatio() > 1.0 && twin.deviceIndependentSize() == SkinBitmap.size()) {
            SharpSkin = twin.convertToFormat(QImage::Format_RGB32);
        }
    }
    if (devicePixelRatioF() > 1.0 && !SharpSkin.isNull()) {
        const int n = static_cast<int>(SharpSkin.devicePixelRatio());
        painter.drawImage(QPoint(0, 0), SharpSkin, QRect(QPoint(0, 0), size() * n));
        return;
    }
    painter.drawImage(QPoint(0, 0), SkinBitmap, rect());
}

void MainDialog::PaintContents(QPainter& painter, const QRect& dirty) {
    const QRect frame(PictureFrame::Left, PictureFrame::Top, PictureFrame::Side,
                      PictureFrame::Side);
    painter.fillRect(frame, FramePen);
    painter.fillRect(frame.adjusted(FramePenWidth, FramePenWidth, -FramePenWidth, -FramePenWidth),
                     FrameFill);

    painter.setPen(Qt::black);
    DrawTextAt(painter, PaintLayout::GrayContrastLabel, QStringLiteral("Gray Contrast"));
    DrawTextAt(painter, PaintLayout::GrayLabel, QStringLiteral("Gray"));
    DrawTextAt(painter, PaintLayout::ColorLabel, QStringLiteral("Color"));

    // Every paint brings the film boxes in line with their availability.
    SetFilmBoxesEnabled(FilmOptionsAvailable);
    PaintFilmLabels(painter);

    if (PictureLoaded && dirty.intersects(frame)) {
        PaintPicture(painter);
        painter.setPen(FileNameColour);
        DrawTextAt(painter, PaintLayout::FileName, FileNameToShow(CurrentFileName));
    }
}

void MainDialog::PaintFilmLabels(QPainter& painter) {
    painter.setPen(FilmOptionsAvailable ? QColor(Qt::black) : GreyedLabel);
    DrawTextAt(painter, PaintLayout::ReddishFilmLabel, QStringLiteral("Reddish Film"));
    DrawTextAt(painter, PaintLayout::BlueishFilmLabel, QStringLiteral("Blueish Film"));
}

void MainDialog::PaintPicture(QPainter& painter) {
    if (Display.Image.isNull()) {
        return;
    }
    // Device pixels one to one where the display was made for this screen; scaled for the moment
    // while a display for a new screen is being made.
    const qreal ratio = devicePixelRatioF();
    if (!Display.IsFor(ratio)) {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        RefreshDisplay();
    }
    painter.drawImage(QRectF(Display.Target()), Display.Image);
}

void MainDialog::PaintProbe(QPainter& painter) {
    if (!Probe) {
        return;
    }
    const QPoint& p = Probe->Marker;
    painter.setPen(Qt::white);
    painter.drawPoint(p);
    painter.setPen(Qt::black);
    painter.drawPoint(p.x() + 1, p.y());
    painter.drawPoint(p.x(), p.y() + 1);
    painter.drawPoint(p.x() - 1, p.y());
    painter.drawPoint(p.x(), p.y() - 1);
    for (int i = 0; i < Probe->Lines.size(); ++i) {
        DrawShadowText(painter, ReadoutX, ReadoutY + ReadoutStep * i, Probe->Lines[i]);
    }
}

void MainDialog::DrawShadowText(QPainter& painter, int x, int y, const QString& text) {
    constexpr int shadow = PaintLayout::ShadowOffset;
    painter.setPen(Qt::black);
    DrawTextAt(painter, QPoint(x + shadow, y + shadow), text);
    painter.setPen(Qt::white);
    DrawTextAt(painter, QPoint(x, y), text);
}

bool MainDialog::IsOnDrawnPicture(int x, int y) {
    return PictureLoaded && Display.HasPicture() &&
           ProbeHitTest(x, y, Display.ShownWidth, Display.ShownHeight).Inside;
}

void MainDialog::ColorProbe(int x, int y) {
    DragSuppressed = false;
    DragArmed = true;
    if (!PictureLoaded || !WorkingCopy || !Display.HasPicture()) {
        return;
    }
    // The click lands on the upright picture as drawn; the same turn maps it back to the stored
    // pixel, which is the one read (one pixel, not a copy of the picture).
    const ProbeHit hit = ProbeHitTest(x, y, Display.ShownWidth, Display.ShownHeight);
    if (!hit.Inside) {
        return;
    }
    const PixelPoint stored = StoredPixel(Display.Orientation, Display.StoredWidth,
                                          Display.StoredHeight, hit.PixelX, hit.PixelY);
    Argb colour = 0xFF000000u;
    // The lowest accepted row or column maps one past the picture; the read then fails and the
    // readout shows black.
    WorkingCopy->GetPixel(stored.X, stored.Y, &colour);
    // The earlier marker and readout give way to the new ones in one repaint.
    Probe = ProbeOverlay{QPoint(x, y), {}};
    ShowColorReadout(colour);
}

void MainDialog::ShowColorReadout(quint32 argb) {
    if (!Probe) {
        return;
    }
    Probe->Lines.clear();
    for (const std::string& line :
         ReadoutLines(argb, ColorSlider.Position(), HiddenSlider.Position())) {
        Probe->Lines.append(QString::fromStdString(line));
    }
    if (isVisible()) {
        repaint();
    }
}

}  // namespace velora
