#pragma once

#include <QImage>

namespace velora::skin {

// Bitmap 130: the 1000 x 800 window skin, 24-bit, pure magenta outside the window's shape;
// scale 2 draws the same skin with twice the pixels each way for screens of that pixel ratio.
QImage DrawSkin(int scale = 1);

}  // namespace velora::skin
