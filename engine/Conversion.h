// The tone conversion: the options snapshot, the per-pixel mapping and the whole-picture pass.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>

#include "PixelView.h"

namespace velora {

// The ranges of the sliders "Color" and "Gray" (from 0) and where every run starts them.
constexpr int ColorStrengthMax = 100;
constexpr int ColorStrengthStart = 35;
constexpr int GrayStrengthMax = 90;
constexpr int GrayStrengthStart = 41;

// Taken once when a conversion starts; later changes to the controls do not reach a running pass.
struct ConversionOptions {
    int ColorStrength = ColorStrengthStart;
    int GrayStrength = GrayStrengthStart;
    bool GrayContrast = true;
    bool ReddishFilm = false;
    bool BlueishFilm = false;
};

// ARGB in (alpha ignored), ARGB out with alpha 255.
std::uint32_t ConvertPixel(std::uint32_t colour, const ConversionOptions& options);

struct PassResult {
    bool Cancelled = false;
};

// Called once per column with the column number (from width - 1 down to 0), then once with 0
// when the pass ends.
using ProgressCallback = std::function<void(int column)>;

// Converts every pixel of `bitmap` in place, columns from the right, rows from the bottom, polling
// `cancelRequested` after every pixel. `threads` 0 means one per core. Every pixel gets exactly
// ConvertPixel's value. Bitmap is WorkingBitmap or any raster with the same lock interface.
template <class Bitmap>
PassResult ConvertPicture(Bitmap& bitmap, const ConversionOptions& options,
                          const ProgressCallback& progress, const std::atomic<int>& cancelRequested,
                          unsigned threads = 0);

// The same pass through one GetPixel and one SetPixel per pixel on the calling thread: the
// reference the fast path must agree with, and the path of last resort.
template <class Bitmap>
PassResult ConvertPicturePixelByPixel(Bitmap& bitmap, const ConversionOptions& options,
                                      const ProgressCallback& progress,
                                      const std::atomic<int>& cancelRequested);

}  // namespace velora

#include "ConversionPass.h"
#include "ConversionPass.inl"
