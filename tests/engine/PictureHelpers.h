// Plain pictures for the engine tests: a byte array of W × H × 3 (blue, green, red) that can be
// copied into and out of a WorkingBitmap through its single-pixel calls only.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <random>
#include <vector>

#include "WorkingBitmap.h"

namespace velora::test {

struct Plain {
    int W = 0;
    int H = 0;
    std::vector<std::uint8_t> Bytes;  // row-major, 3 bytes a pixel, no padding

    Plain(int w, int h) : W(w), H(h), Bytes(static_cast<std::size_t>(w) * h * 3, 0) {}
    std::uint8_t& At(int x, int y, int c) {
        return Bytes[(static_cast<std::size_t>(y) * W + x) * 3 + c];
    }
    std::uint8_t At(int x, int y, int c) const {
        return Bytes[(static_cast<std::size_t>(y) * W + x) * 3 + c];
    }
    std::uint32_t Argb(int x, int y) const {
        return 0xFF000000u | (std::uint32_t{At(x, y, 2)} << 16) |
               (std::uint32_t{At(x, y, 1)} << 8) | At(x, y, 0);
    }
    void SetArgb(int x, int y, std::uint32_t c) {
        At(x, y, 0) = static_cast<std::uint8_t>(c);
        At(x, y, 1) = static_cast<std::uint8_t>(c >> 8);
        At(x, y, 2) = static_cast<std::uint8_t>(c >> 16);
    }
};

// Every byte from f(x, y, channel).
template <class F>
Plain MadePlain(int w, int h, F f) {
    Plain p(w, h);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            for (int c = 0; c < 3; ++c) {
                p.At(x, y, c) = static_cast<std::uint8_t>(f(x, y, c));
            }
        }
    }
    return p;
}

inline Plain RandomPlain(int w, int h, std::uint32_t seed) {
    Plain p(w, h);
    std::mt19937 rng(seed);
    for (auto& b : p.Bytes) {
        b = static_cast<std::uint8_t>(rng());
    }
    return p;
}

// Smooth gradients, a hard edge and mild noise: few exact repeats, many near ones, like a photo.
inline Plain PhotoLikePlain(int w, int h, std::uint32_t seed) {
    std::mt19937 rng(seed);
    std::uniform_int_distribution<int> noise(-6, 6);
    return MadePlain(w, h, [&](int x, int y, int c) {
        const bool inside = (x - w / 3) * (x - w / 3) + (y - h / 2) * (y - h / 2) < w * h / 10;
        const int base[3] = {40 + 150 * y / std::max(h, 1), 60 + 120 * x / std::max(w, 1),
                             inside ? 210 : 90 + 60 * (x + y) / std::max(w + h, 1)};
        return std::clamp(base[c] + noise(rng), 0, 255);
    });
}

inline std::shared_ptr<WorkingBitmap> ToBitmap(const Plain& p) {
    auto bitmap = WorkingBitmap::CreateBlank(p.W, p.H);
    for (int y = 0; y < p.H; ++y) {
        for (int x = 0; x < p.W; ++x) {
            bitmap->SetPixel(x, y, p.Argb(x, y));
        }
    }
    return bitmap;
}

inline Plain FromBitmap(WorkingBitmap& bitmap) {
    Plain p(static_cast<int>(bitmap.Width()), static_cast<int>(bitmap.Height()));
    for (int y = 0; y < p.H; ++y) {
        for (int x = 0; x < p.W; ++x) {
            std::uint32_t c = 0;
            bitmap.GetPixel(x, y, &c);
            p.SetArgb(x, y, c);
        }
    }
    return p;
}

}  // namespace velora::test
