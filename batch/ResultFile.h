// What a written result takes from its original besides the picture and the metadata: with
// --preserve, its time.
#pragma once

#include <string>

#include "BatchOptions.h"

namespace velora::batch {

// With `preserve`, sets the modification time of the result at `output`: that of the original at
// `input`, or the time `taken` (EXIF "YYYY:MM:DD HH:MM:SS", local time). A warning in words when
// it could not be done, else "".
std::string FinishResult(const std::string& input, const std::string& output, PreserveTime preserve,
                         const std::string& taken);

// The seconds since 1970 of an EXIF time in local time, or false when `text` is none.
bool ParseExifTime(const std::string& text, long long& seconds);

}  // namespace velora::batch
