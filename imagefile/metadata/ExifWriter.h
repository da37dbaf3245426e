// Lays out the EXIF block of a saved file from the picture's property items.
//
// The opened file's block is the starting point: whatever the items leave unchanged stays where
// it was, byte for byte. Offsets that count from the TIFF header therefore still point where
// they did: those inside a maker note that no library understands, and those of data that a
// maker note keeps elsewhere in the block (a preview picture). Changed and new values go into
// room that was freed or at the end; removed tags leave their room, zeroed; the thumbnail's IFD
// and picture go.
//
// Only a block that cannot fit `limit` even so is laid out afresh, the maker note still at its
// old offset; and when that does not fit either, items are left out, the thumbnail first, then
// the largest values, the camera model last.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "WorkingBitmap.h"

namespace velora {

struct ExifLayout {
    std::vector<std::uint8_t> Block;     // the TIFF structure; empty when there is nothing to say
    std::vector<std::uint32_t> LeftOut;  // ids of the items the block could not hold
};

// `items` in the model's order; `original` the opened file's block (may be empty or damaged).
ExifLayout LayOutExif(const std::vector<PropertyItem>& items,
                      const std::vector<std::uint8_t>& original, std::size_t limit);

}  // namespace velora
