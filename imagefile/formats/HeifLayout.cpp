// What a HEIF file's boxes say of its primary picture, read before libheif is asked to decode
// it: libheif lays a grid's tiles on a canvas of the size the grid names, and its decoders
// allocate for the size their coded data names, which no other box has to agree with, so a few
// hundred bytes could make it allocate gigabytes.
#include <algorithm>
#include <set>

#include "Codecs.h"
#include "HeifBoxes.h"

namespace velora {

namespace {

using namespace heif;

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
    Items items;
    if (!ReadItems(data, size, items)) {
        return true;  // libheif names what is missing
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
