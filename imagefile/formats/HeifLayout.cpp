// What a HEIF file's boxes say of its primary picture, read before libheif is asked to decode
// it: libheif lays a grid's tiles on a canvas of the size the grid names, and its decoders
// allocate for the size their coded data names, which no other box has to agree with, so a few
// hundred bytes could make it allocate gigabytes.
#include <algorithm>
#include <map>
#include <set>
#include <tuple>

#include "Codecs.h"

namespace velora {

namespace {

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

// The boxes in a payload, in order; a box running past its parent ends the list.
std::vector<Box> Children(const Reader& parent) {
    std::vector<Box> boxes;
    Reader in = parent;
    while (in.Size - in.At >= 8) {
        const std::size_t start = in.At;
        std::uint64_t size = in.Read(4);
        const auto type = static_cast<std::uint32_t>(in.Read(4));
        if (size == 1) {
            size = in.Read(8);
        } else if (size == 0) {
            size = in.Size - start;
        }
        const std::size_t header = in.At - start;
        if (!in.Ok || size < header || size > in.Size - start) {
            break;
        }
        boxes.push_back({type, Reader{in.Data + in.At, static_cast<std::size_t>(size - header)}});
        in.At = start + static_cast<std::size_t>(size);
    }
    return boxes;
}

const Box* Find(const std::vector<Box>& boxes, std::uint32_t type) {
    for (const Box& box : boxes) {
        if (box.Type == type) {
            return &box;
        }
    }
    return nullptr;
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
    // Read or not, and the size, by configuration.
    std::map<const std::uint8_t*, std::pair<bool, std::pair<std::uint32_t, std::uint32_t>>>
        HevcSizes;
};

// Far more than a grid of 256 x 256 tiles has; an item whose data is past this is not read.
constexpr std::size_t MaxExtents = std::size_t{1} << 20;

void ReadInfo(Reader in, Items& items) {
    const auto version = in.Read(1);
    in.Skip(3);
    in.Skip(version == 0 ? 2 : 4);
    for (const Box& entry : Children(Reader{in.Data + in.At, in.Ok ? in.Size - in.At : 0})) {
        Reader e = entry.Payload;
        const auto entryVersion = e.Read(1);
        e.Skip(3);
        if (entry.Type != Kind("infe") || entryVersion < 2) {
            continue;
        }
        const auto id = static_cast<std::uint32_t>(e.Read(entryVersion == 2 ? 2 : 4));
        e.Skip(2);
        const auto type = static_cast<std::uint32_t>(e.Read(4));
        if (e.Ok) {
            items.Type[id] = type;
        }
    }
}

void ReadLocations(Reader in, Items& items) {
    const auto version = in.Read(1);
    in.Skip(3);
    const auto sizes = in.Read(2);
    const unsigned offsetSize = sizes >> 12 & 15, lengthSize = sizes >> 8 & 15;
    const unsigned baseSize = sizes >> 4 & 15, indexSize = version >= 1 ? sizes & 15 : 0;
    const auto count = in.Read(version < 2 ? 2 : 4);
    for (std::uint64_t i = 0; i < count && in.Ok; ++i) {
        const auto id = static_cast<std::uint32_t>(in.Read(version < 2 ? 2 : 4));
        Location where;
        const auto method = version >= 1 ? in.Read(2) & 15 : 0;
        where.InIdat = method == 1;
        in.Skip(2);  // data reference
        const std::uint64_t base = in.Read(baseSize);
        const auto extents = in.Read(2);
        for (std::uint64_t e = 0; e < extents && in.Ok; ++e) {
            // Extents of no bytes in the box could otherwise list billions for a few bytes.
            if (++items.ExtentCount > MaxExtents) {
                return;
            }
            in.Skip(indexSize);
            const std::uint64_t offset = in.Read(offsetSize);
            const std::uint64_t length = in.Read(lengthSize);
            where.Extents.emplace_back(base + offset, length);
        }
        // Data in another file or in another item is no data this file holds for it.
        if (in.Ok && method <= 1) {
            items.Where[id] = std::move(where);
        }
    }
}

void ReadReferences(Reader in, Items& items) {
    const auto version = in.Read(1);
    in.Skip(3);
    const unsigned idSize = version == 0 ? 2 : 4;
    for (const Box& reference : Children(Reader{in.Data + in.At, in.Ok ? in.Size - in.At : 0})) {
        Reader r = reference.Payload;
        const auto from = static_cast<std::uint32_t>(r.Read(idSize));
        const auto count = r.Read(2);
        std::vector<std::uint32_t> to;
        for (std::uint64_t i = 0; i < count && r.Ok; ++i) {
            to.push_back(static_cast<std::uint32_t>(r.Read(idSize)));
        }
        if (reference.Type == Kind("dimg") && r.Ok && items.Tiles.count(from) == 0) {
            items.Tiles[from] = std::move(to);
        }
    }
}

void ReadProperties(const Reader& iprp, Items& items) {
    const std::vector<Box> boxes = Children(iprp);
    const Box* ipco = Find(boxes, Kind("ipco"));
    if (ipco == nullptr) {
        return;
    }
    const std::vector<Box> properties = Children(ipco->Payload);
    for (const Box& box : boxes) {
        if (box.Type != Kind("ipma")) {
            continue;
        }
        Reader in = box.Payload;
        const auto version = in.Read(1);
        const auto flags = in.Read(3);
        const auto count = in.Read(4);
        for (std::uint64_t i = 0; i < count && in.Ok; ++i) {
            const auto id = static_cast<std::uint32_t>(in.Read(version < 1 ? 2 : 4));
            const auto associations = in.Read(1);
            for (std::uint64_t a = 0; a < associations && in.Ok; ++a) {
                const auto index = (flags & 1) ? in.Read(2) & 0x7fff : in.Read(1) & 0x7f;
                if (index == 0 || index > properties.size()) {
                    continue;
                }
                const Box& property = properties[index - 1];
                if (property.Type == Kind("hvcC") || property.Type == Kind("av1C")) {
                    items.Config.emplace(id, property);
                }
                if (property.Type != Kind("ispe")) {
                    continue;
                }
                Reader ispe = properties[index - 1].Payload;
                ispe.Skip(4);
                const auto width = static_cast<std::uint32_t>(ispe.Read(4));
                const auto height = static_cast<std::uint32_t>(ispe.Read(4));
                if (ispe.Ok && items.Size.count(id) == 0) {
                    items.Size[id] = {width, height};
                }
            }
        }
    }
}

// Where a byte range lies: in the file or in the idat box, its start and its end.
using Range = std::tuple<bool, std::uint64_t, std::uint64_t>;

// The bytes of an item's data in the file, or -1 when an extent lies outside it. Their first bytes
// go to `copy` (up to `keep` bytes in all), their ranges to `ranges`, when given.
std::int64_t DataBytes(const Location& where, const Items& items, std::size_t fileSize,
                       std::vector<std::uint8_t>* copy, const std::uint8_t* file,
                       std::vector<Range>* ranges = nullptr, std::size_t keep = 256) {
    const std::uint8_t* source = where.InIdat ? items.Idat.Data : file;
    const std::uint64_t size = where.InIdat ? items.Idat.Size : fileSize;
    std::uint64_t total = 0;
    for (const auto& extent : where.Extents) {
        const std::uint64_t length =
            extent.second != 0 ? extent.second : size - std::min(size, extent.first);
        if (extent.first > size || length > size - extent.first) {
            return -1;
        }
        if (copy != nullptr) {  // the first bytes are enough
            const std::uint64_t room = keep - std::min(copy->size(), keep);
            const std::uint64_t kept = std::min(length, room);
            copy->insert(copy->end(), source + extent.first, source + extent.first + kept);
        }
        if (ranges != nullptr) {
            ranges->emplace_back(where.InIdat, extent.first, extent.first + length);
        }
        total += length;
    }
    return static_cast<std::int64_t>(total);
}

// An item whose coded picture is larger than it declares, beyond the coding's rounding up to
// whole blocks, would have its decoder allocate for pixels the file never shows.
bool CodedSizeFits(Items& items, std::uint32_t id, const std::uint8_t* data, std::size_t size,
                   std::string& problem) {
    const auto config = items.Config.find(id);
    const auto declared = items.Size.find(id);
    const auto where = items.Where.find(id);
    if (config == items.Config.end() || declared == items.Size.end()) {
        return true;
    }
    const Reader& payload = config->second.Payload;
    std::uint32_t width = 0, height = 0;
    if (config->second.Type == Kind("av1C")) {
        // Its sequence header may come with the configuration or at the start of the data.
        std::vector<std::uint8_t> bytes(payload.Data,
                                        payload.Data + std::min<std::size_t>(payload.Size, 256));
        if (where != items.Where.end()) {
            DataBytes(where->second, items, size, &bytes, data, nullptr, 512);
        }
        if (!HeifCodedSize(config->second.Type, bytes.data(), bytes.size(), width, height)) {
            return true;
        }
    } else {
        // Tiles share one configuration, read once.
        auto known = items.HevcSizes.find(payload.Data);
        if (known == items.HevcSizes.end()) {
            const bool read =
                HeifCodedSize(config->second.Type, payload.Data, payload.Size, width, height);
            known = items.HevcSizes
                        .emplace(payload.Data, std::make_pair(read, std::make_pair(width, height)))
                        .first;
        }
        if (!known->second.first) {
            return true;
        }
        width = known->second.second.first;
        height = known->second.second.second;
    }
    constexpr std::uint64_t Block = 64;
    if (width <= declared->second.first + Block && height <= declared->second.second + Block) {
        return true;
    }
    problem = "the file is damaged: its coded picture is " + std::to_string(width) + " x " +
              std::to_string(height) + " pixels, not the " +
              std::to_string(declared->second.first) + " x " +
              std::to_string(declared->second.second) + " it declares";
    return false;
}

// One picture libheif decodes: its coded size, and when it is a grid, the grid and its tiles.
// The tiles met so far, in this grid and the grids within it, and the ranges of their data.
struct Walk {
    std::set<std::uint32_t> Seen;
    std::vector<Range> Ranges;
    unsigned Depth = 0;
};

bool CheckItem(Items& items, std::uint32_t id, const std::uint8_t* data, std::size_t size,
               HeifGrid& grid, std::string& problem, Walk& walk) {
    const auto type = items.Type.find(id);
    if (type == items.Type.end() || type->second != Kind("grid")) {
        return CodedSizeFits(items, id, data, size, problem);
    }
    grid.IsGrid = true;
    const auto fail = [&problem](const std::string& why) {
        problem = "the file is damaged: " + why;
        return false;
    };
    std::vector<std::uint8_t> description;
    const auto where = items.Where.find(id);
    if (where == items.Where.end() ||
        DataBytes(where->second, items, size, &description, data) < 8) {
        return fail("the description of its grid of tiles is missing");
    }
    Reader in{description.data(), description.size()};
    in.Skip(1);
    const bool wide = (in.Read(1) & 1) != 0;
    grid.Rows = static_cast<unsigned>(in.Read(1)) + 1;
    grid.Columns = static_cast<unsigned>(in.Read(1)) + 1;
    grid.Width = static_cast<std::uint32_t>(in.Read(wide ? 4 : 2));
    grid.Height = static_cast<std::uint32_t>(in.Read(wide ? 4 : 2));
    if (!in.Ok) {
        return fail("the description of its grid of tiles is cut short");
    }
    const std::string size2 = std::to_string(grid.Width) + " x " + std::to_string(grid.Height);
    const auto declared = items.Size.find(id);
    if (declared != items.Size.end() &&
        declared->second != std::make_pair(grid.Width, grid.Height)) {
        return fail("its grid of tiles is " + size2 + " pixels, not the " +
                    std::to_string(declared->second.first) + " x " +
                    std::to_string(declared->second.second) + " it declares");
    }
    const std::vector<std::uint32_t>& tiles = items.Tiles[id];
    const std::uint64_t cells = std::uint64_t{grid.Rows} * grid.Columns;
    const std::set<std::uint32_t> distinct(tiles.begin(), tiles.end());
    if (tiles.size() != cells || distinct.size() != cells) {
        return fail("its grid of " + std::to_string(grid.Columns) + " x " +
                    std::to_string(grid.Rows) + " tiles holds picture data for " +
                    std::to_string(distinct.size()) + " of them");
    }
    for (std::uint32_t tile : tiles) {
        const auto tileSize = items.Size.find(tile);
        const auto tileData = items.Where.find(tile);
        const auto tileType = items.Type.find(tile);
        if (!walk.Seen.insert(tile).second) {
            return fail("its grids show one tile more than once");
        }
        if (tileSize == items.Size.end() || tileData == items.Where.end()) {
            return fail("a tile of its grid has no picture data");
        }
        if (tileType != items.Type.end() && tileType->second == Kind("grid")) {
            // A tile that is a grid itself is laid on a canvas of its own: checked the same way.
            HeifGrid inner;
            if (walk.Depth > 0) {
                return fail("its grids are nested too deep");
            }
            ++walk.Depth;
            if (!CheckItem(items, tile, data, size, inner, problem, walk)) {
                return false;
            }
            --walk.Depth;
        } else if (DataBytes(tileData->second, items, size, nullptr, data, &walk.Ranges) <= 0) {
            return fail("a tile of its grid has no picture data");
        } else if (!CodedSizeFits(items, tile, data, size, problem)) {
            return false;
        }
        if (tile == tiles.front()) {
            grid.TileWidth = tileSize->second.first;
            grid.TileHeight = tileSize->second.second;
        }
        // The tiles are alike and cover the grid, with no column or row wholly outside it.
        const std::uint64_t w = tileSize->second.first, h = tileSize->second.second;
        if (w != grid.TileWidth || h != grid.TileHeight || w * grid.Columns < grid.Width ||
            h * grid.Rows < grid.Height || w * (grid.Columns - 1) >= grid.Width ||
            h * (grid.Rows - 1) >= grid.Height) {
            return fail("its " + std::to_string(cells) + " tiles of " + std::to_string(w) + " x " +
                        std::to_string(h) + " pixels do not make the " + size2 + " it declares");
        }
    }
    return true;
}

}  // namespace

bool CheckHeifLayout(const std::uint8_t* data, std::size_t size, HeifGrid& grid,
                     std::string& problem) {
    grid = HeifGrid{};
    const std::vector<Box> top = Children(Reader{data, size});
    const Box* meta = Find(top, Kind("meta"));
    if (meta == nullptr) {
        return true;  // libheif names what is missing
    }
    Reader metaPayload = meta->Payload;
    metaPayload.Skip(4);
    Items items;
    for (const Box& box :
         Children(Reader{metaPayload.Data + metaPayload.At,
                         metaPayload.Ok ? metaPayload.Size - metaPayload.At : 0})) {
        Reader in = box.Payload;
        if (box.Type == Kind("pitm")) {
            const auto version = in.Read(1);
            in.Skip(3);
            items.Primary = static_cast<std::uint32_t>(in.Read(version == 0 ? 2 : 4));
        } else if (box.Type == Kind("iinf")) {
            ReadInfo(in, items);
        } else if (box.Type == Kind("iloc")) {
            ReadLocations(in, items);
        } else if (box.Type == Kind("iref")) {
            ReadReferences(in, items);
        } else if (box.Type == Kind("iprp")) {
            ReadProperties(in, items);
        } else if (box.Type == Kind("idat")) {
            items.Idat = in;
        }
    }
    Walk walk;
    if (!CheckItem(items, items.Primary, data, size, grid, problem, walk)) {
        return false;
    }
    // Each tile has data of its own: items that share their bytes are one tile shown again.
    std::sort(walk.Ranges.begin(), walk.Ranges.end());
    for (std::size_t i = 1; i < walk.Ranges.size(); ++i) {
        if (std::get<0>(walk.Ranges[i]) == std::get<0>(walk.Ranges[i - 1]) &&
            std::get<1>(walk.Ranges[i]) < std::get<2>(walk.Ranges[i - 1])) {
            problem = "the file is damaged: tiles of its grid share their picture data";
            return false;
        }
    }
    return true;
}

}  // namespace velora
