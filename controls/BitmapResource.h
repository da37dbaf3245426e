// Bitmaps addressed by numeric identifier. The program's bitmaps are compiled in with the Qt
// resource system at ":/bitmaps/<id>.png"; tests point the lookup at a folder of their own.
#pragma once

#include <QImage>
#include <QString>

namespace velora {

// The bitmap with identifier id, or a null QImage when there is none (id 0 included).
QImage LoadBitmapResource(int id);

// The bitmap for a screen of the given device pixel ratio: the "<id>@2x.png" twin where the ratio
// asks for it and the twin exists, carrying its own device pixel ratio, otherwise the bitmap
// itself. Its deviceIndependentSize() is the size of the bitmap itself either way.
QImage LoadBitmapResource(int id, qreal devicePixelRatio);

// Look bitmaps up as "<folder>/<id>.png" from now on; an empty folder returns to the compiled-in
// resources. User-interface thread only, like every control that loads bitmaps.
void SetBitmapResourceFolder(const QString& folder);

}  // namespace velora
