// The bitmaps of a BitmapButton: five faces and the mask, and how one face fills the control.
#pragma once

#include <QImage>
#include <QRect>

class QPainter;

namespace velora {

// One face as loaded (opaque) and, when a mask is present, the same face with the mask's white
// pixels made transparent, so that the parent shows through there. The Sharp pair is the face's
// "@2x" twin, drawn on screens with a device pixel ratio above 1; the face itself sets the size.
struct ButtonFace {
    QImage Opaque;
    QImage Transparent;
    QImage SharpOpaque;
    QImage SharpTransparent;
    bool Exists() const { return !Opaque.isNull(); }
};

class ButtonFaces {
  public:
    // Loads the faces whose identifier is nonzero; the disabled face falls back to a copy of the
    // normal face. The mask, when given, is applied to every face.
    void Load(int normal, int pressed, int hover, int disabled, int focus, int mask);
    void Clear();

    // Draws face into r. drawMode is 0 (natural size at r's top-left), 1 (stretched to r) or 2
    // (tiled from r's top-left, without the mask). A missing face draws nothing. On a painter
    // whose device has a pixel ratio above 1 the sharp twin is drawn in the same place.
    void DrawFace(QPainter& painter, const ButtonFace& face, const QRect& r, int drawMode) const;

    ButtonFace NormalFace;
    ButtonFace PressedFace;
    ButtonFace DisabledFace;
    QImage MaskBitmap;
    ButtonFace HoverFace;
    ButtonFace FocusFace;
    // A checked control that is disabled: the pressed face greyed towards the disabled one, so
    // the state stays readable while it cannot be changed. Made when both faces exist.
    ButtonFace DisabledCheckedFace;
};

}  // namespace velora
