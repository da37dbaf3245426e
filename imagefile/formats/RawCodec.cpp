// Camera raws through LibRaw, into the same 8-bit picture every other format gives: the whole
// sensor picture, the camera's own white balance, sRGB primaries and tone curve, LibRaw's
// default demosaic (AHD) and automatic brightness, turned upright as the camera recorded. These
// are the settings of `dcraw_emu -w -o 1`, so a photographer can check a result against LibRaw's
// own tool. The metadata comes through exiv2 (Exiv2Module.h), which reads the raws' EXIF.

#include <algorithm>
#include <memory>

#include "Codecs.h"
#include "Exiv2Module.h"
#include "LibRawLibrary.h"

namespace velora {

namespace {

// Far above what a 250-megapixel sensor needs in LibRaw's largest single buffer (4 x 16 bits a
// pixel), so only files that ask for more than any camera are stopped here.
constexpr unsigned MaxLibRawAllocationMb = 2048;

// What LibRaw reports about broken data while it decodes; it never prints.
struct DataErrors {
    std::string First;
    static void Record(void* self, const char*, const int offset) {
        auto* errors = static_cast<DataErrors*>(self);
        if (errors->First.empty()) {
            errors->First = offset < 0
                                ? "the raw data ends early"
                                : "the raw data is corrupt near byte " + std::to_string(offset);
        }
    }
};

bool Fail(DecodeOutcome& out, Status code, const std::string& message) {
    out.Bitmap.reset();
    out.Code = code;
    out.Message = message;
    return false;
}

bool LibRawFailed(DecodeOutcome& out, int code, const DataErrors& errors, const char* step) {
    std::string message = std::string("the camera raw cannot be ") + step + ": ";
    message += code == LIBRAW_FILE_UNSUPPORTED ? "LibRaw does not know this camera or file kind"
                                               : LibRawLibrary().libraw_strerror(code);
    if (!errors.First.empty()) {
        message += " (" + errors.First + ")";
    }
    return Fail(out,
                code == LIBRAW_UNSUFFICIENT_MEMORY ? Status::OutOfMemory : Status::GenericError,
                message);
}

// A hostile file declares a sensor far larger than the data it holds; LibRaw would allocate for
// the declared size before noticing. Uncompressed data, read in one run from where it starts, is
// measured exactly. Compressed data needs at least one bit a pixel (every lossless code is a bit
// or more; lossy DNG aside) somewhere in the file: its start may be a list of tile offsets,
// which can lie after the tiles.
bool RawDataFits(libraw_data_t& raw, std::size_t fileSize, DecodeOutcome& out) {
    const libraw_image_sizes_t& sizes = raw.sizes;
    const unpacker_data_t& unpacker = LibRawUnpackerData(raw);
    const std::uint64_t pixels = static_cast<std::uint64_t>(sizes.raw_width) * sizes.raw_height;
    const std::string sensor =
        std::to_string(sizes.raw_width) + " x " + std::to_string(sizes.raw_height);
    if (pixels == 0 || sizes.width == 0 || sizes.height == 0) {
        return Fail(out, Status::GenericError, "the camera raw gives its sensor no size");
    }
    const std::uint64_t offset = unpacker.data_offset > 0 ? unpacker.data_offset : 0;
    if (offset >= fileSize) {
        return Fail(out, Status::GenericError, "the camera raw's data lies outside the file");
    }
    libraw_decoder_info_t decoder{};
    LibRawLibrary().libraw_get_decoder_info(&raw, &decoder);
    const bool flat = (decoder.decoder_flags & LIBRAW_DECODER_FLATDATA) != 0;
    const std::uint64_t bits = flat && unpacker.tiff_bps > 0 ? unpacker.tiff_bps : 1;
    const std::uint64_t samples = std::max(1u, flat ? unpacker.tiff_samples : 1u);
    const std::uint64_t available = flat ? fileSize - offset : fileSize;
    const bool lossy = unpacker.tiff_compress == 34892;
    if (!lossy && pixels * samples * bits > 8 * available) {
        return Fail(
            out, Status::GenericError,
            "the file is damaged: its raw data is too short for a sensor of " + sensor + " pixels");
    }
    return true;
}

// The picture LibRaw made, as blue, green, red rows of a new bitmap. The caller's hook ran before
// LibRaw's own allocations; this one is the picture's share of what it allowed.
bool TakePicture(const libraw_processed_image_t& image, DecodeOutcome& out) {
    // Monochrome sensors (no colour filter) give one channel.
    const unsigned colours = image.colors;
    if (image.type != LIBRAW_IMAGE_BITMAP || (colours != 3 && colours != 1) || image.bits != 8) {
        return Fail(out, Status::GenericError, "LibRaw made a picture of an unexpected kind");
    }
    const LoadOptions* asked = out.Options;
    LoadOptions noHook = asked ? *asked : LoadOptions{};
    noHook.BeforeAllocation = nullptr;
    out.Options = &noHook;
    std::int32_t stride = 0;
    std::uint8_t* rows = AllocateDecodeTarget(out, image.width, image.height, &stride);
    out.Options = asked;
    if (rows == nullptr) {
        return false;
    }
    const std::uint8_t* from = image.data;
    for (unsigned y = 0; y < image.height; ++y) {
        std::uint8_t* to = rows + static_cast<std::size_t>(y) * stride;
        for (unsigned x = 0; x < image.width; ++x, from += colours, to += 3) {
            to[0] = from[colours - 1];
            to[1] = from[colours / 2];
            to[2] = from[0];
        }
    }
    return true;
}

void ReadRawMetadata(const std::uint8_t* data, std::size_t size, RawMetadata& meta) {
    std::vector<std::uint8_t> exif;
    std::string xmp;
    bool icc = false;
    if (!Exiv2().velora_exiv2_raw_metadata(data, size, &exif, &xmp, &icc)) {
        // Metadata exiv2 cannot make sense of is left out; the picture still opens.
        return;
    }
    // The preview's own layout (size, strips, compression) stays behind with the rest of a TIFF
    // file's layout tags.
    meta.Exif = ExifFromTiff(exif.data(), exif.size());
    meta.Xmp = std::move(xmp);
    // A raw's profile describes its preview's rendering; the picture made here is sRGB.
    if (icc) {
        meta.Icc = SrgbProfile();
    }
}

bool Decode(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    const LibRawFunctions& lib = LibRawLibrary();
    if (!lib.Loaded) {
        return Fail(out, Status::GenericError,
                    std::string("camera raws cannot be read here: ") + LibRawLibraryName() +
                        " cannot be loaded");
    }
    if (!MetadataModuleReady(out, "camera raws")) {
        return false;
    }
    DataErrors errors;
    LibRawHandle raw = OpenLibRaw(LIBRAW_OPIONS_NO_MEMERR_CALLBACK);
    if (!raw) {
        return Fail(out, Status::OutOfMemory, "not enough memory for the camera raw");
    }
    lib.libraw_set_dataerror_handler(raw.get(), &DataErrors::Record, &errors);
    libraw_output_params_t& params = raw->params;
    params.use_camera_wb = 1;  // the white balance the photographer shot with
    params.output_color = 1;   // sRGB primaries
    params.output_bps = 8;     // with the sRGB tone curve
    params.max_raw_memory_mb = MaxLibRawAllocationMb;

    int code = lib.libraw_open_buffer(raw.get(), const_cast<std::uint8_t*>(data), size);
    if (code != LIBRAW_SUCCESS) {
        return LibRawFailed(out, code, errors, "read");
    }
    if (!RawDataFits(*raw, size, out)) {
        return false;
    }
    // The size of the upright picture LibRaw will make, under the same limits as any picture.
    unsigned width = raw->sizes.width;
    unsigned height = raw->sizes.height;
    if ((raw->sizes.flip & 4) != 0) {
        std::swap(width, height);
    }
    if (!DeclaredSizeAllowed(out, width, height)) {
        return false;
    }
    // LibRaw holds the sensor's samples (2 bytes a pixel) and its four-channel 16-bit picture.
    if (out.Options && out.Options->BeforeAllocation &&
        !out.Options->BeforeAllocation(width, height, 10ull * width * height)) {
        return Fail(out, Status::Aborted, "stopped before the picture was read");
    }
    if ((code = lib.libraw_unpack(raw.get())) != LIBRAW_SUCCESS) {
        return LibRawFailed(out, code, errors, "unpacked");
    }
    if ((code = lib.libraw_dcraw_process(raw.get())) != LIBRAW_SUCCESS) {
        return LibRawFailed(out, code, errors, "developed");
    }
    std::unique_ptr<libraw_processed_image_t, void (*)(libraw_processed_image_t*)> image(
        lib.libraw_dcraw_make_mem_image(raw.get(), &code), lib.libraw_dcraw_clear_mem);
    if (!image) {
        return LibRawFailed(out, code, errors, "developed");
    }
    // LibRaw's sensor buffers go before the picture's own memory is taken.
    raw.reset();
    if (!TakePicture(*image, out)) {
        return false;
    }
    if (!errors.First.empty()) {
        out.Warnings.push_back("LibRaw stepped over damaged raw data: " + errors.First);
    }
    out.Upright = true;
    return true;
}

}  // namespace

void DecodeRaw(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    try {
        if (Decode(data, size, out)) {
            ReadRawMetadata(data, size, out.Meta);
        }
    } catch (const std::bad_alloc&) {
        Fail(out, Status::OutOfMemory, "not enough memory for the camera raw");
    } catch (...) {
        Fail(out, Status::GenericError, "the camera raw cannot be read");
    }
}

}  // namespace velora
