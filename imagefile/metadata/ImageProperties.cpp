#include "ImageProperties.h"

#include <cstring>

namespace velora {

void ImageProperties::CopyFrom(ImageProperties& source, const std::uint32_t* excluded,
                               bool skipThumbnail) {
    // A failure left on the source means its items cannot be trusted; reading it also clears it.
    if (source.Bitmap.GetLastStatus() != Status::Ok) {
        return;
    }
    const unsigned count = source.Bitmap.GetPropertyCount();
    if (count == 0) {
        return;
    }
    const std::vector<std::uint32_t> ids = source.Bitmap.GetPropertyIdList();
    if (ids.size() != count) {
        source.Bitmap.RecordStatus(Status::GenericError);
        return;
    }
    for (std::uint32_t id : ids) {
        if (skipThumbnail && id >= PropertyTagThumbnailFormat &&
            id <= PropertyTagChrominanceTable) {
            continue;
        }
        bool skip = false;
        for (const std::uint32_t* e = excluded; e != nullptr && *e != 0; ++e) {
            if (*e == id) {
                skip = true;
                break;
            }
        }
        if (skip) {
            continue;
        }
        std::unique_ptr<PropertyItem> item = source.GetItem(id);
        if (!item) {
            continue;
        }
        const Status status = Bitmap.SetPropertyItem(*item);
        if (status != Status::Ok) {
            Bitmap.RecordStatus(status);
        }
    }
}

std::unique_ptr<PropertyItem> ImageProperties::GetItem(std::uint32_t tag) {
    if (Bitmap.GetPropertyItemSize(tag) == 0) {
        return nullptr;
    }
    auto item = std::make_unique<PropertyItem>();
    if (Bitmap.GetPropertyItem(tag, item.get()) != Status::Ok) {
        return nullptr;
    }
    return item;
}

bool ImageProperties::GetText(std::uint32_t tag, std::string& text) {
    std::unique_ptr<PropertyItem> item = GetItem(tag);
    if (!item || item->type != PropertyTagTypeASCII) {
        return false;
    }
    const auto* begin = reinterpret_cast<const char*>(item->value.data());
    const std::size_t size = item->value.size();
    const void* nul = size == 0 ? nullptr : std::memchr(begin, '\0', size);
    text.assign(begin, nul != nullptr ? static_cast<const char*>(nul) - begin : size);
    return true;
}

bool ImageProperties::SetText(std::uint32_t tag, const std::string& text) {
    PropertyItem item;
    item.id = tag;
    item.type = PropertyTagTypeASCII;
    item.value.assign(text.begin(), text.end());
    item.value.push_back(0);
    const Status status = Bitmap.SetPropertyItem(item);
    if (status != Status::Ok) {
        Bitmap.RecordStatus(status);
        return false;
    }
    return true;
}

namespace {

struct Encoder {
    const char16_t* MimeType;
    EncoderId Id;
};

// The encoders this program has, in a fixed order; the identifiers are our own.
const Encoder Encoders[] = {
    {u"image/jpeg",
     {{0x76, 0x6C, 0x72, 0x33, 0x4A, 0x50, 0x45, 0x47, 0x9A, 0x51, 0x00, 0x01, 0x00, 0x00, 0x00,
       0x01}}},
    {u"image/png",
     {{0x76, 0x6C, 0x72, 0x33, 0x50, 0x4E, 0x47, 0x20, 0x9A, 0x51, 0x00, 0x01, 0x00, 0x00, 0x00,
       0x02}}},
};

}  // namespace

int FindEncoderByMimeType(const std::u16string& mimeType, EncoderId* clsid) {
    int position = 0;
    for (const Encoder& encoder : Encoders) {
        if (mimeType == encoder.MimeType) {
            if (clsid != nullptr) {
                *clsid = encoder.Id;
            }
            return position;
        }
        ++position;
    }
    return -1;
}

}  // namespace velora
