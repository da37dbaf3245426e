// Which files are camera raws. Most raws are TIFF structures whose first directory holds only a
// small preview; read as a TIFF they would open as that preview. They are told apart by their
// directories: a DNG version, or a colour-filter-array or linear-raw picture in any of the first
// directories or their sub-directories. Raws of other structures are known by LibRaw's own
// signatures.
#include <algorithm>
#include <cstring>
#include <memory>

#include "Codecs.h"
#include "LibRawLibrary.h"

namespace velora {

namespace {

constexpr std::uint16_t TagNewSubfileType = 0x00FE;
constexpr std::uint16_t TagImageWidth = 0x0100;
constexpr std::uint16_t TagImageLength = 0x0101;
constexpr std::uint16_t TagPhotometric = 0x0106;
constexpr std::uint16_t TagSubIfds = 0x014A;
constexpr std::uint16_t TagDngVersion = 0xC612;
constexpr std::uint32_t PhotometricCfa = 32803;
constexpr std::uint32_t PhotometricLinearRaw = 34892;

// Far more directories than any camera writes; a loop or a hostile chain ends here.
constexpr int MaxDirectories = 16;

class TiffWalker {
  public:
    TiffWalker(const std::uint8_t* data, std::size_t size) : Data(data), Size(size) {
        Big = size >= 2 && data[0] == 'M';
    }

    std::uint32_t U16(std::uint64_t at) const {
        if (at + 2 > Size) {
            return 0;
        }
        return Big ? (Data[at] << 8) | Data[at + 1] : Data[at] | (Data[at + 1] << 8);
    }
    std::uint32_t U32(std::uint64_t at) const {
        if (at + 4 > Size) {
            return 0;
        }
        const std::uint32_t a = U16(at), b = U16(at + 2);
        return Big ? (a << 16) | b : a | (b << 16);
    }

    struct Directory {
        bool Valid = false;
        bool Dng = false;
        bool Preview = false;  // NewSubfileType says reduced resolution
        bool RawPixels = false;
        std::uint32_t Width = 0, Height = 0;
        std::uint32_t SubIfds[8] = {};
        int SubIfdCount = 0;
        std::uint32_t Next = 0;
    };

    // One directory's entries; short values sit in the entry itself.
    Directory Read(std::uint32_t offset) const {
        Directory d;
        const std::uint32_t count = U16(offset);
        if (offset < 8 || count == 0 || offset + 2ull + 12ull * count + 4 > Size) {
            return d;
        }
        d.Valid = true;
        for (std::uint32_t i = 0; i < count; ++i) {
            const std::uint64_t entry = offset + 2ull + 12ull * i;
            const std::uint32_t tag = U16(entry), type = U16(entry + 2), n = U32(entry + 4);
            const std::uint32_t value = type == 3 ? U16(entry + 8) : U32(entry + 8);
            switch (tag) {
                case TagNewSubfileType:
                    d.Preview = (value & 1) != 0;
                    break;
                case TagImageWidth:
                    d.Width = value;
                    break;
                case TagImageLength:
                    d.Height = value;
                    break;
                case TagPhotometric:
                    d.RawPixels = value == PhotometricCfa || value == PhotometricLinearRaw;
                    break;
                case TagDngVersion:
                    d.Dng = true;
                    break;
                case TagSubIfds:
                    if (type == 4 || type == 13) {
                        d.SubIfdCount = static_cast<int>(std::min<std::uint32_t>(n, 8));
                        for (int k = 0; k < d.SubIfdCount; ++k) {
                            d.SubIfds[k] = n == 1 ? value : U32(U32(entry + 8) + 4ull * k);
                        }
                    }
                    break;
                default:
                    break;
            }
        }
        d.Next = U32(offset + 2ull + 12ull * count);
        return d;
    }

    // The first directory's picture size, and whether the structure holds raw sensor data.
    bool HoldsRaw(std::uint64_t& firstPixels) const {
        firstPixels = 0;
        std::uint32_t offset = U32(4);
        for (int i = 0; i < MaxDirectories && offset != 0; ++i) {
            const Directory d = Read(offset);
            if (!d.Valid) {
                return false;
            }
            if (i == 0) {
                firstPixels = static_cast<std::uint64_t>(d.Width) * d.Height;
            }
            if (d.Dng || d.RawPixels) {
                return true;
            }
            for (int k = 0; k < d.SubIfdCount; ++k) {
                if (Read(d.SubIfds[k]).RawPixels) {
                    return true;
                }
            }
            if (d.Next == offset) {
                break;
            }
            offset = d.Next;
        }
        return false;
    }

  private:
    const std::uint8_t* Data;
    std::size_t Size;
    bool Big = false;
};

constexpr unsigned Quiet = LIBRAW_OPIONS_NO_MEMERR_CALLBACK | LIBRAW_OPIONS_NO_DATAERR_CALLBACK;

// LibRaw's view of the file: the size of the sensor picture it would decode, 0 when it does not
// know the file. Identification reads headers only.
std::uint64_t LibRawSensorPixels(const std::uint8_t* data, std::size_t size) {
    // Without the library no file is known by it; the other signs still tell raws apart.
    LibRawHandle raw = OpenLibRaw(Quiet);
    if (!raw || LibRawLibrary().libraw_open_buffer(raw.get(), const_cast<std::uint8_t*>(data),
                                                   size) != LIBRAW_SUCCESS) {
        return 0;
    }
    return static_cast<std::uint64_t>(raw->sizes.raw_width) * raw->sizes.raw_height;
}

bool StartsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t length) {
    return size >= length && std::memcmp(data, magic, length) == 0;
}

}  // namespace

bool IsTiffCameraRaw(const std::uint8_t* data, std::size_t size) {
    // Canon's CR2 says so right after the TIFF header.
    if (size >= 10 && data[8] == 'C' && data[9] == 'R') {
        return true;
    }
    std::uint64_t firstPixels = 0;
    if (TiffWalker(data, size).HoldsRaw(firstPixels)) {
        return true;
    }
    // Raws laid out in the makers' own ways behind a TIFF header (Phase One, Leaf, Kodak, ...):
    // LibRaw finds a larger picture than the first directory's.
    return LibRawSensorPixels(data, size) > firstPixels;
}

bool IsCanonCr3(const std::uint8_t* data, std::size_t size) {
    return size >= 12 && std::memcmp(data + 4, "ftypcrx ", 8) == 0;
}

bool IsOtherCameraRaw(const std::uint8_t* data, std::size_t size) {
    // Signatures first, so that a file of another kind costs nothing more.
    static const char* const signatures[] = {"FUJIFILM", "IIRO",  "IIRS", "MMOR",
                                             "IIU\0",    "\0MRM", "FOVb", "II\x1a\0\0\0HEAPCCDR"};
    static const std::size_t lengths[] = {8, 4, 4, 4, 4, 4, 4, 14};
    bool known = false;
    for (std::size_t i = 0; i < sizeof lengths / sizeof lengths[0]; ++i) {
        known = known || StartsWith(data, size, signatures[i], lengths[i]);
    }
    // The rest of what LibRaw reads (older and rarer cameras) it recognises itself.
    return known || LibRawSensorPixels(data, size) > 0;
}

}  // namespace velora
