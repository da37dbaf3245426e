#include "ExifTags.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "Exiv2Module.h"

namespace velora {

namespace {

// Thumbnail IFD tag -> the platform's property id for it.
struct ThumbnailTag {
    std::uint16_t Tiff;
    std::uint32_t Id;
};
constexpr ThumbnailTag ThumbnailTags[] = {
    {0x0100, 0x5020}, {0x0101, 0x5021}, {0x0102, 0x5022}, {0x0103, 0x5023}, {0x0106, 0x5024},
    {0x010E, 0x5025}, {0x010F, 0x5026}, {0x0110, 0x5027}, {0x0112, 0x5029}, {0x0115, 0x502A},
    {0x0116, 0x502B}, {0x011A, 0x502D}, {0x011B, 0x502E}, {0x011C, 0x502F}, {0x0128, 0x5030},
    {0x012D, 0x5031}, {0x0131, 0x5032}, {0x0132, 0x5033}, {0x013B, 0x5034}, {0x013E, 0x5035},
    {0x013F, 0x5036}, {0x0211, 0x5037}, {0x0212, 0x5038}, {0x0213, 0x5039}, {0x0214, 0x503A},
    {0x8298, 0x503B},
};

// Tags that only say where other parts of the block sit: written anew, never kept as items.
bool IsStructureTag(std::uint16_t tag) {
    switch (tag) {
        case 0x8769:  // Exif IFD pointer
        case 0x8825:  // GPS IFD pointer
        case 0xA005:  // interoperability IFD pointer
        case 0x014A:  // SubIFDs
        case 0x0111:  // strip offsets
        case 0x0117:  // strip byte counts
        case 0x0144:  // tile offsets
        case 0x0145:  // tile byte counts
        case 0x0201:  // JPEG interchange offset
        case 0x0202:  // JPEG interchange length
            return true;
        default:
            return false;
    }
}

// The tags exiv2 lists for the Exif IFD, in order: the table every JPEG's tags are placed by, kept
// here so that a conversion that never needs a tag's name does without exiv2.
constexpr std::uint16_t ExifIfdTags[] = {
    0x829A, 0x829D, 0x8822, 0x8824, 0x8827, 0x8828, 0x8830, 0x8831, 0x8832, 0x8833, 0x8834, 0x8835,
    0x9000, 0x9003, 0x9004, 0x9010, 0x9011, 0x9012, 0x9101, 0x9102, 0x9201, 0x9202, 0x9203, 0x9204,
    0x9205, 0x9206, 0x9207, 0x9208, 0x9209, 0x920A, 0x9214, 0x927C, 0x9286, 0x9290, 0x9291, 0x9292,
    0x9400, 0x9401, 0x9402, 0x9403, 0x9404, 0x9405, 0xA000, 0xA001, 0xA002, 0xA003, 0xA004, 0xA005,
    0xA20B, 0xA20C, 0xA20E, 0xA20F, 0xA210, 0xA214, 0xA215, 0xA217, 0xA300, 0xA301, 0xA302, 0xA401,
    0xA402, 0xA403, 0xA404, 0xA405, 0xA406, 0xA407, 0xA408, 0xA409, 0xA40A, 0xA40B, 0xA40C, 0xA420,
    0xA430, 0xA431, 0xA432, 0xA433, 0xA434, 0xA435, 0xA460, 0xA461, 0xA462, 0xA500,
};

// The IFD where a bare tag number belongs. The GPS numbers 0-0x1F come first, as on the
// platform; tags of the Exif IFD's list go there; 0x5012-0x5091 (the platform's thumbnail and
// table block) and 0x8773 (the item of the ICC profile) belong nowhere.
bool HomeOf(std::uint16_t tag, ExifIfd& home) {
    if ((tag >= 0x5012 && tag <= 0x5091) || tag == 0x8773) {
        return false;
    }
    if (tag <= 0x001F) {
        home = ExifIfd::Gps;
    } else if (std::binary_search(std::begin(ExifIfdTags), std::end(ExifIfdTags), tag)) {
        home = ExifIfd::Exif;
    } else {
        home = ExifIfd::Main;
    }
    return true;
}

const char* GroupName(ExifIfd ifd) {
    switch (ifd) {
        case ExifIfd::Main:
            return "Image";
        case ExifIfd::Exif:
            return "Photo";
        case ExifIfd::Gps:
            return "GPSInfo";
        case ExifIfd::Interop:
            return "Iop";
        case ExifIfd::Thumbnail:
            return "Thumbnail";
    }
    return "Image";
}

}  // namespace

std::uint32_t ExifPropertyId(ExifIfd ifd, std::uint16_t tag) {
    if (IsStructureTag(tag)) {
        return NoPropertyId;
    }
    if (ifd == ExifIfd::Thumbnail) {
        for (const ThumbnailTag& t : ThumbnailTags) {
            if (t.Tiff == tag) {
                return t.Id;
            }
        }
        return NoPropertyId;
    }
    ExifIfd home;
    if (HomeOf(tag, home) && home == ifd) {
        return tag;
    }
    return (static_cast<std::uint32_t>(ifd) << 16) | tag;
}

bool ExifTagOf(std::uint32_t id, ExifIfd& ifd, std::uint16_t& tag) {
    if (id >= 0x5012 && id <= 0x5091) {
        for (const ThumbnailTag& t : ThumbnailTags) {
            if (t.Id == id) {
                ifd = ExifIfd::Thumbnail;
                tag = t.Tiff;
                return true;
            }
        }
        return false;
    }
    const auto bare = static_cast<std::uint16_t>(id & 0xFFFF);
    const std::uint32_t code = id >> 16;
    ExifIfd place;
    if (code == 0) {
        if (!HomeOf(bare, place)) {
            return false;
        }
    } else if (code >= static_cast<std::uint32_t>(ExifIfd::Main) &&
               code <= static_cast<std::uint32_t>(ExifIfd::Interop)) {
        place = static_cast<ExifIfd>(code);
    } else {
        return false;
    }
    // Only the one id that names a place counts: 0x010110 is no second way to say 0x0110.
    if (ExifPropertyId(place, bare) != id) {
        return false;
    }
    ifd = place;
    tag = bare;
    return true;
}

std::string ExifTagName(std::uint32_t id) {
    if (id == PropertyTagThumbnailData) {
        return "ThumbnailImage";
    }
    ExifIfd ifd;
    std::uint16_t tag;
    // exiv2 names every number of a known group; should it not, or should its module be
    // missing, the number serves.
    std::string name;
    if (ExifTagOf(id, ifd, tag) && Exiv2().Loaded &&
        Exiv2().velora_exiv2_tag_name(tag, GroupName(ifd), &name)) {
        return name;
    }
    char text[16];
    std::snprintf(text, sizeof text, "0x%04X", static_cast<unsigned>(id));
    return text;
}

}  // namespace velora
