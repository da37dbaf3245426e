// Colour management over lcms2. CMYK pictures become RGB through their own profile or the
// system's standard CMYK profile, and no picture leaves with a profile that does not describe RGB
// pixels: viewers that manage colour would otherwise show it wrongly.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace velora {

struct RawMetadata;

// What the file's pixels were before they became 24-bit RGB.
enum class SourceColour { Rgb, Grey, Cmyk };

// How CMYK samples are stored: 0 means no ink, except in Adobe's inverted JPEGs (255: no ink).
enum class CmykSamples { Ink8, InvertedInk8, Ink16 };

// Turns rows of CMYK samples into BGR rows in sRGB, relative colorimetric with black point
// compensation (what a prepress program does by default). One object serves one picture.
class CmykToRgb {
  public:
    CmykToRgb() = default;
    CmykToRgb(const CmykToRgb&) = delete;
    CmykToRgb& operator=(const CmykToRgb&) = delete;
    ~CmykToRgb();

    // Prepares the conversion through `embedded` or, when that is empty or no usable CMYK
    // profile, through the standard one. Without any profile the inks are mixed arithmetically
    // and Warning() says the colours are approximate.
    void Start(const std::vector<std::uint8_t>& embedded, CmykSamples samples);

    // `cmyk` holds `width` pixels of four samples (bytes, or native 16-bit words for Ink16).
    void Row(const void* cmyk, std::uint8_t* bgr, unsigned width) const;

    // Empty unless something the caller should pass on to the user happened.
    const std::string& Warning() const { return Note; }

  private:
    void* Transform = nullptr;
    CmykSamples Samples = CmykSamples::Ink8;
    std::string Note;
};

// The profile a converted CMYK picture carries: the sRGB it was converted into.
const std::vector<std::uint8_t>& SrgbProfile();

// An RGB profile whose neutral colours have the tone curve of the grey profile `grey`, so that
// grey pixels copied into R = G = B look as they did. Empty when `grey` cannot be read.
std::vector<std::uint8_t> RgbProfileLikeGrey(const std::vector<std::uint8_t>& grey);

// An RGB profile for pictures described by primaries and a transfer curve instead of a profile
// (HEIF's nclx): `xy` holds red, green, blue and white as x, y pairs, `transfer` the H.273
// transfer characteristics. Empty for curves a profile cannot carry (PQ, HLG).
std::vector<std::uint8_t> RgbProfileFromPrimaries(const double xy[8], int transfer);

// Leaves meta.Icc an RGB profile or empty: a grey picture's grey profile becomes
// RgbProfileLikeGrey, a profile that does not fit the pixels is left out with a warning.
void SettleColourProfile(RawMetadata& meta, SourceColour source,
                         std::vector<std::string>& warnings);

}  // namespace velora
