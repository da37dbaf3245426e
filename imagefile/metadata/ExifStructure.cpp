#include "ExifStructure.h"

namespace velora {

ExifStructure::ExifStructure(const std::vector<std::uint8_t>& block) : Block(block) {
    if (Block.size() < 8) {
        return;
    }
    if (Block[0] == 'I' && Block[1] == 'I') {
        Big = false;
    } else if (Block[0] == 'M' && Block[1] == 'M') {
        Big = true;
    } else {
        return;
    }
    if (U16(2) != 42) {
        return;
    }
    IsValid = true;
    Read(ExifIfd::Main, U32(4));
    const ExifDirectory* main = Find(ExifIfd::Main);
    if (main == nullptr) {
        return;
    }
    // Copies, not references: reading appends to Found.
    const ExifDirectory first = *main;
    std::size_t at = 0;
    if (PointerOf(first, 0x8769, at)) {
        Read(ExifIfd::Exif, at);
    }
    if (PointerOf(first, 0x8825, at)) {
        Read(ExifIfd::Gps, at);
    }
    const ExifDirectory* exif = Find(ExifIfd::Exif);
    if ((exif != nullptr && PointerOf(*exif, 0xA005, at)) || PointerOf(first, 0xA005, at)) {
        Read(ExifIfd::Interop, at);
    }
    const std::size_t next = first.At + 2 + 12 * first.Entries.size();
    if (next + 4 <= Block.size() && U32(next) != 0) {
        Read(ExifIfd::Thumbnail, U32(next));
    }
}

const ExifDirectory* ExifStructure::Find(ExifIfd ifd) const {
    for (const ExifDirectory& directory : Found) {
        if (directory.Ifd == ifd) {
            return &directory;
        }
    }
    return nullptr;
}

bool ExifStructure::Thumbnail(std::size_t& at, std::size_t& size) const {
    const ExifDirectory* thumbnail = Find(ExifIfd::Thumbnail);
    if (thumbnail == nullptr || !PointerOf(*thumbnail, 0x0201, at)) {
        return false;
    }
    for (const ExifEntry& entry : thumbnail->Entries) {
        if (entry.Tag == 0x0202 && entry.Readable && entry.Count >= 1 &&
            (entry.Type == 3 || entry.Type == 4)) {
            size = entry.Type == 3 ? U16(entry.Value) : U32(entry.Value);
            return size > 0 && at <= Block.size() && size <= Block.size() - at;
        }
    }
    return false;
}

std::uint16_t ExifStructure::U16(std::size_t at) const {
    const std::uint8_t* p = Block.data() + at;
    return static_cast<std::uint16_t>(Big ? (p[0] << 8) | p[1] : (p[1] << 8) | p[0]);
}

std::uint32_t ExifStructure::U32(std::size_t at) const {
    const std::uint8_t* p = Block.data() + at;
    if (Big) {
        return (static_cast<std::uint32_t>(p[0]) << 24) | (p[1] << 16) | (p[2] << 8) | p[3];
    }
    return (static_cast<std::uint32_t>(p[3]) << 24) | (p[2] << 16) | (p[1] << 8) | p[0];
}

std::size_t ExifStructure::TypeSize(std::uint16_t type) {
    switch (type) {
        case 1:  // BYTE
        case 2:  // ASCII
        case 6:  // SBYTE
        case 7:  // UNDEFINED
            return 1;
        case 3:  // SHORT
        case 8:  // SSHORT
            return 2;
        case 4:   // LONG
        case 9:   // SLONG
        case 11:  // FLOAT
        case 13:  // IFD
            return 4;
        case 5:   // RATIONAL
        case 10:  // SRATIONAL
        case 12:  // DOUBLE
            return 8;
        default:
            return 0;
    }
}

void ExifStructure::Read(ExifIfd ifd, std::size_t at) {
    if (Find(ifd) != nullptr || at < 8 || at + 2 > Block.size()) {
        return;
    }
    for (const ExifDirectory& seen : Found) {
        if (seen.At == at) {
            return;  // a loop, or two pointers at one table
        }
    }
    ExifDirectory directory;
    directory.Ifd = ifd;
    directory.At = at;
    const std::size_t count = U16(at);
    // A table that runs past the block keeps the entries that are whole.
    const std::size_t room = (Block.size() - at - 2) / 12;
    for (std::size_t i = 0; i < count && i < room; ++i) {
        ExifEntry entry;
        entry.At = at + 2 + 12 * i;
        entry.Tag = U16(entry.At);
        entry.Type = U16(entry.At + 2);
        entry.Count = U32(entry.At + 4);
        const std::uint64_t size = static_cast<std::uint64_t>(TypeSize(entry.Type)) *
                                   static_cast<std::uint64_t>(entry.Count);
        entry.Value = entry.At + 8;
        if (size > 4) {
            entry.Value = U32(entry.At + 8);
        }
        if (TypeSize(entry.Type) != 0 && entry.Value <= Block.size() &&
            size <= Block.size() - entry.Value) {
            entry.Size = static_cast<std::size_t>(size);
            entry.Readable = true;
        }
        directory.Entries.push_back(entry);
    }
    Found.push_back(std::move(directory));
}

bool ExifStructure::PointerOf(const ExifDirectory& directory, std::uint16_t tag,
                              std::size_t& at) const {
    for (const ExifEntry& entry : directory.Entries) {
        if (entry.Tag == tag && entry.Readable && entry.Count >= 1 &&
            (entry.Type == 4 || entry.Type == 13)) {
            at = U32(entry.Value);
            return true;
        }
    }
    return false;
}

}  // namespace velora
