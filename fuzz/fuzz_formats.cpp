// The TIFF, GIF, ICO, WebP, HEIF and camera-raw decoders with the colour and metadata work after
// them, for libFuzzer. An input goes the way a file would (known by its first bytes); its first
// byte also picks one of the decoders to read it as it is, so that mutated headers still reach a
// decoder. Any crash, leak, hang or sanitizer report is a finding.
#include <cstddef>
#include <cstdint>
#include <string>

#include "Codecs.h"
#include "FuzzBudget.h"
#include "ImageFile.h"

namespace {

using Decoder = void (*)(const std::uint8_t*, std::size_t, velora::DecodeOutcome&);
constexpr Decoder Decoders[] = {velora::DecodeTiff, velora::DecodeGif,  velora::DecodeIco,
                                velora::DecodeWebp, velora::DecodeHeif, velora::DecodeRaw};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    velora::LoadResult result = velora::LoadBitmapFromMemory(data, size, FuzzLoadOptions());
    if (result.Bitmap) {
        // Whatever was read must also be writable again, whole or with what does not fit named.
        velora::EncodedMetadata meta;
        std::string error;
        velora::BuildMetadata(*result.Bitmap, velora::MetadataTarget::Jpeg, meta, error);
        velora::BuildMetadata(*result.Bitmap, velora::MetadataTarget::Png, meta, error);
    }
    if (size > 0) {
        velora::DecodeOutcome out;
        out.Options = &FuzzLoadOptions();
        Decoders[data[0] % (sizeof Decoders / sizeof Decoders[0])](data, size, out);
        if (out.Bitmap) {
            velora::SettleColourProfile(out.Meta, out.Colour, out.Warnings);
            velora::ApplyMetadata(out.Meta, *out.Bitmap);
        }
    }
    return 0;
}
