#include "UnsharpMaskFilter.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numeric>

#include "PixelKernels.h"
#include "UnsharpMaskRows.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace velora {

namespace {

// Every weighted sum must fit a 32-bit accumulator: 255 × KernelSum below 2^31.
constexpr double MaxKernelTotal = 2147483647.0 / 255.0;

// floor(n / d) for 0 <= n <= largest (255 × d unless told) as a multiply and a shift. With
// M = ceil(2^S / d) and e = M·d − 2^S < d, the error n·e / (d·2^S) stays below 1/d whenever
// n·e < 2^S, so S is chosen with largest·d < 2^S.
struct Reciprocal {
    explicit Reciprocal(std::uint32_t divisor, std::uint64_t largest = 0) : Divisor(divisor) {
        if (largest == 0) {
            largest = 255ull * divisor;
        }
        const std::uint64_t bound = largest * divisor;
        while (Shift < 62 && (std::uint64_t{1} << Shift) <= bound) {
            ++Shift;
        }
        Multiplier = ((std::uint64_t{1} << Shift) + divisor - 1) / divisor;
        Narrow = static_cast<double>(Multiplier) * static_cast<double>(largest) < 4294967296.0;
        // Sums below 2^16 and a multiplier below 2^16 with a shift of at least 16: the high half
        // of a 16-bit product, shifted on, which takes eight lanes at a time.
        Lanes16 = largest < 65536 && Multiplier < 65536 && Shift >= 16 && Shift < 32;
    }

    std::uint32_t Divisor;
    unsigned Shift = 0;
    std::uint64_t Multiplier = 0;
    bool Narrow = false;   // every product fits 32 bits, which vectorises well
    bool Lanes16 = false;  // as above, in 16-bit lanes
};

constexpr int Chunk = 512;

// dst[j] = floor(sum over taps k of weights[k] × tap[k][j] / divisor), j < count. A tap is where
// the k-th weight's bytes start: 3 bytes further each in a row, one row further each across rows.
// The three-tap blur's 16-bit lanes, when its sums and its division fit them.
bool Blur3Lanes(const std::int32_t* weights, const Reciprocal& divide, kernels::Blur3* lanes) {
    const std::uint32_t outer = static_cast<std::uint32_t>(weights[0]);
    const std::uint32_t middle = static_cast<std::uint32_t>(weights[1]);
    if (weights[0] != weights[2] || !divide.Lanes16 || 255u * (2 * outer + middle) >= 65536u) {
        return false;
    }
    *lanes = kernels::Blur3{static_cast<std::uint16_t>(outer), static_cast<std::uint16_t>(middle),
                            static_cast<std::uint16_t>(divide.Multiplier), divide.Shift - 16};
    return true;
}

// The sharpening step's 16-bit lanes: v / 10000 = x / D with x = A·s − B·b, all three divided by
// g = gcd(K, 10000). For the final sharpening's K = 3000 that is (13·s − 3·b) / 10, which fits
// 16-bit lanes, and so does the division, as a multiply and a shift exact for every x that can
// occur.
bool SharpenLanes(std::int32_t k, kernels::Sharpen16* lanes) {
    const std::int32_t g = std::gcd(std::abs(k), 10000);
    const std::int32_t a = (10000 + k) / g;
    const std::int32_t b = k / g;
    const std::int32_t largest = 255 * std::abs(a) + 255 * std::abs(b);
    if (largest > 32767 || a <= 0) {
        return false;
    }
    const Reciprocal divide(static_cast<std::uint32_t>(10000 / g),
                            static_cast<std::uint64_t>(largest));
    if (!divide.Lanes16) {
        return false;
    }
    *lanes = kernels::Sharpen16{static_cast<std::int16_t>(a), static_cast<std::int16_t>(b),
                                static_cast<std::uint16_t>(divide.Multiplier), divide.Shift - 16};
    return true;
}

void ConvolveRun(const std::uint8_t* const* tap, const std::int32_t* weights, int taps,
                 const Reciprocal& divide, std::uint8_t* dst, int count, bool avx2) {
    if (taps == 3 && weights[0] == weights[2] && divide.Narrow) {
        // The program's own kernel (1, 23, 1): one pass, no accumulator round trips.
        const std::uint32_t outer = static_cast<std::uint32_t>(weights[0]);
        const std::uint32_t middle = static_cast<std::uint32_t>(weights[1]);
        const std::uint32_t m = static_cast<std::uint32_t>(divide.Multiplier);
        const unsigned shift = divide.Shift;
        const std::uint8_t* a = tap[0];
        const std::uint8_t* b = tap[1];
        const std::uint8_t* c = tap[2];
        int j = 0;
#if defined(VELORA_X86_KERNELS)
        kernels::Blur3 lanes;
        if (avx2 && Blur3Lanes(weights, divide, &lanes)) {
            j = kernels::Convolve3Avx2(a, b, c, dst, count, lanes);
        }
#else
        (void)avx2;
#endif
#if defined(__SSE2__)
        if (divide.Lanes16 && 255u * (2 * outer + middle) < 65536u) {
            const __m128i zero = _mm_setzero_si128();
            const __m128i vOuter = _mm_set1_epi16(static_cast<short>(outer));
            const __m128i vMiddle = _mm_set1_epi16(static_cast<short>(middle));
            const __m128i vM = _mm_set1_epi16(static_cast<short>(m));
            const __m128i vShift = _mm_cvtsi32_si128(static_cast<int>(shift - 16));
            for (; j + 16 <= count; j += 16) {
                const __m128i va = _mm_loadu_si128(reinterpret_cast<const __m128i*>(a + j));
                const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + j));
                const __m128i vc = _mm_loadu_si128(reinterpret_cast<const __m128i*>(c + j));
                auto half = [&](__m128i x, __m128i y, __m128i z) {
                    const __m128i sum = _mm_add_epi16(_mm_mullo_epi16(_mm_add_epi16(x, z), vOuter),
                                                      _mm_mullo_epi16(y, vMiddle));
                    return _mm_srl_epi16(_mm_mulhi_epu16(sum, vM), vShift);
                };
                const __m128i low = half(_mm_unpacklo_epi8(va, zero), _mm_unpacklo_epi8(vb, zero),
                                         _mm_unpacklo_epi8(vc, zero));
                const __m128i high = half(_mm_unpackhi_epi8(va, zero), _mm_unpackhi_epi8(vb, zero),
                                          _mm_unpackhi_epi8(vc, zero));
                _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + j), _mm_packus_epi16(low, high));
            }
        }
#endif
        for (; j < count; ++j) {
            const std::uint32_t sum =
                outer * (std::uint32_t{a[j]} + std::uint32_t{c[j]}) + middle * b[j];
            dst[j] = static_cast<std::uint8_t>((sum * m) >> shift);
        }
        return;
    }
    std::uint32_t acc[Chunk];
    for (int start = 0; start < count; start += Chunk) {
        const int n = std::min(Chunk, count - start);
        const std::uint8_t* s = tap[0] + start;
        const std::uint32_t w0 = static_cast<std::uint32_t>(weights[0]);
        for (int j = 0; j < n; ++j) {
            acc[j] = w0 * s[j];
        }
        for (int k = 1; k < taps; ++k) {
            s = tap[k] + start;
            const std::uint32_t w = static_cast<std::uint32_t>(weights[k]);
            for (int j = 0; j < n; ++j) {
                acc[j] += w * s[j];
            }
        }
        std::uint8_t* d = dst + start;
        if (divide.Narrow) {
            const std::uint32_t m = static_cast<std::uint32_t>(divide.Multiplier);
            const unsigned shift = divide.Shift;
            for (int j = 0; j < n; ++j) {
                d[j] = static_cast<std::uint8_t>((acc[j] * m) >> shift);
            }
        } else {
            for (int j = 0; j < n; ++j) {
                d[j] = static_cast<std::uint8_t>((acc[j] * divide.Multiplier) >> divide.Shift);
            }
        }
    }
}

void KeepUnselected(const std::uint8_t* source, std::uint8_t* target, int width,
                    unsigned channels) {
    if ((channels & 7u) == 7u) {
        return;
    }
    for (int x = 0; x < width; ++x) {
        for (unsigned c = 0; c < 3; ++c) {
            if ((channels & (1u << c)) == 0) {
                target[3 * x + c] = source[3 * x + c];
            }
        }
    }
}

}  // namespace

bool UnsharpMaskFilter::BuildKernel(float sigma) {
    KernelWeights.clear();
    KernelTotal = 0;
    KernelLength = 0;
    if (!std::isfinite(sigma)) {
        return false;
    }
    const double n = std::floor(5.0 * static_cast<double>(sigma) + 1.5);
    // A negative length, compared as unsigned, is too long as well.
    if (n < 0.0 || n > static_cast<double>(MaxKernelSize)) {
        return false;
    }
    const unsigned size = static_cast<unsigned>(n) | 1u;
    const unsigned h = size / 2;
    if (h == 0) {
        // e^(a·0) is 1 for any a; computing it would give inf × 0 for sigma 0.
        KernelWeights.assign(1, 1);
        KernelTotal = 1;
        KernelLength = 1;
        return true;
    }
    const double s = static_cast<double>(sigma);
    const float a = static_cast<float>(1.0 / (2.0 * s * s));
    const double c = std::exp(static_cast<double>(a) * h * h);
    const float cf = static_cast<float>(c);

    std::vector<double> weights(size);
    weights[h] = std::floor(c + 0.5);
    double total = weights[h];
    for (unsigned j = 1; j <= h; ++j) {
        const double w =
            std::floor(std::exp(-static_cast<double>(a) * j * j) * static_cast<double>(cf) + 0.5);
        weights[h - j] = w;
        weights[h + j] = w;
        total += 2.0 * w;
    }
    // Very narrow sigmas (about 0.1 to 0.18) make the middle weight astronomically large; such a
    // kernel cannot be summed in integers and is refused rather than overflowing.
    if (!(total <= MaxKernelTotal)) {
        return false;
    }
    KernelWeights.reserve(size);
    for (double w : weights) {
        KernelWeights.push_back(static_cast<std::int32_t>(w));
    }
    KernelTotal = static_cast<std::int32_t>(total);
    KernelLength = size;
    return true;
}

void UnsharpMaskFilter::BlurRows(const PixelView& source, const PixelView& target,
                                 Direction direction, unsigned channels, int firstRow,
                                 int lastRow) const {
    if (KernelLength == 0 || source.Width <= 0) {
        return;
    }
    const int h = static_cast<int>(KernelLength / 2);
    const std::uint8_t* window[MaxKernelSize] = {};
    for (int y = firstRow; y < lastRow; ++y) {
        if (direction == Direction::Horizontal) {
            BlurRow(source.Row(y), target.Row(y), source.Width, channels);
            continue;
        }
        for (int t = 0; t < static_cast<int>(KernelLength); ++t) {
            const int row = y - h + t;
            window[t] = row >= 0 && row < source.Height ? source.Row(row) : nullptr;
        }
        BlurAcross(window, y, source.Height, target.Row(y), source.Width, channels);
    }
}

void UnsharpMaskFilter::BlurRow(const std::uint8_t* in, std::uint8_t* out, int w,
                                unsigned channels) const {
    if (KernelLength == 0 || w <= 0) {
        return;
    }
    const int h = static_cast<int>(KernelLength / 2);
    const std::int32_t* k = KernelWeights.data();
    // Inside the line every window is whole: one run over all channel bytes at once.
    if (w > 2 * h) {
        const std::uint8_t* tap[MaxKernelSize];
        for (int t = 0; t < static_cast<int>(KernelLength); ++t) {
            tap[t] = in + 3 * t;
        }
        ConvolveRun(tap, k, static_cast<int>(KernelLength),
                    Reciprocal(static_cast<std::uint32_t>(KernelTotal)), out + 3 * h,
                    3 * (w - 2 * h), Vector == VectorPath::Avx2);
    }
    // Near the ends the window is cut where the line stops.
    auto edge = [&](int p) {
        const int lo = std::max(0, p - h);
        const int hi = std::min(w - 1, p + h);
        std::uint32_t used = 0;
        std::uint32_t sum[3] = {0, 0, 0};
        for (int t = lo; t <= hi; ++t) {
            const std::uint32_t weight = static_cast<std::uint32_t>(k[t - p + h]);
            used += weight;
            sum[0] += weight * in[3 * t];
            sum[1] += weight * in[3 * t + 1];
            sum[2] += weight * in[3 * t + 2];
        }
        for (int c = 0; c < 3; ++c) {
            out[3 * p + c] = static_cast<std::uint8_t>(sum[c] / used);
        }
    };
    if (w > 2 * h) {
        for (int p = 0; p < h; ++p) {
            edge(p);
        }
        for (int p = w - h; p < w; ++p) {
            edge(p);
        }
    } else {
        for (int p = 0; p < w; ++p) {
            edge(p);
        }
    }
    KeepUnselected(in, out, w, channels);
}

void UnsharpMaskFilter::BlurAcross(const std::uint8_t* const* window, int y, int height,
                                   std::uint8_t* out, int width, unsigned channels) const {
    if (KernelLength == 0 || width <= 0) {
        return;
    }
    // Each output row is one run over the rows its window covers; the divisor only changes near
    // the top and the bottom.
    const int h = static_cast<int>(KernelLength / 2);
    const int first = std::max(0, y - h) - (y - h);
    const int last = std::min(height - 1, y + h) - (y - h);
    const std::int32_t* weights = KernelWeights.data() + first;
    const int taps = last - first + 1;
    std::uint32_t used = 0;
    for (int t = 0; t < taps; ++t) {
        used += static_cast<std::uint32_t>(weights[t]);
    }
    ConvolveRun(window + first, weights, taps, Reciprocal(used), out, 3 * width,
                Vector == VectorPath::Avx2);
    KeepUnselected(window[h], out, width, channels);
}

void UnsharpMaskFilter::BlurSharpenRow(const std::uint8_t* const* window, int y, int height,
                                       const std::uint8_t* source, std::uint8_t* out, int width,
                                       std::int32_t k, unsigned channels) const {
    // The final sharpening's case in one pass, the blurred row never stored: a whole window of
    // three rows, every channel. The bytes past the last whole vector take the two-step path.
    int done = 0;
#if defined(VELORA_X86_KERNELS)
    kernels::Blur3 blur;
    kernels::Sharpen16 sharpen;
    if (Vector == VectorPath::Avx2 && KernelLength == 3 && y > 0 && y + 1 < height &&
        (channels & 7u) == 7u && SharpenLanes(k, &sharpen) &&
        Blur3Lanes(KernelWeights.data(), Reciprocal(static_cast<std::uint32_t>(KernelTotal)),
                   &blur)) {
        done = kernels::BlurSharpenAvx2(window[0], window[1], window[2], source, out, 3 * width,
                                        blur, sharpen);
    }
#endif
    if (done == 0) {
        BlurAcross(window, y, height, out, width, channels);
        SharpenRow(source, out, width, k, channels);
        return;
    }
    const std::uint8_t* rest[3] = {window[0] + done, window[1] + done, window[2] + done};
    ConvolveRun(rest, KernelWeights.data(), 3, Reciprocal(static_cast<std::uint32_t>(KernelTotal)),
                out + done, 3 * width - done, false);
    SharpenBytes(source, out, done, 3 * width, k);
}

bool UnsharpMaskFilter::AmountScale(float amount, std::int32_t* k) {
    const double scaled = std::floor(static_cast<double>(amount) * 10000.0 + 0.5);
    if (!(std::fabs(scaled) <= 8000000.0)) {
        return false;
    }
    *k = static_cast<std::int32_t>(scaled);
    return true;
}

void UnsharpMaskFilter::Sharpen(const PixelView& source, const PixelView& blurred, std::int32_t k,
                                unsigned channels) {
    for (int y = 0; y < source.Height; ++y) {
        SharpenRow(source.Row(y), blurred.Row(y), source.Width, k, channels);
    }
}

void UnsharpMaskFilter::SharpenBytes(const std::uint8_t* s, std::uint8_t* b, int from, int to,
                                     std::int32_t k) {
    const std::int32_t keep = 10000 + k;
    for (int i = from; i < to; ++i) {
        const std::int32_t v = std::int32_t{s[i]} * keep - std::int32_t{b[i]} * k;
        // Truncation toward zero of a negative sum ends at 0 or below: clamped to 0 anyway.
        const std::uint32_t q = v <= 0 ? 0u : static_cast<std::uint32_t>(v) / 10000u;
        b[i] = static_cast<std::uint8_t>(std::min(q, 255u));
    }
}

void UnsharpMaskFilter::SharpenRow(const std::uint8_t* s, std::uint8_t* b, int width,
                                   std::int32_t k, unsigned channels) {
    const int bytes = 3 * width;
    int i = 0;
#if defined(__SSE2__)
    kernels::Sharpen16 lanes;
    if (SharpenLanes(k, &lanes)) {
        const __m128i zero = _mm_setzero_si128();
        const __m128i vA = _mm_set1_epi16(lanes.A);
        const __m128i vB = _mm_set1_epi16(lanes.B);
        const __m128i vM = _mm_set1_epi16(static_cast<short>(lanes.Multiplier));
        const __m128i vShift = _mm_cvtsi32_si128(static_cast<int>(lanes.Shift));
        for (; i + 16 <= bytes; i += 16) {
            const __m128i vs = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s + i));
            const __m128i vb = _mm_loadu_si128(reinterpret_cast<const __m128i*>(b + i));
            auto half = [&](__m128i x, __m128i y) {
                // Negative sums become 0, as their truncated quotient is clamped to.
                const __m128i v = _mm_max_epi16(
                    _mm_sub_epi16(_mm_mullo_epi16(x, vA), _mm_mullo_epi16(y, vB)), zero);
                return _mm_srl_epi16(_mm_mulhi_epu16(v, vM), vShift);
            };
            const __m128i low = half(_mm_unpacklo_epi8(vs, zero), _mm_unpacklo_epi8(vb, zero));
            const __m128i high = half(_mm_unpackhi_epi8(vs, zero), _mm_unpackhi_epi8(vb, zero));
            // The pack clamps above 255.
            _mm_storeu_si128(reinterpret_cast<__m128i*>(b + i), _mm_packus_epi16(low, high));
        }
    }
#endif
    SharpenBytes(s, b, i, bytes, k);
    KeepUnselected(s, b, width, channels);
}

bool UnsharpMaskFilter::UnsharpRows(const PixelView& source, const PixelView& target, float sigma,
                                    float amount, unsigned channels, int firstRow, int lastRow) {
    UnsharpMaskRows rows;
    if (!rows.Start(source.Width, source.Height, sigma, amount, channels, firstRow, lastRow)) {
        return false;
    }
    // The source stays whole in memory: its rows are borrowed, not copied.
    for (int y = rows.FirstSourceRow(); y < rows.LastSourceRow(); ++y) {
        rows.PushBorrowed(source.Row(y));
        while (rows.OutputReady()) {
            rows.Emit(target.Row(rows.NextOutputRow()));
        }
    }
    return rows.Done();
}

}  // namespace velora
