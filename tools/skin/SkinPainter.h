#pragma once

#include <QImage>

namespace velora::skin {

// Bitmap 130: the 1000 x 800 window skin, 24-bit, pure magenta outside the window's shape.
QImage DrawSkin();

}  // namespace velora::skin
