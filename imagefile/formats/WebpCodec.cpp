// WebP over libwebp: lossy and lossless stills (decoded straight into the bitmap's rows, as far
// as the data goes), the first frame of an animation, and the EXIF, XMP and ICCP chunks.
// Transparency is laid over white, as for PNG.
#include <algorithm>
#include <cstring>
#include <memory>

#include "Codecs.h"
#include "ImageLibraries.h"

namespace velora {

namespace {

std::string StatusText(VP8StatusCode status) {
    switch (status) {
        case VP8_STATUS_OUT_OF_MEMORY:
            return "not enough memory";
        case VP8_STATUS_UNSUPPORTED_FEATURE:
            return "the WebP file uses a feature this program cannot read";
        case VP8_STATUS_NOT_ENOUGH_DATA:
            return "the WebP file ends before its picture does";
        default:
            return "the WebP data is damaged";
    }
}

void Fail(DecodeOutcome& out, const std::string& message, Status code = Status::GenericError) {
    out.Bitmap.reset();
    out.Code = code;
    out.Message = message;
}

void OverWhite(const std::uint8_t* bgra, std::uint8_t* bgr, std::uint32_t width) {
    for (std::uint32_t x = 0; x < width; ++x, bgra += 4, bgr += 3) {
        const unsigned a = bgra[3];
        for (int c = 0; c < 3; ++c) {
            bgr[c] = static_cast<std::uint8_t>((bgra[c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
}

struct DemuxDeleter {
    void operator()(WebPDemuxer* demux) const { WebpLib().WebPDemuxDelete(demux); }
};
struct IncrementalDeleter {
    void operator()(WebPIDecoder* decoder) const { WebpLib().WebPIDelete(decoder); }
};
struct AnimationDeleter {
    void operator()(WebPAnimDecoder* decoder) const { WebpLib().WebPAnimDecoderDelete(decoder); }
};

// A still picture, decoded as far as its data goes: a cut file keeps its first rows.
void DecodeStill(const std::uint8_t* data, std::size_t size, const WebPBitstreamFeatures& features,
                 DecodeOutcome& out) {
    const auto width = static_cast<std::uint32_t>(features.width);
    const auto height = static_cast<std::uint32_t>(features.height);
    // A lossless picture is decoded whole into libwebp's own ARGB pixels (4 bytes a pixel); a
    // lossy one keeps a few rows and its alpha plane (1). Pictures with alpha take a detour
    // through BGRA (4) to be laid over white, and their rows (3) are taken only once libwebp has
    // let go of its own: the larger of the two peaks counts.
    const std::uint64_t pixels = static_cast<std::uint64_t>(width) * height;
    const std::uint64_t ownBytes = features.format == 2 ? 4 : features.has_alpha ? 1 : 0;
    const std::uint64_t library =
        pixels * (features.has_alpha ? std::max<std::uint64_t>(ownBytes + 4, 4 + 3) - 3 : ownBytes);
    if (!ApproveDecodeTarget(out, width, height, library)) {
        return;
    }
    std::int32_t stride = 0;
    std::uint8_t* rows = nullptr;
    std::vector<std::uint8_t> bgra;
    if (features.has_alpha) {
        try {
            bgra.resize(4 * static_cast<std::size_t>(width) * height);
        } catch (...) {
            Fail(out, "not enough memory for the picture", Status::OutOfMemory);
            return;
        }
    } else if ((rows = AllocateDecodeTarget(out, width, height, &stride, true)) == nullptr) {
        return;
    }
    const std::size_t targetStride =
        features.has_alpha ? 4 * width : static_cast<std::size_t>(stride);
    std::uint8_t* target = features.has_alpha ? bgra.data() : rows;
    std::unique_ptr<WebPIDecoder, IncrementalDeleter> decoder(
        WebpLib().WebPINewRGB(features.has_alpha ? MODE_BGRA : MODE_BGR, target,
                              targetStride * height, static_cast<int>(targetStride)));
    if (!decoder) {
        Fail(out, "not enough memory", Status::OutOfMemory);
        return;
    }
    const VP8StatusCode status = WebpLib().WebPIUpdate(decoder.get(), data, size);
    int decoded = 0;
    WebpLib().WebPIDecGetRGB(decoder.get(), &decoded, nullptr, nullptr, nullptr);
    decoder.reset();
    if (status != VP8_STATUS_OK && (status != VP8_STATUS_SUSPENDED || decoded <= 0)) {
        Fail(out, StatusText(status == VP8_STATUS_SUSPENDED ? VP8_STATUS_NOT_ENOUGH_DATA : status));
        return;
    }
    if (features.has_alpha) {
        rows = AllocateDecodeTarget(out, width, height, &stride, true);
        if (rows == nullptr) {
            return;
        }
        for (std::uint32_t y = 0; y < height; ++y) {
            OverWhite(&bgra[4 * static_cast<std::size_t>(width) * y],
                      rows + static_cast<std::size_t>(y) * stride, width);
        }
    }
    if (status != VP8_STATUS_OK) {
        out.Damaged = true;
        out.DamageReason =
            "the WebP file ends early; rows from " + std::to_string(decoded) + " on are missing";
    }
}

// The first frame of an animation, on its canvas.
void DecodeFirstFrame(const WebPData& webp, const WebPBitstreamFeatures& features,
                      DecodeOutcome& out) {
    // The picture's memory, and the room the caller waits for, come before libwebp's canvases:
    // the one it shows and the one before, and a frame decoded whole.
    std::int32_t stride = 0;
    const std::uint64_t pixels =
        static_cast<std::uint64_t>(features.width) * static_cast<std::uint64_t>(features.height);
    if (!ApproveDecodeTarget(out, static_cast<std::uint64_t>(features.width),
                             static_cast<std::uint64_t>(features.height), 13 * pixels)) {
        return;
    }
    std::uint8_t* rows =
        AllocateDecodeTarget(out, static_cast<std::uint64_t>(features.width),
                             static_cast<std::uint64_t>(features.height), &stride, true);
    if (rows == nullptr) {
        return;
    }
    WebPAnimDecoderOptions options;
    if (!WebpLib().WebPAnimDecoderOptionsInitInternal(&options, WEBP_DEMUX_ABI_VERSION)) {
        Fail(out, "the WebP decoder cannot start");
        return;
    }
    options.color_mode = MODE_BGRA;
    options.use_threads = 0;
    std::unique_ptr<WebPAnimDecoder, AnimationDeleter> decoder(
        WebpLib().WebPAnimDecoderNewInternal(&webp, &options, WEBP_DEMUX_ABI_VERSION));
    WebPAnimInfo info;
    if (!decoder || !WebpLib().WebPAnimDecoderGetInfo(decoder.get(), &info) ||
        info.canvas_width != static_cast<std::uint32_t>(features.width) ||
        info.canvas_height != static_cast<std::uint32_t>(features.height)) {
        Fail(out, "the WebP animation cannot be read");
        return;
    }
    std::uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebpLib().WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) ||
        canvas == nullptr) {
        Fail(out, "the first frame of the WebP animation cannot be read");
        return;
    }
    for (std::uint32_t y = 0; y < info.canvas_height; ++y) {
        OverWhite(canvas + 4 * static_cast<std::size_t>(info.canvas_width) * y,
                  rows + static_cast<std::size_t>(y) * stride, info.canvas_width);
    }
}

void KeepChunks(const WebPData& webp, RawMetadata& meta) {
    WebPDemuxState state;
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(
        WebpLib().WebPDemuxInternal(&webp, 1, &state, WEBP_DEMUX_ABI_VERSION));
    if (!demux) {
        return;
    }
    WebPChunkIterator chunk;
    if (WebpLib().WebPDemuxGetChunk(demux.get(), "EXIF", 1, &chunk)) {
        const std::uint8_t* bytes = chunk.chunk.bytes;
        std::size_t length = chunk.chunk.size;
        // Some writers keep the JPEG segment's "Exif\0\0" in front of the TIFF structure.
        if (length >= 6 && std::memcmp(bytes, "Exif\0\0", 6) == 0) {
            bytes += 6;
            length -= 6;
        }
        meta.Exif.assign(bytes, bytes + length);
        DropLayoutTags(meta.Exif);
        WebpLib().WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (WebpLib().WebPDemuxGetChunk(demux.get(), "XMP ", 1, &chunk)) {
        meta.Xmp.assign(reinterpret_cast<const char*>(chunk.chunk.bytes), chunk.chunk.size);
        WebpLib().WebPDemuxReleaseChunkIterator(&chunk);
    }
    if (WebpLib().WebPDemuxGetChunk(demux.get(), "ICCP", 1, &chunk)) {
        meta.Icc.assign(chunk.chunk.bytes, chunk.chunk.bytes + chunk.chunk.size);
        WebpLib().WebPDemuxReleaseChunkIterator(&chunk);
    }
}

// An extended file declares its canvas apart from the picture's own bitstream; a still picture
// must fill it, or the canvas would be allocated for data the file does not hold.
bool StillFillsCanvas(const WebPData& webp, const WebPBitstreamFeatures& features,
                      DecodeOutcome& out) {
    WebPDemuxState state;
    std::unique_ptr<WebPDemuxer, DemuxDeleter> demux(
        WebpLib().WebPDemuxInternal(&webp, 1, &state, WEBP_DEMUX_ABI_VERSION));
    WebPIterator frame;
    if (!demux || !WebpLib().WebPDemuxGetFrame(demux.get(), 1, &frame)) {
        Fail(out, "the WebP file holds no picture data");
        return false;
    }
    const int width = frame.width;
    const int height = frame.height;
    WebpLib().WebPDemuxReleaseIterator(&frame);
    if (width != features.width || height != features.height) {
        Fail(out, "the file is damaged: its picture data is " + std::to_string(width) + " x " +
                      std::to_string(height) + " pixels, not the " +
                      std::to_string(features.width) + " x " + std::to_string(features.height) +
                      " it declares");
        return false;
    }
    return true;
}

}  // namespace

void DecodeWebp(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    if (!LibraryReady(WebpLib().Loaded, VELORA_WEBPDEMUX_LIBRARY, "WebP pictures", out)) {
        return;
    }
    WebPBitstreamFeatures features;
    const VP8StatusCode status =
        WebpLib().WebPGetFeaturesInternal(data, size, &features, WEBP_DECODER_ABI_VERSION);
    if (status != VP8_STATUS_OK) {
        Fail(out, StatusText(status));
        return;
    }
    // The canvas size is checked before libwebp allocates its own buffers for it.
    if (!DeclaredSizeAllowed(out, static_cast<std::uint64_t>(features.width),
                             static_cast<std::uint64_t>(features.height))) {
        return;
    }
    const WebPData webp{data, size};
    if (!features.has_animation && !StillFillsCanvas(webp, features, out)) {
        return;
    }
    if (features.has_animation) {
        DecodeFirstFrame(webp, features, out);
    } else {
        DecodeStill(data, size, features, out);
    }
    if (out.Bitmap) {
        KeepChunks(webp, out.Meta);
        NoteExifKeptWhole(out);
    }
}

}  // namespace velora
