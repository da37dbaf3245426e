// ConvertPixel behind a cache of the colours already converted. A photo repeats its colours a
// lot (a 20-megapixel one holds some 20,000 to 500,000 distinct ones), and each conversion costs
// two exponentials and two square roots, so a pass computes only the colours it has not met lately.
//
// The cache is direct-mapped: one 32-bit slot per hashed colour, holding the converted colour and
// the part of the hashed key that the slot's position does not already say. It starts at 512 KiB
// (2^17 slots, which fits the second-level cache) and doubles, keeping what it holds, whenever a
// stretch of 2^19 lookups throws out a colour it held more often than once in 16, up to 4 MiB:
// a photo with few or clustered colours never pays for a large table, one whose colours recur far
// apart gets room for them. (Misses on empty slots say nothing about the size: a colour met for
// the first time misses in any cache.) There is no table sized for every possible colour, zeroed
// for each photo.
//
// The lookups and the conversions of the colours missed go through the widest vector path the
// processor has (PixelKernels.h), with exactly ConvertPixel's values on every path.
//
// One converter per thread: the cache is plain memory, not shared. Reached through Conversion.h,
// which declares what this builds on.
#pragma once

#include <cstdint>
#include <vector>

#include "PixelKernels.h"

namespace velora {

class PixelConverter {
  public:
    static constexpr unsigned FirstBits = 17;
    static constexpr unsigned MaxBits = 20;

    // Without `cached` every pixel goes through ConvertPixel (small pictures, where filling the
    // cache would cost more than it saves, and the reference path).
    explicit PixelConverter(const ConversionOptions& options, bool cached = true,
                            VectorPath path = BestVectorPath());

    // ARGB in (alpha ignored), ARGB out with alpha 255: exactly ConvertPixel's value.
    std::uint32_t operator()(std::uint32_t colour) {
        if (Bits == 0) {
            return ConvertPixel(colour, Options);
        }
        return 0xFF000000u | Lookup(colour & 0xFFFFFFu);
    }

    // `width` pixels of three bytes (blue, green, red) from `in` to `out`; the two may be the
    // same row.
    void ConvertRow(const std::uint8_t* in, std::uint8_t* out, int width);

    bool Cached() const { return Bits != 0; }
    VectorPath Path() const { return Vector; }
    unsigned CacheBits() const { return Bits; }
    std::uint64_t Misses() const { return MissCount; }

  private:
    // The 24-bit key times an odd number, modulo 2^24, is a bijection: its high bits choose the
    // slot and its low bits, kept in the slot as a tag, tell which of the keys mapping there it is.
    static constexpr std::uint32_t Scramble = kernels::CacheScramble;
    static constexpr unsigned StretchBits = 19;

    std::uint32_t Lookup(std::uint32_t key) {
        if (--Countdown == 0) {
            EndOfStretch();  // may grow the table: before the slot is chosen
        }
        return Probe(key, Slots.data(), 24 - Bits);
    }

    std::uint32_t Probe(std::uint32_t key, std::uint32_t* table, unsigned tagBits) {
        const std::uint32_t hashed = (key * Scramble) & 0xFFFFFFu;
        // A tag carries a marker bit above it, so that an empty slot (0) never matches.
        const std::uint32_t tag = (hashed & ((1u << tagBits) - 1)) | (1u << tagBits);
        std::uint32_t& slot = table[hashed >> tagBits];
        const std::uint32_t held = slot;
        if ((held >> 24) == tag) {
            return held & 0xFFFFFFu;
        }
        ++MissCount;
        EvictionCount += held != 0;
        const std::uint32_t value = ConvertPixel(key, Options) & 0xFFFFFFu;
        slot = (tag << 24) | value;
        return value;
    }

    void ConvertRun(const std::uint8_t* in, std::uint8_t* out, int count);
    int HitRun(const std::uint8_t* in, std::uint8_t* out, int count);
    // The colours of a run that missed, converted a batch at a time on the vector path.
    struct Missed {
        std::uint32_t Key;
        std::uint32_t Tag;
        std::uint32_t* Slot;
        std::uint8_t* Pixel;
    };
    void Settle(Missed* batch, int count);
    void EndOfStretch();
    void Grow();

    ConversionOptions Options;
    VectorPath Vector = VectorPath::None;
    kernels::ToneTerms Terms;
    bool VectorMisses = false;  // the options lie where the vector misses' margin was worked out
    std::vector<std::uint32_t> Slots;
    std::vector<int> Waiting;  // pixels of the row being converted that missed
    unsigned Bits = 0;         // log2 of the slot count; 0 without a cache
    std::uint32_t Countdown = 1u << StretchBits;
    std::uint64_t MissCount = 0;
    std::uint64_t EvictionCount = 0;
    std::uint64_t EvictionsAtStretchStart = 0;
};

}  // namespace velora
