// PNG decoding and encoding over libpng. libpng's errors jump back to the setjmp in the one
// function that makes the libpng calls; that function holds no object with a destructor.
#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <new>

#include "CarriedMetadata.h"
#include "Codecs.h"
#include "ImageLibraries.h"
#include "PngMetadata.h"

namespace velora {

namespace {

constexpr std::size_t MaxWarningTexts = 8;

class PngSink {
  public:
    explicit PngSink(DecodeOutcome* out) : Out(out) {}

    bool SizeAllowed(png_uint_32 width, png_uint_32 height) {
        return DeclaredSizeAllowed(*Out, width, height);
    }

    bool Allocate(png_uint_32 width, png_uint_32 height, std::uint8_t** rows,
                  std::int32_t* stride) {
        *rows = AllocateDecodeTarget(*Out, width, height, stride);
        return *rows != nullptr;
    }

    void Warning(const char* text) {
        if (Out == nullptr) {
            return;
        }
        try {
            if (Out->Warnings.size() < MaxWarningTexts) {
                Out->Warnings.emplace_back(text);
            }
        } catch (...) {
        }
    }

    void Keep(std::vector<std::uint8_t>& target, const png_byte* data, png_uint_32 size) {
        try {
            target.assign(data, data + size);
        } catch (...) {
            target.clear();
        }
    }

    void KeepText(std::string& target, const char* text, std::size_t size) {
        try {
            target.assign(text, size);
        } catch (...) {
            target.clear();
        }
    }

    std::uint8_t* Scratch(std::size_t size) {
        try {
            Buffer.resize(size);
        } catch (...) {
            return nullptr;
        }
        return Buffer.data();
    }

    DecodeOutcome* Out;
    std::vector<std::uint8_t> Buffer;
};

// Transparency is laid over white, as a picture on a page: the working bitmap has no alpha.
// The samples are blended as stored, without a gamma conversion.
void OverWhite(const std::uint8_t* bgra, std::uint8_t* bgr, png_uint_32 width) {
    for (png_uint_32 x = 0; x < width; ++x, bgra += 4, bgr += 3) {
        const unsigned a = bgra[3];
        for (int c = 0; c < 3; ++c) {
            bgr[c] = static_cast<std::uint8_t>((bgra[c] * a + 255 * (255 - a) + 127) / 255);
        }
    }
}

struct PngContext {
    PngSink* Sink;
    char Message[200];
    const std::uint8_t* Data;
    std::size_t Size;
    std::size_t Position;
    // Set once the picture's rows exist, so that a failure after that keeps what was read.
    std::uint8_t* Rows = nullptr;
    // A file that ends where its end chunk should begin (or inside it) is read as if that chunk
    // were there: libpng then judges by the picture data alone whether anything is missing.
    std::size_t EndChunkAt = 0;
    bool EndChunkAdded = false;
};

constexpr std::uint8_t EndChunk[12] = {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82};

// Where the end chunk would begin when the file's chunks all end whole and the bytes after the
// last are the start of an end chunk (or nothing); 0 when the file has its end chunk or is cut
// inside another chunk.
std::size_t MissingEndChunkAt(const std::uint8_t* data, std::size_t size) {
    std::size_t at = 8;
    while (size > at && size - at >= 12) {
        const std::uint64_t length = (std::uint64_t{data[at]} << 24) | (data[at + 1] << 16) |
                                     (data[at + 2] << 8) | data[at + 3];
        if (std::memcmp(data + at + 4, "IEND", 4) == 0 || length > size - at - 12) {
            break;
        }
        at += 12 + static_cast<std::size_t>(length);
    }
    if (size <= at || size - at >= 12) {
        return size == at ? at : 0;
    }
    return std::memcmp(data + at, EndChunk, size - at) == 0 ? at : 0;
}

// Bytes of compressed picture data the file holds: the IDAT chunks' lengths, as far as the file
// has them.
std::uint64_t CompressedBytes(const std::uint8_t* data, std::size_t size) {
    std::uint64_t total = 0;
    std::size_t at = 8;  // after the signature
    while (size - at >= 8) {
        const std::uint64_t length = (std::uint64_t{data[at]} << 24) | (data[at + 1] << 16) |
                                     (data[at + 2] << 8) | data[at + 3];
        const bool idat = std::memcmp(data + at + 4, "IDAT", 4) == 0;
        const std::uint64_t present = std::min<std::uint64_t>(length, size - at - 8);
        if (idat) {
            total += present;
        }
        if (present < length || std::memcmp(data + at + 4, "IEND", 4) == 0) {
            break;
        }
        at += 8 + static_cast<std::size_t>(length);
        if (size - at < 4) {
            break;
        }
        at += 4;  // CRC
    }
    return total;
}

// Deflate turns at most 1032 bytes into one (a run of 258 coded in two bits, asymptotically), so
// a picture's filtered rows need at least this many compressed bytes.
std::uint64_t LeastCompressedBytes(png_size_t rowBytes, png_uint_32 height) {
    return (static_cast<std::uint64_t>(rowBytes) + 1) * height / 1032;
}

void OnPngError(png_structp png, png_const_charp message) {
    auto* context = static_cast<PngContext*>(PngLib().png_get_error_ptr(png));
    std::strncpy(context->Message, message, sizeof(context->Message) - 1);
    context->Message[sizeof(context->Message) - 1] = '\0';
    PngLib().png_longjmp(png, 1);
}

void OnPngWarning(png_structp png, png_const_charp message) {
    auto* context = static_cast<PngContext*>(PngLib().png_get_error_ptr(png));
    context->Sink->Warning(message);
}

void OnPngRead(png_structp png, png_bytep target, png_size_t length) {
    auto* context = static_cast<PngContext*>(PngLib().png_get_io_ptr(png));
    const std::size_t end = context->EndChunkAt;
    if (end != 0 && context->Position >= end) {
        if (length > sizeof EndChunk - (context->Position - end)) {
            PngLib().png_error(png, "the file ends before the picture does");
        }
        std::memcpy(target, EndChunk + (context->Position - end), length);
        context->Position += length;
        context->EndChunkAdded = true;
        return;
    }
    if (length > context->Size - context->Position) {
        PngLib().png_error(png, "the file ends before the picture does");
    }
    std::memcpy(target, context->Data + context->Position, length);
    context->Position += length;
}

void KeepMetadata(png_structp png, png_infop info, PngContext* context) {
    png_uint_32 exifLength = 0;
    png_bytep exif = nullptr;
    if (PngLib().png_get_eXIf_1(png, info, &exifLength, &exif) != 0 && exif != nullptr) {
        context->Sink->Keep(context->Sink->Out->Meta.Exif, exif, exifLength);
    }
    png_charp name = nullptr;
    int compression = 0;
    png_bytep profile = nullptr;
    png_uint_32 profileLength = 0;
    if (PngLib().png_get_iCCP(png, info, &name, &compression, &profile, &profileLength) != 0 &&
        profile != nullptr) {
        context->Sink->Keep(context->Sink->Out->Meta.Icc, profile, profileLength);
        context->Sink->KeepText(context->Sink->Out->Meta.PngProfileName, name, std::strlen(name));
    }
    png_textp texts = nullptr;
    const int textCount = PngLib().png_get_text(png, info, &texts, nullptr);
    try {
        KeepPngTexts(texts, textCount, context->Sink->Out->Meta);
    } catch (...) {
        // Texts that cannot be held are left out; the picture still comes.
    }
}

// Result: 0 decoded, 1 libpng gave up (context->Message), 2 refused by the sink, 3 no memory,
// 4 damaged: libpng gave up after the rows began, and the picture holds what was read.
int RunDecode(PngContext* context) {
    png_structp png =
        PngLib().png_create_read_struct(PNG_LIBPNG_VER_STRING, context, OnPngError, OnPngWarning);
    if (png == nullptr) {
        return 3;
    }
    png_infop info = PngLib().png_create_info_struct(png);
    if (info == nullptr) {
        PngLib().png_destroy_read_struct(&png, nullptr, nullptr);
        return 3;
    }
    if (setjmp((*PngLib().png_set_longjmp_fn(png, std::longjmp, sizeof(std::jmp_buf))))) {
        if (context->Rows == nullptr) {
            PngLib().png_destroy_read_struct(&png, &info, nullptr);
            return 1;
        }
        // The chunks before the picture data were read whole; theirs is kept.
        KeepMetadata(png, info, context);
        PngLib().png_destroy_read_struct(&png, &info, nullptr);
        return 4;
    }
    PngLib().png_set_read_fn(png, context, OnPngRead);
    PngLib().png_set_user_limits(png, WorkingBitmap::MaxSide, WorkingBitmap::MaxSide);
    PngLib().png_set_chunk_malloc_max(png, 32u * 1024 * 1024);
    PngLib().png_read_info(png, info);
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    int depth = 0;
    int colour = 0;
    PngLib().png_get_IHDR(png, info, &width, &height, &depth, &colour, nullptr, nullptr, nullptr);
    if (!context->Sink->SizeAllowed(width, height)) {
        PngLib().png_destroy_read_struct(&png, &info, nullptr);
        return 2;
    }
    // Judged before anything is allocated for the picture: a few bytes must not claim gigabytes.
    if (CompressedBytes(context->Data, context->Size) <
        LeastCompressedBytes(PngLib().png_get_rowbytes(png, info), height)) {
        PngLib().png_error(png, "the file is damaged: its picture data is too short for its size");
    }
    std::uint8_t* rows = nullptr;
    std::int32_t stride = 0;
    if (!context->Sink->Allocate(width, height, &rows, &stride)) {
        PngLib().png_destroy_read_struct(&png, &info, nullptr);
        return 2;
    }
    context->Rows = rows;
    PngLib().png_set_expand(png);
    // Samples are taken as stored: a gAMA chunk is not applied.
    PngLib().png_set_scale_16(png);
    if (colour == PNG_COLOR_TYPE_GRAY || colour == PNG_COLOR_TYPE_GRAY_ALPHA) {
        PngLib().png_set_gray_to_rgb(png);
        context->Sink->Out->Colour = SourceColour::Grey;
    }
    PngLib().png_set_bgr(png);
    const int passes = PngLib().png_set_interlace_handling(png);
    PngLib().png_read_update_info(png, info);
    const unsigned channels = PngLib().png_get_channels(png, info);
    const png_size_t rowBytes = PngLib().png_get_rowbytes(png, info);
    if ((channels != 3 && channels != 4) || PngLib().png_get_bit_depth(png, info) != 8 ||
        rowBytes != static_cast<png_size_t>(channels) * width) {
        context->Rows = nullptr;
        PngLib().png_error(png, "unexpected pixel layout");
    }
    const bool interlaced = passes > 1;
    std::uint8_t* scratch = nullptr;
    if (channels == 4) {
        // An interlaced picture needs all its rows at once before they can be laid over white.
        scratch = context->Sink->Scratch(interlaced ? rowBytes * height : rowBytes);
        if (scratch == nullptr) {
            context->Rows = nullptr;
            PngLib().png_error(png, "not enough memory");
        }
    }
    for (int pass = 0; pass < passes; ++pass) {
        for (png_uint_32 y = 0; y < height; ++y) {
            std::uint8_t* row = rows + static_cast<std::size_t>(y) * stride;
            if (channels == 3) {
                PngLib().png_read_row(png, row, nullptr);
            } else if (interlaced) {
                PngLib().png_read_row(png, scratch + rowBytes * y, nullptr);
            } else {
                PngLib().png_read_row(png, scratch, nullptr);
                OverWhite(scratch, row, width);
            }
        }
    }
    if (channels == 4 && interlaced) {
        for (png_uint_32 y = 0; y < height; ++y) {
            OverWhite(scratch + rowBytes * y, rows + static_cast<std::size_t>(y) * stride, width);
        }
    }
    PngLib().png_read_end(png, info);
    KeepMetadata(png, info, context);
    PngLib().png_destroy_read_struct(&png, &info, nullptr);
    return 0;
}

int RunEncode(std::FILE* file, const std::uint8_t* rows, std::int32_t stride, unsigned width,
              unsigned height, const EncodedMetadata* meta, png_text* texts, int textCount,
              PngContext* context) {
    png_structp png =
        PngLib().png_create_write_struct(PNG_LIBPNG_VER_STRING, context, OnPngError, OnPngWarning);
    if (png == nullptr) {
        return 3;
    }
    png_infop info = PngLib().png_create_info_struct(png);
    if (info == nullptr) {
        PngLib().png_destroy_write_struct(&png, nullptr);
        return 3;
    }
    if (setjmp((*PngLib().png_set_longjmp_fn(png, std::longjmp, sizeof(std::jmp_buf))))) {
        PngLib().png_destroy_write_struct(&png, &info);
        return 1;
    }
    PngLib().png_init_io(png, file);
    // A profile libpng does not like is dropped with a warning rather than failing the save.
    PngLib().png_set_benign_errors(png, 1);
    PngLib().png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                          PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!meta->Icc.empty()) {
        PngLib().png_set_iCCP(png, info, PngProfileKeyword(meta->PngProfileName),
                              PNG_COMPRESSION_TYPE_BASE, meta->Icc.data(),
                              static_cast<png_uint_32>(meta->Icc.size()));
    }
    if (!meta->Exif.empty()) {
        PngLib().png_set_eXIf_1(png, info, static_cast<png_uint_32>(meta->Exif.size()),
                                const_cast<png_bytep>(meta->Exif.data()));
    }
    if (textCount > 0) {
        PngLib().png_set_text(png, info, texts, textCount);
    }
    PngLib().png_write_info(png, info);
    for (const ExtraMetadata::PngChunk& chunk : meta->PngChunks) {
        PngLib().png_write_chunk(png, reinterpret_cast<png_const_bytep>(chunk.Type.c_str()),
                                 chunk.Data.data(), chunk.Data.size());
    }
    PngLib().png_set_bgr(png);
    for (unsigned y = 0; y < height; ++y) {
        PngLib().png_write_row(
            png, rows + static_cast<std::size_t>(y) * static_cast<std::size_t>(stride));
    }
    // Every chunk went out before the picture. Handing `info` over again would make this
    // libpng (1.6.39) write the eXIf chunk a second time.
    PngLib().png_write_end(png, nullptr);
    PngLib().png_destroy_write_struct(&png, &info);
    return 0;
}

}  // namespace

void DecodePng(const std::uint8_t* data, std::size_t size, DecodeOutcome& out) {
    if (!LibraryReady(PngLib().Loaded, VELORA_PNG_LIBRARY, "PNG pictures", out)) {
        return;
    }
    PngSink sink(&out);
    PngContext context{&sink, {}, data, size, 0};
    context.EndChunkAt = MissingEndChunkAt(data, size);
    const int result = RunDecode(&context);
    if (result == 0 || result == 4) {
        try {
            KeepPngChunks(data, size, out.Meta);
        } catch (const std::bad_alloc&) {
            out.Meta.PngChunks.clear();  // left out; the picture still comes
        }
    }
    if (result == 0 && context.EndChunkAdded) {
        sink.Warning("the file has no end chunk, but every row of it is there");
    }
    if (result == 4) {
        out.Damaged = true;
        try {
            out.DamageReason = context.Message;
        } catch (...) {
        }
        return;
    }
    if (result != 0) {
        out.Bitmap.reset();
        out.Meta = RawMetadata{};
    }
    if (result == 1) {
        out.Code = Status::GenericError;
        out.Message = context.Message;
    } else if (result == 3) {
        out.Code = Status::OutOfMemory;
        out.Message = "not enough memory";
    }
}

bool EncodePng(std::FILE* file, WorkingBitmap& bitmap, const EncodedMetadata& meta,
               std::string& error) {
    if (!PngLib().Loaded) {
        error = "PNG files cannot be written here: " VELORA_PNG_LIBRARY " cannot be loaded";
        return false;
    }
    BitmapData data;
    if (!LockWholeForReading(bitmap, data, error)) {
        return false;
    }
    const unsigned width = data.Width;
    const unsigned height = data.Height;
    std::vector<png_text> texts;
    try {
        texts = PngTextChunks(meta);
    } catch (const std::bad_alloc&) {
        bitmap.UnlockBits(&data);
        error = "not enough memory for the metadata";
        return false;
    }
    PngSink sink(nullptr);
    PngContext context{&sink, {}, nullptr, 0, 0};
    const int result = RunEncode(file, data.Scan0, data.Stride, width, height, &meta, texts.data(),
                                 static_cast<int>(texts.size()), &context);
    bitmap.UnlockBits(&data);
    if (result != 0) {
        error = std::string("the PNG encoder failed: ") +
                (result == 3 ? "not enough memory" : context.Message);
        return false;
    }
    return true;
}

}  // namespace velora
