// The road of one picture once a conversion starts: the tone pass in place, then the sharpening
// that ends every completed conversion. The window's worker and velora-batch both take this road,
// so what the window saves and what velora-batch writes agree to the byte.
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <utility>

#include "Conversion.h"
#include "UnsharpMaskFilter.h"

namespace velora {

// The sharpening after every completed pass: a light unsharp mask on all three colour channels.
struct RoadSharpening {
    static constexpr float Sigma = 0.4f;
    static constexpr float Amount = 0.3f;
    static constexpr unsigned Channels = 7;
};

// What the caller hears along the road, on the calling thread; either may be empty.
struct RoadSteps {
    ProgressCallback Progress;         // every column, as ConvertPicture reports them
    std::function<void()> Sharpening;  // the pass is complete and the filter starts
};

template <class Bitmap>
struct RoadEnding {
    // The sharpened picture; the converted picture itself when the filter could make none (it
    // is still a whole, valid result); null when the road was cancelled.
    std::shared_ptr<Bitmap> Picture;
    bool Sharpened = false;
};

// Converts `picture` in place and sharpens it. `cancelRequested` is polled after every pixel of
// the pass and once more after the filter; a cancelled road returns no picture. `passThreads` is
// the pass's share of the cores (0: one per core); the result does not depend on it.
template <class Bitmap>
RoadEnding<Bitmap> ConvertAndSharpen(std::shared_ptr<Bitmap> picture,
                                     const ConversionOptions& options, const RoadSteps& steps,
                                     const std::atomic<int>& cancelRequested,
                                     unsigned passThreads = 0) {
    RoadEnding<Bitmap> result;
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
        *picture, RoadSharpening::Sigma, RoadSharpening::Amount, RoadSharpening::Channels);
    if (cancelRequested.load() != 0) {
        return result;
    }
    result.Sharpened = sharpened != nullptr;
    result.Picture = sharpened ? std::move(sharpened) : std::move(picture);
    return result;
}

}  // namespace velora
