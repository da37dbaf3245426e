// Reading a HEIF file's item boxes, each offset and count checked against what holds it.
#include "HeifBoxes.h"

#include <algorithm>

namespace velora {
namespace heif {

namespace {

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
    for (const unsigned fieldSize : {offsetSize, lengthSize, baseSize, indexSize}) {
        if (fieldSize != 0 && fieldSize != 4 && fieldSize != 8) {
            items.LocationsUnreadable = true;
            return;
        }
    }
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
}  // namespace

// The bytes of an item's data in the file, or -1 when an extent lies outside it. Their first bytes
// go to `copy` (up to `keep` bytes in all), their ranges to `ranges`, when given.
std::int64_t DataBytes(const Location& where, const Items& items, std::size_t fileSize,
                       std::vector<std::uint8_t>* copy, const std::uint8_t* file,
                       std::vector<Range>* ranges, std::size_t keep) {
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

bool ReadItems(const std::uint8_t* data, std::size_t size, Items& items) {
    const std::vector<Box> top = Children(Reader{data, size});
    const Box* meta = Find(top, Kind("meta"));
    if (meta == nullptr) {
        return false;
    }
    Reader metaPayload = meta->Payload;
    metaPayload.Skip(4);
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
    return true;
}

}  // namespace heif
}  // namespace velora
