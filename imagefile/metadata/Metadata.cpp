// Metadata between files and property items. Every tag of IFD0 and of the Exif, GPS and
// interoperability IFDs becomes one item under the id ExifTags.h gives it, the thumbnail's tags
// the platform's 0x5012-0x503B block; the ICC profile and the quantisation tables are items of
// their own. The XMP packet, the kept segments, the JFIF header, a trailer and the EXIF block
// itself travel beside them. Writing lays the EXIF block out again from the items.
#include <new>
#include <set>

#include "CarriedMetadata.h"
#include "Codecs.h"
#include "ExifStructure.h"
#include "ExifWriter.h"
#include "ImageProperties.h"

namespace velora {

namespace {

// A PNG chunk's length is a 31-bit number.
constexpr std::size_t MaxPngExifBytes = 0x7FFFFFFF;
// The XMP segment's payload: its 29-byte name, the packet, within one segment.
constexpr std::size_t MaxJpegXmpBytes = 65533 - 29;

void ExifToItems(const std::vector<std::uint8_t>& tiff, WorkingBitmap& bitmap) {
    const ExifStructure structure(tiff);
    if (!structure.Valid()) {
        return;
    }
    std::set<std::uint32_t> seen;
    auto add = [&](const PropertyItem& item) {
        if (seen.insert(item.id).second) {
            bitmap.SetPropertyItem(item);
        }
    };
    for (const ExifDirectory& directory : structure.Directories()) {
        for (const ExifEntry& entry : directory.Entries) {
            // A value of the IFD type points at a structure of its own, which is not followed.
            const std::uint32_t id = entry.Readable && entry.Type != 13
                                         ? ExifPropertyId(directory.Ifd, entry.Tag)
                                         : NoPropertyId;
            if (id == NoPropertyId) {
                continue;
            }
            PropertyItem item;
            item.id = id;
            item.type = entry.Type;
            item.value.assign(tiff.begin() + static_cast<std::ptrdiff_t>(entry.Value),
                              tiff.begin() + static_cast<std::ptrdiff_t>(entry.Value + entry.Size));
            item.bigEndian = structure.BigEndian();
            add(item);
        }
    }
    std::size_t at = 0;
    std::size_t size = 0;
    if (structure.Thumbnail(at, size)) {
        add(PropertyItem{PropertyTagThumbnailFormat, PropertyTagTypeLong, {1, 0, 0, 0}, false});
        PropertyItem bytes;
        bytes.id = PropertyTagThumbnailData;
        bytes.type = PropertyTagTypeByte;
        bytes.value.assign(tiff.begin() + static_cast<std::ptrdiff_t>(at),
                           tiff.begin() + static_cast<std::ptrdiff_t>(at + size));
        add(bytes);
    }
}

}  // namespace

void ApplyMetadata(const RawMetadata& meta, WorkingBitmap& bitmap) {
    try {
        ExifToItems(meta.Exif, bitmap);
    } catch (const std::bad_alloc&) {
        // EXIF that cannot be held is left out; the picture still comes.
    }
    for (int slot = 0; slot < 2; ++slot) {
        if (!meta.HaveQuant[slot]) {
            continue;
        }
        PropertyItem table;
        table.id = slot == 0 ? PropertyTagLuminanceTable : PropertyTagChrominanceTable;
        table.type = PropertyTagTypeShort;
        for (std::uint16_t q : meta.Quant[slot]) {
            table.value.push_back(static_cast<std::uint8_t>(q & 0xFF));
            table.value.push_back(static_cast<std::uint8_t>(q >> 8));
        }
        bitmap.SetPropertyItem(table);
    }
    if (!meta.Icc.empty()) {
        PropertyItem icc;
        icc.id = PropertyTagICCProfile;
        icc.type = PropertyTagTypeUndefined;
        icc.value = meta.Icc;
        bitmap.SetPropertyItem(icc);
    }
    ExtraMetadata extra;
    extra.Xmp = meta.Xmp;
    extra.Segments = meta.Segments;
    extra.Exif = meta.Exif;
    extra.Jfif = meta.Jfif;
    extra.Trailer = meta.Trailer;
    extra.PngChunks = meta.PngChunks;
    extra.PngProfileName = meta.PngProfileName;
    bitmap.SetExtraMetadata(std::move(extra));
}

bool BuildMetadata(const std::vector<PropertyItem>& items, const ExtraMetadata& extra,
                   MetadataTarget target, EncodedMetadata& meta, std::string& error) {
    meta = EncodedMetadata{};
    try {
        meta.Xmp = extra.Xmp;
        meta.Segments = extra.Segments;
        meta.Jfif = extra.Jfif;
        meta.Trailer = extra.Trailer;
        meta.PngChunks = extra.PngChunks;
        meta.PngProfileName = extra.PngProfileName;
        for (const PropertyItem& item : items) {
            if (item.id == PropertyTagICCProfile) {
                meta.Icc = item.value;
            }
        }
        const bool jpeg = target == MetadataTarget::Jpeg;
        ExifLayout layout = LayOutExif(items, extra.Exif, jpeg ? MaxExifBytes : MaxPngExifBytes);
        meta.Exif = std::move(layout.Block);
        for (std::uint32_t id : layout.LeftOut) {
            meta.LeftOut.push_back(ExifTagName(id));
        }
        if (jpeg && meta.Xmp.size() > MaxJpegXmpBytes) {
            meta.Xmp.clear();
            meta.LeftOut.push_back("XMP");
        }
        if (jpeg && meta.Icc.size() > MaxJpegIccBytes) {
            meta.Icc.clear();
            meta.LeftOut.push_back("ICC profile");
        }
        if (jpeg) {
            SettleForJpeg(meta);
        } else {
            SettleForPng(meta);
        }
    } catch (const std::bad_alloc&) {
        error = "not enough memory for the metadata";
        return false;
    }
    return true;
}

bool BuildMetadata(WorkingBitmap& bitmap, MetadataTarget target, EncodedMetadata& meta,
                   std::string& error) {
    std::vector<PropertyItem> items;
    try {
        for (std::uint32_t id : bitmap.GetPropertyIdList()) {
            PropertyItem item;
            if (bitmap.GetPropertyItem(id, &item) == Status::Ok) {
                items.push_back(std::move(item));
            }
        }
    } catch (const std::bad_alloc&) {
        error = "not enough memory for the metadata";
        return false;
    }
    return BuildMetadata(items, bitmap.GetExtraMetadata(), target, meta, error);
}

}  // namespace velora
