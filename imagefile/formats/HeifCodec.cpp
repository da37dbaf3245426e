// HEIC and AVIF over libheif: the primary image, turned and cropped as the file says (so the
// copy's Orientation becomes 1), 10 and 12 bits rounded to 8, alpha laid over white. The Exif
// and XMP items and the colour profile become the picture's metadata.
#include <libheif/heif.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <memory>

#include "Codecs.h"
#include "SharedFunctions.h"

namespace velora {

namespace {

// libheif is opened with the first HEIF file, not with the program: loading it starts its
// decoders (some 25 million instructions, milliseconds of every run), which a run over JPEGs alone
// would pay for nothing.
#define VELORA_HEIF_FUNCTIONS(X)                        \
    X(heif_check_filetype)                              \
    X(heif_context_alloc)                               \
    X(heif_context_free)                                \
    X(heif_context_get_primary_image_handle)            \
    X(heif_context_read_from_memory_without_copy)       \
    X(heif_context_set_max_decoding_threads)            \
    X(heif_context_set_maximum_image_size_limit)        \
    X(heif_decode_image)                                \
    X(heif_decoding_options_alloc)                      \
    X(heif_decoding_options_free)                       \
    X(heif_image_get_bits_per_pixel_range)              \
    X(heif_image_get_height)                            \
    X(heif_image_get_plane_readonly)                    \
    X(heif_image_get_width)                             \
    X(heif_image_handle_get_color_profile_type)         \
    X(heif_image_handle_get_height)                     \
    X(heif_image_handle_get_list_of_metadata_block_IDs) \
    X(heif_image_handle_get_luma_bits_per_pixel)        \
    X(heif_image_handle_get_metadata)                   \
    X(heif_image_handle_get_metadata_content_type)      \
    X(heif_image_handle_get_metadata_size)              \
    X(heif_image_handle_get_metadata_type)              \
    X(heif_image_handle_get_nclx_color_profile)         \
    X(heif_image_handle_get_number_of_metadata_blocks)  \
    X(heif_image_handle_get_raw_color_profile)          \
    X(heif_image_handle_get_raw_color_profile_size)     \
    X(heif_image_handle_get_width)                      \
    X(heif_image_handle_has_alpha_channel)              \
    X(heif_image_handle_is_premultiplied_alpha)         \
    X(heif_image_handle_release)                        \
    X(heif_image_release)                               \
    X(heif_init)                                        \
    X(heif_nclx_color_profile_free)

struct HeifFunctions {
    VELORA_HEIF_FUNCTIONS(VELORA_FUNCTION_POINTER)
    bool Loaded = false;
};

const HeifFunctions& Heif() {
    static const HeifFunctions functions =
        LoadFunctions<HeifFunctions>(VELORA_HEIF_LIBRARY, [](void* library, HeifFunctions& f) {
            bool all = true;
            VELORA_HEIF_FUNCTIONS(VELORA_RESOLVE_FUNCTION)
            if (all) {
                f.heif_init(nullptr);
            }
            return all;
        });
    return functions;
}

struct ContextDeleter {
    void operator()(heif_context* context) const { Heif().heif_context_free(context); }
};
struct HandleDeleter {
    void operator()(heif_image_handle* handle) const { Heif().heif_image_handle_release(handle); }
};
struct ImageDeleter {
    void operator()(heif_image* image) const { Heif().heif_image_release(image); }
};
struct OptionsDeleter {
    void operator()(heif_decoding_options* options) const {
        Heif().heif_decoding_options_free(options);
    }
};
struct NclxDeleter {
    void operator()(heif_color_profile_nclx* nclx) const {
        Heif().heif_nclx_color_profile_free(nclx);
    }
};

void Fail(DecodeOutcome& out, const std::string& message, Status code = Status::GenericError) {
    out.Bitmap.reset();
    out.Code = code;
    out.Message = message;
}

std::string ErrorText(const heif_error& error) {
    std::string text = error.message != nullptr ? error.message : "";
    text.erase(text.find_last_not_of(" \n") + 1);
    return text.empty() ? "the HEIF data is damaged" : text;
}

Status StatusOf(const heif_error& error) {
    if (error.subcode == heif_suberror_Security_limit_exceeded) {
        return Status::ValueOverflow;
    }
    return error.code == heif_error_Memory_allocation_error ? Status::OutOfMemory
                                                            : Status::GenericError;
}

// An Exif item starts with the distance from its own fifth byte to the TIFF header.
void KeepExif(const std::vector<std::uint8_t>& item, RawMetadata& meta) {
    if (item.size() < 4) {
        return;
    }
    const std::uint64_t skip =
        4 + ((std::uint64_t{item[0]} << 24) | (item[1] << 16) | (item[2] << 8) | item[3]);
    if (skip < item.size()) {
        auto start = item.begin() + static_cast<std::ptrdiff_t>(skip);
        // Some writers count the offset to the JPEG segment's "Exif\0\0" instead.
        static const char prefix[] = "Exif\0";  // with the array's own NUL: six bytes
        if (item.end() - start >= 6 && std::equal(start, start + 6, prefix)) {
            start += 6;
        }
        meta.Exif.assign(start, item.end());
        DropLayoutTags(meta.Exif);
    }
}

void KeepMetadata(const heif_image_handle* handle, RawMetadata& meta) {
    const int count = Heif().heif_image_handle_get_number_of_metadata_blocks(handle, nullptr);
    std::vector<heif_item_id> ids(static_cast<std::size_t>(std::max(count, 0)));
    Heif().heif_image_handle_get_list_of_metadata_block_IDs(handle, nullptr, ids.data(), count);
    for (heif_item_id id : ids) {
        const std::string type = Heif().heif_image_handle_get_metadata_type(handle, id);
        const char* content = Heif().heif_image_handle_get_metadata_content_type(handle, id);
        const bool exif = type == "Exif" && meta.Exif.empty();
        const bool xmp = type == "mime" && content != nullptr &&
                         std::strcmp(content, "application/rdf+xml") == 0 && meta.Xmp.empty();
        if (!exif && !xmp) {
            continue;
        }
        std::vector<std::uint8_t> item(Heif().heif_image_handle_get_metadata_size(handle, id));
        if (item.empty() ||
            Heif().heif_image_handle_get_metadata(handle, id, item.data()).code != heif_error_Ok) {
            continue;
        }
        if (exif) {
            KeepExif(item, meta);
        } else {
            meta.Xmp.assign(item.begin(), item.end());
        }
    }
    const heif_color_profile_type profile = Heif().heif_image_handle_get_color_profile_type(handle);
    if (profile == heif_color_profile_type_prof || profile == heif_color_profile_type_rICC) {
        std::vector<std::uint8_t> icc(Heif().heif_image_handle_get_raw_color_profile_size(handle));
        if (!icc.empty() &&
            Heif().heif_image_handle_get_raw_color_profile(handle, icc.data()).code ==
                heif_error_Ok) {
            meta.Icc = std::move(icc);
        }
        return;
    }
    heif_color_profile_nclx* raw = nullptr;
    if (Heif().heif_image_handle_get_nclx_color_profile(handle, &raw).code != heif_error_Ok) {
        return;
    }
    std::unique_ptr<heif_color_profile_nclx, NclxDeleter> nclx(raw);
    // BT.709 primaries (or none said) are what viewers take for granted; others need a profile.
    if (nclx->color_primaries != heif_color_primaries_ITU_R_BT_709_5 &&
        nclx->color_primaries != heif_color_primaries_unspecified) {
        const double primaries[8] = {nclx->color_primary_red_x,   nclx->color_primary_red_y,
                                     nclx->color_primary_green_x, nclx->color_primary_green_y,
                                     nclx->color_primary_blue_x,  nclx->color_primary_blue_y,
                                     nclx->color_primary_white_x, nclx->color_primary_white_y};
        meta.Icc = RgbProfileFromPrimaries(primaries, nclx->transfer_characteristics);
    }
}

// Copies the decoded interleaved RGB(A) rows into the bitmap, rounding deeper samples to 8 bits
// and laying alpha over white.
void CopyRows(const std::uint8_t* plane, int planeStride, int bits, bool alpha, bool premultiplied,
              std::uint32_t width, std::uint32_t height, std::uint8_t* rows, std::int32_t stride) {
    const unsigned channels = alpha ? 4 : 3;
    const unsigned top = (1u << bits) - 1;
    for (std::uint32_t y = 0; y < height; ++y) {
        const std::uint8_t* in = plane + static_cast<std::size_t>(y) * planeStride;
        std::uint8_t* bgr = rows + static_cast<std::size_t>(y) * stride;
        for (std::uint32_t x = 0; x < width; ++x, bgr += 3) {
            unsigned v[4];
            for (unsigned c = 0; c < channels; ++c) {
                const std::size_t at = static_cast<std::size_t>(x) * channels + c;
                if (bits <= 8) {
                    v[c] = in[at];
                } else {
                    const unsigned word = in[2 * at] | (in[2 * at + 1] << 8);  // little-endian
                    v[c] = (std::min(word, top) * 255 + top / 2) / top;
                }
            }
            const unsigned a = alpha ? v[3] : 255;
            for (int c = 0; c < 3; ++c) {
                bgr[c] = static_cast<std::uint8_t>(
                    premultiplied ? std::min(255u, v[2 - c] + 255 - a)
                                  : (v[2 - c] * a + 255 * (255 - a) + 127) / 255);
            }
        }
    }
}

}  // namespace

void DecodeHeif(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    if (!Heif().Loaded) {
        Fail(out, std::string("HEIF pictures cannot be read here: ") + VELORA_HEIF_LIBRARY +
                      " cannot be loaded");
        return;
    }
    switch (
        Heif().heif_check_filetype(data, static_cast<int>(std::min<std::size_t>(size, INT_MAX)))) {
        case heif_filetype_no:
            Fail(out, "the file is a media file, but not a picture", Status::UnknownImageFormat);
            return;
        case heif_filetype_yes_unsupported:
            Fail(out, "the HEIF file holds a kind of picture this program cannot read");
            return;
        default:
            break;
    }
    std::unique_ptr<heif_context, ContextDeleter> context(Heif().heif_context_alloc());
    if (!context) {
        Fail(out, "not enough memory", Status::OutOfMemory);
        return;
    }
    Heif().heif_context_set_maximum_image_size_limit(context.get(), WorkingBitmap::MaxSide);
    // One picture is decoded on the caller's thread; velora-batch runs pictures side by side.
    Heif().heif_context_set_max_decoding_threads(context.get(), 0);
    heif_error error =
        Heif().heif_context_read_from_memory_without_copy(context.get(), data, size, nullptr);
    heif_image_handle* rawHandle = nullptr;
    if (error.code == heif_error_Ok) {
        error = Heif().heif_context_get_primary_image_handle(context.get(), &rawHandle);
    }
    if (error.code != heif_error_Ok) {
        Fail(out, ErrorText(error), StatusOf(error));
        return;
    }
    std::unique_ptr<heif_image_handle, HandleDeleter> handle(rawHandle);
    // libheif has read the boxes (and refused sizes past its limit) but allocates a grid's canvas
    // at the size the grid names, and a decoder at the size its coded data names, whatever the
    // file holds, so both are checked first.
    HeifGrid grid;
    std::string problem;
    if (!CheckHeifLayout(data, size, grid, problem)) {
        Fail(out, problem);
        return;
    }
    const int declaredWidth = Heif().heif_image_handle_get_width(handle.get());
    const int declaredHeight = Heif().heif_image_handle_get_height(handle.get());
    if (declaredWidth <= 0 || declaredHeight <= 0) {
        Fail(out, "the HEIF picture has no pixels");
        return;
    }
    // The limits, and the room the caller waits for, hold before libheif decodes anything; the
    // picture's own memory is taken only once the decoded data has shown that it fills the size
    // the file declares.
    const bool alpha = Heif().heif_image_handle_has_alpha_channel(handle.get()) != 0;
    const bool deep = Heif().heif_image_handle_get_luma_bits_per_pixel(handle.get()) > 8;
    // libheif holds the decoded planes and the interleaved picture made from them, and for a
    // grid the tile it is laying on the canvas: at most four samples each way, two bytes each
    // when deep.
    const std::uint64_t pixels =
        std::max(static_cast<std::uint64_t>(declaredWidth) * declaredHeight,
                 std::uint64_t{grid.Width} * grid.Height) +
        std::uint64_t{grid.TileWidth} * grid.TileHeight;
    if (!ApproveDecodeTarget(out, static_cast<std::uint64_t>(declaredWidth),
                             static_cast<std::uint64_t>(declaredHeight),
                             pixels * (deep ? 16 : 8))) {
        return;
    }
    const heif_chroma chroma =
        deep ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
             : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    std::unique_ptr<heif_decoding_options, OptionsDeleter> options(
        Heif().heif_decoding_options_alloc());
    heif_image* rawImage = nullptr;
    error = Heif().heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB, chroma,
                                     options.get());
    if (error.code != heif_error_Ok || rawImage == nullptr) {
        Fail(out, ErrorText(error), StatusOf(error));
        return;
    }
    std::unique_ptr<heif_image, ImageDeleter> image(rawImage);
    int planeStride = 0;
    const std::uint8_t* plane =
        Heif().heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &planeStride);
    const int width = Heif().heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = Heif().heif_image_get_height(image.get(), heif_channel_interleaved);
    const int bits =
        Heif().heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
    if (plane == nullptr || width != declaredWidth || height != declaredHeight || bits < 1 ||
        bits > 16 || (bits > 8) != deep) {
        Fail(out, "the file is damaged: its picture data does not fill the " +
                      std::to_string(declaredWidth) + " x " + std::to_string(declaredHeight) +
                      " pixels it declares");
        return;
    }
    std::int32_t stride = 0;
    std::uint8_t* rows = AllocateDecodeTarget(out, static_cast<std::uint64_t>(width),
                                              static_cast<std::uint64_t>(height), &stride, true);
    if (rows == nullptr) {
        return;
    }
    CopyRows(plane, planeStride, bits, alpha,
             alpha && Heif().heif_image_handle_is_premultiplied_alpha(handle.get()) != 0,
             static_cast<std::uint32_t>(width), static_cast<std::uint32_t>(height), rows, stride);
    out.Upright = true;
    KeepMetadata(handle.get(), out.Meta);
    NoteExifKeptWhole(out);
}

}  // namespace velora
