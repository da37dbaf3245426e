#include "JobRunner.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace velora::batch {

void RunJobs(std::size_t count, unsigned workers, const std::atomic<int>& cancel,
             const std::function<void(std::size_t index, unsigned slot)>& job) {
    std::atomic<std::size_t> next{0};
    auto work = [&](unsigned slot) {
        while (cancel.load() == 0) {
            std::size_t index = next.fetch_add(1);
            if (index >= count) {
                return;
            }
            job(index, slot);
        }
    };
    workers = std::max(1u, workers);
    std::vector<std::thread> threads;
    threads.reserve(workers - 1);
    for (unsigned slot = 1; slot < workers; ++slot) {
        try {
            threads.emplace_back(work, slot);
        } catch (const std::system_error&) {
            break;  // fewer workers than asked for still finish every job
        }
    }
    work(0);
    for (std::thread& thread : threads) {
        thread.join();
    }
}

JobShares ShareCores(unsigned requested, std::size_t files, unsigned cores) {
    cores = std::max(1u, cores);
    // The jobs are the threads that convert: as many files at once, or, when there are fewer
    // files, the spare ones help convert a file (--jobs 1 is one thread, one file at a time).
    const unsigned jobs = requested == 0 ? cores : requested;
    unsigned workers = jobs;
    if (files < workers) {
        workers = static_cast<unsigned>(std::max<std::size_t>(1, files));
    }
    JobShares shares;
    shares.Workers = workers;
    shares.PassThreads = std::max(1u, std::min(jobs, cores) / workers);
    return shares;
}

}  // namespace velora::batch
