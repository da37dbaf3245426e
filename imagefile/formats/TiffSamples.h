// TIFF pictures read as samples: grey, RGB and CMYK with 8 or 16 bits, contiguous or one plane
// per sample, with or without alpha. Which files qualify, and how their pixels become BGR.
#pragma once

#include "TiffLibrary.h"

#include <cstdint>
#include <vector>

#include "ColourProfiles.h"

namespace velora {

// How the samples of a pixel are laid out.
struct TiffLayout {
    unsigned Bits = 8;
    unsigned Samples = 1;  // per pixel, extra samples included
    unsigned Colours = 1;  // 1 grey, 3 RGB, 4 CMYK
    int Alpha = -1;        // index of the alpha sample, or -1
    bool Associated = false;
    bool MinIsWhite = false;
    bool Separate = false;  // one plane per sample
};

// True when the current directory's picture can be read as samples; `layout` then says how.
// Asks JPEG-compressed YCbCr pictures to come out as RGB.
bool TiffSampleLayout(TIFF* tif, TiffLayout& layout);

// Turns pixels laid out as the layout says into BGR over white; CMYK through `cmyk`.
class TiffPixelConverter {
  public:
    TiffPixelConverter(const TiffLayout& layout, const CmykToRgb& cmyk) : L(layout), Cmyk(cmyk) {}

    void Convert(const std::uint8_t* src, unsigned count, std::uint8_t* bgr);

  private:
    unsigned Sample(const std::uint8_t* src, std::size_t index) const;

    const TiffLayout& L;
    const CmykToRgb& Cmyk;
    std::vector<std::uint8_t> Inks;
};

// Puts the samples of plane `sample` (`count` pixels) into their places in an interleaved row.
void TiffInterleave(const std::uint8_t* plane, unsigned count, const TiffLayout& layout,
                    unsigned sample, std::uint8_t* row);

// Whether the file holds enough of its strips or tiles for the picture it declares: a quarter
// of the least its compression needs (so that a cut file still opens as damaged).
bool HoldsPictureData(TIFF* tif, std::uint64_t fileSize, std::uint64_t width, std::uint64_t height);

// A palette picture whose first directory has no colour map (libtiff would read it as grey).
bool PaletteWithoutColours(const std::uint8_t* data, std::uint64_t size);

}  // namespace velora
