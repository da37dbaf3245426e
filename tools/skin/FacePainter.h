#pragma once

#include <QImage>
#include <QSize>

namespace velora::skin {

enum class FaceState { Normal, Hover, Pressed, Disabled };

// Push-button faces (80 x 30) stand on the rail; their corners carry the rail's colour because
// the all-black mask makes every face pixel visible.
QImage DrawPushFace(FaceState state);
// Check-button faces (20 x 20) stand on the light panel; Pressed is also the checked face.
QImage DrawCheckFace(FaceState state);
// A mask that keeps every pixel of a face: black throughout.
QImage DrawBlackMask(QSize size);
// Slider tracks (100 x 20): the groove runs from x 8 to 92; pixel (0, 0) holds the key colour
// (252, 252, 252) and no other pixel does.
QImage DrawTrack(bool filled);

}  // namespace velora::skin
