// What a written result takes from its original besides the picture: never more readers than the
// original has, and with --preserve its time.
#pragma once

#include <string>

#include "BatchOptions.h"

namespace velora::batch {

// Takes from the result at `output` every read permission that the original at `input` lacks,
// and with `preserve` sets its modification time: the original's, or the time `taken` (EXIF
// "YYYY:MM:DD HH:MM:SS", local time). A warning in words when something could not be done, else "".
std::string FinishResult(const std::string& input, const std::string& output, PreserveTime preserve,
                         const std::string& taken);

// The seconds since 1970 of an EXIF time in local time, or false when `text` is none.
bool ParseExifTime(const std::string& text, long long& seconds);

}  // namespace velora::batch
