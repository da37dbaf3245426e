// Bitmaps addressed by numeric identifier. The program's bitmaps are compiled in with the Qt
// resource system at ":/bitmaps/<id>.png"; tests point the lookup at a folder of their own.
#pragma once

#include <QImage>
#include <QString>

namespace velora {

// The bitmap with identifier id, or a null QImage when there is none (id 0 included).
QImage LoadBitmapResource(int id);

// Look bitmaps up as "<folder>/<id>.png" from now on; an empty folder returns to the compiled-in
// resources. User-interface thread only, like every control that loads bitmaps.
void SetBitmapResourceFolder(const QString& folder);

}  // namespace velora
