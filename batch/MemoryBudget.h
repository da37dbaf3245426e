// The memory that the pictures of all running jobs may take at once. A job asks for its share
// once it knows its picture's size and waits until that fits beside the others, instead of all
// jobs allocating at once and driving the machine into swap or the out-of-memory killer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>

namespace velora::batch {

class MemoryBudget {
  public:
    explicit MemoryBudget(std::uint64_t bytes) : Limit(bytes) {}
    MemoryBudget(const MemoryBudget&) = delete;
    MemoryBudget& operator=(const MemoryBudget&) = delete;

    // Waits until `bytes` fit beside what the others hold. Shares are granted in the order they
    // were asked for, so that a large one is not passed for ever by small ones asked for after
    // it. A share larger than the whole budget waits until nothing else is held and then runs
    // alone. false, holding nothing, when `cancel` is set while waiting.
    bool Acquire(std::uint64_t bytes, const std::atomic<int>& cancel);
    void Release(std::uint64_t bytes);

    std::uint64_t Size() const { return Limit; }
    // The most that was ever held at once.
    std::uint64_t Peak() const;
    // How many are waiting for their share now.
    std::size_t Waiters() const;

  private:
    const std::uint64_t Limit;
    mutable std::mutex Mutex;
    std::condition_variable Freed;
    std::uint64_t Held = 0;
    std::uint64_t Highest = 0;
    std::deque<std::uint64_t> Waiting;  // the tickets of those waiting, oldest first
    std::uint64_t NextTicket = 0;
};

// One job's share, given back when it ends.
class MemoryShare {
  public:
    explicit MemoryShare(MemoryBudget* budget) : Budget(budget) {}
    ~MemoryShare() { Return(); }
    MemoryShare(const MemoryShare&) = delete;
    MemoryShare& operator=(const MemoryShare&) = delete;

    // Takes `bytes` from the budget (a job without one takes nothing and never waits).
    bool Take(std::uint64_t bytes, const std::atomic<int>& cancel);
    void Return();

  private:
    MemoryBudget* Budget;
    std::uint64_t Bytes = 0;
};

}  // namespace velora::batch
