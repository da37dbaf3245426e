// Inside the picture layer: the decoders and encoders and the metadata they carry, before it
// becomes property items (on reading) and after it was built from them (on writing).
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "ColourProfiles.h"
#include "FileSystem.h"
#include "ImageFile.h"
#include "LibjpegRows.h"
#include "WorkingBitmap.h"

namespace velora {

// Metadata as found in a file.
struct RawMetadata {
    std::vector<std::uint8_t> Exif;  // the TIFF structure, without the "Exif\0\0" prefix
    std::vector<std::uint8_t> Icc;   // the whole profile, chunks joined
    std::string Xmp;
    std::vector<ExtraMetadata::Segment> Segments;  // other segments kept as they are
    JfifHeader Jfif;
    std::vector<std::uint8_t> Trailer;  // metadata after the picture's end, kept whole
    std::vector<ExtraMetadata::PngChunk> PngChunks;
    std::string PngProfileName;
    bool HaveQuant[2] = {false, false};
    std::uint16_t Quant[2][64] = {};  // luminance and chrominance tables, natural order
};

struct DecodeOutcome {
    BitmapRef Bitmap;
    Status Code = Status::Ok;
    std::string Message;
    std::vector<std::string> Warnings;
    RawMetadata Meta;
    // Grey pictures keep their tone curve through an RGB profile made from their grey one.
    SourceColour Colour = SourceColour::Rgb;
    // The decoder already turned the picture upright: the copy's Orientation becomes 1.
    bool Upright = false;
    // The bitmap holds only what could be read before missing or corrupt data; the rest is
    // filler. DamageReason says what the decoder met.
    bool Damaged = false;
    std::string DamageReason;
    // What the caller asked of the load: the size limit of the output it will be saved as, and
    // the hook that runs before the picture's memory is taken.
    const LoadOptions* Options = nullptr;
};

// A PNG text chunk: zTXt when compressed, iTXt when UTF-8, tEXt (Latin-1) otherwise.
struct PngText {
    std::string Key;
    std::string Text;
    bool Compressed = false;
    bool Utf8 = false;
};

// Metadata ready to be written.
struct EncodedMetadata {
    std::vector<std::uint8_t> Exif;  // TIFF structure without the "Exif\0\0" prefix; empty: none
    std::vector<std::uint8_t> Icc;
    std::string Xmp;
    std::vector<ExtraMetadata::Segment> Segments;
    JfifHeader Jfif;  // written when Present, or when there is no EXIF
    // Written after the picture's end, its own offsets counted as if it began the file.
    std::vector<std::uint8_t> Trailer;
    std::vector<PngText> Texts;                      // a PNG's other text chunks
    std::vector<ExtraMetadata::PngChunk> PngChunks;  // a PNG's chunks as they came
    std::string PngProfileName;
    // Names of what the file could not hold ("UserComment", "XMP"); it is written without them.
    std::vector<std::string> LeftOut;
};

// A JPEG read row by row as 24-bit blue, green, red whatever it stores (CMYK through its profile),
// with the metadata it carries: the whole-picture decoder reads through this, and so does the
// streamed save.
class JpegBgrReader {
  public:
    // From memory (which must outlive the reader) or an open file; false with Message().
    bool Open(const std::uint8_t* data, std::size_t size) { return Rows.Open(data, size); }
    bool Open(std::FILE* file) { return Rows.Open(file); }
    unsigned Width() const { return Rows.Width(); }
    unsigned Height() const { return Rows.Height(); }
    bool HoldsPicture() const { return Rows.HoldsPicture(); }
    bool Start();
    int ReadRows(std::uint8_t* rows, std::int32_t stride, int count);
    unsigned NextRow() const { return Rows.NextRow(); }
    bool Finish() { return Rows.Finish(); }

    // The metadata of the segments met so far. All of a file's segments are known once its
    // first row is out, except those a single-scan file has after its scan: MarkerCount() tells
    // whether more came.
    RawMetadata Metadata() const;
    std::size_t MarkerCount() const { return Rows.SegmentCount(); }

    // See LibjpegReader: once damaged, a single-scan file gives no further rows.
    bool Damaged() const { return Rows.Damaged(); }
    const std::string& DamageReason() const { return Rows.DamageReason(); }

    bool Failed() const { return Rows.Failed(); }
    const std::string& Message() const { return Rows.Message(); }
    const std::vector<std::string>& Warnings() const { return Rows.Warnings(); }
    // Said when a CMYK picture's colours could only be approximated.
    const std::string& ColourWarning() const { return Cmyk.Warning(); }
    bool Grey() const { return Rows.Grey(); }
    bool SingleScan() const { return Rows.SingleScan(); }

  private:
    LibjpegReader Rows;
    std::vector<std::uint8_t> CmykRow;
    CmykToRgb Cmyk;
};

// What the metadata is built for: a JPEG file holds its EXIF in one 64 KB segment.
enum class MetadataTarget { Jpeg, Png };

// Decoders fill `out` and never throw; on failure out.Bitmap stays empty and Code/Message say why.
void DecodeJpeg(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);
void DecodePng(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);
void DecodeBmp(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);
void DecodeTiff(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);
void DecodeGif(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);
void DecodeIco(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);
void DecodeWebp(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);
void DecodeHeif(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);
void DecodeRaw(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);

// A HEIF file's primary picture when it is a grid of tiles, as its boxes describe it.
struct HeifGrid {
    bool IsGrid = false;
    unsigned Rows = 0, Columns = 0;
    std::uint32_t Width = 0, Height = 0, TileWidth = 0, TileHeight = 0;
};
// False, with `problem` saying why, when the primary picture's coded data (or a tile's) would
// decode larger than its item declares, or it is a grid not made of as many distinct tiles, each
// with data of its own in the file, as it has cells, or its tiles do not make the size that the
// grid and the primary picture declare.
bool CheckHeifLayout(const std::uint8_t* data, std::size_t size, HeifGrid& grid,
                     std::string& problem);
// The size an hvcC or av1C configuration (`configType`, its payload) says the decoder makes.
bool HeifCodedSize(std::uint32_t configType, const std::uint8_t* config, std::size_t size,
                   std::uint32_t& width, std::uint32_t& height);

// Camera raws, known by content: a TIFF structure holding sensor data (whatever its first
// directory shows), Canon's CR3 among the ISO media files, and the other raws LibRaw knows.
bool IsTiffCameraRaw(const std::uint8_t* data, std::size_t size);
bool IsCanonCr3(const std::uint8_t* data, std::size_t size);
bool IsOtherCameraRaw(const std::uint8_t* data, std::size_t size);

// The EXIF structure of a TIFF file's first page: its descriptive tags with the Exif, GPS and
// interoperability IFDs and the maker note, without the tags that describe the file's own layout
// (strips, tiles, compression, samples). Empty when there is nothing or it cannot be read.
std::vector<std::uint8_t> ExifFromTiff(const std::uint8_t* data, std::size_t size);

// Rebuilds an EXIF block from a WebP or HEIF file without such layout tags, when it has any.
void DropLayoutTags(std::vector<std::uint8_t>& exif);
// Without the module that does that (Exiv2Module.h) the block travels as it came: a warning on
// `out` says so and what is missing.
void NoteExifKeptWhole(DecodeOutcome& out);

// The metadata trailers at the end of a JPEG file of `size` bytes, whole, when they follow a
// picture's end (FF D9) one after the other: AFCP's, FotoStation's, PhotoMechanic's and
// Samsung's, each known by its footer and the length it gives. The trailer comes back with its
// own offsets (AFCP counts them from the file's start) counted as if it began the file. Empty
// when there is none or it does not hold together; other data after a picture (a second picture
// of a multi-picture file) is not metadata and is not kept. `read` takes `length` bytes at `at`.
using ReadAt = std::function<bool(std::uint64_t at, std::size_t length, std::uint8_t* out)>;
std::vector<std::uint8_t> FindMetadataTrailer(const ReadAt& read, std::uint64_t size);
std::vector<std::uint8_t> FindMetadataTrailer(const std::uint8_t* data, std::size_t size);

// A trailer as found, its offsets moved for a file in which it begins at `at`.
std::vector<std::uint8_t> PlacedTrailer(const std::vector<std::uint8_t>& trailer, std::uint64_t at);

// The kinds of the trailers in `trailer` ("AFCP trailer"), in their order.
std::vector<std::string> TrailerKinds(const std::vector<std::uint8_t>& trailer);

// Encoders write the whole picture to `file`; false with the reason in `error` on failure.
bool EncodeJpeg(std::FILE* file, WorkingBitmap& bitmap, int quality, const EncodedMetadata& meta,
                std::string& error);
bool EncodePng(std::FILE* file, WorkingBitmap& bitmap, const EncodedMetadata& meta,
               std::string& error);

// Locks the whole picture for an encoder to read; false with a reason when it has none.
bool LockWholeForReading(WorkingBitmap& bitmap, BitmapData& data, std::string& error);

// Turns what a file carried into property items and extra metadata on `bitmap`. Damaged EXIF is
// left out; the rest still comes.
void ApplyMetadata(const RawMetadata& meta, WorkingBitmap& bitmap);

// Builds what the encoders write from property items and extra metadata alone, so that any
// save that writes the same picture's metadata writes the same bytes. False only when memory
// runs out; what does not fit the target is named in meta.LeftOut.
bool BuildMetadata(const std::vector<PropertyItem>& items, const ExtraMetadata& extra,
                   MetadataTarget target, EncodedMetadata& meta, std::string& error);
bool BuildMetadata(WorkingBitmap& bitmap, MetadataTarget target, EncodedMetadata& meta,
                   std::string& error);

// The metadata half of the save of a converted picture: the items of `opened` without the
// thumbnail and the quantisation tables copied onto `working`, ", vlr3" appended to the camera
// model, and what travels beside the items (XMP, kept segments, the opened EXIF block, JFIF's
// header, a trailer).
void PrepareConvertedMetadata(WorkingBitmap& working, WorkingBitmap& opened);

// Far above any real photograph's file, far below what would hurt to hold in memory.
constexpr std::uint64_t MaxPictureFileBytes = 1024ull * 1024 * 1024;

// The words of LoadBitmapFromFile for a file that cannot be read, and for a picture that cannot
// be decoded (`code` and `message` as the decoder gave them).
void DescribeFileFailure(ReadFileResult read, const std::string& error, LoadResult& result);
void DescribeDecodeFailure(Status code, const std::string& message, LoadResult& result);

// Notes the permission bits of the file `bitmap` was read from, for the files saved from it.
void KeepSourcePermissions(WorkingBitmap& bitmap, const std::string& path);

// Largest EXIF structure that fits one APP1 segment with its "Exif\0\0" prefix.
constexpr std::size_t MaxExifBytes = 65533 - 6;
// A JPEG numbers its ICC chunks in one byte, each chunk holding at most 65519 bytes of profile.
constexpr std::size_t MaxJpegIccBytes = 255 * 65519;

// Whether the module that reads TIFF and raw metadata (Exiv2Module.h) can be used; when it cannot,
// `out` fails saying that `pictures` cannot be read here and what is missing.
bool MetadataModuleReady(DecodeOutcome& out, const char* pictures);

// The size rule (PictureSizeAllowed) for the output out.Options names; on refusal `out` holds
// the reason. Every decoder asks this before it allocates anything that grows with the picture.
bool DeclaredSizeAllowed(DecodeOutcome& out, std::uint64_t width, std::uint64_t height);

// A new bitmap of the given size whose rows the decoder writes straight into. Refuses sizes over
// the limits, and runs the caller's BeforeAllocation, before allocating; on failure `out` holds
// the reason.
std::uint8_t* AllocateDecodeTarget(DecodeOutcome& out, std::uint64_t width, std::uint64_t height,
                                   std::int32_t* stride, bool approved = false);
// The refusals and the caller's hook of AllocateDecodeTarget alone, told the bytes the decoder's
// library holds beside the rows, for a decoder whose library allocates large buffers of its own
// or that must see its data decoded before it knows the picture is there; it then allocates
// `approved`.
bool ApproveDecodeTarget(DecodeOutcome& out, std::uint64_t width, std::uint64_t height,
                         std::uint64_t decoderBytes);

}  // namespace velora
