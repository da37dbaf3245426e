// Moves one picture from its file through the row-by-row conversion into its result, a band of rows
// at a time, so that no whole picture is ever held. On two threads the halves overlap: one decodes,
// the other encodes, handing bands over through a few buffers, and the conversion and the
// sharpening fall to whichever of the two is the lighter at the time.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "ConvertAndSharpen.h"
#include "PictureRows.h"

namespace velora::batch {

enum class PipelineOutcome { Done, Failed, Cancelled };

struct PipelineResult {
    PipelineOutcome Outcome = PipelineOutcome::Failed;
    bool ReaderFailed = false;  // the file could not be read to its end (else the result failed)
    std::string Message;
};

// Where the rows come from: a picture file's PictureRowReader, as its own calls say.
class RowSource {
  public:
    virtual ~RowSource() = default;
    virtual int Width() const = 0;
    virtual int Height() const = 0;
    virtual int NextRow() const = 0;
    virtual int ReadRows(std::uint8_t* rows, std::int32_t stride, int count) = 0;
    virtual std::string Message() const = 0;
    // The band that ReadRows filled at `rows` is no longer read, not even by the filter, and may
    // be filled again.
    virtual void BandReturned(const std::uint8_t* /*rows*/) {}
    // Called once, on the reading thread, as soon as the last row is read and unless cancelled:
    // what the file holds for its rows is freed there while the writing thread still works.
    // False when the file fails after all.
    virtual bool AllRowsRead() { return true; }
};

// Where the finished rows go: the result's ConvertedPictureWriter, as its own calls say.
class RowSink {
  public:
    virtual ~RowSink() = default;
    virtual bool WriteRows(const std::uint8_t* rows, std::int32_t stride, int count) = 0;
    virtual std::string Message() const = 0;
};

// Reads every row of `source`, converts and sharpens it with `conversion` (already started for the
// picture's size) and writes it to `sink`; `rowWritten` hears of every row written, on either
// thread. `cancel` is looked at between bands, in both halves. Whatever either half throws ends
// in a failure of this picture; no thread outlives the call.
PipelineResult RunRowPipeline(RowSource& source, RowConversion& conversion, RowSink& sink,
                              unsigned threads, const std::atomic<int>& cancel,
                              const std::function<void()>& rowWritten);

// The same for a file (reader and writer both started). The reader is finished here, as soon as
// its last row is read; a reader that fails then fails the picture. The writer is not committed.
PipelineResult RunRowPipeline(PictureRowReader& reader, RowConversion& conversion,
                              ConvertedPictureWriter& writer, unsigned threads,
                              const std::atomic<int>& cancel,
                              const std::function<void()>& rowWritten);

}  // namespace velora::batch
