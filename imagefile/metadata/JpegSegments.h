// The segments of a JPEG file that travel on to a saved file: the Exif block (joined when it goes
// on over several segments), the first XMP packet, the chunks of the ICC
// profile, and every other application segment or comment as it is. The Exif continuations and
// the others are bounded in count and size, so that a file made of nothing but segments costs
// no more than reading it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Codecs.h"

namespace velora {

class JpegSegments {
  public:
    static constexpr std::size_t MaxOtherSegments = 256;
    static constexpr std::size_t MaxOtherBytes = 8u * 1024 * 1024;

    // Takes one segment (`marker` 0xE0 to 0xEF or 0xFE, its payload without the length field)
    // into `meta`. Returns a sentence for the user when the bounds left it out, else nullptr.
    const char* Keep(int marker, const std::uint8_t* data, std::size_t length, RawMetadata& meta);

    // Joins the profile's chunks into meta.Icc once all segments are known; an incomplete or
    // inconsistent profile is left out.
    void FinishIcc(RawMetadata& meta) const;

  private:
    void IccChunk(unsigned sequence, unsigned count, const std::uint8_t* data, std::size_t length);

    bool SawExif = false;
    bool IccBroken = false;
    std::vector<std::vector<std::uint8_t>> IccChunks;
    std::vector<bool> IccPresent;
    std::size_t OtherBytes = 0;
};

}  // namespace velora
