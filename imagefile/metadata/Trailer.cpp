#include <algorithm>
#include <cstring>

#include "Codecs.h"

namespace velora {

namespace {

std::uint32_t Little32(const std::uint8_t* p) {
    return (static_cast<std::uint32_t>(p[3]) << 24) | (p[2] << 16) | (p[1] << 8) | p[0];
}

}  // namespace

std::vector<std::uint8_t> FindMetadataTrailer(const std::uint8_t* data, std::size_t size) {
    // The footer: the directory's length and "SEFT". The directory: "SEFH", a version, the
    // number of entries, then twelve bytes for each (two reserved, a type, the distance from
    // the directory back to the entry's data, its length).
    const std::size_t begin = 2;  // after the start of the picture at least
    const std::size_t end = size;
    if (data == nullptr || end < begin + 8 + 12 || std::memcmp(data + end - 4, "SEFT", 4) != 0) {
        return {};
    }
    const std::size_t length = Little32(data + end - 8);
    if (length < 12 || length > end - 8 - begin) {
        return {};
    }
    const std::size_t directory = end - 8 - length;
    if (std::memcmp(data + directory, "SEFH", 4) != 0) {
        return {};
    }
    const std::size_t count = Little32(data + directory + 8);
    if (count > (length - 12) / 12) {
        return {};
    }
    std::size_t start = directory;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* entry = data + directory + 12 + 12 * i;
        const std::size_t back = Little32(entry + 4);
        const std::size_t size = Little32(entry + 8);
        if (back > directory - begin || size > back) {
            return {};
        }
        start = std::min(start, directory - back);
    }
    if (start < begin + 2 || data[start - 2] != 0xFF || data[start - 1] != 0xD9) {
        return {};
    }
    return std::vector<std::uint8_t>(data + start, data + end);
}

}  // namespace velora
