// JPEG decoding and encoding over libjpeg-turbo, through the row reader and writer: the metadata
// segments a file carries, the conversion of CMYK rows, and the whole-picture decoder and encoder.
#include <cstring>
#include <new>

#include "Codecs.h"

namespace velora {

bool JpegBgrReader::Start() {
    if (Rows.Cmyk()) {
        // CMYK and YCCK become sRGB through the file's profile, or the standard one.
        try {
            CmykRow.resize(static_cast<std::size_t>(Rows.Width()) * 4);
            // The profile's chunks are all in the header's segments, read by now.
            RawMetadata seen;
            Rows.Metadata(seen);
            Cmyk.Start(seen.Icc,
                       Rows.AdobeInverted() ? CmykSamples::InvertedInk8 : CmykSamples::Ink8);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return Rows.Start();
}

int JpegBgrReader::ReadRows(std::uint8_t* rows, std::int32_t stride, int count) {
    if (!Rows.Cmyk()) {
        return Rows.ReadRows(rows, stride, count);
    }
    int done = 0;
    for (; done < count; ++done) {
        if (Rows.ReadRows(CmykRow.data(), static_cast<std::int32_t>(CmykRow.size()), 1) != 1) {
            break;
        }
        Cmyk.Row(CmykRow.data(), rows + static_cast<std::ptrdiff_t>(done) * stride, Rows.Width());
    }
    return done;
}

RawMetadata JpegBgrReader::Metadata() const {
    RawMetadata meta;
    try {
        Rows.Metadata(meta);
        if (Rows.Cmyk()) {
            // The rows are sRGB now; the CMYK profile would describe them wrongly.
            meta.Icc = SrgbProfile();
        }
    } catch (...) {
        return RawMetadata{};
    }
    return meta;
}

void DecodeJpeg(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    JpegBgrReader reader;
    auto fail = [&](const std::string& message) {
        try {
            out.Code = Status::GenericError;
            out.Message = message;
            out.Warnings = reader.Warnings();
        } catch (...) {
        }
        out.Bitmap.reset();
        out.Meta = RawMetadata{};
    };
    if (!reader.Open(data, size)) {
        fail(reader.Message());
        return;
    }
    const unsigned width = reader.Width();
    const unsigned height = reader.Height();
    // The limits are checked on the declared size, before libjpeg or we allocate anything big.
    if (!DeclaredSizeAllowed(out, width, height)) {
        return;
    }
    if (!reader.HoldsPicture()) {
        fail("the file is damaged: its data is too short for a picture of " +
             std::to_string(width) + " x " + std::to_string(height) + " pixels");
        return;
    }
    std::int32_t stride = 0;
    std::uint8_t* rows = AllocateDecodeTarget(out, width, height, &stride);
    if (rows == nullptr) {
        return;
    }
    if (!reader.Start()) {
        fail(reader.Message());
        return;
    }
    while (reader.NextRow() < height) {
        const unsigned next = reader.NextRow();
        if (reader.ReadRows(rows + static_cast<std::ptrdiff_t>(next) * stride, stride,
                            static_cast<int>(height - next)) == 0) {
            break;
        }
    }
    // Rows that could not be read (the data is gone, or broke off in an error) are filled with
    // mid grey, as libjpeg fills missing data, and the picture is marked damaged.
    const unsigned read = reader.NextRow();
    bool damaged = reader.Damaged() || reader.Failed();
    if (read < height) {
        std::memset(rows + static_cast<std::ptrdiff_t>(read) * stride, 0x80,
                    static_cast<std::size_t>(height - read) * static_cast<std::size_t>(stride));
        damaged = true;
    }
    out.Meta = reader.Metadata();
    if (!damaged && !reader.Finish()) {
        damaged = true;
    }
    try {
        out.Meta.Trailer = FindMetadataTrailer(data, size);
    } catch (const std::bad_alloc&) {
        // A trailer that cannot be held is left out; the picture still comes.
    }
    try {
        out.Warnings = reader.Warnings();
        if (!reader.ColourWarning().empty()) {
            out.Warnings.push_back(reader.ColourWarning());
        }
        if (damaged) {
            out.Damaged = true;
            out.DamageReason = reader.Failed() ? reader.Message() : reader.DamageReason();
            if (out.DamageReason.empty()) {
                out.DamageReason = "the data ends before the picture does";
            }
        }
    } catch (...) {
    }
    if (reader.Grey()) {
        out.Colour = SourceColour::Grey;
    }
}

bool EncodeJpeg(std::FILE* file, WorkingBitmap& bitmap, int quality, const EncodedMetadata& meta,
                std::string& error) {
    BitmapData data;
    if (!LockWholeForReading(bitmap, data, error)) {
        return false;
    }
    LibjpegWriter writer;
    const bool written = writer.Start(file, data.Width, data.Height, quality, meta) &&
                         writer.WriteRows(data.Scan0, data.Stride, static_cast<int>(data.Height)) &&
                         writer.Finish();
    bitmap.UnlockBits(&data);
    if (!written) {
        error = writer.Message();
        return false;
    }
    return true;
}

}  // namespace velora
