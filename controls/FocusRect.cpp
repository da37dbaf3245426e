#include "FocusRect.h"

#include <algorithm>
#include <cmath>
#include <utility>

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

// The image pixels [first, last) that stand for device-independent pixel v.
std::pair<int, int> Span(int v, qreal ratio) {
    const int first = static_cast<int>(std::floor(v * ratio));
    const int last = std::max(first + 1, static_cast<int>(std::floor((v + 1) * ratio)));
    return {first, last};
}

void InvertBlock(QImage& image, int x, int y) {
    const qreal ratio = image.devicePixelRatio();
    if (ratio == 1.0) {
        InvertPixel(image, x, y);
        return;
    }
    const auto [left, right] = Span(x, ratio);
    const auto [top, bottom] = Span(y, ratio);
    for (int py = top; py < bottom; ++py) {
        for (int px = left; px < right; ++px) {
            InvertPixel(image, px, py);
        }
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
            InvertBlock(image, x, y);
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
