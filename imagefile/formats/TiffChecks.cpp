// What a TIFF file must show before its picture is allocated: enough stored data for its size,
// and the palette a palette picture needs.
#include <algorithm>

#include "TiffSamples.h"

namespace velora {

namespace {

// The most a compression can make of one stored byte, asymptotically: PackBits 128 from 2,
// Deflate 1032, LZW a 4096-byte string from a 9-bit code, JPEG a block of 64 samples from two
// bits; others (modern ones like ZSTD reach tens of thousands) are given a bound far above any.
std::uint64_t MostBytesFromOne(std::uint16_t compression) {
    switch (compression) {
        case COMPRESSION_NONE:
            return 1;
        case COMPRESSION_PACKBITS:
            return 64;
        case COMPRESSION_ADOBE_DEFLATE:
        case COMPRESSION_DEFLATE:
            return 1032;
        case COMPRESSION_LZW:
            return 4096 * 8 / 9 + 1;
        case COMPRESSION_JPEG:
        case COMPRESSION_OJPEG:
            return 256;
        default:
            return 65536;
    }
}

}  // namespace

// The file must hold enough of its strips or tiles for the picture it declares before anything
// that grows with the picture is allocated: a few bytes must not claim gigabytes. A quarter of
// the least is enough to open a cut file as damaged.
bool HoldsPictureData(TIFF* tif, std::uint64_t fileSize, std::uint64_t width,
                      std::uint64_t height) {
    std::uint16_t bits = 8, samples = 1, compression = COMPRESSION_NONE;
    Tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_BITSPERSAMPLE, &bits);
    Tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_SAMPLESPERPIXEL, &samples);
    Tiff().TIFFGetFieldDefaulted(tif, TIFFTAG_COMPRESSION, &compression);
    const std::uint64_t decoded = width * height * bits * samples / 8;
    const std::uint64_t needed = decoded / MostBytesFromOne(compression) / 4;
    const std::uint32_t pieces =
        Tiff().TIFFIsTiled(tif) ? Tiff().TIFFNumberOfTiles(tif) : Tiff().TIFFNumberOfStrips(tif);
    std::uint64_t present = 0;
    for (std::uint32_t i = 0; i < pieces && present < needed; ++i) {
        int failed = 0;
        const std::uint64_t offset = Tiff().TIFFGetStrileOffsetWithErr(tif, i, &failed);
        const std::uint64_t bytes = Tiff().TIFFGetStrileByteCountWithErr(tif, i, &failed);
        if (failed == 0 && offset < fileSize) {
            present += std::min(bytes, fileSize - offset);
        }
    }
    return present >= needed;
}

// libtiff reads an 8-bit palette picture without its colour map as grey, inventing colours; the
// file's own first directory tells. Classic TIFF only (a BigTIFF's entries are laid out apart).
bool PaletteWithoutColours(const std::uint8_t* data, std::uint64_t size) {
    if (size < 8 || (data[0] != data[1]) || (data[0] != 'I' && data[0] != 'M')) {
        return false;
    }
    const bool big = data[0] == 'M';
    auto number = [&](std::uint64_t at, int bytes) {
        std::uint32_t value = 0;
        for (int i = 0; i < bytes; ++i) {
            value |= static_cast<std::uint32_t>(data[at + (big ? bytes - 1 - i : i)]) << (8 * i);
        }
        return value;
    };
    if (number(2, 2) != 42) {
        return false;
    }
    const std::uint64_t directory = number(4, 4);
    if (directory > size - 2) {
        return false;
    }
    const std::uint32_t count = number(directory, 2);
    bool palette = false;
    bool colours = false;
    for (std::uint32_t i = 0; i < count && directory + 2 + 12 * (i + 1) <= size; ++i) {
        const std::uint64_t entry = directory + 2 + 12 * i;
        const std::uint32_t tag = number(entry, 2);
        const int bytes = number(entry + 2, 2) == TIFF_LONG ? 4 : 2;
        palette = palette || (tag == TIFFTAG_PHOTOMETRIC && number(entry + 8, bytes) == 3);
        colours = colours || tag == TIFFTAG_COLORMAP;
    }
    return palette && !colours;
}

}  // namespace velora
