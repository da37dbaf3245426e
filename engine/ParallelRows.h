// Splits rows [0, rows) into contiguous ranges and runs `work(first, last)` on each, one range per
// thread, the calling thread taking the last range. When no thread can be started the calling
// thread does everything; the result never depends on how the rows were split.
#pragma once

#include <functional>

namespace velora {

// `threads` 0 means one per core. Small jobs stay on the calling thread.
void ForEachRowRange(int rows, unsigned threads, long long workPerRow,
                     const std::function<void(int first, int last)>& work);

}  // namespace velora
