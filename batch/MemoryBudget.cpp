#include "MemoryBudget.h"

#include <algorithm>
#include <chrono>

namespace velora::batch {

bool MemoryBudget::Acquire(std::uint64_t bytes, const std::atomic<int>& cancel) {
    std::unique_lock<std::mutex> lock(Mutex);
    const std::uint64_t ticket = NextTicket++;
    Waiting.push_back(ticket);
    // The cancel flag is set from a signal handler, which cannot notify: it is polled.
    while (Waiting.front() != ticket || (Held != 0 && bytes > Limit - std::min(Held, Limit))) {
        if (cancel.load() != 0) {
            break;
        }
        Freed.wait_for(lock, std::chrono::milliseconds(50));
    }
    Waiting.erase(std::find(Waiting.begin(), Waiting.end(), ticket));
    if (cancel.load() != 0) {
        lock.unlock();
        Freed.notify_all();
        return false;
    }
    Held += bytes;
    Highest = std::max(Highest, Held);
    lock.unlock();
    Freed.notify_all();  // the next in line may fit beside this one
    return true;
}

void MemoryBudget::Release(std::uint64_t bytes) {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Held -= std::min(bytes, Held);
    }
    Freed.notify_all();
}

std::uint64_t MemoryBudget::Peak() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return Highest;
}

std::size_t MemoryBudget::Waiters() const {
    std::lock_guard<std::mutex> lock(Mutex);
    return Waiting.size();
}

bool MemoryShare::Take(std::uint64_t bytes, const std::atomic<int>& cancel) {
    Return();
    if (Budget == nullptr) {
        return cancel.load() == 0;
    }
    if (!Budget->Acquire(bytes, cancel)) {
        return false;
    }
    Bytes = bytes;
    return true;
}

void MemoryShare::Return() {
    if (Budget != nullptr && Bytes != 0) {
        Budget->Release(Bytes);
    }
    Bytes = 0;
}

}  // namespace velora::batch
