// Pictures for the worker tests: a pattern that shows misplaced pixels, pixel-by-pixel
// comparison, the expected outcome of a pass computed with ConvertPixel alone, and a wait on
// the event loop.
#pragma once

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTimer>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <memory>

#include "Conversion.h"
#include "ConvertAndSharpen.h"
#include "UnsharpMaskFilter.h"
#include "WorkingBitmap.h"

namespace velora::testing {

// Runs the event loop until `done` holds, waking at least every millisecond to look; false after
// two minutes. (QTRY_* polls in 50 ms steps, which would dominate many short cycles.)
inline bool SpinUntil(const std::function<bool()>& done) {
    QElapsedTimer clock;
    clock.start();
    QTimer tick;
    tick.start(1);
    while (!done()) {
        if (clock.elapsed() > 120000) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    }
    return true;
}

// A colour for every position, different in most neighbouring pixels and rarely repeated, so
// that a pixel in the wrong place or a skipped pixel shows.
inline Argb PatternColour(int x, int y) {
    std::uint32_t h =
        static_cast<std::uint32_t>(x) * 0x9E3779B1u ^ static_cast<std::uint32_t>(y) * 0x85EBCA77u;
    h ^= h >> 15;
    h *= 0x2C1B3C6Du;
    h ^= h >> 12;
    return 0xFF000000u | (h & 0xFFFFFFu);
}

// Calls visit(x, y, colour) for every pixel.
template <typename Visit>
void ForEachPixel(WorkingBitmap& picture, Visit visit) {
    for (int y = 0; y < static_cast<int>(picture.Height()); ++y) {
        for (int x = 0; x < static_cast<int>(picture.Width()); ++x) {
            Argb c = 0;
            picture.GetPixel(x, y, &c);
            visit(x, y, c);
        }
    }
}

// Filled through one direct lock: the pictures here run to millions of pixels.
inline BitmapRef MakePatternPicture(int width, int height) {
    BitmapRef picture = WorkingBitmap::CreateBlank(width, height);
    BitmapData data;
    if (picture->LockBits(Rect{0, 0, width, height}, ImageLockModeRead | ImageLockModeWrite,
                          PixelFormat24bppRGB, &data) != Status::Ok) {
        return nullptr;
    }
    for (int y = 0; y < height; ++y) {
        std::uint8_t* p = data.Scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride;
        for (int x = 0; x < width; ++x, p += 3) {
            const Argb c = PatternColour(x, y);
            p[0] = static_cast<std::uint8_t>(c);
            p[1] = static_cast<std::uint8_t>(c >> 8);
            p[2] = static_cast<std::uint8_t>(c >> 16);
        }
    }
    picture->UnlockBits(&data);
    return picture;
}

inline BitmapRef CopyOf(WorkingBitmap& picture) {
    return picture.Clone(0, 0, static_cast<int>(picture.Width()),
                         static_cast<int>(picture.Height()));
}

// The picture as the pass must leave it: every pixel replaced by ConvertPixel of itself.
inline BitmapRef ConvertedPixelByPixel(WorkingBitmap& original, const ConversionOptions& options) {
    BitmapRef copy = CopyOf(original);
    ForEachPixel(*copy,
                 [&](int x, int y, Argb c) { copy->SetPixel(x, y, ConvertPixel(c, options)); });
    return copy;
}

// Number of pixels in which two pictures of the same size differ; -1 when the sizes differ or
// they cannot be read. Compared on private copies, so a thread still writing either picture does
// not matter here.
inline long long DifferingPixels(WorkingBitmap& a, WorkingBitmap& b) {
    const int w = static_cast<int>(a.Width());
    const int h = static_cast<int>(a.Height());
    if (w != static_cast<int>(b.Width()) || h != static_cast<int>(b.Height())) {
        return -1;
    }
    BitmapRef copies[] = {a.Clone(0, 0, w, h), b.Clone(0, 0, w, h)};
    BitmapData data[2];
    for (int i = 0; i < 2; ++i) {
        if (!copies[i] || copies[i]->LockBits(Rect{0, 0, w, h}, ImageLockModeRead,
                                              PixelFormat24bppRGB, &data[i]) != Status::Ok) {
            return -1;
        }
    }
    long long count = 0;
    for (int y = 0; y < h; ++y) {
        const std::uint8_t* pa = data[0].Scan0 + static_cast<std::ptrdiff_t>(y) * data[0].Stride;
        const std::uint8_t* pb = data[1].Scan0 + static_cast<std::ptrdiff_t>(y) * data[1].Stride;
        for (int x = 0; x < 3 * w; x += 3) {
            count += std::equal(pa + x, pa + x + 3, pb + x) ? 0 : 1;
        }
    }
    copies[0]->UnlockBits(&data[0]);
    copies[1]->UnlockBits(&data[1]);
    return count;
}

}  // namespace velora::testing
