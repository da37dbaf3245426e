#pragma once

#include <QImage>
#include <QSize>

namespace velora::skin {

enum class FaceState { Normal, Hover, Pressed, Disabled };

// Each face and track is drawn in its own pixels; scale 2 draws it with twice the pixels each way
// for screens of that pixel ratio.

// Push-button faces (80 x 30) stand on the rail; their corners carry the rail's colour because
// the all-black mask makes every face pixel visible.
QImage DrawPushFace(FaceState state, int scale = 1);
// Check-button faces (20 x 20) stand on the light panel; Pressed is also the checked face.
QImage DrawCheckFace(FaceState state, int scale = 1);
// A mask that keeps every pixel of a face: black throughout.
QImage DrawBlackMask(QSize size);
// Slider tracks (100 x 20): the groove runs from x 8 to 92; pixel (0, 0) holds the key colour
// (252, 252, 252) and no other pixel does (at scale 2 the 2 x 2 block there).
QImage DrawTrack(bool filled, int scale = 1);

}  // namespace velora::skin
