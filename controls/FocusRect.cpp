#include "FocusRect.h"

namespace velora {
namespace {

void InvertPixel(QImage& image, int x, int y) {
    if (!image.rect().contains(x, y)) {
        return;
    }
    QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    if (qAlpha(row[x]) == 255) {
        row[x] ^= 0x00FFFFFFu;
    }
}

}  // namespace

void DrawFocusRect(QImage& image, const QRect& rect) {
    if (rect.isEmpty() || image.depth() != 32) {
        return;
    }
    const int left = rect.left();
    const int top = rect.top();
    const int right = rect.right();
    const int bottom = rect.bottom();
    // A checkerboard over the outline; each outline pixel is visited exactly once.
    const auto dot = [&](int x, int y) {
        if (((x - left + y - top) & 1) == 0) {
            InvertPixel(image, x, y);
        }
    };
    for (int x = left; x <= right; ++x) {
        dot(x, top);
        if (bottom != top) {
            dot(x, bottom);
        }
    }
    for (int y = top + 1; y < bottom; ++y) {
        dot(left, y);
        if (right != left) {
            dot(right, y);
        }
    }
}

}  // namespace velora
