// A TIFF file's own tags as the EXIF block that the rest of the layer knows from JPEG files, so
// that the metadata of every format takes the same way to the saved file. exiv2 reads the file
// as the TIFF structure it is; what describes the file's own layout stays behind. EXIF blocks of
// the other new formats can carry such tags too (copied from a TIFF along the way): they go the
// same way.
#include <exiv2/exiv2.hpp>

#include <cstdint>

#include "CarriedMetadata.h"
#include "Codecs.h"

namespace velora {

namespace {

// IFD0 tags that say how this file stores its pixels, or travel another way (the profile, XMP,
// and IPTC and Photoshop's resources as the APP13 segments of a JPEG file).
bool LayoutTag(std::uint16_t tag) {
    static const std::uint16_t tags[] = {
        0x00FE, 0x00FF, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0107, 0x0108, 0x0109, 0x010A,
        0x0111, 0x0115, 0x0116, 0x0117, 0x0118, 0x0119, 0x011C, 0x0120, 0x0121, 0x0122, 0x0123,
        0x0124, 0x0125, 0x0129, 0x012D, 0x013D, 0x0140, 0x0141, 0x0142, 0x0143, 0x0144, 0x0145,
        0x014A, 0x014C, 0x014D, 0x014E, 0x0150, 0x0152, 0x0153, 0x0154, 0x0155, 0x0156, 0x015B,
        0x0200, 0x0201, 0x0202, 0x0203, 0x0205, 0x0206, 0x0207, 0x0208, 0x0209, 0x0211, 0x0212,
        0x0214, 0x02BC, 0x83BB, 0x8649, 0x8769, 0x8773, 0x8825, 0xA005,
    };
    for (std::uint16_t t : tags) {
        if (t == tag) {
            return true;
        }
    }
    return false;
}

// The first page, its Exif, GPS and interoperability IFDs and the maker note. In a TIFF file the
// next IFD is the next page and sub-images are other pictures; in an EXIF block it holds the
// thumbnail, which stays.
bool KeptGroup(const std::string& group, bool wholeFile) {
    return group == "Image" || group == "Photo" || group == "GPSInfo" || group == "Iop" ||
           group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group) ||
           (!wholeFile && group == "Thumbnail");
}

// The structure without the tags that do not travel; `unchanged` when nothing had to go.
std::vector<std::uint8_t> WithoutLayout(const std::uint8_t* data, std::size_t size, bool wholeFile,
                                        bool& unchanged) {
    unchanged = false;
    if (size < 8 || size > UINT32_MAX) {
        return {};
    }
    InitializeMetadataLibrary();
    try {
        Exiv2::ExifData all;
        const Exiv2::ByteOrder order =
            Exiv2::ExifParser::decode(all, data, static_cast<std::uint32_t>(size));
        if (order == Exiv2::invalidByteOrder) {
            return {};
        }
        Exiv2::ExifData kept;
        for (const Exiv2::Exifdatum& datum : all) {
            const std::string group = datum.groupName();
            if (KeptGroup(group, wholeFile) && !(group == "Image" && LayoutTag(datum.tag()))) {
                kept.add(datum);
            }
        }
        if (!wholeFile && kept.count() == all.count()) {
            unchanged = true;
            return {};
        }
        if (kept.empty()) {
            return {};
        }
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, order, kept);
        return std::vector<std::uint8_t>(blob.begin(), blob.end());
    } catch (...) {
        // Tags exiv2 cannot make sense of are left out; the picture still opens.
        return {};
    }
}

}  // namespace

std::vector<std::uint8_t> ExifFromTiff(const std::uint8_t* data, std::size_t size) {
    bool unchanged = false;
    return WithoutLayout(data, size, true, unchanged);
}

void DropLayoutTags(std::vector<std::uint8_t>& exif) {
    if (exif.empty()) {
        return;
    }
    bool unchanged = false;
    std::vector<std::uint8_t> rebuilt = WithoutLayout(exif.data(), exif.size(), false, unchanged);
    // A block exiv2 cannot read goes on as it came: the layer decides about damaged EXIF later.
    if (!unchanged && !rebuilt.empty()) {
        exif = std::move(rebuilt);
    }
}

std::vector<std::uint8_t> PhotoshopFromTiff(const std::uint8_t* data, std::size_t size) {
    // The raw bytes of IFD0's two entries, whatever type they are declared with: libtiff turns
    // IPTC declared as LONG into numbers of this machine's byte order.
    if (size < 16 || (data[0] != 'I' && data[0] != 'M') || data[0] != data[1]) {
        return {};
    }
    const bool big = data[0] == 'M';
    auto number = [&](std::uint64_t at, unsigned bytes) {
        std::uint64_t v = 0;
        for (unsigned i = 0; i < bytes; ++i) {
            v |= std::uint64_t{data[at + i]} << (8 * (big ? bytes - 1 - i : i));
        }
        return v;
    };
    const bool wide = number(2, 2) == 43;  // BigTIFF: 8-byte counts and offsets
    const unsigned word = wide ? 8 : 4;
    const std::uint64_t ifd = number(wide ? 8 : 4, word);
    const unsigned countBytes = wide ? 8 : 2;
    const unsigned entryBytes = wide ? 20 : 12;
    if (ifd > size || size - ifd < countBytes) {
        return {};
    }
    const std::uint64_t entries = number(ifd, countBytes);
    if (entries > (size - ifd - countBytes) / entryBytes) {
        return {};
    }
    static const std::size_t typeSizes[] = {0, 1, 1, 2, 4, 8, 1, 1, 2, 4,
                                            8, 4, 8, 4, 0, 0, 8, 8, 8};
    std::vector<std::uint8_t> iptc;
    std::vector<std::uint8_t> resources;
    for (std::uint64_t i = 0; i < entries; ++i) {
        const std::uint64_t at = ifd + countBytes + i * entryBytes;
        const auto tag = number(at, 2);
        const auto type = number(at + 2, 2);
        if ((tag != 0x83BB && tag != 0x8649) || type >= sizeof(typeSizes) / sizeof(typeSizes[0])) {
            continue;
        }
        const std::uint64_t count = number(at + 4, word);
        if (typeSizes[type] == 0 || count > size / typeSizes[type]) {
            continue;
        }
        const std::uint64_t bytes = count * typeSizes[type];
        const std::uint64_t value = bytes <= word ? at + 4 + word : number(at + 4 + word, word);
        if (value > size || bytes > size - value) {
            continue;
        }
        (tag == 0x83BB ? iptc : resources).assign(data + value, data + value + bytes);
    }
    if (!iptc.empty() && !HoldsIptcResource(resources)) {
        const std::vector<std::uint8_t> wrapped = IptcResource(iptc.data(), iptc.size());
        resources.insert(resources.end(), wrapped.begin(), wrapped.end());
    }
    return resources;
}

}  // namespace velora
