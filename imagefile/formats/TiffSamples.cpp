#include "TiffSamples.h"

#include <algorithm>
#include <cstring>

namespace velora {

bool TiffSampleLayout(TIFF* tif, TiffLayout& layout) {
    std::uint16_t bits = 1, samples = 1, planar = PLANARCONFIG_CONTIG;
    std::uint16_t format = SAMPLEFORMAT_UINT, photometric = 0, compression = COMPRESSION_NONE;
    Tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    Tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    Tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_PLANARCONFIG, &planar);
    Tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLEFORMAT, &format);
    Tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    if (!Tiff().TIFFGetField(tif, TIFFTAG_PHOTOMETRIC, &photometric) || (bits != 8 && bits != 16) ||
        (format != SAMPLEFORMAT_UINT && format != SAMPLEFORMAT_VOID)) {
        return false;
    }
    switch (photometric) {
        case PHOTOMETRIC_MINISWHITE:
            layout.MinIsWhite = true;
            [[fallthrough]];
        case PHOTOMETRIC_MINISBLACK:
            layout.Colours = 1;
            break;
        case PHOTOMETRIC_RGB:
            layout.Colours = 3;
            break;
        case PHOTOMETRIC_SEPARATED: {
            std::uint16_t inks = INKSET_CMYK;
            Tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_INKSET, &inks);
            if (inks != INKSET_CMYK) {
                return false;
            }
            layout.Colours = 4;
            break;
        }
        case PHOTOMETRIC_YCBCR:
            // The JPEG codec hands out RGB rows itself when asked to.
            if (compression != COMPRESSION_JPEG || bits != 8 || planar != PLANARCONFIG_CONTIG ||
                !Tiff().TIFFSetField(tif, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB)) {
                return false;
            }
            layout.Colours = 3;
            break;
        default:
            return false;
    }
    if (samples < layout.Colours) {
        return false;
    }
    std::uint16_t extraCount = 0;
    std::uint16_t* extra = nullptr;
    if (samples > layout.Colours &&
        Tiff().TIFFGetField(tif, TIFFTAG_EXTRASAMPLES, &extraCount, &extra) && extraCount > 0 &&
        extra != nullptr &&
        (extra[0] == EXTRASAMPLE_ASSOCALPHA || extra[0] == EXTRASAMPLE_UNASSALPHA)) {
        layout.Alpha = static_cast<int>(layout.Colours);
        layout.Associated = extra[0] == EXTRASAMPLE_ASSOCALPHA;
    }
    layout.Bits = bits;
    layout.Samples = samples;
    layout.Separate = planar == PLANARCONFIG_SEPARATE && samples > 1;
    return true;
}

unsigned TiffPixelConverter::Sample(const std::uint8_t* src, std::size_t index) const {
    if (L.Bits == 8) {
        return src[index];
    }
    std::uint16_t word;
    std::memcpy(&word, src + 2 * index, 2);
    return (word * 255u + 32767) / 65535;
}

void TiffPixelConverter::Convert(const std::uint8_t* src, unsigned count, std::uint8_t* bgr) {
    if (L.Colours == 4) {
        const std::uint8_t* inks = src;
        const std::size_t width = L.Bits / 8;
        if (L.Samples != 4) {
            Inks.resize(4 * width * count);
            for (unsigned x = 0; x < count; ++x) {
                std::memcpy(&Inks[4 * width * x], src + L.Samples * width * x, 4 * width);
            }
            inks = Inks.data();
        }
        Cmyk.Row(inks, bgr, count);
    }
    for (unsigned x = 0; x < count; ++x, bgr += 3) {
        const std::size_t at = static_cast<std::size_t>(x) * L.Samples;
        if (L.Colours == 1) {
            const unsigned grey = Sample(src, at);
            bgr[0] = bgr[1] = bgr[2] = static_cast<std::uint8_t>(L.MinIsWhite ? 255 - grey : grey);
        } else if (L.Colours == 3) {
            bgr[0] = static_cast<std::uint8_t>(Sample(src, at + 2));
            bgr[1] = static_cast<std::uint8_t>(Sample(src, at + 1));
            bgr[2] = static_cast<std::uint8_t>(Sample(src, at));
        }
        if (L.Alpha >= 0) {
            const unsigned a = Sample(src, at + static_cast<unsigned>(L.Alpha));
            for (int c = 0; c < 3; ++c) {
                // Laid over white, as a picture on a page: the working bitmap has no alpha.
                const unsigned v = L.Associated ? std::min(255u, bgr[c] + 255 - a)
                                                : (bgr[c] * a + 255 * (255 - a) + 127) / 255;
                bgr[c] = static_cast<std::uint8_t>(v);
            }
        }
    }
}

void TiffInterleave(const std::uint8_t* plane, unsigned count, const TiffLayout& layout,
                    unsigned sample, std::uint8_t* row) {
    const std::size_t width = layout.Bits / 8;
    for (unsigned x = 0; x < count; ++x) {
        std::memcpy(row + (static_cast<std::size_t>(x) * layout.Samples + sample) * width,
                    plane + x * width, width);
    }
}

}  // namespace velora
