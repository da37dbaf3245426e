// The picture as the window shows it: upright, fitted into the frame and scaled to the screen's
// pixels. Made once each time the shown picture changes (Open, the end of a conversion, Cancel),
// on the thread that has the picture at hand, so that a paint draws this small image instead of
// scaling the whole picture each time.
#pragma once

#include <QImage>
#include <QRect>

#include "WorkingBitmap.h"

namespace velora {

struct DisplayPicture {
    QImage Image;         // in device pixels, its device pixel ratio set; null when nothing shows
    int Orientation = 1;  // how the stored picture is turned to stand upright (1 to 8)
    int StoredWidth = 0;
    int StoredHeight = 0;
    int ShownWidth = 0;  // the upright picture's size in its own pixels
    int ShownHeight = 0;

    bool HasPicture() const { return StoredWidth > 0 && StoredHeight > 0; }
    // Where the upright picture is drawn in the window.
    QRect Target() const;
    // Made for this device pixel ratio.
    bool IsFor(qreal devicePixelRatio) const;
};

// `picture` must not be written while this runs: a fresh bitmap, or one nobody writes any more.
DisplayPicture MakeDisplayPicture(WorkingBitmap& picture, int orientation, qreal devicePixelRatio);

// The picture's EXIF orientation (1 to 8; 1 without a valid one).
int PictureOrientation(WorkingBitmap& picture);

}  // namespace velora
