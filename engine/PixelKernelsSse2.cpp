// The SSE2 set: two colours at a time. Every x86-64 processor has it, so this is the floor.
#include <emmintrin.h>

#include "PixelKernels.h"
#include "ToneKernel.inl"

namespace velora {
namespace kernels {
namespace {

struct Ops {
    using D = __m128d;
    static constexpr int Lanes = 2;
    static D Set(double v) { return _mm_set1_pd(v); }
    static D Load(const double* p) { return _mm_loadu_pd(p); }
    static D Add(D a, D b) { return _mm_add_pd(a, b); }
    static D Sub(D a, D b) { return _mm_sub_pd(a, b); }
    static D Mul(D a, D b) { return _mm_mul_pd(a, b); }
    static D Div(D a, D b) { return _mm_div_pd(a, b); }
    static D MulAdd(D a, D b, D c) { return _mm_add_pd(_mm_mul_pd(a, b), c); }
    static D Sqrt(D a) { return _mm_sqrt_pd(a); }
    static D Max(D a, D b) { return _mm_max_pd(a, b); }
    static D Min(D a, D b) { return _mm_min_pd(a, b); }
    static D Abs(D a) { return _mm_andnot_pd(_mm_set1_pd(-0.0), a); }
    static D IsZero(D a) { return _mm_cmpeq_pd(a, _mm_setzero_pd()); }
    static D Select(D mask, D yes, D no) {
        return _mm_or_pd(_mm_and_pd(mask, yes), _mm_andnot_pd(mask, no));
    }
    // 2^k from k + 1.5·2^52 (k whole): k sits in the low bits, and the constant's own bits fall
    // out of the 64-bit shift.
    static D TwoToThe(D shifted) {
        const __m128i bits = _mm_add_epi64(_mm_castpd_si128(shifted), _mm_set1_epi64x(1023));
        return _mm_castsi128_pd(_mm_slli_epi64(bits, 52));
    }
    static void StoreTruncated(std::int32_t* to, D a) {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(to), _mm_cvttpd_epi32(a));
    }
};

}  // namespace

void ConvertColoursSse2(const std::uint32_t* keys, std::uint32_t* values, int count,
                        const ToneTerms& terms) {
    tone::ConvertColours<Ops>(keys, values, count, terms);
}

}  // namespace kernels
}  // namespace velora
