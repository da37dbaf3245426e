#include "ExifWriter.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "ExifPlan.h"
#include "ExifStructure.h"
#include "ImageProperties.h"

namespace velora {

namespace {

using namespace exiflayout;

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
        // A table stays where it was when it fits there without covering a value that stays:
        // a file may keep a value (a maker note) where the table's next-IFD offset belongs.
        const bool covers = std::any_of(kept.begin(), kept.end(), [&](const Range& r) {
            return r.Begin < was->At + table.Size() && was->At < r.End;
        });
        if (wanted && table.Size() <= was->TableSize() && !covers) {
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
