// One picture's conversion from start to end: the tone pass in place, then the sharpening that
// ends every completed conversion. The window's worker and velora-batch both convert through here,
// so what the window saves and what velora-batch writes agree to the byte.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <utility>
#include <vector>

#include "Conversion.h"
#include "UnsharpMaskFilter.h"
#include "UnsharpMaskRows.h"

namespace velora {

// The sharpening after every completed pass: a light unsharp mask on all three colour channels.
struct FinalSharpening {
    static constexpr float Sigma = 0.4f;
    static constexpr float Amount = 0.3f;
    static constexpr unsigned Channels = 7;
};

// What the caller hears along the way, on the calling thread; either may be empty.
struct ConversionCallbacks {
    ProgressCallback Progress;         // every column, as ConvertPicture reports them
    std::function<void()> Sharpening;  // the pass is complete and the filter starts
};

template <class Bitmap>
struct SharpenedPicture {
    // The sharpened picture; the converted picture itself when the filter could make none (it
    // is still a whole, valid result); null when the conversion was cancelled.
    std::shared_ptr<Bitmap> Picture;
    bool Sharpened = false;
};

// Converts `picture` in place and sharpens it. `cancelRequested` is polled after every pixel of
// the pass and once more after the filter; a cancelled conversion returns no picture. `passThreads`
// is the pass's share of the cores (0: one per core); the result does not depend on it.
template <class Bitmap>
SharpenedPicture<Bitmap> ConvertAndSharpen(std::shared_ptr<Bitmap> picture,
                                           const ConversionOptions& options,
                                           const ConversionCallbacks& steps,
                                           const std::atomic<int>& cancelRequested,
                                           unsigned passThreads = 0) {
    SharpenedPicture<Bitmap> result;
    if (!picture) {
        return result;
    }
    const PassResult pass =
        ConvertPicture(*picture, options, steps.Progress, cancelRequested, passThreads);
    if (pass.Cancelled) {
        return result;
    }
    if (steps.Sharpening) {
        steps.Sharpening();
    }
    std::shared_ptr<Bitmap> sharpened = UnsharpMaskFilter().UnsharpMask(
        *picture, FinalSharpening::Sigma, FinalSharpening::Amount, FinalSharpening::Channels);
    if (cancelRequested.load() != 0) {
        return result;
    }
    result.Sharpened = sharpened != nullptr;
    result.Picture = sharpened ? std::move(sharpened) : std::move(picture);
    return result;
}

// The same conversion for a picture that arrives and leaves a row at a time, as velora-batch
// streams it:
// each row converted exactly as the pass converts its pixels, then sharpened with the constants
// above exactly as UnsharpMask sharpens a whole picture, holding only the few rows the filter
// spans. The conversion and the sharpening may run on two threads, each calling only its half;
// either half may move between the two as long as no two calls of that half overlap.
class RowConversion {
  public:
    void Start(int width, int height, const ConversionOptions& options);
    // False when the filter could not begin: the rows then leave converted and unsharpened, as
    // the whole-picture conversion keeps the converted picture when the filter makes none.
    bool Sharpened() const { return Sharpening; }

    // The first half: one row of 3 × width bytes, converted in place.
    void ConvertRow(std::uint8_t* row);
    // The same on a converter of its own, made on first use: one thread may call this while
    // another calls ConvertRow, at the price of a second colour cache.
    void ConvertRowAside(std::uint8_t* row);

    // The second half, fed the converted rows in order. As UnsharpMaskRows: every output row that
    // is ready must be made before the next row is pushed; a borrowed row must stay as it is until
    // the output row after it is made.
    bool Push(const std::uint8_t* row);
    bool PushBorrowed(const std::uint8_t* row);
    bool OutputReady() const;
    void Emit(std::uint8_t* out);
    int NextOutputRow() const;
    // The most rows pushed before the first of them can be made: the last row pushed makes as
    // many more.
    int Lag() const { return Sharpening ? Filter.Lag() : 0; }

  private:
    int Width = 0;
    std::unique_ptr<PixelConverter> Converter;
    std::unique_ptr<PixelConverter> Aside;
    ConversionOptions Options;
    bool Cached = false;
    UnsharpMaskRows Filter;
    bool Sharpening = false;
    std::vector<std::uint8_t> Waiting;  // the converted row on its way out, without the filter
    int Taken = 0;
    int Given = 0;
};

}  // namespace velora
