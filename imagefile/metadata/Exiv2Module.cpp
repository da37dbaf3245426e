// The module velora-exiv2.so: the layer's uses of exiv2 behind the plain functions of
// Exiv2Module.h. Only this file includes exiv2's headers.
#include "Exiv2Module.h"

#include <exiv2/exiv2.hpp>

#include <new>

namespace {

// IFD0 tags that say how this file stores its pixels, or travel another way (the profile, XMP,
// and IPTC and Photoshop's resources as the APP13 segments of a JPEG file).
bool LayoutTag(std::uint16_t tag) {
    static const std::uint16_t tags[] = {
        0x00FE, 0x00FF, 0x0100, 0x0101, 0x0102, 0x0103, 0x0106, 0x0107, 0x0108, 0x0109, 0x010A,
        0x0111, 0x0115, 0x0116, 0x0117, 0x0118, 0x0119, 0x011C, 0x0120, 0x0121, 0x0122, 0x0123,
        0x0124, 0x0125, 0x0129, 0x012D, 0x013D, 0x0140, 0x0141, 0x0142, 0x0143, 0x0144, 0x0145,
        0x014A, 0x014C, 0x014D, 0x014E, 0x0150, 0x0152, 0x0153, 0x0154, 0x0155, 0x0156, 0x015B,
        0x0200, 0x0201, 0x0202, 0x0203, 0x0205, 0x0206, 0x0207, 0x0208, 0x0209, 0x0211, 0x0212,
        0x0214, 0x02BC, 0x83BB, 0x8649, 0x8769, 0x8773, 0x8825, 0xA005,
    };
    for (std::uint16_t t : tags) {
        if (t == tag) {
            return true;
        }
    }
    return false;
}

// The first page, its Exif, GPS and interoperability IFDs and the maker note. In a TIFF file the
// next IFD is the next page and sub-images are other pictures; in an EXIF block it holds the
// thumbnail, which stays.
bool KeptGroup(const std::string& group, bool wholeFile) {
    return group == "Image" || group == "Photo" || group == "GPSInfo" || group == "Iop" ||
           group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group) ||
           (!wholeFile && group == "Thumbnail");
}

// Tags of a raw's first directory that describe its sensor data for raw converters: the
// colour-filter pattern and the DNG tags (colour matrices, levels, private data). The picture
// that travels is already rendered; they would describe it wrongly.
bool SensorTag(std::uint16_t tag) {
    return tag == 0x828D || tag == 0x828E || (tag >= 0xC612 && tag <= 0xC7FF) ||
           (tag >= 0xCD00 && tag <= 0xCDFF);
}

bool TravellingGroup(const std::string& group) {
    return group == "Image" || group == "Photo" || group == "GPSInfo" || group == "Iop" ||
           group == "MakerNote" || Exiv2::ExifTags::isMakerGroup(group);
}

}  // namespace

extern "C" {

void velora_exiv2_start() {
    Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
    Exiv2::XmpParser::initialize();
#ifdef EXV_ENABLE_BMFF
    // exiv2 reads Canon's CR3 (an ISO media file) only when asked to.
    Exiv2::enableBMFF(true);
#endif
    // The tag tables are built here, once, rather than by the first of several threads.
    std::string name;
    velora_exiv2_tag_name(0x0110, "Image", &name);
}

bool velora_exiv2_tag_name(std::uint16_t tag, const char* group, std::string* name) {
    try {
        *name = Exiv2::ExifKey(tag, group).tagName();
        return true;
    } catch (...) {
        return false;
    }
}

void velora_exiv2_without_layout(const std::uint8_t* data, std::size_t size, bool wholeFile,
                                 bool* unchanged, std::vector<std::uint8_t>* out) {
    *unchanged = false;
    out->clear();
    try {
        Exiv2::ExifData all;
        const Exiv2::ByteOrder order =
            Exiv2::ExifParser::decode(all, data, static_cast<std::uint32_t>(size));
        if (order == Exiv2::invalidByteOrder) {
            return;
        }
        Exiv2::ExifData kept;
        for (const Exiv2::Exifdatum& datum : all) {
            const std::string group = datum.groupName();
            if (KeptGroup(group, wholeFile) && !(group == "Image" && LayoutTag(datum.tag()))) {
                kept.add(datum);
            }
        }
        if (!wholeFile && kept.count() == all.count()) {
            *unchanged = true;
            return;
        }
        if (kept.empty()) {
            return;
        }
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, order, kept);
        out->assign(blob.begin(), blob.end());
    } catch (...) {
        // Tags exiv2 cannot make sense of are left out; the picture still opens.
        out->clear();
    }
}

bool velora_exiv2_raw_metadata(const std::uint8_t* data, std::size_t size,
                               std::vector<std::uint8_t>* exif, std::string* xmp, bool* icc) {
    exif->clear();
    xmp->clear();
    *icc = false;
    try {
        const auto image = Exiv2::ImageFactory::open(data, static_cast<long>(size));
        image->readMetadata();
        Exiv2::ExifData kept;
        for (const Exiv2::Exifdatum& datum : image->exifData()) {
            const std::string group = datum.groupName();
            if (TravellingGroup(group) && !(group == "Image" && SensorTag(datum.tag()))) {
                kept.add(datum);
            }
        }
        if (!kept.empty()) {
            Exiv2::ByteOrder order = image->byteOrder();
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(
                blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order, kept);
            exif->assign(blob.begin(), blob.end());
        }
        *xmp = image->xmpPacket();
        *icc = image->iccProfileDefined();
        return true;
    } catch (...) {
        exif->clear();
        return false;
    }
}
}
