// Pictures a band of rows at a time, for the save that never holds a whole picture: a reader of
// any picture file this layer opens, and the writer of a converted picture, which writes the
// very file SaveConvertedPicture writes for the same pixels. Paths are UTF-8.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "ImageFile.h"
#include "WorkingBitmap.h"

namespace velora {

// A picture file as rows of 24-bit pixels (blue, green, red), top to bottom. A JPEG is decoded as
// its rows are asked for (a file of several scans, a progressive one above all, keeps what libjpeg
// needs for them); other formats are decoded whole when opened and handed out from there.
class PictureRowReader {
  public:
    PictureRowReader();
    ~PictureRowReader();
    PictureRowReader(const PictureRowReader&) = delete;
    PictureRowReader& operator=(const PictureRowReader&) = delete;

    // How the rows come: streamed from a single-scan JPEG, from the coefficients libjpeg holds
    // for a JPEG of several scans, or from a picture decoded whole. Known from the moment
    // options.BeforeAllocation is called.
    enum class Source { Rows, Scans, Whole };
    // What to do when the file turns out damaged (missing or corrupt data): go on with the rows
    // a whole load fills in, or stop there and fail.
    enum class Damage { FillIn, Stop };

    // Opens the file and reads it as far as its first row, under the same size rule and with the
    // same hook before anything large is allocated as LoadBitmapFromFile(path, options). False
    // with Code() and Message() as LoadBitmapFromFile would report them.
    bool Open(const std::string& path, const LoadOptions& options = {},
              Damage damage = Damage::FillIn);
    Source From() const { return Kind; }

    int Width() const;
    int Height() const;

    // A one-pixel picture carrying the file's metadata as property items and extra metadata, as
    // LoadBitmapFromFile puts them on the whole picture: what the save reads from the
    // opened picture.
    const BitmapRef& Metadata() const { return Carrier; }

    // Up to `count` rows into `rows`, `stride` bytes apart; the number given, 0 at the end or
    // when the file fails (Code() then says so).
    int ReadRows(std::uint8_t* rows, std::int32_t stride, int count);
    int NextRow() const { return Next; }

    // Reads what follows the last row. False when the file failed anywhere (with Damage::Stop,
    // also when it is damaged).
    bool Finish();
    // After Finish: the metadata a whole load keeps differs from what Metadata() held when the
    // rows began (segments after the picture data, or a decoder that failed on the way and
    // forgot its tables). Metadata() now holds the whole load's; a result written from these
    // rows should be made again from the whole picture.
    bool MetadataGrew() const { return Grew; }

    // The file is damaged as LoadResult::Damaged says: the rows from the damage on are mid grey,
    // as a whole load fills them. Known for certain after Finish.
    bool Damaged() const { return IsDamaged; }
    const std::string& DamageReason() const { return DamageText; }

    Status Code() const { return FailureCode; }
    const std::string& Message() const { return FailureText; }
    std::vector<std::string> Warnings() const;

  private:
    struct OpenJpegFile;
    bool Fail(Status code, const std::string& message);
    bool OpenJpeg(std::unique_ptr<OpenJpegFile> jpeg, const LoadOptions& options);
    bool JpegDamageSeen();
    void SettleJpegMetadata(WorkingBitmap& carrier);

    std::unique_ptr<OpenJpegFile> JpegFile;  // a JPEG, decoded as its rows are asked for
    BitmapRef Whole;                         // every other format
    BitmapRef Carrier;
    int Next = 0;
    bool Grew = false;
    Source Kind = Source::Whole;
    Damage OnDamage = Damage::FillIn;
    bool IsDamaged = false;
    std::string DamageText;
    std::string Path;
    Status FailureCode = Status::Ok;
    std::string FailureText;
    std::vector<std::string> WholeWarnings;
    std::vector<std::string> ColourWarnings;  // the JPEG's, known once it is open
};

// Writes the converted picture as its rows arrive: as JPEG, exactly the file that
// SaveConvertedPicture writes (the metadata of the opened picture without the thumbnail and the
// quantisation tables, ", vlr3" after the camera model, quality 97), and as PNG likewise. The
// target appears whole at Commit, or not at all.
class ConvertedPictureWriter {
  public:
    enum class Format { Jpeg, Png };

    ConvertedPictureWriter();
    ~ConvertedPictureWriter();
    ConvertedPictureWriter(const ConvertedPictureWriter&) = delete;
    ConvertedPictureWriter& operator=(const ConvertedPictureWriter&) = delete;

    // `opened` gives the metadata (a PictureRowReader's Metadata() will do); its pixels are not
    // read. False with Message() when the file cannot be begun.
    bool Start(const std::string& path, WorkingBitmap& opened, int width, int height, Format format,
               ExistingTarget existing = ExistingTarget::Replace);
    // The next `count` rows, `stride` bytes apart.
    bool WriteRows(const std::uint8_t* rows, std::int32_t stride, int count);
    // After the last row: on the disk, under its name. With ExistingTarget::Keep a file found
    // there by then stays, and TargetExists() says so.
    bool Commit();

    const std::string& Message() const { return FailureText; }
    bool TargetExists() const { return Existing; }
    // After Commit: the metadata the file could not hold, by name; it was written without them.
    const std::vector<std::string>& LeftOut() const { return Dropped; }

  private:
    struct State;
    bool Fail(const std::string& message);

    std::unique_ptr<State> S;
    std::string FailureText;
    bool Existing = false;
    std::vector<std::string> Dropped;
};

}  // namespace velora
