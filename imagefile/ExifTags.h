// Where EXIF tags live in the flat model of property items.
#pragma once

#include <cstdint>
#include <string>

namespace velora {

constexpr std::uint32_t PropertyTagThumbnailData = 0x501B;

// The directories of an EXIF block. IFD0 describes the picture; the Exif, GPS and
// interoperability IFDs hang from it; IFD1 describes the thumbnail.
enum class ExifIfd : std::uint8_t { Main = 1, Exif = 2, Gps = 3, Interop = 4, Thumbnail = 5 };

// EXIF tags in the flat model of property items. A tag keeps its bare number in the IFD where
// that number belongs (Model 0x0110 in IFD0, ExposureTime 0x829A in the Exif IFD, GPSLatitude
// 0x0002 in the GPS IFD); anywhere else it carries its IFD in bits 16-23 (InteropIndex is
// 0x040001, a copy of ExposureTime in IFD0 is 0x01829A), so that no two places share an id. The
// thumbnail's tags have the platform's numbers 0x5020-0x503B. The tags that only say where
// other parts of the block sit (IFD pointers, strip and thumbnail offsets) are no items:
// NoPropertyId. (0 is an id: GPSVersionID's.)
constexpr std::uint32_t NoPropertyId = 0xFFFFFFFF;
std::uint32_t ExifPropertyId(ExifIfd ifd, std::uint16_t tag);
// The place of an item's id in an EXIF block; false for ids that are no EXIF tag (the ICC
// profile, the quantisation tables, the thumbnail's bytes).
bool ExifTagOf(std::uint32_t id, ExifIfd& ifd, std::uint16_t& tag);
// The tag's name as EXIF readers show it ("UserComment"), or its number in hex.
std::string ExifTagName(std::uint32_t id);

}  // namespace velora
