// Decoding plus metadata reading from memory, and the metadata's way back into EXIF, for
// libFuzzer. Any crash, leak, hang or sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Codecs.h"
#include "FuzzBudget.h"
#include "ImageFile.h"
#include "ImageProperties.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velora::LoadResult result = velora::LoadBitmapFromMemory(data, size, FuzzLoadOptions());
    if (!result.Bitmap) {
        return 0;
    }
    velora::ImageProperties properties(*result.Bitmap);
    std::string model;
    properties.GetText(velora::PropertyTagEquipModel, model);
    // Whatever was read must also be writable again, whole or with what does not fit named.
    velora::EncodedMetadata meta;
    std::string error;
    velora::BuildMetadata(*result.Bitmap, velora::MetadataTarget::Jpeg, meta, error);
    velora::BuildMetadata(*result.Bitmap, velora::MetadataTarget::Png, meta, error);
    return 0;
}
