// The pieces an EXIF layout is planned with: the room in the block that may be written over,
// the tags the items want written and the entries each table will hold.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ExifStructure.h"
#include "WorkingBitmap.h"

namespace velora {
namespace exiflayout {

constexpr std::size_t None = static_cast<std::size_t>(-1);
constexpr std::uint16_t MakerNoteTag = 0x927C;

struct Range {
    std::size_t Begin;
    std::size_t End;
};

// Room in the block that may be written over, sorted and apart.
class FreeRoom {
  public:
    void Add(std::size_t begin, std::size_t end);
    void Remove(std::size_t begin, std::size_t end);
    // Takes room for `size` bytes at an even offset (TIFF keeps values on word boundaries).
    std::size_t Take(std::size_t size);
    // Gives up the room that reaches the block's end; the block may then end earlier.
    std::size_t TrimEnd(std::size_t end);
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

inline std::size_t IndexOf(ExifIfd ifd) {
    return static_cast<std::size_t>(ifd) - 1;
}

std::size_t ElementSize(std::uint16_t type);
// The item's value in the block's byte order.
std::vector<std::uint8_t> InOrder(const PropertyItem& item, bool big);
// A new block without an opened one to follow: the byte order of the maker note, whose inner
// structure depends on it, else of the first number, else Intel's.
bool OrderWithoutOriginal(const std::vector<PropertyItem>& items);

}  // namespace exiflayout
}  // namespace velora
