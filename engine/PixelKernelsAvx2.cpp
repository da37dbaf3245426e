// The AVX2 set: four colours at a time, and the cache's lookups eight at a time through a gather.
// Compiled with -mavx2 -mfma; reached only after the processor has said it has both.
#include <immintrin.h>

#include "PixelKernels.h"
#include "ToneKernel.inl"

namespace velora {
namespace kernels {
namespace {

struct Ops {
    using D = __m256d;
    static constexpr int Lanes = 4;
    static D Set(double v) { return _mm256_set1_pd(v); }
    static D Load(const double* p) { return _mm256_loadu_pd(p); }
    static D Add(D a, D b) { return _mm256_add_pd(a, b); }
    static D Sub(D a, D b) { return _mm256_sub_pd(a, b); }
    static D Mul(D a, D b) { return _mm256_mul_pd(a, b); }
    static D Div(D a, D b) { return _mm256_div_pd(a, b); }
    static D MulAdd(D a, D b, D c) { return _mm256_fmadd_pd(a, b, c); }
    static D Sqrt(D a) { return _mm256_sqrt_pd(a); }
    static D Max(D a, D b) { return _mm256_max_pd(a, b); }
    static D Min(D a, D b) { return _mm256_min_pd(a, b); }
    static D Abs(D a) { return _mm256_andnot_pd(_mm256_set1_pd(-0.0), a); }
    static D IsZero(D a) { return _mm256_cmp_pd(a, _mm256_setzero_pd(), _CMP_EQ_OQ); }
    static D Select(D mask, D yes, D no) { return _mm256_blendv_pd(no, yes, mask); }
    static D TwoToThe(D shifted) {
        const __m256i bits =
            _mm256_add_epi64(_mm256_castpd_si256(shifted), _mm256_set1_epi64x(1023));
        return _mm256_castsi256_pd(_mm256_slli_epi64(bits, 52));
    }
    static void StoreTruncated(std::int32_t* to, D a) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to), _mm256_cvttpd_epi32(a));
    }
};

}  // namespace

void ConvertColoursAvx2(const std::uint32_t* keys, std::uint32_t* values, int count,
                        const ToneTerms& terms) {
    tone::ConvertColours<Ops>(keys, values, count, terms);
}

int HitRunAvx2(const std::uint8_t* in, std::uint8_t* out, int count, const std::uint32_t* table,
               unsigned tagBits, int* waiting) {
    // Eight pixels are 24 bytes: two overlapping 16-byte loads put pixels 0-3 at the start of
    // the low half and pixels 4-7 four bytes into the high half; a byte shuffle spreads each to
    // a 32-bit key (blue, green, red, 0), and its inverse packs the values back.
    const __m256i spread =
        _mm256_setr_epi8(0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1,  //
                         4, 5, 6, -1, 7, 8, 9, -1, 10, 11, 12, -1, 13, 14, 15, -1);
    const __m256i pack =
        _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1,  //
                         0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
    const __m256i scramble = _mm256_set1_epi32(static_cast<int>(CacheScramble));
    const __m256i low24 = _mm256_set1_epi32(0xFFFFFF);
    const __m256i tagMask = _mm256_set1_epi32(static_cast<int>((1u << tagBits) - 1));
    const __m256i marker = _mm256_set1_epi32(static_cast<int>(1u << tagBits));
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(tagBits));
    const int* slots = reinterpret_cast<const int*>(table);
    int missed = 0;
    int x = 0;
    for (; x + 8 <= count; x += 8) {
        const std::uint8_t* p = in + 3 * x;
        const __m256i bytes =
            _mm256_setr_m128i(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                              _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8)));
        const __m256i key = _mm256_shuffle_epi8(bytes, spread);
        const __m256i hashed = _mm256_and_si256(_mm256_mullo_epi32(key, scramble), low24);
        const __m256i held = _mm256_i32gather_epi32(slots, _mm256_srl_epi32(hashed, shift), 4);
        const __m256i tag = _mm256_or_si256(_mm256_and_si256(hashed, tagMask), marker);
        const __m256i hit = _mm256_cmpeq_epi32(_mm256_srli_epi32(held, 24), tag);
        const __m256i value = _mm256_blendv_epi8(key, held, hit);
        const __m256i packed = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(value, pack), join);
        std::uint8_t* q = out + 3 * x;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(q), _mm256_castsi256_si128(packed));
        _mm_storel_epi64(reinterpret_cast<__m128i*>(q + 16), _mm256_extracti128_si256(packed, 1));
        unsigned misses =
            ~static_cast<unsigned>(_mm256_movemask_ps(_mm256_castsi256_ps(hit))) & 0xFFu;
        while (misses != 0) {
            waiting[missed++] = x + __builtin_ctz(misses);
            misses &= misses - 1;
        }
    }
    for (; x < count; ++x) {
        const std::uint8_t* p = in + 3 * x;
        const std::uint32_t key = (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
        const std::uint32_t hashed = (key * CacheScramble) & 0xFFFFFFu;
        const std::uint32_t held = table[hashed >> tagBits];
        const bool hit = (held >> 24) == ((hashed & ((1u << tagBits) - 1)) | (1u << tagBits));
        waiting[missed] = x;
        missed += hit ? 0 : 1;
        const std::uint32_t value = hit ? held : key;
        std::uint8_t* q = out + 3 * x;
        q[0] = static_cast<std::uint8_t>(value);
        q[1] = static_cast<std::uint8_t>(value >> 8);
        q[2] = static_cast<std::uint8_t>(value >> 16);
    }
    return missed;
}

namespace {

struct BlurLanes {
    explicit BlurLanes(const Blur3& p)
        : Outer(_mm256_set1_epi16(static_cast<short>(p.Outer))),
          Middle(_mm256_set1_epi16(static_cast<short>(p.Middle))),
          Multiplier(_mm256_set1_epi16(static_cast<short>(p.Multiplier))),
          Shift(_mm_cvtsi32_si128(static_cast<int>(p.Shift))) {}
    __m256i operator()(__m256i a, __m256i b, __m256i c) const {
        const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(_mm256_add_epi16(a, c), Outer),
                                             _mm256_mullo_epi16(b, Middle));
        return _mm256_srl_epi16(_mm256_mulhi_epu16(sum, Multiplier), Shift);
    }
    __m256i Outer, Middle, Multiplier;
    __m128i Shift;
};

__m256i Load(const std::uint8_t* p) {
    return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Bytes 0-7 and 16-23 (unpacked low) or 8-15 and 24-31 (high) of each half as 16-bit lanes; the
// pack at the end puts them back in the same order.
__m256i Low(__m256i v) {
    return _mm256_unpacklo_epi8(v, _mm256_setzero_si256());
}
__m256i High(__m256i v) {
    return _mm256_unpackhi_epi8(v, _mm256_setzero_si256());
}

}  // namespace

int Convolve3Avx2(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c,
                  std::uint8_t* dst, int count, const Blur3& blur) {
    const BlurLanes lanes(blur);
    int j = 0;
    for (; j + 32 <= count; j += 32) {
        const __m256i va = Load(a + j);
        const __m256i vb = Load(b + j);
        const __m256i vc = Load(c + j);
        const __m256i low = lanes(Low(va), Low(vb), Low(vc));
        const __m256i high = lanes(High(va), High(vb), High(vc));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(dst + j), _mm256_packus_epi16(low, high));
    }
    return j;
}

int BlurSharpenAvx2(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c,
                    const std::uint8_t* s, std::uint8_t* out, int count, const Blur3& blur,
                    const Sharpen16& sharpen) {
    const BlurLanes lanes(blur);
    const __m256i vA = _mm256_set1_epi16(sharpen.A);
    const __m256i vB = _mm256_set1_epi16(sharpen.B);
    const __m256i vM = _mm256_set1_epi16(static_cast<short>(sharpen.Multiplier));
    const __m128i shift = _mm_cvtsi32_si128(static_cast<int>(sharpen.Shift));
    const auto sharpened = [&](__m256i source, __m256i blurred) {
        // Negative sums become 0, as their truncated quotient is clamped to; the pack clamps
        // above 255.
        const __m256i v = _mm256_max_epi16(
            _mm256_sub_epi16(_mm256_mullo_epi16(source, vA), _mm256_mullo_epi16(blurred, vB)),
            _mm256_setzero_si256());
        return _mm256_srl_epi16(_mm256_mulhi_epu16(v, vM), shift);
    };
    int j = 0;
    for (; j + 32 <= count; j += 32) {
        const __m256i va = Load(a + j);
        const __m256i vb = Load(b + j);
        const __m256i vc = Load(c + j);
        const __m256i vs = Load(s + j);
        const __m256i low = sharpened(Low(vs), lanes(Low(va), Low(vb), Low(vc)));
        const __m256i high = sharpened(High(vs), lanes(High(va), High(vb), High(vc)));
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out + j), _mm256_packus_epi16(low, high));
    }
    return j;
}

}  // namespace kernels
}  // namespace velora
