// libpng, giflib and libwebp, opened with the first file of their format (or the first PNG
// saved) instead of loaded with the program: a run over JPEGs alone would pay for loading them,
// and zlib with libpng, on every start.
#pragma once

#include <gif_lib.h>
#include <png.h>
#include <webp/decode.h>
#include <webp/demux.h>

#include <string>

#include "SharedFunctions.h"

namespace velora {

struct DecodeOutcome;

#define VELORA_PNG_FUNCTIONS(X)   \
    X(png_create_info_struct)     \
    X(png_create_read_struct)     \
    X(png_create_write_struct)    \
    X(png_destroy_read_struct)    \
    X(png_destroy_write_struct)   \
    X(png_error)                  \
    X(png_get_IHDR)               \
    X(png_get_bit_depth)          \
    X(png_get_channels)           \
    X(png_get_eXIf_1)             \
    X(png_get_error_ptr)          \
    X(png_get_iCCP)               \
    X(png_get_io_ptr)             \
    X(png_get_rowbytes)           \
    X(png_get_text)               \
    X(png_init_io)                \
    X(png_longjmp)                \
    X(png_read_end)               \
    X(png_read_info)              \
    X(png_read_row)               \
    X(png_read_update_info)       \
    X(png_set_benign_errors)      \
    X(png_set_bgr)                \
    X(png_set_chunk_malloc_max)   \
    X(png_set_expand)             \
    X(png_set_IHDR)               \
    X(png_set_eXIf_1)             \
    X(png_set_gray_to_rgb)        \
    X(png_set_iCCP)               \
    X(png_set_interlace_handling) \
    X(png_set_longjmp_fn)         \
    X(png_set_read_fn)            \
    X(png_set_scale_16)           \
    X(png_set_text)               \
    X(png_set_user_limits)        \
    X(png_write_chunk)            \
    X(png_write_end)              \
    X(png_write_info)             \
    X(png_write_row)

#define VELORA_GIF_FUNCTIONS(X) \
    X(DGifCloseFile)            \
    X(DGifExtensionToGCB)       \
    X(DGifGetCode)              \
    X(DGifGetCodeNext)          \
    X(DGifGetExtension)         \
    X(DGifGetExtensionNext)     \
    X(DGifGetImageDesc)         \
    X(DGifGetLine)              \
    X(DGifGetRecordType)        \
    X(DGifOpen)                 \
    X(GifErrorString)

// The header's inline helpers (WebPGetFeatures, WebPDemuxPartial, WebPAnimDecoderNew and their
// kind) call the *Internal functions with the header's ABI version.
#define VELORA_WEBP_FUNCTIONS(X)          \
    X(WebPAnimDecoderDelete)              \
    X(WebPAnimDecoderGetInfo)             \
    X(WebPAnimDecoderGetNext)             \
    X(WebPAnimDecoderNewInternal)         \
    X(WebPAnimDecoderOptionsInitInternal) \
    X(WebPDemuxDelete)                    \
    X(WebPDemuxGetChunk)                  \
    X(WebPDemuxGetFrame)                  \
    X(WebPDemuxInternal)                  \
    X(WebPDemuxReleaseChunkIterator)      \
    X(WebPDemuxReleaseIterator)           \
    X(WebPGetFeaturesInternal)            \
    X(WebPIDecGetRGB)                     \
    X(WebPIDelete)                        \
    X(WebPINewRGB)                        \
    X(WebPIUpdate)

VELORA_LIBRARY_DECLARATION(PngFunctions, PngLib, VELORA_PNG_FUNCTIONS)
VELORA_LIBRARY_DECLARATION(GifFunctions, GifLib, VELORA_GIF_FUNCTIONS)
VELORA_LIBRARY_DECLARATION(WebpFunctions, WebpLib, VELORA_WEBP_FUNCTIONS)

// False, with `out` failed and saying that `pictures` cannot be read here for want of `library`,
// when `loaded` is false.
bool LibraryReady(bool loaded, const char* library, const char* pictures, DecodeOutcome& out);

}  // namespace velora
