// A plain view of 24-bit pixel rows: three bytes a pixel in the order blue, green, red, rows
// Stride bytes apart. The engine's inner loops work on these and never own the memory.
#pragma once

#include <cstdint>

namespace velora {

struct PixelView {
    int Width = 0;
    int Height = 0;
    std::int32_t Stride = 0;
    std::uint8_t* Scan0 = nullptr;

    std::uint8_t* Row(int y) const { return Scan0 + static_cast<std::ptrdiff_t>(y) * Stride; }
    std::uint8_t* At(int x, int y) const { return Row(y) + 3 * static_cast<std::ptrdiff_t>(x); }
};

// The lock record of any raster (its Width, Height, Stride and Scan0) seen as a view.
template <class LockRecord>
PixelView ViewOf(const LockRecord& data) {
    return PixelView{static_cast<int>(data.Width), static_cast<int>(data.Height), data.Stride,
                     data.Scan0};
}

}  // namespace velora
