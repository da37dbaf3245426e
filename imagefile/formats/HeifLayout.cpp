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

// The pictures met so far, in this grid or overlay and those within it, and their data's ranges.
struct Walk {
    std::set<std::uint32_t> Seen;
    std::vector<Range> Ranges;
    unsigned Depth = 0;
};

bool Fail(std::string& problem, const std::string& why) {
    problem = "the file is damaged: " + why;
    return false;
}

bool IsDerived(const Items& items, std::uint32_t id) {
    const auto type = items.Type.find(id);
    return type != items.Type.end() &&
           (type->second == Kind("grid") || type->second == Kind("iovl"));
}

// Whether libheif takes the item for a picture it can lay out or decode. A grid, an overlay or an
// identity that names anything else stops libheif on an assertion, the program with it.
bool IsPicture(const Items& items, std::uint32_t id) {
    const auto type = items.Type.find(id);
    return type != items.Type.end() &&
           (type->second == Kind("hvc1") || type->second == Kind("av01") || IsDerived(items, id));
}

bool CheckItem(Items& items, std::uint32_t id, const std::uint8_t* data, std::size_t size,
               HeifGrid& grid, std::string& problem, Walk& walk);

// One picture that a grid or an overlay is made of: met once, with a size and data of its own.
bool CheckInput(Items& items, std::uint32_t input, const std::uint8_t* data, std::size_t size,
                std::string& problem, Walk& walk) {
    const auto where = items.Where.find(input);
    if (!walk.Seen.insert(input).second) {
        return Fail(problem, "it shows one of its tiles more than once");
    }
    if (!IsPicture(items, input)) {
        return Fail(problem, "a tile of its grid is not a picture");
    }
    if (items.Size.count(input) == 0 || where == items.Where.end()) {
        return Fail(problem, "a tile of its grid has no picture data");
    }
    if (IsDerived(items, input)) {
        // A tile that is a grid itself is laid on a canvas of its own: checked the same way.
        HeifGrid inner;
        if (walk.Depth > 0) {
            return Fail(problem, "its grids are nested too deep");
        }
        ++walk.Depth;
        const bool sound = CheckItem(items, input, data, size, inner, problem, walk);
        --walk.Depth;
        return sound;
    }
    if (DataBytes(where->second, items, size, nullptr, data, &walk.Ranges) <= 0) {
        return Fail(problem, "a tile of its grid has no picture data");
    }
    return CodedSizeFits(items, input, data, size, problem);
}

// An overlay lays its pictures on a canvas of the size it names, filled where they leave gaps:
// the canvas must be the size the item declares and no larger than its pictures together.
bool CheckOverlay(Items& items, std::uint32_t id, const std::uint8_t* data, std::size_t size,
                  HeifGrid& grid, std::string& problem, Walk& walk) {
    std::vector<std::uint8_t> description;
    const auto where = items.Where.find(id);
    if (where == items.Where.end() ||
        DataBytes(where->second, items, size, &description, data) < 14) {
        return Fail(problem, "the description of its overlay is missing");
    }
    Reader in{description.data(), description.size()};
    in.Skip(1);
    const bool wide = (in.Read(1) & 1) != 0;
    in.Skip(8);  // the fill colour
    grid.Width = static_cast<std::uint32_t>(in.Read(wide ? 4 : 2));
    grid.Height = static_cast<std::uint32_t>(in.Read(wide ? 4 : 2));
    const auto declared = items.Size.find(id);
    const std::string canvas = std::to_string(grid.Width) + " x " + std::to_string(grid.Height);
    if (!in.Ok || (declared != items.Size.end() &&
                   declared->second != std::make_pair(grid.Width, grid.Height))) {
        return Fail(problem,
                    "its overlay's canvas of " + canvas + " pixels is not the size it declares");
    }
    std::uint64_t shown = 0;
    for (std::uint32_t input : items.Tiles[id]) {
        if (!CheckInput(items, input, data, size, problem, walk)) {
            return false;
        }
        const auto inputSize = items.Size[input];
        shown += std::uint64_t{inputSize.first} * inputSize.second;
        grid.TileWidth = std::max(grid.TileWidth, inputSize.first);
        grid.TileHeight = std::max(grid.TileHeight, inputSize.second);
    }
    if (std::uint64_t{grid.Width} * grid.Height > shown) {
        return Fail(problem, "its overlay's canvas of " + canvas +
                                 " pixels is larger than the pictures laid on it");
    }
    return true;
}

// One picture libheif decodes: its coded size, or when it is a grid, the grid and its tiles.
bool CheckItem(Items& items, std::uint32_t id, const std::uint8_t* data, std::size_t size,
               HeifGrid& grid, std::string& problem, Walk& walk) {
    const auto type = items.Type.find(id);
    if (type != items.Type.end() && type->second == Kind("iden")) {
        // The same picture under another name (turned or cropped by its own properties).
        const std::vector<std::uint32_t>& shown = items.Tiles[id];
        if (shown.empty() || !IsPicture(items, shown.front())) {
            return Fail(problem, "the picture it names is not a picture");
        }
        return CheckItem(items, shown.front(), data, size, grid, problem, walk);
    }
    if (type != items.Type.end() && type->second == Kind("iovl")) {
        return CheckOverlay(items, id, data, size, grid, problem, walk);
    }
    if (type == items.Type.end() || type->second != Kind("grid")) {
        // Coded data that is empty, lies outside the file or is nowhere said to be is no picture
        // (and sends the AV1 decoder nothing, which it leaks on).
        const auto where = items.Where.find(id);
        if (IsPicture(items, id) && (where == items.Where.end() ||
                                     DataBytes(where->second, items, size, nullptr, data) <= 0)) {
            return Fail(problem, "its picture has no data in the file");
        }
        return CodedSizeFits(items, id, data, size, problem);
    }
    grid.IsGrid = true;
    const auto fail = [&problem](const std::string& why) { return Fail(problem, why); };
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
        if (!CheckInput(items, tile, data, size, problem, walk)) {
            return false;
        }
        const auto tileSize = items.Size.find(tile);
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
    if (items.LocationsUnreadable) {
        problem = "the file is damaged: the locations of its pictures cannot be read";
        return false;
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
