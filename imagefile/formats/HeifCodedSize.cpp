// The size a HEIF item's coded picture will decode to, read from its decoder configuration
// (the HEVC sequence parameter set in hvcC, the AV1 sequence header in av1C): the decoder
// allocates for that size, whatever the item's ispe says.
#include <algorithm>

#include "Codecs.h"

namespace velora {

namespace {

// Reads bits most significant first; past the end every read gives 0 and Ok turns false.
struct Bits {
    std::vector<std::uint8_t> Data;
    std::size_t At = 0;  // in bits
    bool Ok = true;

    std::uint32_t Read(unsigned count) {
        std::uint32_t value = 0;
        for (unsigned i = 0; i < count; ++i, ++At) {
            if (At >= Data.size() * 8) {
                Ok = false;
                return 0;
            }
            value = value << 1 | ((Data[At / 8] >> (7 - At % 8)) & 1);
        }
        return value;
    }
    // Exp-Golomb code; longer than 31 bits is no size a picture has.
    std::uint32_t ReadGolomb() {
        unsigned zeros = 0;
        while (Ok && Read(1) == 0) {
            if (++zeros > 31) {
                Ok = false;
            }
        }
        return Ok ? static_cast<std::uint32_t>((1ull << zeros) - 1 + Read(zeros)) : 0;
    }
};

bool HevcSize(const std::uint8_t* config, std::size_t size, std::uint32_t& width,
              std::uint32_t& height) {
    if (size < 23) {
        return false;
    }
    std::size_t at = 23;
    for (unsigned array = 0, arrays = config[22]; array < arrays && size - at >= 3; ++array) {
        const unsigned type = config[at] & 0x3f;
        const unsigned count = config[at + 1] << 8 | config[at + 2];
        at += 3;
        for (unsigned n = 0; n < count && size - at >= 2; ++n) {
            const std::size_t length = config[at] << 8 | config[at + 1];
            at += 2;
            if (length > size - at) {
                return false;
            }
            if (type == 33 && length > 2) {
                // The sequence parameter set without its NAL header and emulation prevention.
                Bits sps;
                // The sizes come within its first bytes.
                for (std::size_t i = at + 2; i < at + std::min<std::size_t>(length, 512); ++i) {
                    const std::size_t kept = sps.Data.size();
                    if (!(config[i] == 3 && kept >= 2 && sps.Data[kept - 1] == 0 &&
                          sps.Data[kept - 2] == 0)) {
                        sps.Data.push_back(config[i]);
                    }
                }
                sps.Read(4);
                const unsigned subLayers = sps.Read(3);
                sps.Read(1);
                sps.Read(96);  // the general profile, tier and level
                unsigned present[8] = {};
                for (unsigned i = 0; i < subLayers; ++i) {
                    present[i] = sps.Read(2);
                }
                sps.Read(subLayers > 0 ? 2 * (8 - subLayers) : 0);
                for (unsigned i = 0; i < subLayers; ++i) {
                    sps.Read(present[i] & 2 ? 88 : 0);
                    sps.Read(present[i] & 1 ? 8 : 0);
                }
                sps.ReadGolomb();
                if (sps.ReadGolomb() == 3) {
                    sps.Read(1);
                }
                width = sps.ReadGolomb();
                height = sps.ReadGolomb();
                return sps.Ok;
            }
            at += length;
        }
    }
    return false;
}

bool Av1Size(const std::uint8_t* config, std::size_t size, std::uint32_t& width,
             std::uint32_t& height) {
    std::size_t at = 4;  // the configuration record before its OBUs
    while (at < size) {
        const unsigned header = config[at++];
        const unsigned type = header >> 3 & 15;
        if (header & 4) {
            ++at;  // extension
        }
        std::uint64_t length = size - std::min(at, size);
        if (header & 2) {
            length = 0;
            for (unsigned i = 0; i < 8 && at < size; ++i) {
                const unsigned byte = config[at++];
                length |= std::uint64_t{byte & 0x7fu} << (7 * i);
                if ((byte & 0x80) == 0) {
                    break;
                }
            }
        }
        if (at > size || length > size - at) {
            return false;
        }
        if (type != 1) {
            at += length;
            continue;
        }
        Bits seq;
        seq.Data.assign(config + at, config + at + length);
        seq.Read(3);
        seq.Read(1);
        if (seq.Read(1)) {  // a reduced header: one level
            seq.Read(5);
        } else {
            bool decoderModel = false;
            unsigned delayBits = 0;
            if (seq.Read(1)) {  // timing
                seq.Read(32);
                seq.Read(32);
                if (seq.Read(1)) {
                    unsigned zeros = 0;
                    while (seq.Ok && seq.Read(1) == 0 && ++zeros < 32) {
                    }
                    seq.Read(zeros);
                }
                decoderModel = seq.Read(1) != 0;
                if (decoderModel) {
                    delayBits = seq.Read(5) + 1;
                    seq.Read(32);
                    seq.Read(10);
                }
            }
            const bool displayDelay = seq.Read(1) != 0;
            const unsigned points = seq.Read(5) + 1;
            for (unsigned i = 0; i < points && seq.Ok; ++i) {
                seq.Read(12);
                if (seq.Read(5) > 7) {
                    seq.Read(1);
                }
                if (decoderModel && seq.Read(1)) {
                    seq.Read(2 * delayBits + 1);
                }
                if (displayDelay && seq.Read(1)) {
                    seq.Read(4);
                }
            }
        }
        const unsigned widthBits = seq.Read(4) + 1;
        const unsigned heightBits = seq.Read(4) + 1;
        width = seq.Read(widthBits) + 1;
        height = seq.Read(heightBits) + 1;
        return seq.Ok;
    }
    return false;
}

}  // namespace

bool HeifCodedSize(std::uint32_t configType, const std::uint8_t* config, std::size_t size,
                   std::uint32_t& width, std::uint32_t& height) {
    constexpr std::uint32_t Hevc = 0x68766343;  // hvcC
    constexpr std::uint32_t Av1 = 0x61763143;   // av1C
    return configType == Hevc  ? HevcSize(config, size, width, height)
           : configType == Av1 ? Av1Size(config, size, width, height)
                               : false;
}

}  // namespace velora
