// Metadata after a JPEG picture's end. Each kind closes with a footer that says where it begins,
// so a chain of them is walked back from the file's end until a picture's end marker.
#include <algorithm>
#include <cstring>

#include "Codecs.h"

namespace velora {

namespace {

enum class Kind { Afcp, FotoStation, PhotoMechanic, Samsung };

struct Piece {
    Kind Type;
    std::uint64_t Begin;
    std::uint64_t End;
};

// Far above any real trailer; a footer that claims more is not believed.
constexpr std::uint64_t MaxTrailerBytes = 64ull * 1024 * 1024;
constexpr std::size_t MaxPieces = 256;

std::uint32_t Read32(const std::uint8_t* p, bool big) {
    return big ? (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) |
                     (std::uint32_t{p[2]} << 8) | p[3]
               : (std::uint32_t{p[3]} << 24) | (std::uint32_t{p[2]} << 16) |
                     (std::uint32_t{p[1]} << 8) | p[0];
}

void Write32(std::uint8_t* p, std::uint32_t v, bool big) {
    for (int i = 0; i < 4; ++i) {
        p[big ? i : 3 - i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
    }
}

// The piece that ends at `end` (and starts after `floor`), when its footer is one of the known.
bool PieceBefore(const ReadAt& read, std::uint64_t floor, std::uint64_t end, Piece& piece) {
    std::uint8_t footer[12];
    if (end < floor + 12 || !read(end - 12, 12, footer)) {
        return false;
    }
    piece.End = end;
    if (std::memcmp(footer, "AXS", 3) == 0 && (footer[3] == '!' || footer[3] == '*')) {
        // Header and footer: the name, then (footer) the header's place in the file.
        const bool big = footer[3] == '!';
        const std::uint64_t begin = Read32(footer + 4, big);
        std::uint8_t header[12];
        if (begin < floor || begin + 24 > end || !read(begin, 12, header) ||
            std::memcmp(header, footer, 4) != 0) {
            return false;
        }
        const std::size_t entries =
            big ? (header[6] << 8 | header[7]) : (header[7] << 8 | header[6]);
        if (12 + 12 * entries > end - 12 - begin) {
            return false;
        }
        std::vector<std::uint8_t> directory(12 * entries);
        if (entries != 0 && !read(begin + 12, directory.size(), directory.data())) {
            return false;
        }
        for (std::size_t i = 0; i < entries; ++i) {
            const std::uint64_t size = Read32(&directory[12 * i + 4], big);
            const std::uint64_t at = Read32(&directory[12 * i + 8], big);
            if (at < begin || at + size > end) {
                return false;
            }
        }
        piece = {Kind::Afcp, begin, end};
        return true;
    }
    if (Read32(footer + 8, true) == 0xA1B2C3D4) {
        // A record: its data, then its tag, its whole length and the signature.
        const std::uint64_t length = Read32(footer + 4, true);
        if (length < 10 || length > end - floor) {
            return false;
        }
        piece = {Kind::FotoStation, end - length, end};
        return true;
    }
    if (std::memcmp(footer + 4, "cbipcbbl", 8) == 0) {
        const std::uint64_t length = Read32(footer, true);
        if (length > end - floor - 12) {
            return false;
        }
        piece = {Kind::PhotoMechanic, end - 12 - length, end};
        return true;
    }
    if (std::memcmp(footer + 8, "SEFT", 4) == 0) {
        // The directory's length and "SEFT" close it. The directory: "SEFH", a version, the
        // number of entries, then twelve bytes for each (two reserved, a type, the distance from
        // the directory back to the entry's data, its length).
        const std::uint64_t length = Read32(footer + 4, false);
        if (length < 12 || length > end - 8 - floor) {
            return false;
        }
        const std::uint64_t directory = end - 8 - length;
        std::vector<std::uint8_t> table(length);
        if (!read(directory, table.size(), table.data()) ||
            std::memcmp(table.data(), "SEFH", 4) != 0) {
            return false;
        }
        const std::size_t count = Read32(&table[8], false);
        if (count > (length - 12) / 12) {
            return false;
        }
        std::uint64_t begin = directory;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t back = Read32(&table[12 + 12 * i + 4], false);
            const std::uint64_t size = Read32(&table[12 + 12 * i + 8], false);
            if (back > directory - floor || size > back) {
                return false;
            }
            begin = std::min(begin, directory - back);
        }
        piece = {Kind::Samsung, begin, end};
        return true;
    }
    return false;
}

// The trailers between the picture's end and `size`, first to last; empty when there are none
// or the last one reached does not follow a picture's end (or, for a trailer alone, its start).
std::vector<Piece> Walk(const ReadAt& read, std::uint64_t size, bool alone) {
    std::vector<Piece> pieces;
    const std::uint64_t floor = alone ? 0 : 2;
    for (std::uint64_t end = size; pieces.size() < MaxPieces;) {
        Piece piece{};
        if (!PieceBefore(read, floor, end, piece) || piece.Begin >= end) {
            return {};
        }
        pieces.insert(pieces.begin(), piece);
        end = piece.Begin;
        std::uint8_t marker[2] = {0, 0};
        if (alone ? end == 0
                  : (end >= 4 && read(end - 2, 2, marker) && marker[0] == 0xFF &&
                     marker[1] == 0xD9)) {
            return size - end <= MaxTrailerBytes ? pieces : std::vector<Piece>{};
        }
    }
    return {};
}

ReadAt FromMemory(const std::uint8_t* data, std::size_t size) {
    return [data, size](std::uint64_t at, std::size_t length, std::uint8_t* out) {
        if (data == nullptr || at > size || length > size - at) {
            return false;
        }
        std::memcpy(out, data + at, length);
        return true;
    };
}

// AFCP's offsets count from the file's start: moved by `shift` (modulo 2^32, as they are kept).
void MoveAfcp(std::vector<std::uint8_t>& trailer, const Piece& piece, std::uint32_t shift) {
    std::uint8_t* header = trailer.data() + piece.Begin;
    const bool big = header[3] == '!';
    const std::size_t entries = big ? (header[6] << 8 | header[7]) : (header[7] << 8 | header[6]);
    for (std::size_t i = 0; i < entries; ++i) {
        std::uint8_t* at = header + 12 + 12 * i + 8;
        Write32(at, Read32(at, big) + shift, big);
    }
    std::uint8_t* footer = trailer.data() + piece.End - 8;
    Write32(footer, Read32(footer, big) + shift, big);
}

std::vector<std::uint8_t> Moved(std::vector<std::uint8_t> trailer, std::uint64_t from,
                                std::uint64_t to, const std::vector<Piece>& pieces) {
    for (const Piece& piece : pieces) {
        if (piece.Type == Kind::Afcp) {
            MoveAfcp(trailer, piece, static_cast<std::uint32_t>(to - from));
        }
    }
    return trailer;
}

}  // namespace

std::vector<std::uint8_t> FindMetadataTrailer(const ReadAt& read, std::uint64_t size) {
    const std::vector<Piece> pieces = Walk(read, size, false);
    if (pieces.empty()) {
        return {};
    }
    const std::uint64_t begin = pieces.front().Begin;
    std::vector<std::uint8_t> trailer(static_cast<std::size_t>(size - begin));
    if (!read(begin, trailer.size(), trailer.data())) {
        return {};
    }
    std::vector<Piece> inside = pieces;
    for (Piece& piece : inside) {
        piece.Begin -= begin;
        piece.End -= begin;
    }
    return Moved(std::move(trailer), begin, 0, inside);
}

std::vector<std::uint8_t> FindMetadataTrailer(const std::uint8_t* data, std::size_t size) {
    return FindMetadataTrailer(FromMemory(data, size), size);
}

std::vector<std::uint8_t> PlacedTrailer(const std::vector<std::uint8_t>& trailer,
                                        std::uint64_t at) {
    return Moved(trailer, 0, at,
                 Walk(FromMemory(trailer.data(), trailer.size()), trailer.size(), true));
}

std::vector<std::string> TrailerKinds(const std::vector<std::uint8_t>& trailer) {
    static const char* const names[] = {"AFCP trailer", "FotoStation trailer",
                                        "PhotoMechanic trailer", "Samsung trailer"};
    std::vector<std::string> kinds;
    for (const Piece& piece :
         Walk(FromMemory(trailer.data(), trailer.size()), trailer.size(), true)) {
        const std::string name = names[static_cast<int>(piece.Type)];
        if (std::find(kinds.begin(), kinds.end(), name) == kinds.end()) {
            kinds.push_back(name);
        }
    }
    if (kinds.empty() && !trailer.empty()) {
        kinds.push_back("trailer");
    }
    return kinds;
}

}  // namespace velora
