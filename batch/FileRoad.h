// The road of one photo through velora-batch, the same as the window's: open, convert in place,
// sharpen, save under the result's name with the opened file's metadata.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "BatchOptions.h"

namespace velora::batch {

enum class RoadStage { Loading, Converting, Sharpening, Saving };

// Told about the stages and, while converting, every column. May be called from the pass's own
// worker threads.
struct RoadObserver {
    std::function<void(RoadStage stage, int width)> Stage;
    std::function<void(int column)> Column;
};

enum class RoadOutcome {
    Done,
    Failed,
    Cancelled,
    Skipped,  // the result appeared while this one was made, and --overwrite was not given
};

struct RoadResult {
    RoadOutcome Outcome = RoadOutcome::Failed;
    std::string Message;                // why it failed
    std::vector<std::string> Warnings;  // damage that the decoder could recover from
};

// Takes the conversion, the format and the rules for existing results from `options`.
// `threads` is the pass's share of the cores (0: all). Nothing is written when `cancel` is set
// before the save starts; the save itself writes the result whole or not at all, and without
// --overwrite never replaces a file that is there by then.
RoadResult ConvertFile(const std::string& input, const std::string& output,
                       const BatchOptions& options, unsigned threads,
                       const std::atomic<int>& cancel, const RoadObserver& observer);

}  // namespace velora::batch
