#include "JpegSegments.h"

#include <cstring>

#include "CarriedMetadata.h"

namespace velora {

namespace {

constexpr int App0 = 0xE0;

}  // namespace

const char* JpegSegments::Keep(int marker, const std::uint8_t* data, std::size_t length,
                               RawMetadata& meta) {
    static const char exifId[] = "Exif\0";  // with the array's own NUL: six bytes
    static const char xmpId[] = "http://ns.adobe.com/xap/1.0/";  // plus its NUL
    static const char iccId[] = "ICC_PROFILE";                   // plus its NUL
    if (marker == App0 + 1 && length >= 6 && std::memcmp(data, exifId, 6) == 0) {
        if (!SawExif) {
            meta.Exif.assign(data + 6, data + length);
            SawExif = true;
            return nullptr;
        }
        // A block too large for one segment goes on in the next Exif segments.
        if (length - 6 > MaxOtherBytes - OtherBytes) {
            return "the file's metadata segments pass 8 MB; the others are left out";
        }
        meta.Exif.insert(meta.Exif.end(), data + 6, data + length);
        OtherBytes += length - 6;
        return nullptr;
    }
    if (marker == App0 + 1 && length >= sizeof(xmpId) &&
        std::memcmp(data, xmpId, sizeof(xmpId)) == 0) {
        if (meta.Xmp.empty()) {
            meta.Xmp.assign(reinterpret_cast<const char*>(data) + sizeof(xmpId),
                            length - sizeof(xmpId));
        }
        return nullptr;
    }
    if (marker == App0 + 2 && length >= sizeof(iccId) + 2 &&
        std::memcmp(data, iccId, sizeof(iccId)) == 0) {
        IccChunk(data[sizeof(iccId)], data[sizeof(iccId) + 1], data + sizeof(iccId) + 2,
                 length - sizeof(iccId) - 2);
        return nullptr;
    }
    // JFIF's header travels as the fields libjpeg reads from it (its thumbnail and JFXX's do
    // not); Adobe's segment describes the old colour transform; the multi-picture index points
    // at pictures after this one's end, which are not carried over.
    if (marker == App0 || marker == App0 + 14 || PointsOutside(marker, data, length)) {
        return nullptr;
    }
    if (meta.Segments.size() >= MaxOtherSegments) {
        return "the file has more than 256 metadata segments; the others are left out";
    }
    if (length > MaxOtherBytes - OtherBytes) {
        return "the file's metadata segments pass 8 MB; the others are left out";
    }
    ExtraMetadata::Segment segment;
    segment.Marker = static_cast<std::uint8_t>(marker);
    segment.Payload.assign(data, data + length);
    meta.Segments.push_back(std::move(segment));
    OtherBytes += length;
    return nullptr;
}

void JpegSegments::IccChunk(unsigned sequence, unsigned count, const std::uint8_t* data,
                            std::size_t length) {
    if (IccBroken || sequence == 0 || count == 0 || sequence > count) {
        IccBroken = true;
        return;
    }
    if (IccChunks.empty()) {
        IccChunks.resize(count);
        IccPresent.assign(count, false);
    } else if (IccChunks.size() != count || IccPresent[sequence - 1]) {
        // Another count, or the same chunk twice: no way to tell which profile is meant.
        IccBroken = true;
        return;
    }
    IccChunks[sequence - 1].assign(data, data + length);
    IccPresent[sequence - 1] = true;
}

void JpegSegments::FinishIcc(RawMetadata& meta) const {
    if (IccBroken || IccChunks.empty()) {
        return;
    }
    for (bool present : IccPresent) {
        if (!present) {
            return;
        }
    }
    meta.Icc.clear();
    for (const auto& chunk : IccChunks) {
        meta.Icc.insert(meta.Icc.end(), chunk.begin(), chunk.end());
    }
}

}  // namespace velora
