// Windows bitmaps: palette (1, 4, 8 bits, also RLE4/RLE8), 16, 24 and 32 bits with or without
// bit fields. Every read is bounds-checked against the buffer; nothing here trusts the header.
#include <cstring>

#include "Codecs.h"

namespace velora {

namespace {

class Reader {
  public:
    Reader(const std::uint8_t* data, std::size_t size) : Data(data), Size(size) {}
    bool Has(std::size_t offset, std::size_t length) const {
        return offset <= Size && length <= Size - offset;
    }
    std::uint32_t U16(std::size_t at) const { return Data[at] | (Data[at + 1] << 8); }
    std::uint32_t U32(std::size_t at) const {
        return Data[at] | (Data[at + 1] << 8) | (Data[at + 2] << 16) |
               (static_cast<std::uint32_t>(Data[at + 3]) << 24);
    }
    const std::uint8_t* Data;
    std::size_t Size;
};

struct Channel {
    std::uint32_t Mask = 0;
    int Shift = 0;
    std::uint32_t Max = 0;
};

Channel MakeChannel(std::uint32_t mask) {
    Channel c;
    c.Mask = mask;
    if (mask == 0) {
        return c;
    }
    while (((mask >> c.Shift) & 1u) == 0) {
        ++c.Shift;
    }
    c.Max = mask >> c.Shift;
    return c;
}

std::uint8_t Extract(const Channel& c, std::uint32_t pixel) {
    if (c.Max == 0) {
        return 0;
    }
    const std::uint64_t v = (pixel & c.Mask) >> c.Shift;
    return static_cast<std::uint8_t>((v * 255 + c.Max / 2) / c.Max);
}

struct Header {
    std::uint32_t PixelOffset = 0;
    std::uint32_t InfoSize = 0;
    std::int64_t Width = 0;
    std::int64_t Height = 0;
    unsigned Bits = 0;
    std::uint32_t Compression = 0;
    std::uint32_t Colours = 0;
    std::uint32_t Masks[3] = {0, 0, 0};
    std::size_t PaletteOffset = 0;
    unsigned PaletteEntrySize = 4;
};

bool ReadHeader(const Reader& in, Header& h, std::string& error) {
    if (!in.Has(0, 18)) {
        error = "the file ends inside its header";
        return false;
    }
    h.PixelOffset = in.U32(10);
    h.InfoSize = in.U32(14);
    if (h.InfoSize == 12 && in.Has(14, 12)) {
        h.Width = in.U16(18);
        h.Height = static_cast<std::int16_t>(in.U16(20));
        h.Bits = in.U16(24);
        h.PaletteEntrySize = 3;
    } else if (h.InfoSize >= 40 && in.Has(14, h.InfoSize)) {
        h.Width = static_cast<std::int32_t>(in.U32(18));
        h.Height = static_cast<std::int32_t>(in.U32(22));
        h.Bits = in.U16(28);
        h.Compression = in.U32(30);
        h.Colours = in.U32(46);
    } else {
        error = "unsupported bitmap header";
        return false;
    }
    h.PaletteOffset = 14 + static_cast<std::size_t>(h.InfoSize);
    if (h.Compression == 3 || h.Compression == 6) {  // bit fields
        std::size_t at = 14 + 40;
        if (h.InfoSize == 40) {
            h.PaletteOffset += 12;
        }
        if (!in.Has(at, 12)) {
            error = "the file ends inside its header";
            return false;
        }
        for (int i = 0; i < 3; ++i) {
            h.Masks[i] = in.U32(at + 4u * i);
        }
    } else if (h.Bits == 16) {
        h.Masks[0] = 0x7C00;
        h.Masks[1] = 0x03E0;
        h.Masks[2] = 0x001F;
    } else if (h.Bits == 32) {
        h.Masks[0] = 0x00FF0000;
        h.Masks[1] = 0x0000FF00;
        h.Masks[2] = 0x000000FF;
    }
    const bool paletted = h.Bits == 1 || h.Bits == 4 || h.Bits == 8;
    const bool supported =
        (paletted && (h.Compression == 0 || (h.Compression == 1 && h.Bits == 8) ||
                      (h.Compression == 2 && h.Bits == 4))) ||
        (h.Bits == 24 && h.Compression == 0) ||
        ((h.Bits == 16 || h.Bits == 32) &&
         (h.Compression == 0 || h.Compression == 3 || h.Compression == 6));
    if (!supported) {
        error = "unsupported kind of bitmap";
        return false;
    }
    if (h.Width <= 0 || h.Height == 0) {
        error = "the bitmap has no pixels";
        return false;
    }
    return true;
}

// The colours the file holds; the count of them.
unsigned Palette(const Reader& in, const Header& h, std::uint8_t (*palette)[3]) {
    const std::uint32_t count = h.Colours == 0 || h.Colours > 256 ? (1u << h.Bits) : h.Colours;
    unsigned i = 0;
    for (; i < count && i < 256; ++i) {
        const std::size_t at = h.PaletteOffset + static_cast<std::size_t>(i) * h.PaletteEntrySize;
        if (!in.Has(at, 3)) {
            break;
        }
        std::memcpy(palette[i], in.Data + at, 3);  // stored blue, green, red like our pixels
    }
    return i;
}

constexpr const char* BadIndex = "pixels name colours the palette does not have";

// RLE: runs and literal groups. Data that ends before the end-of-bitmap code, runs past the
// picture's edge and colours the palette lacks mark the picture damaged, the rest left black, as
// damaged bitmaps usually look; `damage` gets the first reason.
void DecodeRle(const Reader& in, const Header& h, const std::uint8_t (*palette)[3],
               unsigned colours, std::uint8_t* rows, std::int32_t stride, bool topDown,
               std::string& damage) {
    const std::int64_t width = h.Width;
    const std::int64_t height = topDown ? -h.Height : h.Height;
    std::int64_t x = 0;
    std::int64_t y = 0;
    std::size_t at = h.PixelOffset;
    auto damaged = [&](const char* why) {
        if (damage.empty()) {
            damage = why;
        }
    };
    if (topDown) {
        damaged("run-length data cannot run from the top down");
    }
    // A run of a 4-bit picture of odd width may pad its last byte with one pixel.
    const std::int64_t slack = h.Bits == 4 ? 1 : 0;
    auto put = [&](unsigned index) {
        if (x < width && y < height) {
            const std::int64_t row = topDown ? y : height - 1 - y;
            if (index >= colours) {
                damaged(BadIndex);
            }
            std::memcpy(rows + row * stride + 3 * x, palette[index & 0xFF], 3);
        } else if (x >= width + slack || y >= height) {
            damaged("the run-length data runs past the picture's edge");
        }
        ++x;
    };
    const bool four = h.Bits == 4;
    while (y < height) {
        if (!in.Has(at, 2)) {
            damage = "the bitmap data ends early";
            return;
        }
        const unsigned count = in.Data[at];
        const unsigned code = in.Data[at + 1];
        at += 2;
        if (count > 0) {
            for (unsigned i = 0; i < count; ++i) {
                put(four ? ((i & 1) ? (code & 0x0F) : (code >> 4)) : code);
            }
        } else if (code == 0) {
            x = 0;
            ++y;
        } else if (code == 1) {
            return;
        } else if (code == 2) {
            if (!in.Has(at, 2)) {
                damage = "the bitmap data ends early";
                return;
            }
            x += in.Data[at];
            y += in.Data[at + 1];
            at += 2;
            if (x > width || y > height) {
                damaged("the run-length data moves past the picture's edge");
            }
        } else {
            const std::size_t bytes = four ? (code + 1) / 2 : code;
            if (!in.Has(at, bytes)) {
                damage = "the bitmap data ends early";
                return;
            }
            for (unsigned i = 0; i < code; ++i) {
                const std::uint8_t b = in.Data[at + (four ? i / 2 : i)];
                put(four ? ((i & 1) ? (b & 0x0F) : (b >> 4)) : b);
            }
            at += (bytes + 1) & ~std::size_t{1};
        }
    }
}

}  // namespace

void DecodeBmp(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    const Reader in(data, size);
    Header h;
    if (!ReadHeader(in, h, out.Message)) {
        out.Code = Status::UnknownImageFormat;
        return;
    }
    const bool topDown = h.Height < 0;
    const std::int64_t height = topDown ? -h.Height : h.Height;
    const auto width = static_cast<std::uint64_t>(h.Width);
    if (!DeclaredSizeAllowed(out, width, static_cast<std::uint64_t>(height))) {
        return;
    }
    // Measured before the header is trusted with an allocation: the rows of an uncompressed
    // bitmap must all be there, and run-length data codes at most 255 pixels in two bytes.
    const std::uint64_t present = size > h.PixelOffset ? size - h.PixelOffset : 0;
    const bool rle = h.Compression == 1 || h.Compression == 2;
    const std::uint64_t rowBytes = ((width * h.Bits + 31) / 32) * 4;
    if (rle ? width * static_cast<std::uint64_t>(height) > 128 * present
            : rowBytes * static_cast<std::uint64_t>(height) > present) {
        out.Code = Status::GenericError;
        out.Message = "the file is damaged: its pixel data is too short for " +
                      std::to_string(width) + " x " + std::to_string(height) + " pixels";
        return;
    }
    std::int32_t stride = 0;
    std::uint8_t* rows =
        AllocateDecodeTarget(out, width, static_cast<std::uint64_t>(height), &stride);
    if (rows == nullptr) {
        return;
    }
    std::uint8_t palette[256][3] = {};
    const unsigned colours = h.Bits <= 8 ? Palette(in, h, palette) : 0;
    std::string damage;
    if (rle) {
        DecodeRle(in, h, palette, colours, rows, stride, topDown, damage);
        if (!damage.empty()) {
            out.Damaged = true;
            out.DamageReason = damage;
        }
        return;
    }
    const Channel red = MakeChannel(h.Masks[0]);
    const Channel green = MakeChannel(h.Masks[1]);
    const Channel blue = MakeChannel(h.Masks[2]);
    for (std::int64_t y = 0; y < height; ++y) {
        const std::size_t at = h.PixelOffset + static_cast<std::size_t>(y * rowBytes);
        const std::uint8_t* src = data + at;
        std::uint8_t* dst = rows + (topDown ? y : height - 1 - y) * stride;
        for (std::int64_t x = 0; x < h.Width; ++x, dst += 3) {
            switch (h.Bits) {
                case 1:
                case 4:
                case 8: {
                    const std::size_t bit = static_cast<std::size_t>(x) * h.Bits;
                    const unsigned shift = 8 - h.Bits - (bit % 8);
                    const unsigned index = (src[bit / 8] >> shift) & ((1u << h.Bits) - 1);
                    if (index >= colours && damage.empty()) {
                        damage = BadIndex;
                    }
                    std::memcpy(dst, palette[index], 3);
                    break;
                }
                case 24:
                    std::memcpy(dst, src + 3 * x, 3);
                    break;
                default: {
                    const std::uint32_t pixel =
                        h.Bits == 16 ? in.U16(at + 2 * x) : in.U32(at + 4 * x);
                    dst[0] = Extract(blue, pixel);
                    dst[1] = Extract(green, pixel);
                    dst[2] = Extract(red, pixel);
                }
            }
        }
    }
    if (!damage.empty()) {
        out.Damaged = true;
        out.DamageReason = damage;
    }
}

}  // namespace velora
