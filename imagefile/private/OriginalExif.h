// The opened file's EXIF block as exiv2 understands it, for the writer. The property items say
// what every tag holds; this says what they cannot: where each tag sat, and how a maker note is
// built inside, so that exiv2 can lay it out again with offsets that fit its new place.
#pragma once

#include <exiv2/exiv2.hpp>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace velora {

class OriginalExif {
  public:
    // Decodes `tiff` (TIFF structure without the "Exif\0\0" prefix); damage leaves it empty.
    explicit OriginalExif(const std::vector<std::uint8_t>& tiff);

    // The group (Image, Photo, GPSInfo, Iop) in which the block had `tag`; empty when it had it
    // in none or in several.
    std::string GroupOf(std::uint16_t tag) const;

    // True when `makerNote` is byte for byte the block's maker note and exiv2 read its tags.
    bool HoldsParsedMakerNote(const std::vector<std::uint8_t>& makerNote) const;

    // Puts the maker note's parsed tags into `exif` in place of its raw bytes.
    void AddMakerNote(Exiv2::ExifData& exif) const;

    // True when the encoded `blob` gives back every parsed maker-note tag with its value.
    bool MakerNoteSurvives(const Exiv2::Blob& blob) const;

  private:
    Exiv2::ExifData Data;
    std::map<std::uint16_t, std::string> Groups;  // "" where a tag sat in several groups
    std::vector<std::uint8_t> MakerNote;
    bool MakerNoteParsed = false;
};

}  // namespace velora
