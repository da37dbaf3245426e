#include "ExifWriter.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "ExifStructure.h"
#include "ImageProperties.h"

namespace velora {

namespace {

constexpr std::size_t None = static_cast<std::size_t>(-1);
constexpr std::uint16_t MakerNoteTag = 0x927C;

struct Range {
    std::size_t Begin;
    std::size_t End;
};

// Room in the block that may be written over, sorted and apart.
class FreeRoom {
  public:
    void Add(std::size_t begin, std::size_t end) {
        if (begin >= end) {
            return;
        }
        Free.push_back({begin, end});
        std::sort(Free.begin(), Free.end(),
                  [](const Range& a, const Range& b) { return a.Begin < b.Begin; });
        std::vector<Range> merged;
        for (const Range& r : Free) {
            if (!merged.empty() && r.Begin <= merged.back().End) {
                merged.back().End = std::max(merged.back().End, r.End);
            } else {
                merged.push_back(r);
            }
        }
        Free = std::move(merged);
    }

    void Remove(std::size_t begin, std::size_t end) {
        std::vector<Range> rest;
        for (const Range& r : Free) {
            if (r.End <= begin || r.Begin >= end) {
                rest.push_back(r);
                continue;
            }
            if (r.Begin < begin) {
                rest.push_back({r.Begin, begin});
            }
            if (r.End > end) {
                rest.push_back({end, r.End});
            }
        }
        Free = std::move(rest);
    }

    // Takes room for `size` bytes at an even offset (TIFF keeps values on word boundaries).
    std::size_t Take(std::size_t size) {
        for (std::size_t i = 0; i < Free.size(); ++i) {
            const Range r = Free[i];
            const std::size_t at = r.Begin + (r.Begin & 1);
            if (at + size <= r.End) {
                Free.erase(Free.begin() + static_cast<std::ptrdiff_t>(i));
                Add(r.Begin, at);
                Add(at + size, r.End);
                return at;
            }
        }
        return None;
    }

    // Gives up the room that reaches the block's end; the block may then end earlier.
    std::size_t TrimEnd(std::size_t end) {
        if (!Free.empty() && Free.back().End >= end) {
            end = std::min(end, Free.back().Begin);
            Free.pop_back();
        }
        return end;
    }

    const std::vector<Range>& Ranges() const { return Free; }

  private:
    std::vector<Range> Free;
};

// A tag the items want written, its value already in the block's byte order.
struct Wanted {
    std::uint32_t Id = 0;
    ExifIfd Ifd = ExifIfd::Main;
    std::uint16_t Tag = 0;
    std::uint16_t Type = 0;
    std::uint32_t Count = 0;
    std::vector<std::uint8_t> Value;
};

enum class Source { Kept, Pinned, New, Pointer };

struct Planned {
    std::uint16_t Tag = 0;
    std::uint16_t Type = 0;
    std::uint32_t Count = 0;
    Source From = Source::New;
    std::size_t OriginalAt = 0;                        // Kept: the entry in the opened block
    const std::vector<std::uint8_t>* Value = nullptr;  // New
    // New (over four bytes): where the value goes. Pinned: the number the entry holds, the
    // offset of a value that is already in place (or the thumbnail's length).
    std::size_t ValueAt = 0;
    ExifIfd Child = ExifIfd::Main;  // Pointer
};

struct Table {
    ExifIfd Ifd = ExifIfd::Main;
    std::vector<Planned> Entries;
    std::size_t At = 0;
    bool Placed = false;
    std::size_t Size() const { return 2 + 12 * Entries.size() + 4; }
};

constexpr ExifIfd TableOrder[] = {ExifIfd::Main, ExifIfd::Exif, ExifIfd::Gps, ExifIfd::Interop};

std::size_t IndexOf(ExifIfd ifd) {
    return static_cast<std::size_t>(ifd) - 1;
}

std::size_t ElementSize(std::uint16_t type) {
    const std::size_t size = ExifStructure::TypeSize(type);
    return type == 5 || type == 10 ? 4 : size;  // a rational is two longs
}

std::vector<std::uint8_t> InOrder(const PropertyItem& item, bool big) {
    std::vector<std::uint8_t> value = item.value;
    const std::size_t element = ElementSize(item.type);
    if (item.bigEndian != big && element > 1) {
        for (std::size_t at = 0; at + element <= value.size(); at += element) {
            std::reverse(value.begin() + static_cast<std::ptrdiff_t>(at),
                         value.begin() + static_cast<std::ptrdiff_t>(at + element));
        }
    }
    return value;
}

// A new block without an opened one to follow: the byte order of the maker note, whose inner
// structure depends on it, else of the first number, else Intel's.
bool OrderWithoutOriginal(const std::vector<PropertyItem>& items) {
    for (const PropertyItem& item : items) {
        if (item.id == MakerNoteTag) {
            return item.bigEndian;
        }
    }
    for (const PropertyItem& item : items) {
        if (item.id <= 0xFFFF && !item.value.empty() && ElementSize(item.type) > 1) {
            return item.bigEndian;
        }
    }
    return false;
}

class Layout {
  public:
    Layout(const std::vector<PropertyItem>& items, const std::vector<std::uint8_t>& original,
           std::size_t limit)
        : Original(original), Structure(original), Limit(limit) {
        HaveOriginal = Structure.Valid() && Structure.Find(ExifIfd::Main) != nullptr;
        Big = HaveOriginal ? Structure.BigEndian() : OrderWithoutOriginal(items);
        std::set<std::uint32_t> seen;
        for (const PropertyItem& item : items) {
            if (item.id == PropertyTagThumbnailData) {
                Thumbnail = item.value;
                continue;
            }
            ExifIfd ifd;
            std::uint16_t tag;
            if (!ExifTagOf(item.id, ifd, tag) || !seen.insert(item.id).second) {
                continue;
            }
            const std::size_t size = ExifStructure::TypeSize(item.type);
            if (size == 0 || item.type == 13 || item.value.size() % size != 0 ||
                item.value.size() / size > 0xFFFFFFFFu) {
                LeftOut.push_back(item.id);  // no shape a TIFF entry can have
                continue;
            }
            Wanted w;
            w.Id = item.id;
            w.Ifd = ifd;
            w.Tag = tag;
            w.Type = item.type;
            w.Count = static_cast<std::uint32_t>(item.value.size() / size);
            w.Value = InOrder(item, Big);
            (ifd == ExifIfd::Thumbnail ? ThumbnailTags : Items).push_back(std::move(w));
        }
    }

    ExifLayout Run() {
        bool keep = HaveOriginal;
        std::vector<std::uint8_t> block = Build(keep);
        if (block.size() > Limit && keep && Original.size() > Limit) {
            keep = false;
            block = Build(keep);
        }
        while (block.size() > Limit) {
            const std::uint32_t victim = Victim();
            if (victim == NoPropertyId) {
                block.clear();
                break;
            }
            Skipped.insert(victim);
            LeftOut.push_back(victim);
            block = Build(keep);
        }
        return ExifLayout{std::move(block), LeftOut};
    }

  private:
    // The thumbnail first, then the largest value; the model, which carries the marker, last.
    std::uint32_t Victim() const {
        if (!Thumbnail.empty() && Skipped.count(PropertyTagThumbnailData) == 0) {
            return PropertyTagThumbnailData;
        }
        const Wanted* largest = nullptr;
        for (const Wanted& w : Items) {
            if (Skipped.count(w.Id) != 0) {
                continue;
            }
            const std::size_t size = w.Id == PropertyTagEquipModel ? 0 : w.Value.size();
            if (largest == nullptr ||
                size > (largest->Id == PropertyTagEquipModel ? 0 : largest->Value.size())) {
                largest = &w;
            }
        }
        return largest == nullptr ? NoPropertyId : largest->Id;
    }

    const Wanted* Find(std::uint32_t id) const {
        if (Skipped.count(id) != 0) {
            return nullptr;
        }
        for (const Wanted& w : Items) {
            if (w.Id == id) {
                return &w;
            }
        }
        return nullptr;
    }

    bool Same(const ExifEntry& e, const Wanted& w) const {
        return e.Type == w.Type && e.Count == w.Count && e.Size == w.Value.size() &&
               std::equal(w.Value.begin(), w.Value.end(),
                          Original.begin() + static_cast<std::ptrdiff_t>(e.Value));
    }

    static Planned Fresh(const Wanted& w) {
        Planned p;
        p.Tag = w.Tag;
        p.Type = w.Type;
        p.Count = w.Count;
        p.From = Source::New;
        p.Value = &w.Value;
        return p;
    }

    // One layout. `keep` starts from the opened block; otherwise only its maker note stays, at
    // its old offset, and everything else is placed anew.
    std::vector<std::uint8_t> Build(bool keep) const;
    void PlanKept(Table* tables, std::set<std::uint32_t>& placed, std::vector<Range>& freed,
                  std::vector<Range>& kept) const;
    void PinMakerNote(Table* tables, std::set<std::uint32_t>& placed, std::vector<Range>& freed,
                      std::vector<Range>& kept, std::vector<std::uint8_t>& out) const;
    void Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) const;
    void Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) const;
    void WriteTable(std::vector<std::uint8_t>& out, const Table& table, const Table* tables,
                    std::size_t next) const;

    const std::vector<std::uint8_t>& Original;
    ExifStructure Structure;
    std::size_t Limit;
    bool HaveOriginal = false;
    bool Big = false;
    std::vector<Wanted> Items;
    std::vector<Wanted> ThumbnailTags;
    std::vector<std::uint8_t> Thumbnail;
    std::set<std::uint32_t> Skipped;
    std::vector<std::uint32_t> LeftOut;
};

void Layout::PlanKept(Table* tables, std::set<std::uint32_t>& placed, std::vector<Range>& freed,
                      std::vector<Range>& kept) const {
    for (const ExifDirectory& d : Structure.Directories()) {
        if (d.Ifd == ExifIfd::Thumbnail) {
            freed.push_back({d.At, d.At + d.TableSize()});
            for (const ExifEntry& e : d.Entries) {
                if (e.Readable && e.Size > 4) {
                    freed.push_back({e.Value, e.Value + e.Size});
                }
            }
            continue;
        }
        Table& table = tables[IndexOf(d.Ifd)];
        for (const ExifEntry& e : d.Entries) {
            const std::uint32_t id = e.Readable ? ExifPropertyId(d.Ifd, e.Tag) : NoPropertyId;
            // Pointers are written anew; unreadable entries and second copies of a tag in one
            // IFD go, their bytes left alone.
            if (id == NoPropertyId || !placed.insert(id).second) {
                continue;
            }
            const Wanted* w = Find(id);
            if (w != nullptr && Same(e, *w)) {
                Planned p;
                p.Tag = e.Tag;
                p.Type = e.Type;
                p.Count = e.Count;
                p.From = Source::Kept;
                p.OriginalAt = e.At;
                table.Entries.push_back(p);
                if (e.Size > 4) {
                    kept.push_back({e.Value, e.Value + e.Size});
                }
                continue;
            }
            if (e.Size > 4) {
                freed.push_back({e.Value, e.Value + e.Size});
            }
            if (w != nullptr) {
                table.Entries.push_back(Fresh(*w));
            }
        }
    }
    std::size_t at = 0;
    std::size_t size = 0;
    if (Structure.Thumbnail(at, size)) {
        freed.push_back({at, at + size});
    }
}

void Layout::PinMakerNote(Table* tables, std::set<std::uint32_t>& placed, std::vector<Range>& freed,
                          std::vector<Range>& kept, std::vector<std::uint8_t>& out) const {
    const ExifDirectory* exif = HaveOriginal ? Structure.Find(ExifIfd::Exif) : nullptr;
    if (exif == nullptr) {
        return;
    }
    for (const ExifEntry& e : exif->Entries) {
        if (e.Tag != MakerNoteTag || !e.Readable || e.Size <= 4) {
            continue;
        }
        const std::uint32_t id = ExifPropertyId(ExifIfd::Exif, MakerNoteTag);
        const Wanted* w = Find(id);
        if (w == nullptr || !Same(e, *w) || e.Value < 8 || e.Value + e.Size > Limit) {
            return;
        }
        out.resize(e.Value + e.Size, 0);
        std::copy(Original.begin() + static_cast<std::ptrdiff_t>(e.Value),
                  Original.begin() + static_cast<std::ptrdiff_t>(e.Value + e.Size),
                  out.begin() + static_cast<std::ptrdiff_t>(e.Value));
        freed.push_back({8, e.Value});
        kept.push_back({e.Value, e.Value + e.Size});
        Planned p;
        p.Tag = e.Tag;
        p.Type = e.Type;
        p.Count = e.Count;
        p.From = Source::Pinned;
        p.ValueAt = e.Value;
        tables[IndexOf(ExifIfd::Exif)].Entries.push_back(p);
        placed.insert(id);
        return;
    }
}

std::vector<std::uint8_t> Layout::Build(bool keep) const {
    std::vector<std::uint8_t> out;
    std::vector<Range> freed;
    std::vector<Range> kept{{0, 8}};
    Table tables[4];
    for (ExifIfd ifd : TableOrder) {
        tables[IndexOf(ifd)].Ifd = ifd;
    }
    std::set<std::uint32_t> placed;
    if (keep) {
        out = Original;
        PlanKept(tables, placed, freed, kept);
    } else {
        out.assign(8, 0);
        PinMakerNote(tables, placed, freed, kept, out);
    }
    for (const Wanted& w : Items) {
        if (Skipped.count(w.Id) == 0 && placed.insert(w.Id).second) {
            tables[IndexOf(w.Ifd)].Entries.push_back(Fresh(w));
        }
    }
    const bool thumbnail = !Thumbnail.empty() && Skipped.count(PropertyTagThumbnailData) == 0;
    Table& main = tables[IndexOf(ExifIfd::Main)];
    Table& exif = tables[IndexOf(ExifIfd::Exif)];
    const bool gps = !tables[IndexOf(ExifIfd::Gps)].Entries.empty();
    const bool interop = !tables[IndexOf(ExifIfd::Interop)].Entries.empty();
    auto pointer = [](std::uint16_t tag, ExifIfd child) {
        Planned p;
        p.Tag = tag;
        p.Type = PropertyTagTypeLong;
        p.Count = 1;
        p.From = Source::Pointer;
        p.Child = child;
        return p;
    };
    if (interop) {
        exif.Entries.push_back(pointer(0xA005, ExifIfd::Interop));
    }
    if (!exif.Entries.empty()) {
        main.Entries.push_back(pointer(0x8769, ExifIfd::Exif));
    }
    if (gps) {
        main.Entries.push_back(pointer(0x8825, ExifIfd::Gps));
    }
    if (main.Entries.empty() && !thumbnail) {
        return {};
    }

    // Tables that still fit their old place stay there; the rest of an old table is free.
    std::vector<Table*> needed;
    for (Table& table : tables) {
        std::stable_sort(table.Entries.begin(), table.Entries.end(),
                         [](const Planned& a, const Planned& b) { return a.Tag < b.Tag; });
        const bool wanted = table.Ifd == ExifIfd::Main || !table.Entries.empty();
        const ExifDirectory* was = keep ? Structure.Find(table.Ifd) : nullptr;
        if (wanted) {
            needed.push_back(&table);
        }
        if (was == nullptr) {
            continue;
        }
        if (wanted && table.Size() <= was->TableSize()) {
            table.At = was->At;
            table.Placed = true;
            kept.push_back({table.At, table.At + table.Size()});
            freed.push_back({table.At + table.Size(), was->At + was->TableSize()});
        } else {
            freed.push_back({was->At, was->At + was->TableSize()});
        }
    }

    FreeRoom room;
    for (const Range& r : freed) {
        room.Add(std::min(r.Begin, out.size()), std::min(r.End, out.size()));
    }
    for (const Range& r : kept) {
        room.Remove(r.Begin, r.End);
    }
    for (const Range& r : room.Ranges()) {
        std::fill(out.begin() + static_cast<std::ptrdiff_t>(r.Begin),
                  out.begin() + static_cast<std::ptrdiff_t>(r.End), 0);
    }
    out.resize(room.TrimEnd(out.size()));
    auto allocate = [&](std::size_t size) {
        std::size_t at = room.Take(size);
        if (at == None) {
            at = out.size() + (out.size() & 1);
            out.resize(at + size, 0);
        }
        return at;
    };
    for (Table* table : needed) {
        if (!table->Placed) {
            table->At = allocate(table->Size());
        }
    }
    for (Table* table : needed) {
        for (Planned& p : table->Entries) {
            if (p.From == Source::New && p.Value->size() > 4) {
                p.ValueAt = allocate(p.Value->size());
            }
        }
    }
    std::size_t next = 0;
    if (thumbnail) {
        Table ifd1;
        ifd1.Ifd = ExifIfd::Thumbnail;
        for (const Wanted& w : ThumbnailTags) {
            ifd1.Entries.push_back(Fresh(w));
        }
        const std::size_t dataAt = allocate(Thumbnail.size());
        std::copy(Thumbnail.begin(), Thumbnail.end(),
                  out.begin() + static_cast<std::ptrdiff_t>(dataAt));
        Planned offset;
        offset.Tag = 0x0201;
        offset.Type = PropertyTagTypeLong;
        offset.Count = 1;
        offset.From = Source::Pinned;
        offset.ValueAt = dataAt;
        Planned length = offset;
        length.Tag = 0x0202;
        length.ValueAt = Thumbnail.size();
        ifd1.Entries.push_back(offset);
        ifd1.Entries.push_back(length);
        std::stable_sort(ifd1.Entries.begin(), ifd1.Entries.end(),
                         [](const Planned& a, const Planned& b) { return a.Tag < b.Tag; });
        ifd1.At = allocate(ifd1.Size());
        for (Planned& p : ifd1.Entries) {
            if (p.From == Source::New && p.Value->size() > 4) {
                p.ValueAt = allocate(p.Value->size());
            }
        }
        WriteTable(out, ifd1, tables, 0);
        next = ifd1.At;
    }
    for (Table* table : needed) {
        WriteTable(out, *table, tables, table->Ifd == ExifIfd::Main ? next : 0);
    }
    out[0] = out[1] = Big ? 'M' : 'I';
    Put16(out, 2, 42);
    Put32(out, 4, static_cast<std::uint32_t>(main.At));
    return out;
}

void Layout::WriteTable(std::vector<std::uint8_t>& out, const Table& table, const Table* tables,
                        std::size_t next) const {
    Put16(out, table.At, static_cast<std::uint16_t>(table.Entries.size()));
    std::size_t at = table.At + 2;
    for (const Planned& p : table.Entries) {
        Put16(out, at, p.Tag);
        Put16(out, at + 2, p.Type);
        Put32(out, at + 4, p.Count);
        switch (p.From) {
            case Source::Kept:
                std::memcpy(&out[at + 8], &Original[p.OriginalAt + 8], 4);
                break;
            case Source::Pinned:
                Put32(out, at + 8, static_cast<std::uint32_t>(p.ValueAt));
                break;
            case Source::Pointer:
                Put32(out, at + 8, static_cast<std::uint32_t>(tables[IndexOf(p.Child)].At));
                break;
            case Source::New:
                if (p.Value->size() <= 4) {
                    Put32(out, at + 8, 0);
                    std::copy(p.Value->begin(), p.Value->end(),
                              out.begin() + static_cast<std::ptrdiff_t>(at + 8));
                } else {
                    Put32(out, at + 8, static_cast<std::uint32_t>(p.ValueAt));
                    std::copy(p.Value->begin(), p.Value->end(),
                              out.begin() + static_cast<std::ptrdiff_t>(p.ValueAt));
                }
                break;
        }
        at += 12;
    }
    Put32(out, at, static_cast<std::uint32_t>(next));
}

void Layout::Put16(std::vector<std::uint8_t>& out, std::size_t at, std::uint16_t v) const {
    out[at + (Big ? 0 : 1)] = static_cast<std::uint8_t>(v >> 8);
    out[at + (Big ? 1 : 0)] = static_cast<std::uint8_t>(v);
}

void Layout::Put32(std::vector<std::uint8_t>& out, std::size_t at, std::uint32_t v) const {
    for (int i = 0; i < 4; ++i) {
        out[at + (Big ? i : 3 - i)] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
}

}  // namespace

ExifLayout LayOutExif(const std::vector<PropertyItem>& items,
                      const std::vector<std::uint8_t>& original, std::size_t limit) {
    return Layout(items, original, limit).Run();
}

}  // namespace velora
