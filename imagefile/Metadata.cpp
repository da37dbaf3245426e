// EXIF in the flat model of property items, over exiv2. Reading keeps every tag of IFD0, the
// Exif, GPS and interoperability IFDs under its TIFF number and moves the thumbnail's tags into
// the platform's 0x5012-0x503B block; writing lets exiv2 build the TIFF structure again.
#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <mutex>
#include <set>

#include "Codecs.h"
#include "ImageProperties.h"
#include "OriginalExif.h"

namespace velora {

namespace {

constexpr std::uint32_t ThumbnailData = 0x501B;

// Thumbnail IFD tag -> the platform's property id for it.
struct ThumbnailTag {
    std::uint16_t Tiff;
    std::uint32_t Id;
};
constexpr ThumbnailTag ThumbnailTags[] = {
    {0x0100, 0x5020},
    {0x0101, 0x5021},
    {0x0102, 0x5022},
    {0x0103, 0x5023},
    {0x0106, 0x5024},
    {0x010E, 0x5025},
    {0x010F, 0x5026},
    {0x0110, 0x5027},
    {0x0111, 0x5028},
    {0x0112, 0x5029},
    {0x0115, 0x502A},
    {0x0116, 0x502B},
    {0x0117, 0x502C},
    {0x011A, 0x502D},
    {0x011B, 0x502E},
    {0x011C, 0x502F},
    {0x0128, 0x5030},
    {0x012D, 0x5031},
    {0x0131, 0x5032},
    {0x0132, 0x5033},
    {0x013B, 0x5034},
    {0x013E, 0x5035},
    {0x013F, 0x5036},
    {0x0211, 0x5037},
    {0x0212, 0x5038},
    {0x0213, 0x5039},
    {0x0214, 0x503A},
    {0x8298, 0x503B},
    // The thumbnail's own offset and length say where it was; its bytes travel as 0x501B.
    {0x0202, 0x5019},
};

std::uint32_t ThumbnailIdFor(std::uint16_t tiff) {
    for (const ThumbnailTag& t : ThumbnailTags) {
        if (t.Tiff == tiff) {
            return t.Id;
        }
    }
    return 0;
}

// Tags that only describe the old file's layout: their values would be wrong in the new one.
bool IsStructureTag(std::uint16_t tag) {
    switch (tag) {
        case 0x8769:  // Exif IFD pointer
        case 0x8825:  // GPS IFD pointer
        case 0xA005:  // interoperability IFD pointer
        case 0x014A:  // SubIFDs
        case 0x0111:  // strip offsets
        case 0x0117:  // strip byte counts
        case 0x0201:  // JPEG interchange offset
        case 0x0202:  // JPEG interchange length
            return true;
        default:
            return false;
    }
}

const std::set<std::uint16_t>& ExifIfdTags() {
    static const std::set<std::uint16_t> tags = [] {
        std::set<std::uint16_t> result;
        const Exiv2::TagInfo* info = Exiv2::ExifTags::tagList("Photo");
        for (; info != nullptr && info->tag_ != 0xFFFF; ++info) {
            result.insert(info->tag_);
        }
        return result;
    }();
    return tags;
}

// GPS and interoperability tags share the numbers 1 and 2; the interoperability ones have their
// own fixed shapes (a three-letter index, a four-byte version).
std::string GroupFor(const PropertyItem& item) {
    const std::uint32_t id = item.id;
    if (id == 0x0001 && item.type == PropertyTagTypeASCII && item.length() == 4) {
        return "Iop";
    }
    if (id == 0x0002 && item.type == PropertyTagTypeUndefined) {
        return "Iop";
    }
    if (id >= 0x1000 && id <= 0x1002) {
        return "Iop";
    }
    if (id <= 0x001F) {
        return "GPSInfo";
    }
    if (ExifIfdTags().count(static_cast<std::uint16_t>(id)) != 0) {
        return "Photo";
    }
    return "Image";
}

std::uint16_t ItemType(Exiv2::TypeId type) {
    if (type >= Exiv2::unsignedByte && type <= Exiv2::tiffDouble) {
        return static_cast<std::uint16_t>(type);
    }
    if (type == Exiv2::tiffIfd) {
        return PropertyTagTypeLong;
    }
    return 0;
}

PropertyItem MakeItem(std::uint32_t id, const Exiv2::Exifdatum& datum, Exiv2::ByteOrder order) {
    PropertyItem item;
    item.id = id;
    item.type = ItemType(datum.typeId());
    item.value.resize(datum.size());
    if (!item.value.empty()) {
        datum.copy(item.value.data(), order);
    }
    item.bigEndian = order == Exiv2::bigEndian;
    return item;
}

void AddOnce(WorkingBitmap& bitmap, std::set<std::uint32_t>& seen, const PropertyItem& item) {
    if (item.type == 0 || !seen.insert(item.id).second) {
        return;
    }
    bitmap.SetPropertyItem(item);
}

void ExifToItems(const std::vector<std::uint8_t>& tiff, WorkingBitmap& bitmap) {
    if (tiff.size() < 8) {
        return;
    }
    try {
        Exiv2::ExifData exif;
        const Exiv2::ByteOrder order =
            Exiv2::ExifParser::decode(exif, tiff.data(), static_cast<std::uint32_t>(tiff.size()));
        if (order == Exiv2::invalidByteOrder) {
            return;
        }
        std::set<std::uint32_t> seen;
        std::vector<const Exiv2::Exifdatum*> interop;
        bool thumbnailIfd = false;
        for (const Exiv2::Exifdatum& datum : exif) {
            const std::string group = datum.groupName();
            const std::uint16_t tag = datum.tag();
            if (group == "Image" || group == "Photo" || group == "GPSInfo") {
                if (!IsStructureTag(tag)) {
                    AddOnce(bitmap, seen, MakeItem(tag, datum, order));
                }
            } else if (group == "Iop") {
                interop.push_back(&datum);
            } else if (group == "Thumbnail") {
                thumbnailIfd = true;
                if (const std::uint32_t id = ThumbnailIdFor(tag)) {
                    AddOnce(bitmap, seen, MakeItem(id, datum, order));
                }
            }
        }
        // Where a GPS tag holds the number, it wins over the interoperability tag.
        for (const Exiv2::Exifdatum* datum : interop) {
            AddOnce(bitmap, seen, MakeItem(datum->tag(), *datum, order));
        }
        if (thumbnailIfd) {
            Exiv2::ExifThumbC thumbnail(exif);
            Exiv2::DataBuf data = thumbnail.copy();
            if (data.size_ > 0) {
                PropertyItem format;
                format.id = PropertyTagThumbnailFormat;
                format.type = PropertyTagTypeLong;
                format.value = {1, 0, 0, 0};  // 1: JPEG
                AddOnce(bitmap, seen, format);
                PropertyItem bytes;
                bytes.id = ThumbnailData;
                bytes.type = PropertyTagTypeByte;
                bytes.value.assign(data.pData_, data.pData_ + data.size_);
                AddOnce(bitmap, seen, bytes);
            }
        }
    } catch (...) {
        // Damaged EXIF is left out; what was taken before the damage stays.
    }
}

Exiv2::ByteOrder OutputOrder(const std::vector<PropertyItem>& items) {
    // Maker notes without their own header use the byte order of the structure around them.
    for (const PropertyItem& item : items) {
        if (item.id == 0x927C) {
            return item.bigEndian ? Exiv2::bigEndian : Exiv2::littleEndian;
        }
    }
    for (const PropertyItem& item : items) {
        if (item.id <= 0xFFFF && item.value.size() > 0 && item.type != PropertyTagTypeASCII &&
            item.type != PropertyTagTypeByte && item.type != PropertyTagTypeUndefined) {
            return item.bigEndian ? Exiv2::bigEndian : Exiv2::littleEndian;
        }
    }
    return Exiv2::littleEndian;
}

bool AddDatum(Exiv2::ExifData& exif, const std::string& group, std::uint16_t tag,
              const PropertyItem& item) {
    if (item.type < PropertyTagTypeByte || item.type > PropertyTagTypeDouble) {
        return false;
    }
    auto value = Exiv2::Value::create(static_cast<Exiv2::TypeId>(item.type));
    const Exiv2::ByteOrder order = item.bigEndian ? Exiv2::bigEndian : Exiv2::littleEndian;
    if (value->read(item.value.data(), static_cast<long>(item.value.size()), order) != 0 ||
        value->count() == 0) {
        return false;
    }
    exif.add(Exiv2::ExifKey(tag, group), value.get());
    return true;
}

}  // namespace

void InitializeMetadataLibrary() {
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
        ExifIfdTags();
    });
}

void ApplyMetadata(const RawMetadata& meta, WorkingBitmap& bitmap) {
    InitializeMetadataLibrary();
    ExifToItems(meta.Exif, bitmap);
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
    bitmap.SetExtraMetadata(std::move(extra));
}

namespace {

// Encodes `exif` into `blob`, giving up the thumbnail first when the block would not fit one
// APP1 segment. False when it still does not fit.
bool EncodeFitting(Exiv2::ExifData exif, Exiv2::ByteOrder order, bool thumbnail,
                   Exiv2::Blob& blob) {
    blob.clear();
    Exiv2::ExifParser::encode(blob, order, exif);
    if (blob.size() > MaxExifBytes && thumbnail) {
        Exiv2::ExifThumb(exif).erase();
        blob.clear();
        Exiv2::ExifParser::encode(blob, order, exif);
    }
    return blob.size() <= MaxExifBytes;
}

}  // namespace

bool BuildMetadata(WorkingBitmap& bitmap, EncodedMetadata& meta, std::string& error) {
    InitializeMetadataLibrary();
    std::vector<PropertyItem> items;
    for (std::uint32_t id : bitmap.GetPropertyIdList()) {
        PropertyItem item;
        if (bitmap.GetPropertyItem(id, &item) == Status::Ok) {
            items.push_back(std::move(item));
        }
    }
    const ExtraMetadata extra = bitmap.GetExtraMetadata();
    meta = EncodedMetadata{};
    meta.Xmp = extra.Xmp;
    meta.Segments = extra.Segments;
    try {
        const OriginalExif original(extra.Exif);
        Exiv2::ExifData exif;
        const PropertyItem* thumbnail = nullptr;
        const PropertyItem* makerNote = nullptr;
        for (const PropertyItem& item : items) {
            if (item.id == PropertyTagICCProfile) {
                meta.Icc = item.value;
            } else if (item.id == ThumbnailData) {
                thumbnail = &item;
            } else if (item.id >= 0x5020 && item.id <= 0x503B && item.id != 0x5028 &&
                       item.id != 0x502C) {
                for (const ThumbnailTag& t : ThumbnailTags) {
                    if (t.Id == item.id) {
                        AddDatum(exif, "Thumbnail", t.Tiff, item);
                    }
                }
            } else if (item.id <= 0xFFFF && !(item.id >= 0x5012 && item.id <= 0x5091) &&
                       !IsStructureTag(static_cast<std::uint16_t>(item.id))) {
                const auto tag = static_cast<std::uint16_t>(item.id);
                // A tag goes back to the IFD it came from; one the file did not have goes where
                // it belongs by its number.
                std::string group = original.GroupOf(tag);
                if (group.empty()) {
                    group = GroupFor(item);
                }
                if (AddDatum(exif, group, tag, item) && tag == 0x927C && group == "Photo") {
                    makerNote = &item;
                }
            }
        }
        const bool withThumbnail = thumbnail != nullptr && !thumbnail->value.empty();
        if (withThumbnail) {
            Exiv2::ExifThumb(exif).setJpegThumbnail(thumbnail->value.data(),
                                                    static_cast<long>(thumbnail->value.size()));
        }
        if (!exif.empty()) {
            const Exiv2::ByteOrder order = OutputOrder(items);
            Exiv2::Blob blob;
            bool done = false;
            // An unchanged maker note that exiv2 understands is laid out anew, so that offsets
            // inside it that count from the TIFF header still point at its data. Should that go
            // wrong in any way, its bytes are written as they came.
            if (makerNote != nullptr && original.HoldsParsedMakerNote(makerNote->value)) {
                Exiv2::ExifData rebuilt = exif;
                original.AddMakerNote(rebuilt);
                try {
                    done = EncodeFitting(rebuilt, order, withThumbnail, blob) &&
                           original.MakerNoteSurvives(blob);
                } catch (...) {
                    done = false;
                }
            }
            if (!done && !EncodeFitting(exif, order, withThumbnail, blob)) {
                error = "the metadata is too large for a JPEG file";
                return false;
            }
            meta.Exif.assign(blob.begin(), blob.end());
        }
    } catch (const std::exception& e) {
        error = std::string("the metadata cannot be written: ") + e.what();
        return false;
    } catch (...) {
        error = "the metadata cannot be written";
        return false;
    }
    return true;
}

}  // namespace velora
