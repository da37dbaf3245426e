#include "Conversion.h"

#include <new>

namespace velora {

PixelConverter::PixelConverter(const ConversionOptions& options, bool cached) : Options(options) {
    if (cached) {
        try {
            Slots.assign(std::size_t{1} << FirstBits, 0);
            Bits = FirstBits;
        } catch (const std::bad_alloc&) {
            Slots.clear();  // the pass still works, only slower
        }
    }
}

void PixelConverter::ConvertRow(const std::uint8_t* in, std::uint8_t* out, int width) {
    if (Bits == 0) {
        for (int x = 0; x < width; ++x, in += 3, out += 3) {
            const std::uint32_t value = ConvertPixel(
                (std::uint32_t{in[2]} << 16) | (std::uint32_t{in[1]} << 8) | in[0], Options);
            out[0] = static_cast<std::uint8_t>(value);
            out[1] = static_cast<std::uint8_t>(value >> 8);
            out[2] = static_cast<std::uint8_t>(value >> 16);
        }
        return;
    }
    for (int x = 0; x < width; ++x, in += 3, out += 3) {
        const std::uint32_t value =
            Lookup((std::uint32_t{in[2]} << 16) | (std::uint32_t{in[1]} << 8) | in[0]);
        out[0] = static_cast<std::uint8_t>(value);
        out[1] = static_cast<std::uint8_t>(value >> 8);
        out[2] = static_cast<std::uint8_t>(value >> 16);
    }
}

void PixelConverter::EndOfStretch() {
    Countdown = 1u << StretchBits;
    const std::uint64_t misses = MissCount - MissesAtStretchStart;
    MissesAtStretchStart = MissCount;
    if (misses > (std::uint64_t{1} << StretchBits) / 16 && Bits < MaxBits) {
        Grow();
    }
}

void PixelConverter::Grow() {
    std::vector<std::uint32_t> larger;
    try {
        larger.assign(Slots.size() * 2, 0);
    } catch (const std::bad_alloc&) {
        return;  // the cache keeps its size
    }
    // Each held colour moves to the one slot of the larger table that its hashed key selects:
    // the old slot number gives the key's high bits, the tag its low bits.
    const unsigned tagBits = 24 - Bits;
    const unsigned newTagBits = tagBits - 1;
    for (std::size_t i = 0; i < Slots.size(); ++i) {
        const std::uint32_t entry = Slots[i];
        if (entry == 0) {
            continue;
        }
        const std::uint32_t hashed =
            (static_cast<std::uint32_t>(i) << tagBits) | ((entry >> 24) & ((1u << tagBits) - 1));
        const std::uint32_t tag = (hashed & ((1u << newTagBits) - 1)) | (1u << newTagBits);
        larger[hashed >> newTagBits] = (tag << 24) | (entry & 0xFFFFFFu);
    }
    Slots.swap(larger);
    ++Bits;
}

}  // namespace velora
