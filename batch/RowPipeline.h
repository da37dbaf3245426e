// Moves one picture from its file through the row-wise road into its result, a band of rows at a
// time, so that no whole picture is ever held. On two threads the halves overlap: one decodes and
// converts, the other sharpens and encodes, handing bands over through a few buffers.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "ConversionRoad.h"
#include "PictureRows.h"

namespace velora::batch {

enum class PipelineOutcome { Done, Failed, Cancelled };

struct PipelineResult {
    PipelineOutcome Outcome = PipelineOutcome::Failed;
    bool ReaderFailed = false;  // the file could not be read to its end (else the result failed)
    std::string Message;
};

// Reads every row of `reader`, converts and sharpens it with `road` (already started for the
// picture's size) and writes it to `writer` (already started); `rowWritten` hears of every row
// written, on either thread. `cancel` is looked at between bands. Neither the reader nor the
// writer is finished here.
PipelineResult RunRowPipeline(PictureRowReader& reader, RowRoad& road,
                              ConvertedPictureWriter& writer, unsigned threads,
                              const std::atomic<int>& cancel,
                              const std::function<void()>& rowWritten);

}  // namespace velora::batch
