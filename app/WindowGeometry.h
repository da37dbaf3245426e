// Fixed client-pixel geometry of the main window and the small text rules that go with it. Kept
// free of widgets so the exact integer arithmetic can be checked on its own.
#pragma once

#include <QPoint>
#include <QRect>
#include <QString>

#include "PictureFrame.h"

namespace velora {

// Where the window draws its own texts, each by its top-left corner, and what a repaint of the
// film options covers.
struct PaintLayout {
    static constexpr QPoint ColorLabel{795, 398};
    static constexpr QPoint GrayLabel{795, 426};
    static constexpr QPoint GrayContrastLabel{823, 461};
    static constexpr QPoint ReddishFilmLabel{843, 493};
    static constexpr QPoint BlueishFilmLabel{843, 517};
    static constexpr QRect FilmOptionsArea{840, 490, 160, 45};  // both boxes and their labels
    static constexpr QPoint FileName{415, 610};                 // under the picture
    static constexpr int ShadowOffset = 2;  // the probe readout's black copy, down and right
};

// Where a picture of width x height is drawn inside the frame. The long side spans 462 pixels,
// the short one is derived from 463: the truncations are part of the look and of the probe's
// inverse mapping, so they must not be "fixed" into rounding.
QRect FitPicture(unsigned width, unsigned height);

// Where a window of `size` goes on a screen whose free area is `available`: centred on each axis
// where it fits, against the area's left or top edge where it does not, so that its top (where it
// is dragged) and its left stay on the screen.
QPoint PlaceOnScreen(const QRect& available, const QSize& size);

// Length of `text` in the Korean double-byte code page: ASCII takes one byte, every other
// character two (the code page stores Hangul, Hanja and symbols in two bytes).
int DoubleByteLength(const QString& text);

// The file name as the window shows it: the name itself when it is shorter than 19 bytes in the
// double-byte code page, otherwise a fixed notice.
QString FileNameToShow(const QString& fileName);
inline constexpr int FileNameByteLimit = 19;
inline const char* const FileNameTooLongText = "Filename is too long to show.";

}  // namespace velora
