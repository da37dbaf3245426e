#include "ImageFile.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "Codecs.h"
#include "FileSystem.h"
#include "ImageProperties.h"

namespace velora {

namespace {

bool StartsWith(const std::uint8_t* data, std::size_t size, const char* magic, std::size_t length) {
    return size >= length && std::memcmp(data, magic, length) == 0;
}

using Decoder = void (*)(const std::uint8_t*, std::size_t, DecodeOutcome&);

// Pictures are known by their first bytes, whatever their names say.
Decoder DecoderFor(const std::uint8_t* data, std::size_t size) {
    if (StartsWith(data, size, "\xFF\xD8", 2)) {
        return DecodeJpeg;
    }
    if (StartsWith(data, size, "\x89PNG\r\n\x1A\n", 8)) {
        return DecodePng;
    }
    if (StartsWith(data, size, "BM", 2)) {
        return DecodeBmp;
    }
    if (StartsWith(data, size, "II*\0", 4) || StartsWith(data, size, "MM\0*", 4) ||
        StartsWith(data, size, "II+\0", 4) || StartsWith(data, size, "MM\0+", 4)) {
        return IsTiffCameraRaw(data, size) ? DecodeRaw : DecodeTiff;
    }
    if (StartsWith(data, size, "GIF87a", 6) || StartsWith(data, size, "GIF89a", 6)) {
        return DecodeGif;
    }
    if (size >= 12 && StartsWith(data, size, "RIFF", 4) && std::memcmp(data + 8, "WEBP", 4) == 0) {
        return DecodeWebp;
    }
    if (size >= 12 && std::memcmp(data + 4, "ftyp", 4) == 0) {
        return IsCanonCr3(data, size) ? DecodeRaw : DecodeHeif;
    }
    // Icons and cursors: reserved 0, type 1 or 2, at least one entry.
    if (size >= 6 && data[0] == 0 && data[1] == 0 && (data[2] == 1 || data[2] == 2) &&
        data[3] == 0 && (data[4] != 0 || data[5] != 0)) {
        return DecodeIco;
    }
    return IsOtherCameraRaw(data, size) ? DecodeRaw : nullptr;
}

// The decoder turned the picture as its Orientation said: a viewer must not turn it again.
void MarkUpright(WorkingBitmap& bitmap) {
    PropertyItem orientation;
    if (bitmap.GetPropertyItem(PropertyTagOrientation, &orientation) != Status::Ok) {
        return;
    }
    orientation.type = PropertyTagTypeShort;
    orientation.value =
        orientation.bigEndian ? std::vector<std::uint8_t>{0, 1} : std::vector<std::uint8_t>{1, 0};
    bitmap.SetPropertyItem(orientation);
}

SaveResult Failed(WorkingBitmap& bitmap, Status status, const std::string& message, SaveStep step,
                  int systemError = 0) {
    bitmap.RecordStatus(status);
    SaveResult result;
    result.Message = message;
    result.FailedStep = step;
    result.SystemError = systemError;
    return result;
}

template <typename Encode>
SaveResult WriteSafely(WorkingBitmap& bitmap, const std::string& path, ExistingTarget existing,
                       MetadataTarget target, Encode encode) {
    if (!bitmap.HasImage()) {
        return Failed(bitmap, Status::InvalidParameter, "there is no picture to save",
                      SaveStep::Picture);
    }
    EncodedMetadata meta;
    std::string error;
    if (!BuildMetadata(bitmap, target, meta, error)) {
        return Failed(bitmap, Status::GenericError, error, SaveStep::Picture);
    }
    AtomicFile file;
    if (!file.Open(path, error, bitmap.GetExtraMetadata().SourcePermissions)) {
        return Failed(bitmap, Status::AccessDenied, error, SaveStep::Folder, file.SystemError());
    }
    errno = 0;
    if (!encode(file.Stream(), meta, error)) {
        // An encoder stopped by a failed write (a full disk) is a writing failure like any other.
        const int code = std::ferror(file.Stream()) != 0 ? errno : 0;
        return Failed(bitmap, Status::Win32Error, error,
                      code != 0 ? SaveStep::Writing : SaveStep::Picture, code);
    }
    switch (file.Commit(existing == ExistingTarget::Replace, error)) {
        case AtomicFile::CommitResult::Done:
            break;
        case AtomicFile::CommitResult::TargetExists: {
            SaveResult result = Failed(bitmap, Status::AccessDenied, error, SaveStep::Writing);
            result.TargetExists = true;
            return result;
        }
        case AtomicFile::CommitResult::Failed:
            return Failed(bitmap, Status::Win32Error, error, SaveStep::Writing, file.SystemError());
    }
    SaveResult saved;
    saved.Ok = true;
    saved.LeftOut = std::move(meta.LeftOut);
    return saved;
}

}  // namespace

bool PictureSizeAllowed(std::uint64_t width, std::uint64_t height, SaveFormat savedAs,
                        std::string& reason) {
    const std::string size = std::to_string(width) + " x " + std::to_string(height) + " pixels";
    if (width == 0 || height == 0) {
        reason = "the picture has no pixels (" + size + ")";
        return false;
    }
    if (!WorkingBitmap::SizeAllowed(width, height)) {
        reason = "the picture is too large (" + size + ")";
        return false;
    }
    // libjpeg's own bound for a side of a JPEG file.
    constexpr std::uint64_t MaxJpegSide = 65500;
    if (savedAs == SaveFormat::Jpeg && (width > MaxJpegSide || height > MaxJpegSide)) {
        reason = "the picture is too large for a JPEG file (" + size +
                 "; a JPEG file holds at most 65500 pixels a side)";
        return false;
    }
    return true;
}

bool DeclaredSizeAllowed(DecodeOutcome& out, std::uint64_t width, std::uint64_t height) {
    const SaveFormat savedAs = out.Options ? out.Options->SavedAs : SaveFormat::Any;
    try {
        std::string reason;
        if (PictureSizeAllowed(width, height, savedAs, reason)) {
            return true;
        }
        out.Message = std::move(reason);
    } catch (...) {
    }
    out.Code = Status::ValueOverflow;
    return false;
}

bool ApproveDecodeTarget(DecodeOutcome& out, std::uint64_t width, std::uint64_t height,
                         std::uint64_t decoderBytes) {
    if (!DeclaredSizeAllowed(out, width, height)) {
        return false;
    }
    if (out.Options && out.Options->BeforeAllocation &&
        !out.Options->BeforeAllocation(static_cast<unsigned>(width), static_cast<unsigned>(height),
                                       decoderBytes)) {
        out.Code = Status::Aborted;
        out.Message = "stopped before the picture was read";
        return false;
    }
    return true;
}

std::uint8_t* AllocateDecodeTarget(DecodeOutcome& out, std::uint64_t width, std::uint64_t height,
                                   std::int32_t* stride, bool approved) {
    if (!approved && !ApproveDecodeTarget(out, width, height, 0)) {
        return nullptr;
    }
    BitmapRef bitmap =
        WorkingBitmap::CreateBlank(static_cast<int>(width), static_cast<int>(height));
    BitmapData rows;
    const Rect all{0, 0, static_cast<int>(width), static_cast<int>(height)};
    if (!bitmap->HasImage() ||
        bitmap->LockBits(all, ImageLockModeWrite, PixelFormat24bppRGB, &rows) != Status::Ok) {
        out.Code = Status::OutOfMemory;
        out.Message = "not enough memory for the picture";
        return nullptr;
    }
    // A direct lock hands out the rows themselves; nobody else knows this bitmap yet.
    bitmap->UnlockBits(&rows);
    *stride = rows.Stride;
    out.Bitmap = std::move(bitmap);
    return rows.Scan0;
}

void DescribeFileFailure(ReadFileResult read, const std::string& error, LoadResult& result) {
    switch (read) {
        case ReadFileResult::Ok:
            break;
        case ReadFileResult::NotFound:
            result.Code = Status::FileNotFound;
            result.Message = "the file does not exist";
            break;
        case ReadFileResult::TooLarge:
            result.Code = Status::ValueOverflow;
            result.Message = "the file is too large to be a picture this program reads";
            break;
        case ReadFileResult::Failed:
            result.Code = Status::AccessDenied;
            result.Message = error;
            break;
    }
}

LoadResult LoadBitmapFromFile(const std::string& path, const LoadOptions& options) {
    LoadResult result;
    std::vector<std::uint8_t> bytes;
    std::string error;
    const ReadFileResult read = path.empty()
                                    ? ReadFileResult::NotFound
                                    : ReadWholeFile(path, MaxPictureFileBytes, bytes, error);
    if (read != ReadFileResult::Ok) {
        DescribeFileFailure(read, error, result);
        return result;
    }
    result = LoadBitmapFromMemory(bytes.data(), bytes.size(), options);
    if (result.Bitmap) {
        KeepSourcePermissions(*result.Bitmap, path);
    }
    return result;
}

void KeepSourcePermissions(WorkingBitmap& bitmap, const std::string& path) {
    ExtraMetadata extra = bitmap.GetExtraMetadata();
    extra.SourcePermissions = PermissionBits(path);
    bitmap.SetExtraMetadata(std::move(extra));
}

void DescribeDecodeFailure(Status code, const std::string& message, LoadResult& result) {
    result.Code = code == Status::Ok ? Status::GenericError : code;
    result.Message = message.empty() ? "the picture cannot be decoded"
                                     : "the picture cannot be decoded: " + message;
}

LoadResult LoadBitmapFromMemory(const std::uint8_t* data, std::size_t size,
                                const LoadOptions& options) {
    LoadResult result;
    if (data == nullptr || size == 0) {
        result.Code = Status::UnknownImageFormat;
        result.Message = "the file is empty";
        return result;
    }
    const Decoder decode = DecoderFor(data, size);
    if (decode == nullptr) {
        result.Code = Status::UnknownImageFormat;
        result.Message = "the file is not a picture this program can read";
        return result;
    }
    DecodeOutcome out;
    out.Options = &options;
    decode(data, size, out);
    if (!out.Bitmap) {
        DescribeDecodeFailure(out.Code, out.Message, result);
        return result;
    }
    SettleColourProfile(out.Meta, out.Colour, out.Warnings);
    ApplyMetadata(out.Meta, *out.Bitmap);
    if (out.Upright) {
        MarkUpright(*out.Bitmap);
    }
    result.Bitmap = std::move(out.Bitmap);
    result.Warnings = std::move(out.Warnings);
    result.Damaged = out.Damaged;
    result.DamageReason = std::move(out.DamageReason);
    return result;
}

SaveResult SaveJpeg(WorkingBitmap& bitmap, const std::string& path, int quality,
                    ExistingTarget existing) {
    return WriteSafely(bitmap, path, existing, MetadataTarget::Jpeg,
                       [&](std::FILE* file, const EncodedMetadata& meta, std::string& error) {
                           return EncodeJpeg(file, bitmap, quality, meta, error);
                       });
}

SaveResult SavePng(WorkingBitmap& bitmap, const std::string& path, ExistingTarget existing) {
    return WriteSafely(bitmap, path, existing, MetadataTarget::Png,
                       [&](std::FILE* file, const EncodedMetadata& meta, std::string& error) {
                           return EncodePng(file, bitmap, meta, error);
                       });
}

void PrepareConvertedMetadata(WorkingBitmap& working, WorkingBitmap& opened) {
    ImageProperties source(opened);
    ImageProperties target(working);
    target.CopyFrom(source, nullptr, true);
    std::string model;
    target.GetText(PropertyTagEquipModel, model);
    model += ", vlr3";
    target.SetText(PropertyTagEquipModel, model);
    // The sharpened picture is a new bitmap: what travels beside the items comes from the
    // opened one, like the items.
    working.SetExtraMetadata(opened.GetExtraMetadata());
}

std::vector<std::string> LeftoverTemporaries(const std::string& folder) {
    std::vector<std::string> found;
    std::error_code error;
    const std::string prefix = TemporaryPrefix;
    for (std::filesystem::directory_iterator it(folder.empty() ? "." : folder, error), end;
         !error && it != end; it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() == prefix.size() + 6 && name.compare(0, prefix.size(), prefix) == 0 &&
            !TemporaryOwned(it->path().string())) {
            found.push_back(it->path().string());
        }
    }
    std::sort(found.begin(), found.end());
    return found;
}

SaveResult SaveConvertedPicture(WorkingBitmap& working, WorkingBitmap& opened,
                                const std::string& path, ExistingTarget existing,
                                PictureFormat format) {
    EncoderId encoder;
    FindEncoderByMimeType(format == PictureFormat::Jpeg ? u"image/jpeg" : u"image/png", &encoder);
    PrepareConvertedMetadata(working, opened);
    return format == PictureFormat::Jpeg ? SaveJpeg(working, path, 97, existing)
                                         : SavePng(working, path, existing);
}

std::string InsertVlrSuffix(const std::string& fileName) {
    const std::size_t dot = fileName.find('.');
    if (dot == std::string::npos) {
        return "_vlr" + fileName;
    }
    return fileName.substr(0, dot) + "_vlr" + fileName.substr(dot);
}

bool LockWholeForReading(WorkingBitmap& bitmap, BitmapData& data, std::string& error) {
    if (!bitmap.HasImage()) {
        error = "there is no picture to save";
        return false;
    }
    const Rect all{0, 0, static_cast<int>(bitmap.Width()), static_cast<int>(bitmap.Height())};
    if (bitmap.LockBits(all, ImageLockModeRead, PixelFormat24bppRGB, &data) != Status::Ok) {
        error = "the picture cannot be read";
        return false;
    }
    return true;
}

}  // namespace velora
