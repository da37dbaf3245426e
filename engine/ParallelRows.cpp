#include "ParallelRows.h"

#include <algorithm>
#include <system_error>
#include <thread>
#include <vector>

namespace velora {

void ForEachRowRange(int rows, unsigned threads, long long workPerRow,
                     const std::function<void(int first, int last)>& work) {
    if (rows <= 0) {
        return;
    }
    if (threads == 0) {
        threads = std::max(1u, std::thread::hardware_concurrency());
    }
    // Starting a thread costs tens of microseconds; not worth it below about a megabyte of work.
    constexpr long long MinWorkPerThread = 1LL << 20;
    const long long total = static_cast<long long>(rows) * std::max(workPerRow, 1LL);
    threads = static_cast<unsigned>(std::min<long long>(
        {static_cast<long long>(threads), rows, std::max(1LL, total / MinWorkPerThread)}));

    std::vector<std::thread> helpers;
    int first = 0;
    for (unsigned i = 0; i + 1 < threads; ++i) {
        const int last = static_cast<int>(static_cast<long long>(rows) * (i + 1) / threads);
        try {
            helpers.emplace_back(work, first, last);
        } catch (const std::system_error&) {
            break;  // the calling thread takes the rest
        }
        first = last;
    }
    work(first, rows);
    for (std::thread& t : helpers) {
        t.join();
    }
}

}  // namespace velora
