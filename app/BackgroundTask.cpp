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
        // Posted to this object: dropped with it if it is destroyed first, which waits for this
        // thread, so the post itself never outlives the object.
        QMetaObject::invokeMethod(
            this,
            [this, finish = std::move(finish)] {
                Wait();
                Busy = false;
                if (finish) {
                    finish();
                }
            },
            Qt::QueuedConnection);
    };
    try {
        Thread = std::thread(body);
    } catch (const std::system_error&) {
        // No thread to be had: the work is done here rather than not at all.
        body();
    }
}

}  // namespace velora
