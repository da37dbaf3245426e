// The vector loops of the colour cache and the sharpening, one set per instruction set, chosen at
// run time for the processor the program runs on.
//
// Each set lives in a file of its own compiled for that instruction set (-mavx2 -mfma for AVX2;
// SSE2 is every x86-64's base), which includes nothing but the intrinsics and this header: no
// inline library code compiled there can be picked by the linker for the rest of the program and
// then run on a processor without those instructions. The CPU is asked (cpuid) before any of it
// runs.
#pragma once

#include <cstdint>

namespace velora {

// The widest first. VELORA_SIMD=sse2 (or none) in the environment holds a run below what the
// processor offers, to measure and test the narrower paths on the same machine.
enum class VectorPath { None, Sse2, Avx2 };

// The widest path the processor offers, capped by VELORA_SIMD.
VectorPath BestVectorPath();
// Whether the processor can run `path` at all.
bool VectorPathSupported(VectorPath path);
const char* VectorPathName(VectorPath path);

namespace kernels {

// The colour cache's key scrambler (PixelConverter.h says why it is a bijection).
constexpr std::uint32_t CacheScramble = 0x9E3779u;

// The per-pass terms of the tone curves, taken from the options once.
struct ToneTerms {
    double N = 0.0;           // the logistic's height
    double HalfMinusC = 0.0;  // its floor
    bool GrayContrast = false;
    bool ReddishFilm = false;
    bool BlueishFilm = false;
};

// values[i] = ConvertPixel(keys[i]) with alpha 255, for i < count; a value left 0 (no alpha) is
// one whose bytes the vector arithmetic cannot vouch for, which the caller converts itself.
// `count` is a multiple of 4.
void ConvertColoursSse2(const std::uint32_t* keys, std::uint32_t* values, int count,
                        const ToneTerms& terms);
void ConvertColoursAvx2(const std::uint32_t* keys, std::uint32_t* values, int count,
                        const ToneTerms& terms);

// The cache's hit loop over `count` pixels of three bytes: a pixel whose colour the table holds
// gets the held value; one that misses keeps its own bytes and its index goes into `waiting`.
// Returns how many missed.
int HitRunAvx2(const std::uint8_t* in, std::uint8_t* out, int count, const std::uint32_t* table,
               unsigned tagBits, int* waiting);

// The sharpening's 16-bit lanes. A blur of three taps, (Outer × (a + c) + Middle × b) / divisor,
// and the sharpening step, (A × s − B × blurred) / divisor clamped to a byte, each with its
// division as the high half of a 16-bit product shifted on by Shift; the caller has checked that
// every sum fits and every quotient is exact.
struct Blur3 {
    std::uint16_t Outer = 0;
    std::uint16_t Middle = 0;
    std::uint16_t Multiplier = 0;
    unsigned Shift = 0;
};
struct Sharpen16 {
    std::int16_t A = 0;
    std::int16_t B = 0;
    std::uint16_t Multiplier = 0;
    unsigned Shift = 0;
};

// Both return how many of the `count` bytes they made (a multiple of 32); the caller makes the
// rest. Convolve3 blurs a, b, c into dst; BlurSharpen blurs a, b, c and sharpens s with the blur
// into out, which is never held in between.
int Convolve3Avx2(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c,
                  std::uint8_t* dst, int count, const Blur3& blur);
int BlurSharpenAvx2(const std::uint8_t* a, const std::uint8_t* b, const std::uint8_t* c,
                    const std::uint8_t* s, std::uint8_t* out, int count, const Blur3& blur,
                    const Sharpen16& sharpen);

}  // namespace kernels
}  // namespace velora
