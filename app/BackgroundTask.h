// BackgroundTask: one piece of work at a time on a thread of its own, whose outcome is handed to
// the user-interface thread. The work returns what is to be done there with its result; it must
// not touch a widget or anything the user-interface thread changes meanwhile.
#pragma once

#include <QObject>

#include <deque>
#include <functional>
#include <mutex>
#include <thread>

namespace velora {

class BackgroundTask : public QObject {
    Q_OBJECT
  public:
    using Finish = std::function<void()>;
    using Work = std::function<Finish()>;

    explicit BackgroundTask(QObject* parent = nullptr);
    ~BackgroundTask() override;  // waits for work under way; its outcome is dropped

    // Starts `work`; an earlier task is waited for first. The Finish it returns runs on the
    // user-interface thread; `failed` runs there instead when the work threw (out of memory).
    void Run(Work work, Finish failed);
    // From Run until its outcome has been handed over.
    bool IsBusy() const { return Busy; }
    // Waits for the thread; an outcome not yet handed over still comes through the event loop.
    void Wait();

  private:
    Q_INVOKABLE void Deliver();  // on the user-interface thread, once for each finished Run

    std::thread Thread;
    std::mutex OutcomesMutex;
    std::deque<Finish> Outcomes;  // finished work's outcomes, in order, not yet handed over
    bool Busy = false;            // user-interface thread only
};

}  // namespace velora
