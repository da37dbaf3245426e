// What a PNG carries besides its EXIF and profile chunks, read and written through libpng's text
// records: XMP, comments, raw profiles (IPTC and Photoshop's resources, EXIF and XMP as some
// writers keep them), and its own chunks about the picture.
#pragma once

#include <png.h>

#include <string>
#include <vector>

#include "Codecs.h"

namespace velora {

// The texts libpng read: the first XMP packet, comments as COM segments, IPTC and Photoshop's
// resources as APP13 segments, raw profiles of EXIF and XMP when the file has no chunk of their
// own. May throw std::bad_alloc.
void KeepPngTexts(png_const_textp texts, int count, RawMetadata& meta);

// The text records to write: the XMP packet as international text, then meta.Texts. They point
// into `meta`, which must outlive them.
std::vector<png_text> PngTextChunks(const EncodedMetadata& meta);

// The chunks about the picture that travel to a PNG as they are: texts other than those above,
// the pixel density and the time of the last change. Bounded like a JPEG's segments.
void KeepPngChunks(const std::uint8_t* data, std::size_t size, RawMetadata& meta);

// The opened PNG's name for its profile when libpng takes it as a keyword (1 to 79 printable
// Latin-1 characters, no blank at either end), else ours.
const char* PngProfileKeyword(const std::string& name);

}  // namespace velora
