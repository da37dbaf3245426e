// What one picture may take in a fuzz run, its rows and its decoder's own buffers together. A
// sound decoder asks before it allocates, so a run stays far below its memory limit
// (-rss_limit_mb=2048) whatever size an input declares; one that allocates without asking is
// a finding.
#pragma once

#include <cstdint>

#include "ImageFile.h"

inline const velora::LoadOptions& FuzzLoadOptions() {
    static const velora::LoadOptions options = [] {
        velora::LoadOptions o;
        o.BeforeAllocation = [](unsigned width, unsigned height, std::uint64_t library) {
            return 3 * std::uint64_t{width} * height + library <= (std::uint64_t{256} << 20);
        };
        return o;
    }();
    return options;
}
