#include "PictureRows.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "Codecs.h"
#include "FileSystem.h"
#include "ImageFile.h"

namespace velora {

namespace {

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};
using FileHandle = std::unique_ptr<std::FILE, FileCloser>;

// The metadata after the picture's end, found from the file's end as the whole load finds it.
std::vector<std::uint8_t> TrailerOf(std::FILE* stream) {
    const ReadAt read = [stream](std::uint64_t at, std::size_t length, std::uint8_t* out) {
        return std::fseek(stream, static_cast<long>(at), SEEK_SET) == 0 &&
               std::fread(out, 1, length, stream) == length;
    };
    if (std::fseek(stream, 0, SEEK_END) != 0) {
        return {};
    }
    const long size = std::ftell(stream);
    try {
        return size > 0 ? FindMetadataTrailer(read, static_cast<std::uint64_t>(size))
                        : std::vector<std::uint8_t>{};
    } catch (const std::bad_alloc&) {
        return {};  // as the whole load: a trailer that cannot be held is left out
    }
}

}  // namespace

struct PictureRowReader::OpenJpegFile {
    FileHandle File;
    JpegBgrReader Reader;
    std::size_t MarkersAtStart = 0;
    std::vector<std::uint8_t> Trailer;
};

PictureRowReader::PictureRowReader() = default;
PictureRowReader::~PictureRowReader() = default;

bool PictureRowReader::Fail(Status code, const std::string& message) {
    FailureCode = code == Status::Ok ? Status::GenericError : code;
    FailureText = message;
    return false;
}

bool PictureRowReader::Open(const std::string& path, const LoadOptions& options, Damage damage) {
    OnDamage = damage;
    Path = path;
    std::FILE* stream = nullptr;
    std::string error;
    const ReadFileResult read = path.empty()
                                    ? ReadFileResult::NotFound
                                    : OpenFileForReading(path, MaxPictureFileBytes, &stream, error);
    if (read != ReadFileResult::Ok) {
        LoadResult result;
        DescribeFileFailure(read, error, result);
        return Fail(result.Code, result.Message);
    }
    auto jpeg = std::make_unique<OpenJpegFile>();
    jpeg->File.reset(stream);
    unsigned char magic[2] = {0, 0};
    const bool isJpeg =
        std::fread(magic, 1, 2, stream) == 2 && magic[0] == 0xFF && magic[1] == 0xD8;
    if (isJpeg) {
        jpeg->Trailer = TrailerOf(stream);
        std::rewind(stream);
        return OpenJpeg(std::move(jpeg), options);
    }
    // Formats without a row-wise decoder here are decoded whole.
    jpeg.reset();
    Kind = Source::Whole;
    LoadResult loaded = LoadBitmapFromFile(path, options);
    if (!loaded.Bitmap) {
        return Fail(loaded.Code, loaded.Message);
    }
    if (loaded.Damaged) {
        IsDamaged = true;
        DamageText = loaded.DamageReason;
        if (OnDamage == Damage::Stop) {
            return Fail(Status::GenericError, DamageText);
        }
    }
    Whole = std::move(loaded.Bitmap);
    WholeWarnings = std::move(loaded.Warnings);
    Carrier = Whole->Clone(0, 0, 1, 1);
    if (!Carrier) {
        return Fail(Status::OutOfMemory, "not enough memory for the picture");
    }
    return true;
}

bool PictureRowReader::OpenJpeg(std::unique_ptr<OpenJpegFile> jpeg, const LoadOptions& options) {
    // The same checks in the same order as the whole load, before libjpeg allocates anything
    // that grows with the picture.
    JpegBgrReader& reader = jpeg->Reader;
    LoadResult described;
    if (!reader.Open(jpeg->File.get())) {
        DescribeDecodeFailure(Status::GenericError, reader.Message(), described);
        return Fail(described.Code, described.Message);
    }
    const unsigned width = reader.Width();
    const unsigned height = reader.Height();
    std::string reason;
    if (!PictureSizeAllowed(width, height, options.SavedAs, reason)) {
        DescribeDecodeFailure(Status::ValueOverflow, reason, described);
        return Fail(described.Code, described.Message);
    }
    if (!reader.HoldsPicture()) {
        DescribeDecodeFailure(Status::GenericError,
                              "the file is damaged: its data is too short for a picture of " +
                                  std::to_string(width) + " x " + std::to_string(height) +
                                  " pixels",
                              described);
        return Fail(described.Code, described.Message);
    }
    Kind = reader.SingleScan() ? Source::Rows : Source::Scans;
    if (options.BeforeAllocation && !options.BeforeAllocation(width, height, 0)) {
        DescribeDecodeFailure(Status::Aborted, "stopped before the picture was read", described);
        return Fail(described.Code, described.Message);
    }
    if (!reader.Start()) {
        DescribeDecodeFailure(Status::GenericError, reader.Message(), described);
        return Fail(described.Code, described.Message);
    }
    Carrier = WorkingBitmap::CreateBlank(1, 1);
    if (!Carrier->HasImage()) {
        return Fail(Status::OutOfMemory, "not enough memory for the picture");
    }
    try {
        if (!reader.ColourWarning().empty()) {
            ColourWarnings.push_back(reader.ColourWarning());
        }
    } catch (const std::bad_alloc&) {
        return Fail(Status::OutOfMemory, "not enough memory for the picture");
    }
    jpeg->MarkersAtStart = reader.MarkerCount();
    JpegFile = std::move(jpeg);
    SettleJpegMetadata(*Carrier);
    return true;
}

void PictureRowReader::SettleJpegMetadata(WorkingBitmap& carrier) {
    // The profile settles as on the whole load: a grey one becomes its RGB likeness, one that
    // does not describe the rows is left out with a word (said once, however often this runs).
    RawMetadata meta = JpegFile->Reader.Metadata();
    meta.Trailer = JpegFile->Trailer;
    std::vector<std::string> said;
    try {
        SettleColourProfile(meta, JpegFile->Reader.Grey() ? SourceColour::Grey : SourceColour::Rgb,
                            said);
        for (std::string& word : said) {
            if (std::find(ColourWarnings.begin(), ColourWarnings.end(), word) ==
                ColourWarnings.end()) {
                ColourWarnings.push_back(std::move(word));
            }
        }
    } catch (const std::bad_alloc&) {
        // The warning is lost, never the picture.
    }
    ApplyMetadata(meta, carrier);
    KeepSourcePermissions(carrier, Path);
}

int PictureRowReader::Width() const {
    if (JpegFile) {
        return static_cast<int>(JpegFile->Reader.Width());
    }
    return Whole ? static_cast<int>(Whole->Width()) : 0;
}

int PictureRowReader::Height() const {
    if (JpegFile) {
        return static_cast<int>(JpegFile->Reader.Height());
    }
    return Whole ? static_cast<int>(Whole->Height()) : 0;
}

bool PictureRowReader::JpegDamageSeen() {
    JpegBgrReader& reader = JpegFile->Reader;
    if (!IsDamaged && (reader.Damaged() || reader.Failed())) {
        IsDamaged = true;
        DamageText = reader.Failed() ? reader.Message() : reader.DamageReason();
        if (DamageText.empty()) {
            DamageText = "the data ends before the picture does";
        }
    }
    return IsDamaged;
}

int PictureRowReader::ReadRows(std::uint8_t* rows, std::int32_t stride, int count) {
    if (FailureCode != Status::Ok) {
        return 0;
    }
    count = std::min(count, Height() - Next);
    if (count <= 0) {
        return 0;
    }
    if (JpegFile) {
        // Rows before the damage are whole: libjpeg counts a row only once it is out.
        const int before = static_cast<int>(JpegFile->Reader.NextRow());
        JpegFile->Reader.ReadRows(rows, stride, count);
        const int good = static_cast<int>(JpegFile->Reader.NextRow()) - before;
        if (JpegDamageSeen() && OnDamage == Damage::Stop) {
            Fail(Status::GenericError, DamageText);
            return 0;
        }
        if (good < count) {
            if (!IsDamaged) {
                IsDamaged = true;
                DamageText = "the data ends before the picture does";
            }
            // Missing rows are mid grey, as libjpeg fills missing data.
            for (int y = good; y < count; ++y) {
                std::memset(rows + static_cast<std::ptrdiff_t>(y) * stride, 0x80,
                            3 * static_cast<std::size_t>(Width()));
            }
        }
        Next += count;
        if (Next == Height()) {
            // The whole load takes the metadata of the segments known once the last row is out
            // (a decoder that failed has forgotten its tables); the result should match it.
            const bool failed = JpegFile->Reader.Failed();
            if (failed || JpegFile->Reader.MarkerCount() != JpegFile->MarkersAtStart) {
                Grew = true;
                BitmapRef carrier = WorkingBitmap::CreateBlank(1, 1);
                if (!carrier->HasImage()) {
                    Fail(Status::OutOfMemory, "not enough memory for the picture");
                    return 0;
                }
                SettleJpegMetadata(*carrier);
                Carrier = std::move(carrier);
            }
        }
        return count;
    }
    BitmapData data;
    const Rect band{0, Next, Width(), count};
    if (Whole->LockBits(band, ImageLockModeRead, PixelFormat24bppRGB, &data) != Status::Ok) {
        Fail(Status::GenericError, "the picture cannot be read");
        return 0;
    }
    for (int y = 0; y < count; ++y) {
        std::memcpy(rows + static_cast<std::ptrdiff_t>(y) * stride,
                    data.Scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride,
                    3 * static_cast<std::size_t>(Width()));
    }
    Whole->UnlockBits(&data);
    Next += count;
    return count;
}

bool PictureRowReader::Finish() {
    if (FailureCode != Status::Ok) {
        return false;
    }
    if (Next < Height()) {
        return Fail(Status::GenericError, "the picture was not read to its end");
    }
    // A damaged file's whole load ends with its rows: what follows them is never read.
    if (JpegFile && !IsDamaged && !JpegFile->Reader.Finish()) {
        JpegDamageSeen();
        if (OnDamage == Damage::Stop) {
            return Fail(Status::GenericError, DamageText);
        }
    }
    return true;
}

std::vector<std::string> PictureRowReader::Warnings() const {
    if (JpegFile) {
        // libjpeg's own first, as the whole load has them.
        std::vector<std::string> all = JpegFile->Reader.Warnings();
        all.insert(all.end(), ColourWarnings.begin(), ColourWarnings.end());
        return all;
    }
    return WholeWarnings;
}

struct ConvertedPictureWriter::State {
    Format Kind = Format::Jpeg;
    ExistingTarget Existing = ExistingTarget::Replace;
    int Width = 0;
    int Height = 0;
    int Written = 0;
    std::string Path;
    AtomicFile File;
    LibjpegWriter Jpeg;
    BitmapRef Collected;  // PNG: the rows gathered for the whole-picture encoder
};

ConvertedPictureWriter::ConvertedPictureWriter() = default;
ConvertedPictureWriter::~ConvertedPictureWriter() = default;

bool ConvertedPictureWriter::Fail(const std::string& message) {
    FailureText = message;
    S.reset();  // an unfinished file is removed
    return false;
}

bool ConvertedPictureWriter::Start(const std::string& path, WorkingBitmap& opened, int width,
                                   int height, Format format, ExistingTarget existing) {
    S = std::make_unique<State>();
    Dropped.clear();
    Existing = false;
    S->Kind = format;
    S->Existing = existing;
    S->Width = width;
    S->Height = height;
    S->Path = path;
    if (width <= 0 || height <= 0) {
        return Fail("there is no picture to save");
    }
    if (format == Format::Png) {
        S->Collected = WorkingBitmap::CreateBlank(width, height);
        if (!S->Collected->HasImage()) {
            return Fail("not enough memory for the picture");
        }
        PrepareConvertedMetadata(*S->Collected, opened);
        return true;
    }
    // The saved picture's metadata, made on a stand-in of one pixel exactly as the window's save
    // makes it on the whole picture.
    BitmapRef target = WorkingBitmap::CreateBlank(1, 1);
    if (!target->HasImage()) {
        return Fail("not enough memory for the picture");
    }
    PrepareConvertedMetadata(*target, opened);
    EncodedMetadata meta;
    std::string error;
    if (!BuildMetadata(*target, MetadataTarget::Jpeg, meta, error) ||
        !S->File.Open(path, error, target->GetExtraMetadata().SourcePermissions)) {
        return Fail(error);
    }
    Dropped = meta.LeftOut;
    if (!S->Jpeg.Start(S->File.Stream(), static_cast<unsigned>(width),
                       static_cast<unsigned>(height), 97, meta)) {
        return Fail(S->Jpeg.Message());
    }
    return true;
}

bool ConvertedPictureWriter::WriteRows(const std::uint8_t* rows, std::int32_t stride, int count) {
    if (!S) {
        return false;
    }
    if (count <= 0 || S->Written + count > S->Height) {
        return Fail("more rows than the picture has");
    }
    if (S->Kind == Format::Jpeg) {
        if (!S->Jpeg.WriteRows(rows, stride, count)) {
            return Fail(S->Jpeg.Message());
        }
    } else {
        BitmapData data;
        const Rect band{0, S->Written, S->Width, count};
        if (S->Collected->LockBits(band, ImageLockModeWrite, PixelFormat24bppRGB, &data) !=
            Status::Ok) {
            return Fail("the picture cannot be written");
        }
        for (int y = 0; y < count; ++y) {
            std::memcpy(data.Scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride,
                        rows + static_cast<std::ptrdiff_t>(y) * stride,
                        3 * static_cast<std::size_t>(S->Width));
        }
        S->Collected->UnlockBits(&data);
    }
    S->Written += count;
    return true;
}

bool ConvertedPictureWriter::Commit() {
    if (!S) {
        return false;
    }
    if (S->Written != S->Height) {
        return Fail("the picture is not complete");
    }
    if (S->Kind == Format::Png) {
        const SaveResult saved = SavePng(*S->Collected, S->Path, S->Existing);
        if (!saved.Ok) {
            Existing = saved.TargetExists;
            return Fail(saved.Message);
        }
        Dropped = saved.LeftOut;
        S.reset();
        return true;
    }
    std::string error;
    if (!S->Jpeg.Finish()) {
        return Fail(S->Jpeg.Message());
    }
    switch (S->File.Commit(S->Existing == ExistingTarget::Replace, error)) {
        case AtomicFile::CommitResult::Done:
            break;
        case AtomicFile::CommitResult::TargetExists:
            Existing = true;
            return Fail(error);
        case AtomicFile::CommitResult::Failed:
            return Fail(error);
    }
    S.reset();
    return true;
}

}  // namespace velora
