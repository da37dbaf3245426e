// Template bodies of the bitmap-level filter operations; included at the end of
// UnsharpMaskFilter.h. Each takes one lock per bitmap and leaves every lock and every bitmap it
// made released on the way out, whichever way that is.
#pragma once

#include <atomic>

#include "ParallelRows.h"

namespace velora {
namespace detail {

template <class Bitmap>
typename Bitmap::RectType WholeRect(int width, int height) {
    typename Bitmap::RectType rect{};
    rect.X = 0;
    rect.Y = 0;
    rect.Width = width;
    rect.Height = height;
    return rect;
}

// Rows [first, last) of a locked view, as a view of their own.
inline PixelView RowsOf(const PixelView& view, int first, int last) {
    return PixelView{view.Width, last - first, view.Stride, view.Row(first)};
}

}  // namespace detail

template <class Bitmap>
std::shared_ptr<Bitmap> UnsharpMaskFilter::BlurPass(Bitmap& source, Direction direction,
                                                    unsigned channels) {
    const int width = static_cast<int>(source.Width());
    const int height = static_cast<int>(source.Height());
    if (KernelLength <= 1) {
        return source.Clone(0, 0, width, height);
    }
    typename Bitmap::LockRecord in{};
    if (!Bitmap::Succeeded(source.LockBits(detail::WholeRect<Bitmap>(width, height),
                                           Bitmap::ReadMode, Bitmap::Format24, &in))) {
        return nullptr;  // the lock recorded its status on source
    }
    std::shared_ptr<Bitmap> target = Bitmap::CreateBlank(width, height);
    if (!target || !target->HasImage()) {
        source.UnlockBits(&in);
        return nullptr;
    }
    typename Bitmap::LockRecord out{};
    if (!Bitmap::Succeeded(target->LockBits(detail::WholeRect<Bitmap>(width, height),
                                            Bitmap::ReadWriteMode, Bitmap::Format24, &out))) {
        source.UnlockBits(&in);
        return nullptr;
    }
    const PixelView from = ViewOf(in);
    const PixelView to = ViewOf(out);
    ForEachRowRange(height, Threads, 3LL * width * KernelLength, [&](int first, int last) {
        BlurRows(from, to, direction, channels, first, last);
    });
    const bool unlockedTarget = Bitmap::Succeeded(target->UnlockBits(&out));
    const bool unlockedSource = Bitmap::Succeeded(source.UnlockBits(&in));
    if (!unlockedTarget || !unlockedSource) {
        return nullptr;
    }
    return target;
}

template <class Bitmap>
std::shared_ptr<Bitmap> UnsharpMaskFilter::GaussianBlur(Bitmap& source, float sigma,
                                                        unsigned channels) {
    if (!BuildKernel(sigma)) {
        return nullptr;
    }
    std::shared_ptr<Bitmap> first = BlurPass(source, Direction::Horizontal, channels);
    if (!first) {
        return nullptr;
    }
    return BlurPass(*first, Direction::Vertical, channels);
}

// Blurred and sharpened a few rows at a time: no blurred copy of the whole picture is made, only
// the result.
template <class Bitmap>
std::shared_ptr<Bitmap> UnsharpMaskFilter::UnsharpMask(Bitmap& source, float sigma, float amount,
                                                       unsigned channels) {
    std::int32_t k = 0;
    if (!AmountScale(amount, &k) || !BuildKernel(sigma)) {
        return nullptr;
    }
    const int width = static_cast<int>(source.Width());
    const int height = static_cast<int>(source.Height());
    typename Bitmap::LockRecord in{};
    if (!Bitmap::Succeeded(source.LockBits(detail::WholeRect<Bitmap>(width, height),
                                           Bitmap::ReadMode, Bitmap::Format24, &in))) {
        return nullptr;  // the lock recorded its status on source
    }
    std::shared_ptr<Bitmap> target = Bitmap::CreateBlank(width, height);
    if (!target || !target->HasImage()) {
        source.UnlockBits(&in);
        return nullptr;
    }
    typename Bitmap::LockRecord out{};
    if (!Bitmap::Succeeded(target->LockBits(detail::WholeRect<Bitmap>(width, height),
                                            Bitmap::ReadWriteMode, Bitmap::Format24, &out))) {
        source.UnlockBits(&in);
        return nullptr;
    }
    const PixelView from = ViewOf(in);
    const PixelView to = ViewOf(out);
    std::atomic<bool> made{true};
    ForEachRowRange(height, Threads, 3LL * width * (KernelLength + 2), [&](int first, int last) {
        if (!UnsharpRows(from, to, sigma, amount, channels, first, last)) {
            made.store(false);
        }
    });
    const bool unlockedTarget = Bitmap::Succeeded(target->UnlockBits(&out));
    const bool unlockedSource = Bitmap::Succeeded(source.UnlockBits(&in));
    if (!made.load() || !unlockedTarget || !unlockedSource) {
        return nullptr;
    }
    return target;
}

}  // namespace velora
