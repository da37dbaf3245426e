#include "BackgroundTask.h"

#include <QMetaObject>

#include <system_error>
#include <utility>

namespace velora {

BackgroundTask::BackgroundTask(QObject* parent) : QObject(parent) {}

BackgroundTask::~BackgroundTask() {
    Wait();
}

void BackgroundTask::Wait() {
    if (Thread.joinable()) {
        Thread.join();
    }
}

void BackgroundTask::Run(Work work, Finish failed) {
    Wait();
    Busy = true;
    auto body = [this, work = std::move(work), failed]() mutable {
        Finish finish;
        try {
            finish = work();
        } catch (...) {
            finish = failed;
        }
        {
            std::lock_guard<std::mutex> lock(OutcomesMutex);
            Outcomes.push_back(std::move(finish));
        }
        // Posted by name to this object: dropped with it if it is destroyed first, which waits
        // for this thread. Nothing this thread allocated is read by the delivery before it has
        // joined the thread.
        QMetaObject::invokeMethod(this, "Deliver", Qt::QueuedConnection);
    };
    try {
        Thread = std::thread(body);
    } catch (const std::system_error&) {
        // No thread to be had: the work is done here rather than not at all.
        body();
    }
}

void BackgroundTask::Deliver() {
    Wait();
    Busy = false;
    Finish finish;
    {
        std::lock_guard<std::mutex> lock(OutcomesMutex);
        if (Outcomes.empty()) {
            return;
        }
        finish = std::move(Outcomes.front());
        Outcomes.pop_front();
    }
    if (finish) {
        finish();
    }
}

}  // namespace velora
