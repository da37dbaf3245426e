// Unsharp-mask sharpening: a small integer Gaussian kernel applied as two separable passes, then
// every channel pushed away from its blurred value by a fixed fraction (fixed point, scale 10000).
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "PixelKernels.h"
#include "PixelView.h"

namespace velora {

class UnsharpMaskFilter {
  public:
    enum class Direction { Horizontal, Vertical };

    static constexpr unsigned MaxKernelSize = 51;

    // Fills Kernel, KernelSum and KernelSize; false when the kernel would exceed MaxKernelSize.
    bool BuildKernel(float sigma);
    const std::vector<std::int32_t>& Kernel() const { return KernelWeights; }
    std::int32_t KernelSum() const { return KernelTotal; }
    unsigned KernelSize() const { return KernelLength; }

    // Bitmap-level operations: each returns a new bitmap owned by the caller, or nullptr.
    // `source` is only read.
    template <class Bitmap>
    std::shared_ptr<Bitmap> BlurPass(Bitmap& source, Direction direction, unsigned channels);
    template <class Bitmap>
    std::shared_ptr<Bitmap> GaussianBlur(Bitmap& source, float sigma, unsigned channels);
    template <class Bitmap>
    std::shared_ptr<Bitmap> UnsharpMask(Bitmap& source, float sigma, float amount,
                                        unsigned channels);

    // The inner loops over plain views (same size); used by the operations above.
    static void Sharpen(const PixelView& source, const PixelView& blurred, std::int32_t k,
                        unsigned channels);
    // The same a row at a time, for pictures that are never whole in memory (UnsharpMaskRows).
    // BlurRow is one row of the horizontal pass; BlurAcross makes row y of the vertical pass of
    // a picture `height` rows high from `window`, where window[t] is source row y - h + t (h the
    // kernel's half-width) for every such row that exists.
    void BlurRow(const std::uint8_t* in, std::uint8_t* out, int width, unsigned channels) const;
    void BlurAcross(const std::uint8_t* const* window, int y, int height, std::uint8_t* out,
                    int width, unsigned channels) const;
    static void SharpenRow(const std::uint8_t* source, std::uint8_t* blurred, int width,
                           std::int32_t k, unsigned channels);
    // BlurAcross and then SharpenRow of `source` into `out`, fused where the vector path allows.
    void BlurSharpenRow(const std::uint8_t* const* window, int y, int height,
                        const std::uint8_t* source, std::uint8_t* out, int width, std::int32_t k,
                        unsigned channels) const;
    // Rows [firstRow, lastRow) of UnsharpMask from `source` into `target`, blurring and
    // sharpening a row at a time; false when the kernel or the amount is refused, or memory for
    // the few rows it holds is short.
    static bool UnsharpRows(const PixelView& source, const PixelView& target, float sigma,
                            float amount, unsigned channels, int firstRow, int lastRow);
    // K = floor(amount × 10000 + 0.5); false when it is not a number or so large that the
    // fixed-point step would overflow 32 bits (|K| above 8,000,000).
    static bool AmountScale(float amount, std::int32_t* k);
    // Output rows [firstRow, lastRow) of one pass; rows are independent, so ranges may run on
    // different threads.
    void BlurRows(const PixelView& source, const PixelView& target, Direction direction,
                  unsigned channels, int firstRow, int lastRow) const;

    // Threads for the bitmap-level operations; 0 (the default) means one per core. The result
    // does not depend on it.
    void SetThreads(unsigned threads) { Threads = threads; }
    // The widest vector path unless told otherwise; the bytes do not depend on it.
    void SetVectorPath(VectorPath path) {
        Vector = VectorPathSupported(path) ? path : VectorPath::None;
    }

  private:
    std::vector<std::int32_t> KernelWeights;
    std::int32_t KernelTotal = 0;
    unsigned KernelLength = 0;
    unsigned Threads = 0;
    VectorPath Vector = BestVectorPath();

    static void SharpenBytes(const std::uint8_t* source, std::uint8_t* blurred, int from, int to,
                             std::int32_t k);
};

}  // namespace velora

#include "UnsharpMaskFilter.inl"
