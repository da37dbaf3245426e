// The few things this layer asks of exiv2, built as a module of their own (velora-exiv2.so) that
// is opened the first time a tag's name, a TIFF file's tags, a WebP or HEIF file's EXIF or a
// camera raw's metadata is wanted. Linked with the program, exiv2 and what it needs cost every
// run, JPEG after JPEG, several times Velora's own start. The module is built with the layer by
// the same compiler, so the functions pass the standard library's types; no exception leaves it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "SharedFunctions.h"

extern "C" {

// Mutes exiv2's log and readies its XMP parser and tag tables, which are not safe to start from
// several threads at once. The loader calls it once, before anything else.
void velora_exiv2_start();

// exiv2's name of `tag` in the IFD it calls `group` ("Image", "Photo", "GPSInfo", "Iop",
// "Thumbnail"); false when it names none.
bool velora_exiv2_tag_name(std::uint16_t tag, const char* group, std::string* name);

// The EXIF structure at `data` (a whole TIFF file when `wholeFile`) written again without the tags
// that describe a file's own layout: its first page's descriptive tags with the Exif, GPS and
// interoperability IFDs and the maker note, and in an EXIF block the thumbnail's IFD. `unchanged`
// says that an EXIF block had nothing to drop; `out` is empty when exiv2 cannot read it or
// nothing is left.
void velora_exiv2_without_layout(const std::uint8_t* data, std::size_t size, bool wholeFile,
                                 bool* unchanged, std::vector<std::uint8_t>* out);

// A camera raw's metadata as exiv2 reads it: the EXIF that travels with a picture made from it
// (without the tags that describe its sensor data) as one TIFF structure, the XMP packet, and
// whether it has a colour profile. False when exiv2 cannot make sense of it.
bool velora_exiv2_raw_metadata(const std::uint8_t* data, std::size_t size,
                               std::vector<std::uint8_t>* exif, std::string* xmp, bool* icc);
}

namespace velora {

#define VELORA_EXIV2_FUNCTIONS(X)  \
    X(velora_exiv2_start)          \
    X(velora_exiv2_tag_name)       \
    X(velora_exiv2_without_layout) \
    X(velora_exiv2_raw_metadata)

struct Exiv2Functions {
    VELORA_EXIV2_FUNCTIONS(VELORA_FUNCTION_POINTER)
    bool Loaded = false;
    // Why it cannot be used, in words (the loader's own), when Loaded is false.
    std::string Problem;
};

// The module's functions, opened and started once by whichever thread asks first.
const Exiv2Functions& Exiv2();

}  // namespace velora
