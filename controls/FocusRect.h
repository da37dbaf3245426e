// The dotted focus rectangle of the skinned controls. It inverts every other pixel of the
// rectangle's outline, so drawing it twice gives back the pixels it covered.
#pragma once

#include <QImage>
#include <QRect>

namespace velora {

// Draws the dotted outline of rect (clipped to the image) by inverting the colour of every
// second pixel, starting at the top-left corner. Only opaque pixels are inverted: a transparent
// pixel shows the parent, which the image does not hold. image must be 32-bit. rect is in the
// image's device-independent pixels: on an image with a device pixel ratio each dot inverts the
// block of pixels that stands for one.
void DrawFocusRect(QImage& image, const QRect& rect);

}  // namespace velora
