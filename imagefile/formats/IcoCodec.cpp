// Icons and cursors: a directory of pictures, of which the largest is opened. An entry is a PNG
// file or a Windows bitmap without its file header whose height counts the transparency mask
// too; both go through this layer's own decoders, and transparency is then laid over white.
#include <algorithm>
#include <cstring>

#include "Codecs.h"

namespace velora {

namespace {

constexpr std::size_t DirectoryEntryBytes = 16;
// An icon has a handful of sizes; a directory of thousands of broken entries is not tried out.
constexpr std::size_t MaxTriedEntries = 8;

std::uint32_t U16(const std::uint8_t* p) {
    return p[0] | (p[1] << 8);
}

std::uint32_t U32(const std::uint8_t* p) {
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

void PutU32(std::vector<std::uint8_t>& bytes, std::size_t at, std::uint32_t value) {
    for (int i = 0; i < 4; ++i) {
        bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
    }
}

struct Entry {
    std::uint64_t Pixels = 0;
    unsigned Bits = 0;
    std::uint32_t Bytes = 0;
    std::uint32_t Offset = 0;
};

bool Larger(const Entry& a, const Entry& b) {
    if (a.Pixels != b.Pixels) {
        return a.Pixels > b.Pixels;
    }
    return a.Bits > b.Bits;
}

// The bitmap entry as a BMP file of the picture alone (half the stored height), for DecodeBmp.
// `pixelOffset` receives where the colour pixels start inside the entry.
bool BitmapFile(const std::uint8_t* dib, std::size_t size, std::vector<std::uint8_t>& file,
                std::size_t& pixelOffset) {
    if (size < 40) {
        return false;
    }
    const std::uint32_t infoSize = U32(dib);
    const unsigned bits = U16(dib + 14);
    const std::uint32_t compression = U32(dib + 16);
    const std::uint32_t colours = U32(dib + 32);
    if (infoSize < 40 || infoSize > size) {
        return false;
    }
    std::size_t palette = 0;
    if (bits <= 8) {
        palette =
            4 * static_cast<std::size_t>(colours != 0 && colours <= 256 ? colours : (1u << bits));
    }
    if (infoSize == 40 && (compression == 3 || compression == 6)) {
        palette += compression == 6 ? 16 : 12;  // the channel masks follow the header
    }
    pixelOffset = infoSize + palette;
    file.assign(14, 0);
    file[0] = 'B';
    file[1] = 'M';
    file.insert(file.end(), dib, dib + size);
    PutU32(file, 2, static_cast<std::uint32_t>(file.size()));
    PutU32(file, 10, static_cast<std::uint32_t>(14 + pixelOffset));
    const auto height = static_cast<std::int32_t>(U32(dib + 8));
    PutU32(file, 14 + 8, static_cast<std::uint32_t>(height / 2));
    return true;
}

// Lays the entry's transparency over white: the alpha of 32-bit pixels where any pixel has one,
// otherwise the 1-bit mask that follows the colour pixels (1: transparent).
void ApplyTransparency(const std::uint8_t* dib, std::size_t size, std::size_t pixelOffset,
                       WorkingBitmap& bitmap) {
    const unsigned bits = U16(dib + 14);
    const int width = static_cast<int>(bitmap.Width());
    const int height = static_cast<int>(bitmap.Height());
    const bool topDown = static_cast<std::int32_t>(U32(dib + 8)) < 0;
    const std::size_t colourRow = ((static_cast<std::size_t>(width) * bits + 31) / 32) * 4;
    const std::size_t maskRow = ((static_cast<std::size_t>(width) + 31) / 32) * 4;
    const std::size_t maskOffset = pixelOffset + colourRow * height;
    bool alpha = false;
    if (bits == 32 && pixelOffset + colourRow * height <= size) {
        for (int y = 0; y < height && !alpha; ++y) {
            for (int x = 0; x < width && !alpha; ++x) {
                alpha = dib[pixelOffset + y * colourRow + 4 * x + 3] != 0;
            }
        }
    }
    const bool mask = !alpha && maskOffset + maskRow * height <= size;
    if (!alpha && !mask) {
        return;
    }
    BitmapData rows;
    if (bitmap.LockBits(Rect{0, 0, width, height}, ImageLockModeRead | ImageLockModeWrite,
                        PixelFormat24bppRGB, &rows) != Status::Ok) {
        return;
    }
    for (int y = 0; y < height; ++y) {
        const std::size_t stored = topDown ? y : height - 1 - y;
        std::uint8_t* bgr = rows.Scan0 + static_cast<std::size_t>(y) * rows.Stride;
        for (int x = 0; x < width; ++x, bgr += 3) {
            if (alpha) {
                const unsigned a = dib[pixelOffset + stored * colourRow + 4 * x + 3];
                for (int c = 0; c < 3; ++c) {
                    bgr[c] = static_cast<std::uint8_t>((bgr[c] * a + 255 * (255 - a) + 127) / 255);
                }
            } else if ((dib[maskOffset + stored * maskRow + x / 8] >> (7 - x % 8)) & 1) {
                bgr[0] = bgr[1] = bgr[2] = 255;
            }
        }
    }
    bitmap.UnlockBits(&rows);
}

// One entry of the directory, decoded whole into `out`.
void DecodeEntry(const std::uint8_t* data, std::size_t size, const Entry& entry,
                 DecodeOutcome& out) {
    const std::uint8_t* picture = data + entry.Offset;
    // An entry that claims more bytes than the file has keeps what is there.
    const std::size_t length = std::min<std::size_t>(entry.Bytes, size - entry.Offset);
    if (length >= 8 && std::memcmp(picture, "\x89PNG\r\n\x1A\n", 8) == 0) {
        DecodePng(picture, length, out);
        return;
    }
    std::vector<std::uint8_t> file;
    std::size_t pixelOffset = 0;
    if (!BitmapFile(picture, length, file, pixelOffset)) {
        out.Code = Status::GenericError;
        out.Message = "the icon's picture has an unknown kind";
        return;
    }
    DecodeBmp(file.data(), file.size(), out);
    if (out.Bitmap) {
        ApplyTransparency(picture, length, pixelOffset, *out.Bitmap);
    }
}

}  // namespace

void DecodeIco(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    const std::size_t count = size >= 6 ? U16(data + 4) : 0;
    if (size < 6 || size < 6 + count * DirectoryEntryBytes) {
        out.Code = Status::GenericError;
        out.Message = "the icon's directory is cut short";
        return;
    }
    std::vector<Entry> entries;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint8_t* record = data + 6 + i * DirectoryEntryBytes;
        Entry entry;
        const unsigned width = record[0] == 0 ? 256 : record[0];
        const unsigned height = record[1] == 0 ? 256 : record[1];
        entry.Pixels = static_cast<std::uint64_t>(width) * height;
        entry.Bits = U16(record + 6);
        entry.Bytes = U32(record + 8);
        entry.Offset = U32(record + 12);
        if (entry.Offset < size && entry.Bytes != 0) {
            entries.push_back(entry);
        }
    }
    if (entries.empty()) {
        out.Code = Status::GenericError;
        out.Message = "the icon holds no picture inside the file";
        return;
    }
    // The largest sound entry opens; a damaged or unreadable larger one gives way to it. Only
    // when none is sound does the largest say what is wrong with it.
    std::stable_sort(entries.begin(), entries.end(), Larger);
    DecodeOutcome first;
    for (std::size_t i = 0; i < entries.size() && i < MaxTriedEntries; ++i) {
        DecodeOutcome trial;
        trial.Options = out.Options;
        DecodeEntry(data, size, entries[i], trial);
        if (trial.Bitmap && !trial.Damaged) {
            if (i > 0) {
                trial.Warnings.push_back(
                    "the icon's largest picture is damaged; a smaller one "
                    "opened instead");
            }
            out = std::move(trial);
            return;
        }
        if (i == 0 || (!first.Bitmap && trial.Bitmap)) {
            first = std::move(trial);
        }
    }
    out = std::move(first);
}

}  // namespace velora
