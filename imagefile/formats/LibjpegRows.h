// JPEG a band of rows at a time, over libjpeg-turbo's own row interface: the whole-picture load and
// save go through these, and so does velora-batch's streamed save, which never holds a whole
// picture. The reader gives the components as stored (CMYK stays CMYK); JpegBgrReader builds on it.
//
// libjpeg reports fatal errors through error_exit, which jumps back to a setjmp in the method that
// made the call; those methods hold no object with a destructor, so the jump skips nothing. After
// a failure every further call fails at once and Message() says why.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace velora {

struct EncodedMetadata;
struct RawMetadata;

class LibjpegReader {
  public:
    LibjpegReader();
    ~LibjpegReader();
    LibjpegReader(const LibjpegReader&) = delete;
    LibjpegReader& operator=(const LibjpegReader&) = delete;

    // Reads the header from memory (which must outlive the reader) or from an open file, and
    // keeps of the APPn and COM segments what a saved file carries on (see JpegSegments). Nothing
    // large is allocated yet: the caller may refuse the declared size first.
    bool Open(const std::uint8_t* data, std::size_t size);
    bool Open(std::FILE* file);

    unsigned Width() const;
    unsigned Height() const;

    // Whether the data after the header is long enough for the declared size: a Huffman-coded
    // file spends at least one bit on every 8 x 8 block of every component, two in a sequential
    // scan. A file that cannot hold its picture is damaged or cut off, and Start refuses it, so
    // that a few bytes never claim gigabytes. Arithmetic coding has no such floor.
    bool HoldsPicture() const;

    // CMYK and YCCK files come out as CMYK, as stored (Adobe's encoders store them inverted and
    // say so with their APP14 segment); every other kind as blue, green, red.
    bool Cmyk() const;
    bool AdobeInverted() const;
    bool Grey() const;
    // One scan: the rows stream. Several (progressive above all): Start reads them all.
    bool SingleScan() const;
    int Components() const { return Cmyk() ? 4 : 3; }

    // Starts the output, with the slow integer transform. A file of several scans (progressive
    // above all) is read whole here, into the coefficients libjpeg keeps; a single-scan file
    // streams.
    bool Start();

    // Up to `count` rows of Components() bytes a pixel into `rows`, `stride` bytes apart; the
    // number given, 0 at the end or on failure. A single-scan file gives no further row once
    // Damaged(): its data is missing or corrupt from there on.
    int ReadRows(std::uint8_t* rows, std::int32_t stride, int count);
    unsigned NextRow() const;

    // The decoder met missing or corrupt data (the file ends early, a bad code, a scan that
    // makes no sense) before the last row was out: the picture is not what the file meant.
    // DamageReason() is libjpeg's text for the first such finding.
    bool Damaged() const;
    const std::string& DamageReason() const;

    // What the segments met so far carry on to a saved file, with the quantisation tables
    // (luminance, chrominance) when the file defines them, in natural order; and how many
    // segments were met.
    void Metadata(RawMetadata& meta) const;
    std::size_t SegmentCount() const;

    // Reads what follows the last row, up to the end of the file.
    bool Finish();

    bool Failed() const;
    const std::string& Message() const;
    // What libjpeg could step over (corrupt data, a file that ends early) and what the reader left
    // out (segments past their bounds), each text once.
    const std::vector<std::string>& Warnings() const;

    // Opaque outside the reader's own source.
    struct State;

  private:
    std::unique_ptr<State> S;
};

class LibjpegWriter {
  public:
    LibjpegWriter();
    ~LibjpegWriter();
    LibjpegWriter(const LibjpegWriter&) = delete;
    LibjpegWriter& operator=(const LibjpegWriter&) = delete;

    // Checks that `meta` fits JPEG segments, then writes the file's header with it: `quality`
    // (clamped to 1-100), 4:4:4 chroma, the slow integer transform, the JFIF header the opened
    // file had (none when it had none and there is EXIF). Rows are 24-bit, blue, green, red.
    bool Start(std::FILE* file, unsigned width, unsigned height, int quality,
               const EncodedMetadata& meta);
    bool WriteRows(const std::uint8_t* rows, std::int32_t stride, int count);
    unsigned NextRow() const;
    // After the last row: the end of the picture, then the metadata trailer if any. The stream
    // is left to its owner to flush.
    bool Finish();

    const std::string& Message() const;

  private:
    struct State;
    std::unique_ptr<State> S;
};

}  // namespace velora
