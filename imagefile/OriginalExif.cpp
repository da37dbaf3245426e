#include "OriginalExif.h"

namespace velora {

namespace {

constexpr std::uint16_t MakerNoteTag = 0x927C;

bool IsStandardGroup(const std::string& group) {
    return group == "Image" || group == "Photo" || group == "GPSInfo" || group == "Iop";
}

// exiv2 keeps where the note sat and its byte order in the group "MakerNote"; the note's own
// tags live in groups named after the maker (Canon, CanonCs, Nikon3, Sony1, ...).
bool IsMakerNoteDatum(const Exiv2::Exifdatum& datum) {
    const std::string group = datum.groupName();
    return group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group);
}

std::vector<std::uint8_t> Bytes(const Exiv2::Exifdatum& datum) {
    std::vector<std::uint8_t> bytes(datum.size());
    if (!bytes.empty()) {
        datum.copy(bytes.data(), Exiv2::littleEndian);
    }
    return bytes;
}

// Some makers end their note with a small TIFF header that records where the note sat when it
// was written ("II*\0" or "MM\0*", then that offset). When the file was edited by a program
// that moved the note without mending its offsets, the record disagrees with the note's place,
// and exiv2 reads its values from the wrong bytes: such a note is kept as it came.
bool Displaced(const std::vector<std::uint8_t>& note, long offset) {
    if (note.size() < 8 || offset < 0) {
        return false;
    }
    const std::uint8_t* t = note.data() + note.size() - 8;
    std::uint32_t recorded = 0;
    if (t[0] == 'I' && t[1] == 'I' && t[2] == 0x2A && t[3] == 0) {
        recorded = t[4] | (t[5] << 8) | (t[6] << 16) | (static_cast<std::uint32_t>(t[7]) << 24);
    } else if (t[0] == 'M' && t[1] == 'M' && t[2] == 0 && t[3] == 0x2A) {
        recorded = (static_cast<std::uint32_t>(t[4]) << 24) | (t[5] << 16) | (t[6] << 8) | t[7];
    } else {
        return false;
    }
    return recorded != static_cast<std::uint32_t>(offset);
}

// Offsets inside a note that exiv2 takes for plain numbers: laid out anew, they would point at
// whatever lands there, and exiv2 does not carry what they point at either.
bool IsUnmovableOffset(const Exiv2::Exifdatum& datum) {
    return datum.groupName() == "Nikon3" && datum.tag() == 0x0E10;  // Nikon scan IFD
}

// Tags whose values exiv2 works out anew when it lays the note out: positions of data inside
// the block, and the byte counts that open the binary arrays of some makers.
bool IsLayoutTag(const Exiv2::Exifdatum& datum) {
    const std::string name = datum.tagName();
    auto endsWith = [&](const char* tail) {
        const std::size_t n = std::char_traits<char>::length(tail);
        return name.size() >= n && name.compare(name.size() - n, n, tail) == 0;
    };
    return datum.tag() == 0 || endsWith("Offset") || endsWith("Offsets") ||
           name == "JPEGInterchangeFormat" || datum.typeId() == Exiv2::tiffIfd ||
           (datum.groupName() == "Nikon3" && name == "Preview");
}

// The maker note's own tags, by key, with type and value; not where the note sat.
using MakerTags = std::multimap<std::string, std::pair<int, std::vector<std::uint8_t>>>;

MakerTags MakerTagsOf(const Exiv2::ExifData& exif) {
    MakerTags tags;
    for (const Exiv2::Exifdatum& datum : exif) {
        if (IsMakerNoteDatum(datum) && datum.groupName() != "MakerNote" && !IsLayoutTag(datum) &&
            !IsUnmovableOffset(datum)) {
            tags.emplace(datum.key(),
                         std::make_pair(static_cast<int>(datum.typeId()), Bytes(datum)));
        }
    }
    return tags;
}

}  // namespace

OriginalExif::OriginalExif(const std::vector<std::uint8_t>& tiff) {
    if (tiff.size() < 8) {
        return;
    }
    try {
        if (Exiv2::ExifParser::decode(Data, tiff.data(), static_cast<std::uint32_t>(tiff.size())) ==
            Exiv2::invalidByteOrder) {
            Data.clear();
            return;
        }
        for (const Exiv2::Exifdatum& datum : Data) {
            const std::string group = datum.groupName();
            if (IsStandardGroup(group)) {
                auto placed = Groups.emplace(datum.tag(), group);
                if (!placed.second && placed.first->second != group) {
                    placed.first->second.clear();
                }
                if (group == "Photo" && datum.tag() == MakerNoteTag) {
                    MakerNote = Bytes(datum);
                }
            } else if (IsMakerNoteDatum(datum) && datum.groupName() != "MakerNote") {
                MakerNoteParsed = true;
            }
        }
        auto offset = Data.findKey(Exiv2::ExifKey("Exif.MakerNote.Offset"));
        if (offset != Data.end() && Displaced(MakerNote, offset->toLong())) {
            MakerNoteParsed = false;
        }
    } catch (...) {
        // A block exiv2 cannot read gives nothing beyond the items.
        Data.clear();
        Groups.clear();
        MakerNote.clear();
        MakerNoteParsed = false;
    }
}

std::string OriginalExif::GroupOf(std::uint16_t tag) const {
    auto found = Groups.find(tag);
    return found == Groups.end() ? std::string() : found->second;
}

bool OriginalExif::HoldsParsedMakerNote(const std::vector<std::uint8_t>& makerNote) const {
    return MakerNoteParsed && !MakerNote.empty() && makerNote == MakerNote;
}

void OriginalExif::AddMakerNote(Exiv2::ExifData& exif) const {
    auto raw = exif.findKey(Exiv2::ExifKey(MakerNoteTag, "Photo"));
    if (raw != exif.end()) {
        exif.erase(raw);
    }
    for (const Exiv2::Exifdatum& datum : Data) {
        if (IsMakerNoteDatum(datum) && !IsUnmovableOffset(datum)) {
            exif.add(datum);
        }
    }
}

bool OriginalExif::MakerNoteSurvives(const Exiv2::Blob& blob) const {
    try {
        Exiv2::ExifData written;
        if (blob.empty() || Exiv2::ExifParser::decode(written, blob.data(),
                                                      static_cast<std::uint32_t>(blob.size())) ==
                                Exiv2::invalidByteOrder) {
            return false;
        }
        return MakerTagsOf(written) == MakerTagsOf(Data);
    } catch (...) {
        return false;
    }
}

}  // namespace velora
