// Window regions from bitmaps. In each row every maximal run of pixels that are not key pixels
// becomes one rectangle one pixel high; the region is the union of those rectangles, in the
// bitmap's own coordinates (y = 0 at the top row).
//
// Colours are COLORREF values 0x00BBGGRR (red in the lowest byte). std::nullopt stands for "no
// region"; an empty QRegion is a valid result (every pixel a key pixel).
#pragma once

#include <QImage>
#include <QRegion>

#include <optional>

namespace velora {

// Shapes a large bitmap such as the window skin. A pixel is a key pixel when each of its red,
// green and blue lies in [K(c), min(255, K(c) + T(c))]. Reads a 32-bit copy of the bitmap and hands
// the rectangles over in batches of at most 2000. None for a null bitmap or when a copy or the
// rectangle buffer can't be made.
std::optional<QRegion> RegionFromBitmap(const QImage& bitmap, quint32 keyColour, quint32 tolerance);

// Shapes a button from its small mask bitmap: a pixel is a key pixel when its colour equals
// keyColour exactly. None only for a null bitmap (or when memory runs out).
std::optional<QRegion> RegionFromMask(const QImage& bitmap, quint32 keyColour);

// A COLORREF (0x00BBGGRR) as a QColor and back.
QColor ColourFromColorref(quint32 colorref);
quint32 ColorrefFromRgb(QRgb rgb);

}  // namespace velora
