#include "UnsharpMaskRows.h"

#include <algorithm>
#include <new>

namespace velora {

bool UnsharpMaskRows::Start(int width, int height, float sigma, float amount, unsigned channels,
                            int firstRow, int lastRow) {
    if (width <= 0 || height <= 0 || !UnsharpMaskFilter::AmountScale(amount, &K) ||
        !Filter.BuildKernel(sigma)) {
        return false;
    }
    Width = width;
    Height = height;
    Channels = channels;
    Half = static_cast<int>(Filter.KernelSize() / 2);
    Span = static_cast<int>(Filter.KernelSize());
    RowBytes = 3 * static_cast<std::size_t>(width);
    NextOut = std::clamp(firstRow, 0, height);
    OutEnd = lastRow < 0 ? height : std::clamp(lastRow, NextOut, height);
    SourceBegin = std::max(0, NextOut - Half);
    SourceEnd = std::min(height, OutEnd + Half);
    NextIn = SourceBegin;
    try {
        Copies.assign(RowBytes * static_cast<std::size_t>(Span), 0);
        SourceRows.assign(static_cast<std::size_t>(Span), nullptr);
        Blurred.assign(RowBytes * static_cast<std::size_t>(Span), 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return true;
}

bool UnsharpMaskRows::Push(const std::uint8_t* row) {
    return PushRow(row, true);
}

bool UnsharpMaskRows::PushBorrowed(const std::uint8_t* row) {
    return PushRow(row, false);
}

bool UnsharpMaskRows::PushRow(const std::uint8_t* row, bool copy) {
    // The row pushed now takes the place of the one Span rows back, which the waiting output
    // row must no longer need.
    if (NextIn >= SourceEnd || OutputReady()) {
        return false;
    }
    const std::uint8_t* source = row;
    if (copy) {
        std::uint8_t* kept = Slot(Copies, NextIn);
        std::copy(row, row + RowBytes, kept);
        source = kept;
    }
    SourceRows[static_cast<std::size_t>(NextIn % Span)] = source;
    Filter.BlurRow(source, Slot(Blurred, NextIn), Width, Channels);
    ++NextIn;
    return true;
}

bool UnsharpMaskRows::OutputReady() const {
    return NextOut < OutEnd && NextIn >= std::min(Height, NextOut + Half + 1);
}

void UnsharpMaskRows::Emit(std::uint8_t* out) {
    if (!OutputReady()) {
        return;
    }
    const int y = NextOut;
    const std::uint8_t* window[UnsharpMaskFilter::MaxKernelSize] = {};
    for (int t = 0; t < Span; ++t) {
        const int row = y - Half + t;
        window[t] = row >= 0 && row < Height ? Slot(Blurred, row) : nullptr;
    }
    Filter.BlurSharpenRow(window, y, Height, SourceRows[static_cast<std::size_t>(y % Span)], out,
                          Width, K, Channels);
    ++NextOut;
}

}  // namespace velora
