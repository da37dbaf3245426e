// The boxes of a HEIF file that say what its items are, where their data lies, what sizes and
// decoder configurations they have and how they refer to each other, read with every offset and
// count checked against the file.
#pragma once

#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

namespace velora {
namespace heif {

// A bounds-checked big-endian reader over one box's payload; once a read runs past the end,
// Ok stays false and every later read gives 0.
struct Reader {
    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t At = 0;
    bool Ok = true;

    std::uint64_t Read(unsigned bytes) {
        if (bytes > 8 || Size - At < bytes || !Ok) {
            Ok = false;
            return 0;
        }
        std::uint64_t value = 0;
        for (unsigned i = 0; i < bytes; ++i) {
            value = value << 8 | Data[At++];
        }
        return value;
    }
    void Skip(std::size_t bytes) {
        if (Size - At < bytes) {
            Ok = false;
        }
        At = Ok ? At + bytes : Size;
    }
};

struct Box {
    std::uint32_t Type = 0;
    Reader Payload{nullptr, 0};
};

constexpr std::uint32_t Kind(const char (&name)[5]) {
    return std::uint32_t(std::uint8_t(name[0])) << 24 | std::uint32_t(std::uint8_t(name[1])) << 16 |
           std::uint32_t(std::uint8_t(name[2])) << 8 | std::uint8_t(name[3]);
}

// Where an item's data lies: its extents in the file or in the idat box.
struct Location {
    bool InIdat = false;
    std::vector<std::pair<std::uint64_t, std::uint64_t>> Extents;  // offset, length (0: to the end)
};

struct Items {
    std::uint32_t Primary = 0;
    std::map<std::uint32_t, std::uint32_t> Type;
    std::map<std::uint32_t, Location> Where;
    std::map<std::uint32_t, std::vector<std::uint32_t>> Tiles;              // dimg references
    std::map<std::uint32_t, std::pair<std::uint32_t, std::uint32_t>> Size;  // ispe
    Reader Idat{nullptr, 0};
    std::map<std::uint32_t, Box> Config;  // hvcC or av1C
    std::size_t ExtentCount = 0;
    // The location box uses field sizes no file may use, so where libheif will look is unknown.
    bool LocationsUnreadable = false;
    // Read or not, and the size, by configuration.
    std::map<const std::uint8_t*, std::pair<bool, std::pair<std::uint32_t, std::uint32_t>>>
        HevcSizes;
};
// Where a byte range lies: in the file or in the idat box, its start and its end.
using Range = std::tuple<bool, std::uint64_t, std::uint64_t>;
// Reads the items of the file's meta box; false when it has none.
bool ReadItems(const std::uint8_t* data, std::size_t size, Items& items);

// The bytes of an item's data in the file, or -1 when an extent lies outside it. Their first bytes
// go to `copy` (up to `keep` bytes in all), their ranges to `ranges`, when given.
std::int64_t DataBytes(const Location& where, const Items& items, std::size_t fileSize,
                       std::vector<std::uint8_t>* copy, const std::uint8_t* file,
                       std::vector<Range>* ranges = nullptr, std::size_t keep = 256);

}  // namespace heif
}  // namespace velora
