// JPEG decoding and encoding over libjpeg-turbo, through the row reader and writer: the metadata
// segments a file carries, the conversion of CMYK rows, and the whole-picture decoder and encoder.
#include <cstring>
#include <new>

#include "Codecs.h"

namespace velora {

namespace {

constexpr int JpegApp0 = 0xE0;

// Sorts a file's marker segments into what the picture layer keeps: EXIF, XMP, the ICC profile
// from its chunks, and other segments as they are.
class MetadataCollector {
  public:
    explicit MetadataCollector(RawMetadata& meta) : Meta(meta) {}

    void Marker(int marker, const std::uint8_t* data, unsigned length) {
        try {
            KeepMarker(marker, data, length);
        } catch (...) {
            // Metadata that cannot be held is left out; the picture still comes.
        }
    }

  private:
    void KeepMarker(int marker, const std::uint8_t* data, unsigned length) {
        static const char exifId[] = "Exif\0";  // with the array's own NUL: six bytes
        static const char xmpId[] = "http://ns.adobe.com/xap/1.0/";  // plus its NUL
        static const char iccId[] = "ICC_PROFILE";                   // plus its NUL
        if (marker == JpegApp0 + 1 && length >= 6 && std::memcmp(data, exifId, 6) == 0) {
            if (Meta.Exif.empty() && !SawExif) {
                Meta.Exif.assign(data + 6, data + length);
            }
            SawExif = true;  // later Exif segments are not kept
            return;
        }
        if (marker == JpegApp0 + 1 && length >= sizeof(xmpId) &&
            std::memcmp(data, xmpId, sizeof(xmpId)) == 0) {
            if (Meta.Xmp.empty()) {
                Meta.Xmp.assign(reinterpret_cast<const char*>(data) + sizeof(xmpId),
                                length - sizeof(xmpId));
            }
            return;
        }
        if (marker == JpegApp0 + 2 && length >= sizeof(iccId) + 2 &&
            std::memcmp(data, iccId, sizeof(iccId)) == 0) {
            IccChunk(data[sizeof(iccId)], data[sizeof(iccId) + 1], data + sizeof(iccId) + 2,
                     length - sizeof(iccId) - 2);
            return;
        }
        // JFIF and its extension are the encoder's business; Adobe's segment describes the old
        // colour transform; other APP2 data (multi-picture index, FlashPix) points into data that
        // is not carried over.
        if (marker == JpegApp0 || marker == JpegApp0 + 14 || marker == JpegApp0 + 2) {
            return;
        }
        ExtraMetadata::Segment segment;
        segment.Marker = static_cast<std::uint8_t>(marker);
        segment.Payload.assign(data, data + length);
        Meta.Segments.push_back(std::move(segment));
    }

    void IccChunk(unsigned sequence, unsigned count, const std::uint8_t* data, unsigned length) {
        if (IccBroken || sequence == 0 || count == 0 || sequence > count) {
            IccBroken = true;
            return;
        }
        if (IccChunks.empty()) {
            IccChunks.resize(count);
        } else if (IccChunks.size() != count) {
            IccBroken = true;
            return;
        }
        IccChunks[sequence - 1].assign(data, data + length);
        IccSeen.push_back(sequence);
    }

  public:
    // Joins the profile's chunks once all markers are known; an incomplete profile is left out.
    void FinishIcc() {
        if (IccBroken || IccChunks.empty() || IccSeen.size() != IccChunks.size()) {
            return;
        }
        std::vector<bool> present(IccChunks.size(), false);
        for (unsigned s : IccSeen) {
            if (present[s - 1]) {
                return;
            }
            present[s - 1] = true;
        }
        for (const auto& chunk : IccChunks) {
            Meta.Icc.insert(Meta.Icc.end(), chunk.begin(), chunk.end());
        }
    }

  private:
    RawMetadata& Meta;
    bool SawExif = false;
    bool IccBroken = false;
    std::vector<std::vector<std::uint8_t>> IccChunks;
    std::vector<unsigned> IccSeen;
};

// The profile in the markers read so far: CMYK needs it before the first row.
std::vector<std::uint8_t> ProfileOf(const std::vector<JpegMarker>& markers) {
    RawMetadata meta;
    MetadataCollector collector(meta);
    for (const JpegMarker& marker : markers) {
        if (marker.Marker == JpegApp0 + 2) {
            collector.Marker(marker.Marker, marker.Data, marker.Length);
        }
    }
    collector.FinishIcc();
    return std::move(meta.Icc);
}

}  // namespace

bool JpegPictureReader::Start() {
    if (Rows.Cmyk()) {
        // CMYK and YCCK become sRGB through the file's profile, or the standard one.
        try {
            CmykRow.resize(static_cast<std::size_t>(Rows.Width()) * 4);
            Cmyk.Start(ProfileOf(Rows.Markers()),
                       Rows.AdobeInverted() ? CmykSamples::InvertedInk8 : CmykSamples::Ink8);
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return Rows.Start();
}

int JpegPictureReader::ReadRows(std::uint8_t* rows, std::int32_t stride, int count) {
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

RawMetadata JpegPictureReader::Metadata() const {
    RawMetadata meta;
    try {
        MetadataCollector collector(meta);
        for (const JpegMarker& marker : Rows.Markers()) {
            collector.Marker(marker.Marker, marker.Data, marker.Length);
        }
        collector.FinishIcc();
        if (Rows.Cmyk()) {
            // The rows are sRGB now; the CMYK profile would describe them wrongly.
            meta.Icc = SrgbProfile();
        }
        for (int slot = 0; slot < 2; ++slot) {
            meta.HaveQuant[slot] = Rows.QuantTable(slot, meta.Quant[slot]);
        }
    } catch (...) {
        return RawMetadata{};
    }
    return meta;
}

void DecodeJpeg(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    JpegPictureReader reader;
    auto fail = [&] {
        try {
            out.Code = Status::GenericError;
            out.Message = reader.Message();
            out.Warnings = reader.Warnings();
        } catch (...) {
        }
        out.Bitmap.reset();
        out.Meta = RawMetadata{};
    };
    if (!reader.Open(data, size)) {
        fail();
        return;
    }
    const unsigned width = reader.Width();
    const unsigned height = reader.Height();
    std::int32_t stride = 0;
    // The limits are checked on the declared size, before libjpeg or we allocate anything big.
    std::uint8_t* rows = AllocateDecodeTarget(out, width, height, &stride);
    if (rows == nullptr) {
        out.Meta = RawMetadata{};
        return;
    }
    if (!reader.Start()) {
        fail();
        return;
    }
    while (reader.NextRow() < height) {
        const unsigned next = reader.NextRow();
        if (reader.ReadRows(rows + static_cast<std::ptrdiff_t>(next) * stride, stride,
                            static_cast<int>(height - next)) == 0) {
            break;
        }
    }
    if (reader.Failed() || reader.NextRow() < height) {
        fail();
        return;
    }
    out.Meta = reader.Metadata();
    if (!reader.Finish()) {
        fail();
        return;
    }
    try {
        out.Warnings = reader.Warnings();
        if (!reader.ColourWarning().empty()) {
            out.Warnings.push_back(reader.ColourWarning());
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
    JpegRowWriter writer;
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
