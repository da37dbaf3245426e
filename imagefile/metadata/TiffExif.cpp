// A TIFF file's own tags as the EXIF block that the rest of the layer knows from JPEG files, so
// that the metadata of every format takes the same way to the saved file. exiv2 (in the module of
// Exiv2Module.h) reads the file as the TIFF structure it is; what describes the file's own layout
// stays behind. EXIF blocks of the other new formats can carry such tags too (copied from a TIFF
// along the way): they go the same way.
#include <cstdint>

#include "CarriedMetadata.h"
#include "Codecs.h"
#include "Exiv2Module.h"

namespace velora {

namespace {

// The structure without the tags that do not travel; `unchanged` when nothing had to go.
std::vector<std::uint8_t> WithoutLayout(const std::uint8_t* data, std::size_t size, bool wholeFile,
                                        bool& unchanged) {
    unchanged = false;
    std::vector<std::uint8_t> kept;
    if (size < 8 || size > UINT32_MAX || !Exiv2().Loaded) {
        return kept;
    }
    Exiv2().velora_exiv2_without_layout(data, size, wholeFile, &unchanged, &kept);
    return kept;
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
