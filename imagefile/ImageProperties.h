// ImageProperties: a view on the metadata property items of one WorkingBitmap. It does not own
// the bitmap.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "ExifTags.h"
#include "WorkingBitmap.h"

namespace velora {

constexpr std::uint32_t PropertyTagEquipModel = 0x0110;
constexpr std::uint32_t PropertyTagOrientation = 0x0112;
constexpr std::uint32_t PropertyTagThumbnailFormat = 0x5012;
constexpr std::uint32_t PropertyTagLuminanceTable = 0x5090;
constexpr std::uint32_t PropertyTagChrominanceTable = 0x5091;
constexpr std::uint32_t PropertyTagICCProfile = 0x8773;

class ImageProperties {
  public:
    explicit ImageProperties(WorkingBitmap& bitmap) : Bitmap(bitmap) {}
    virtual ~ImageProperties() = default;

    // Copies the source's items onto this bitmap; `excluded` is a 0-terminated list (or nullptr);
    // `skipThumbnail` leaves out 0x5012-0x5091.
    void CopyFrom(ImageProperties& source, const std::uint32_t* excluded, bool skipThumbnail);
    std::unique_ptr<PropertyItem> GetItem(std::uint32_t tag);
    bool GetText(std::uint32_t tag, std::string& text);
    bool SetText(std::uint32_t tag, const std::string& text);

  private:
    WorkingBitmap& Bitmap;
};

// Position of the encoder for `mimeType` in the list of encoders this program has, or -1;
// `clsid` receives its identifier.
struct EncoderId {
    std::uint8_t Bytes[16] = {};
};
int FindEncoderByMimeType(const std::u16string& mimeType, EncoderId* clsid);

}  // namespace velora
