// The hand-over between the row pipeline's two threads (RowPipeline.cpp).
#pragma once

#include <condition_variable>
#include <deque>
#include <mutex>

namespace velora::batch {

// Bands handed between the two threads: free ones to the first half, full ones to the second.
// One lock and at most one wake-up per band.
//
// The conversion and the filter go to whichever half is lighter at the moment. The first half
// converts a band while the second has full bands waiting (it is the busier one), on a converter
// of its own, so that neither ever waits for the other's; and when the second half holds every
// band, the first half puts the bands it handed over through the filter, oldest first and as far
// as they are converted, until a band is free again. The second half converts and filters
// whatever it takes undone. The filter, with the second half's converter, is one object: whoever
// uses it holds PreparerFree, and the first half never waits for it.
class HandOver {
  public:
    explicit HandOver(int count) {
        for (int i = 0; i < count; ++i) {
            Free.push_back(i);
        }
    }

    static constexpr int NoneFree = -2;
    // -1 when stopped; NoneFree when none is free and `wait` is false.
    int TakeFree(bool wait) {
        std::unique_lock<std::mutex> lock(Mutex);
        if (!wait && !Stopped && Free.empty()) {
            return NoneFree;
        }
        Changed.wait(lock, [&] { return Stopped || !Free.empty(); });
        if (Stopped) {
            return -1;
        }
        const int band = Free.front();
        Free.pop_front();
        return band;
    }
    void PutFree(int band) { Put(Free, band); }
    void PutFull(int band) { Put(Full, band); }
    bool SecondHalfBusy() {
        std::lock_guard<std::mutex> lock(Mutex);
        return !Full.empty();
    }

    std::mutex PreparerFree;
    // -1 once the first half is done and every full band taken, or when stopped.
    int TakeFull() {
        std::unique_lock<std::mutex> lock(Mutex);
        Changed.wait(lock, [&] { return Stopped || FirstHalfDone || !Full.empty(); });
        if (Stopped || Full.empty()) {
            return -1;
        }
        const int band = Full.front();
        Full.pop_front();
        return band;
    }
    void FinishFirstHalf() {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            FirstHalfDone = true;
        }
        Changed.notify_all();
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            Stopped = true;
        }
        Changed.notify_all();
    }

  private:
    void Put(std::deque<int>& queue, int band) {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            queue.push_back(band);
        }
        Changed.notify_all();
    }

    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<int> Free;
    std::deque<int> Full;
    bool FirstHalfDone = false;
    bool Stopped = false;
};

}  // namespace velora::batch
