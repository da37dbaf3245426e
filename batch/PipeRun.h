// velora-batch in a pipe: one photo from a file or standard input ('-'), its result on standard
// output.
#pragma once

#include <atomic>
#include <string>

#include "Batch.h"
#include "BatchOptions.h"

namespace velora::batch {

// Converts `input` ("-": standard input) and writes the result to environment.Out. The result is
// made whole in a private folder first, so a failure leaves nothing half written on the output.
int RunPipe(const std::string& input, const BatchOptions& options,
            const BatchEnvironment& environment, const std::atomic<int>& cancel);

}  // namespace velora::batch
