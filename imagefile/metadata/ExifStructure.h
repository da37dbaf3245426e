// The directories of an EXIF block (a TIFF structure without the "Exif\0\0" prefix) as they sit
// in its bytes: every entry with the place of its value. Reading and writing both go through
// this one view, so that an item always finds the entry it came from. Damage leaves out what it
// touches: an entry whose value lies outside the block is unreadable, a directory met a second
// time is not read again.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "ExifTags.h"

namespace velora {

struct ExifEntry {
    std::uint16_t Tag = 0;
    std::uint16_t Type = 0;
    std::uint32_t Count = 0;
    std::size_t At = 0;     // the entry's twelve bytes
    std::size_t Value = 0;  // its value: At + 8 when the value fits the entry
    std::size_t Size = 0;   // bytes of the value
    bool Readable = false;  // a known type, the whole value inside the block
};

struct ExifDirectory {
    ExifIfd Ifd = ExifIfd::Main;
    std::size_t At = 0;  // the count that opens the table
    std::vector<ExifEntry> Entries;
    std::size_t TableSize() const { return 2 + 12 * Entries.size() + 4; }
};

class ExifStructure {
  public:
    explicit ExifStructure(const std::vector<std::uint8_t>& block);

    // True when the block starts with a TIFF header.
    bool Valid() const { return IsValid; }
    bool BigEndian() const { return Big; }
    const std::vector<ExifDirectory>& Directories() const { return Found; }
    const ExifDirectory* Find(ExifIfd ifd) const;
    // The thumbnail's JPEG bytes, when IFD1 points at them and they lie inside the block.
    bool Thumbnail(std::size_t& at, std::size_t& size) const;

    std::uint16_t U16(std::size_t at) const;
    std::uint32_t U32(std::size_t at) const;

    // Bytes of one value of the type; 0 for a type that TIFF does not define.
    static std::size_t TypeSize(std::uint16_t type);

  private:
    void Read(ExifIfd ifd, std::size_t at);
    bool PointerOf(const ExifDirectory& directory, std::uint16_t tag, std::size_t& at) const;

    const std::vector<std::uint8_t>& Block;
    bool IsValid = false;
    bool Big = false;
    std::vector<ExifDirectory> Found;
};

}  // namespace velora
