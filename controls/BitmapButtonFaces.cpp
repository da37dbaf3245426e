#include "BitmapButtonFaces.h"

#include "BitmapResource.h"

#include <QBrush>
#include <QPainter>

#include <algorithm>
#include <utility>

namespace velora {
namespace {

// Faces are drawn as plain copies, so any alpha a file carries is dropped.
QImage LoadOpaque(int id) {
    const QImage image = LoadBitmapResource(id);
    return image.isNull() ? QImage() : image.convertToFormat(QImage::Format_RGB32);
}

// The twin for a screen of twice the pixels, or a null image where the face has none.
QImage LoadSharpOpaque(int id) {
    const QImage image = LoadBitmapResource(id, 2.0);
    return image.isNull() || image.devicePixelRatio() <= 1.0
               ? QImage()
               : image.convertToFormat(QImage::Format_RGB32);
}

// The face with the mask's exactly-white pixels transparent: where the mask is black the face
// shows, where it is white the parent does. The same white is the key of the button's shape, so
// the transparent pixels and the pixels outside the shape agree. Face pixels beyond the mask's
// size stay opaque.
QImage ApplyMask(const QImage& face, const QImage& mask) {
    QImage result = face.convertToFormat(QImage::Format_ARGB32);
    result.setDevicePixelRatio(face.devicePixelRatio());
    const int width = std::min(result.width(), mask.width());
    const int height = std::min(result.height(), mask.height());
    for (int y = 0; y < height; ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < width; ++x) {
            if ((mask.pixel(x, y) & 0xFFFFFF) == 0xFFFFFF) {
                row[x] = 0;
            }
        }
    }
    return result;
}

ButtonFace MakeFace(int id) {
    ButtonFace face;
    face.Opaque = LoadOpaque(id);
    if (face.Exists()) {
        face.SharpOpaque = LoadSharpOpaque(id);
    }
    return face;
}

// Each pixel of `pressed` turned grey and mixed half and half with the pixel of `disabled` at the
// same place (grey alone where `disabled` has none).
QImage Greyed(const QImage& pressed, const QImage& disabled) {
    if (pressed.isNull()) {
        return QImage();
    }
    QImage result = pressed.convertToFormat(QImage::Format_RGB32);
    result.setDevicePixelRatio(pressed.devicePixelRatio());
    for (int y = 0; y < result.height(); ++y) {
        QRgb* row = reinterpret_cast<QRgb*>(result.scanLine(y));
        for (int x = 0; x < result.width(); ++x) {
            const int grey = qGray(row[x]);
            const QRgb under = disabled.valid(x, y) ? disabled.pixel(x, y) : qRgb(grey, grey, grey);
            row[x] = qRgb((grey + qRed(under)) / 2, (grey + qGreen(under)) / 2,
                          (grey + qBlue(under)) / 2);
        }
    }
    return result;
}

}  // namespace

void ButtonFaces::Clear() {
    *this = ButtonFaces();
}

void ButtonFaces::Load(int normal, int pressed, int hover, int disabled, int focus, int mask) {
    Clear();
    NormalFace = MakeFace(normal);
    PressedFace = MakeFace(pressed);
    HoverFace = MakeFace(hover);
    FocusFace = MakeFace(focus);
    DisabledFace = disabled != 0 ? MakeFace(disabled) : NormalFace;
    if (PressedFace.Exists() && DisabledFace.Exists()) {
        DisabledCheckedFace.Opaque = Greyed(PressedFace.Opaque, DisabledFace.Opaque);
        DisabledCheckedFace.SharpOpaque = Greyed(PressedFace.SharpOpaque, DisabledFace.SharpOpaque);
    }
    MaskBitmap = LoadBitmapResource(mask);
    if (MaskBitmap.isNull()) {
        return;
    }
    QImage sharpMask = LoadBitmapResource(mask, 2.0);
    if (sharpMask.devicePixelRatio() <= 1.0) {
        // No twin of the mask: each of its pixels stands for a 2 x 2 block.
        sharpMask = MaskBitmap.scaled(MaskBitmap.size() * 2);
    }
    for (ButtonFace* face :
         {&NormalFace, &PressedFace, &DisabledFace, &HoverFace, &FocusFace, &DisabledCheckedFace}) {
        if (face->Exists()) {
            face->Transparent = ApplyMask(face->Opaque, MaskBitmap);
        }
        if (!face->SharpOpaque.isNull()) {
            face->SharpTransparent = ApplyMask(face->SharpOpaque, sharpMask);
        }
    }
}

void ButtonFaces::DrawFace(QPainter& painter, const ButtonFace& face, const QRect& r,
                           int drawMode) const {
    if (!face.Exists() || r.isEmpty()) {
        return;
    }
    if (drawMode == 2) {
        painter.save();
        painter.setBrushOrigin(r.topLeft());
        painter.fillRect(r, QBrush(face.Opaque));
        painter.restore();
        return;
    }
    const bool sharp = painter.device() != nullptr && painter.device()->devicePixelRatioF() > 1.0 &&
                       !face.SharpOpaque.isNull();
    const QImage& image = MaskBitmap.isNull() ? (sharp ? face.SharpOpaque : face.Opaque)
                                              : (sharp ? face.SharpTransparent : face.Transparent);
    if (drawMode == 0) {
        // Natural size: an area of r's size from the face's top-left corner; a control larger
        // than its face shows the parent beyond the face. The area is counted in the face's own
        // pixels, twice as many each way for the twin.
        const int n = sharp ? 2 : 1;
        painter.drawImage(r.topLeft(), image, QRect(QPoint(0, 0), r.size() * n));
    } else {
        // Nearest-pixel stretching, as a block stretch does.
        painter.drawImage(r, image, image.rect());
    }
}

}  // namespace velora
