#pragma once

#include <QImage>

namespace velora::skin {

// Icon 128 at `size` x `size` pixels with alpha: a graphite tile holding a lens whose left half
// is in colour and whose right half is restyled to grey.
QImage DrawIcon(int size);

}  // namespace velora::skin
