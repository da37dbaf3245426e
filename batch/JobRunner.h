// Runs numbered jobs on a fixed number of worker threads, in order of their numbers.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

namespace velora::batch {

// Calls job(index, slot) for every index below `count`, on `workers` threads (at least one);
// `slot` is the number of the worker (0 to workers - 1), stable for the job's duration. Once
// `cancel` is set no further job starts; running ones are left to notice it themselves. Returns
// when every started job has returned.
void RunJobs(std::size_t count, unsigned workers, const std::atomic<int>& cancel,
             const std::function<void(std::size_t index, unsigned slot)>& job);

// Files converted at once and the threads each file's conversion may use, for `requested` jobs (the
// threads that convert; 0: one per core), `files` files and `cores` cores.
struct JobShares {
    unsigned Workers = 1;
    unsigned PassThreads = 1;
};
JobShares ShareCores(unsigned requested, std::size_t files, unsigned cores);

}  // namespace velora::batch
