#pragma once

#include <QImage>
#include <map>

namespace velora::skin {

// The window as it will look: the skin over a desktop backdrop, with the frame, labels, faces,
// captions, sliders and progress bar placed where the window puts them. `bitmaps` maps resource
// identifiers to the drawn bitmaps.
QImage ComposePreview(const std::map<int, QImage>& bitmaps);

}  // namespace velora::skin
