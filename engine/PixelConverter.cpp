#include "Conversion.h"

#include <algorithm>
#include <new>

namespace velora {

PixelConverter::PixelConverter(const ConversionOptions& options, bool cached, VectorPath path)
    : Options(options), Vector(VectorPathSupported(path) ? path : VectorPath::None) {
    // The terms of SaturationFactor that do not depend on the colour, as it forms them.
    const double c = 0.01 * options.GrayStrength - 0.5;
    Terms.N = 2.0 * (0.01 * options.ColorStrength - 0.5) + 1.3 - c;
    Terms.HalfMinusC = 0.5 - c;
    Terms.GrayContrast = options.GrayContrast;
    Terms.ReddishFilm = options.ReddishFilm;
    Terms.BlueishFilm = options.BlueishFilm;
    VectorMisses = Vector != VectorPath::None && options.ColorStrength >= 0 &&
                   options.ColorStrength <= ColorStrengthMax && options.GrayStrength >= 0 &&
                   options.GrayStrength <= GrayStrengthMax;
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
    if (Waiting.size() < static_cast<std::size_t>(width)) {
        try {
            Waiting.resize(static_cast<std::size_t>(width));
        } catch (const std::bad_alloc&) {
            for (int x = 0; x < width; ++x, in += 3, out += 3) {
                const std::uint32_t value =
                    Lookup((std::uint32_t{in[2]} << 16) | (std::uint32_t{in[1]} << 8) | in[0]);
                out[0] = static_cast<std::uint8_t>(value);
                out[1] = static_cast<std::uint8_t>(value >> 8);
                out[2] = static_cast<std::uint8_t>(value >> 16);
            }
            return;
        }
    }
    // The table can only grow between stretches, so each run up to the end of one works with
    // the table's size and place held in registers.
    while (width > 0) {
        const int run =
            static_cast<int>(std::min<std::uint32_t>(Countdown, static_cast<std::uint32_t>(width)));
        ConvertRun(in, out, run);
        in += 3 * static_cast<std::ptrdiff_t>(run);
        out += 3 * static_cast<std::ptrdiff_t>(run);
        width -= run;
        Countdown -= static_cast<std::uint32_t>(run);
        if (Countdown == 0) {
            EndOfStretch();
        }
    }
}

void PixelConverter::ConvertRun(const std::uint8_t* in, std::uint8_t* out, int count) {
    // First every colour the table holds, with nothing in the loop that calls out, so that the
    // lookups of many pixels are under way at once; a missed pixel is noted and keeps its own
    // colour for now. Then the missed ones, each looked up again, since an earlier one of the
    // same colour may have filled the slot meanwhile.
    const int missed = HitRun(in, out, count);
    std::uint32_t* table = Slots.data();
    const unsigned tagBits = 24 - Bits;
    const int* waiting = Waiting.data();
    if (!VectorMisses) {
        for (int i = 0; i < missed; ++i) {
            std::uint8_t* q = out + 3 * static_cast<std::ptrdiff_t>(waiting[i]);
            const std::uint32_t value = Probe(
                (std::uint32_t{q[2]} << 16) | (std::uint32_t{q[1]} << 8) | q[0], table, tagBits);
            q[0] = static_cast<std::uint8_t>(value);
            q[1] = static_cast<std::uint8_t>(value >> 8);
            q[2] = static_cast<std::uint8_t>(value >> 16);
        }
        return;
    }
    constexpr int BatchSize = 8;
    Missed batch[BatchSize];
    int pending = 0;
    for (int i = 0; i < missed; ++i) {
        std::uint8_t* q = out + 3 * static_cast<std::ptrdiff_t>(waiting[i]);
        const std::uint32_t key = (std::uint32_t{q[2]} << 16) | (std::uint32_t{q[1]} << 8) | q[0];
        const std::uint32_t hashed = (key * Scramble) & 0xFFFFFFu;
        const std::uint32_t tag = (hashed & ((1u << tagBits) - 1)) | (1u << tagBits);
        std::uint32_t* slot = table + (hashed >> tagBits);
        const std::uint32_t held = *slot;
        if ((held >> 24) == tag) {
            q[0] = static_cast<std::uint8_t>(held);
            q[1] = static_cast<std::uint8_t>(held >> 8);
            q[2] = static_cast<std::uint8_t>(held >> 16);
            continue;
        }
        batch[pending++] = Missed{key, tag, slot, q};
        if (pending == BatchSize) {
            Settle(batch, pending);
            pending = 0;
        }
    }
    Settle(batch, pending);
}

int PixelConverter::HitRun(const std::uint8_t* in, std::uint8_t* out, int count) {
    std::uint32_t* table = Slots.data();
    const unsigned tagBits = 24 - Bits;
    int* waiting = Waiting.data();
#if defined(VELORA_X86_KERNELS)
    if (Vector == VectorPath::Avx2) {
        return kernels::HitRunAvx2(in, out, count, table, tagBits, waiting);
    }
#endif
    const std::uint32_t tagMask = (1u << tagBits) - 1;
    const std::uint32_t marker = 1u << tagBits;
    int missed = 0;
    for (int x = 0; x < count; ++x) {
        const std::uint8_t* p = in + 3 * static_cast<std::ptrdiff_t>(x);
        const std::uint32_t key = (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | p[0];
        const std::uint32_t hashed = (key * Scramble) & 0xFFFFFFu;
        const std::uint32_t held = table[hashed >> tagBits];
        const bool hit = (held >> 24) == ((hashed & tagMask) | marker);
        waiting[missed] = x;
        missed += hit ? 0 : 1;
        const std::uint32_t value = hit ? held : key;
        std::uint8_t* q = out + 3 * static_cast<std::ptrdiff_t>(x);
        q[0] = static_cast<std::uint8_t>(value);
        q[1] = static_cast<std::uint8_t>(value >> 8);
        q[2] = static_cast<std::uint8_t>(value >> 16);
    }
    return missed;
}

void PixelConverter::Settle(Missed* batch, int count) {
    if (count == 0) {
        return;
    }
    // The kernels take whole vectors: the batch is filled up with its first colour.
    std::uint32_t keys[8];
    std::uint32_t values[8];
    const int lanes = (count + 3) & ~3;
    for (int i = 0; i < lanes; ++i) {
        keys[i] = batch[i < count ? i : 0].Key;
    }
#if defined(VELORA_X86_KERNELS)
    if (Vector == VectorPath::Avx2) {
        kernels::ConvertColoursAvx2(keys, values, lanes, Terms);
    } else {
        kernels::ConvertColoursSse2(keys, values, lanes, Terms);
    }
#else
    for (int i = 0; i < lanes; ++i) {
        values[i] = 0;
    }
#endif
    for (int i = 0; i < count; ++i) {
        const Missed& m = batch[i];
        std::uint32_t value = values[i];
        if ((value >> 24) == 0) {
            value = ConvertPixel(m.Key, Options);  // too close to a whole number to vouch for
        }
        value &= 0xFFFFFFu;
        const std::uint32_t held = *m.Slot;
        if ((held >> 24) != m.Tag) {  // not already filled by the same colour in this batch
            ++MissCount;
            EvictionCount += held != 0;
            *m.Slot = (m.Tag << 24) | value;
        }
        m.Pixel[0] = static_cast<std::uint8_t>(value);
        m.Pixel[1] = static_cast<std::uint8_t>(value >> 8);
        m.Pixel[2] = static_cast<std::uint8_t>(value >> 16);
    }
}

void PixelConverter::EndOfStretch() {
    Countdown = 1u << StretchBits;
    const std::uint64_t evictions = EvictionCount - EvictionsAtStretchStart;
    EvictionsAtStretchStart = EvictionCount;
    if (evictions > (std::uint64_t{1} << StretchBits) / 16 && Bits < MaxBits) {
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
