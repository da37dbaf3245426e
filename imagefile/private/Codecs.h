// Inside the picture layer: the decoders and encoders and the metadata they carry, before it
// becomes property items (on reading) and after it was built from them (on writing).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ImageFile.h"
#include "WorkingBitmap.h"

namespace velora {

// Metadata as found in a file.
struct RawMetadata {
    std::vector<std::uint8_t> Exif;  // the TIFF structure, without the "Exif\0\0" prefix
    std::vector<std::uint8_t> Icc;   // the whole profile, chunks joined
    std::string Xmp;
    std::vector<ExtraMetadata::Segment> Segments;  // other segments kept as they are
    bool HaveQuant[2] = {false, false};
    std::uint16_t Quant[2][64] = {};  // luminance and chrominance tables, natural order
};

struct DecodeOutcome {
    BitmapRef Bitmap;
    Status Code = Status::Ok;
    std::string Message;
    std::vector<std::string> Warnings;
    RawMetadata Meta;
};

// Metadata ready to be written.
struct EncodedMetadata {
    std::vector<std::uint8_t> Exif;  // TIFF structure without the "Exif\0\0" prefix; empty: none
    std::vector<std::uint8_t> Icc;
    std::string Xmp;
    std::vector<ExtraMetadata::Segment> Segments;
};

// Decoders fill `out` and never throw; on failure out.Bitmap stays empty and Code/Message say why.
void DecodeJpeg(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);
void DecodePng(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);
void DecodeBmp(const std::uint8_t* data, std::size_t size, DecodeOutcome& out);

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

// Builds what the encoders write from the bitmap's property items and extra metadata.
bool BuildMetadata(WorkingBitmap& bitmap, EncodedMetadata& meta, std::string& error);

// Largest EXIF structure that fits one APP1 segment with its "Exif\0\0" prefix.
constexpr std::size_t MaxExifBytes = 65533 - 6;

// One-time, thread-safe start of the metadata library; every entry point calls it.
void InitializeMetadataLibrary();

// A new bitmap of the given size whose rows the decoder writes straight into. Refuses sizes over
// the limits before allocating; on failure `out` holds the reason.
std::uint8_t* AllocateDecodeTarget(DecodeOutcome& out, std::uint64_t width, std::uint64_t height,
                                   std::int32_t* stride);

}  // namespace velora
