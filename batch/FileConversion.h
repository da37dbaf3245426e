// One photo's conversion in velora-batch, the same as the window's: open, convert in place,
// sharpen, save under the result's name with the opened file's metadata.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "BatchOptions.h"
#include "MemoryBudget.h"
#include "PictureRows.h"

namespace velora::batch {

enum class FileStage { Loading, Converting, Sharpening, Saving };

// Told about the stages and, while converting, every column. May be called from the pass's own
// worker threads.
struct FileObserver {
    std::function<void(FileStage stage, int width)> Stage;
    std::function<void(int column)> Column;
};

enum class FileOutcome {
    Done,
    Failed,
    Cancelled,
    Skipped,        // the result appeared while this one was made, and --overwrite was not given
    EarlierResult,  // the input is itself a Velora result and --include-results was not given
};

struct FileResult {
    FileOutcome Outcome = FileOutcome::Failed;
    std::string Message;                // why it failed
    std::vector<std::string> Warnings;  // what the decoder stepped over or left out
    std::vector<std::string> LeftOut;   // metadata the saved file could not hold, by name
    std::string Taken;                  // the input's EXIF DateTimeOriginal, when it has one
};

// Whether the picture's metadata marks it as made by Velora: its camera model ends in ", vlr3".
bool MadeByVelora(WorkingBitmap& metadata);

// The memory one file's conversion takes at its peak, for a picture of `width` x `height` read from
// a file of `fileBytes`: the file, the decoded picture and the sharpened one (3 bytes a pixel
// each), and the coefficients a progressive JPEG keeps while it is read (up to 6 bytes a pixel).
std::uint64_t WholePictureMemory(unsigned width, unsigned height, std::uint64_t fileBytes);

// The same for the conversion that streams rows: a few hundred rows and the colour caches, plus the
// coefficients of a JPEG of several scans, or the picture and its file where the format is
// decoded whole; and the picture once more for a PNG result, whose encoder takes it whole.
std::uint64_t StreamedMemory(unsigned width, unsigned height, std::uint64_t fileBytes,
                             PictureRowReader::Source source, OutputFormat format);

// Takes the conversion, the format and the rules for existing results and damaged inputs from
// `options`. A picture too large for the output format is refused as soon as its size is known;
// a damaged input fails unless options.AllowDamaged. `threads` is the pass's share of the cores
// (0: all). With a `budget`, the conversion waits for its share of it before the picture's memory
// is taken. Nothing is written when `cancel` is set before the save starts; the save itself writes
// the result whole or not at all, and without --overwrite never replaces a file that is there by
// then.
FileResult ConvertFile(const std::string& input, const std::string& output,
                       const BatchOptions& options, unsigned threads,
                       const std::atomic<int>& cancel, const FileObserver& observer,
                       MemoryBudget* budget = nullptr);

}  // namespace velora::batch
