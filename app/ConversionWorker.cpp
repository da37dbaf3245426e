#include "ConversionWorker.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>
#include <utility>

#include "ConversionRoad.h"

namespace velora {

ConversionWorker::ConversionWorker(QObject* parent) : QObject(parent) {}

ConversionWorker::~ConversionWorker() {
    RequestCancel();
    JoinThread();
}

void ConversionWorker::Start(BitmapRef picture, const ConversionOptions& options) {
    StartRun(std::move(picture), options, false, Finisher());
}

void ConversionWorker::StartOnCopy(BitmapRef original, const ConversionOptions& options,
                                   Finisher finisher) {
    StartRun(std::move(original), options, true, std::move(finisher));
}

void ConversionWorker::StartRun(BitmapRef picture, const ConversionOptions& options, bool onCopy,
                                Finisher finisher) {
    // Misuse guard: a Start while an earlier run is still undelivered stops that run first. Its
    // remaining notes are dropped at delivery, so the caller sees one ending for its latest Start.
    if (Thread.joinable()) {
        RequestCancel();
        JoinThread();
    }
    const std::uint64_t run = ++StartedRuns;
    CancelRequested.store(0);
    EndingsOutstanding = 1;
    ThreadRun = run;
    if (!picture) {
        Post(Note{Note::Kind::Ending, 0, run, nullptr});
        return;
    }
    try {
        Thread = std::thread(&ConversionWorker::Run, this, std::move(picture), options, run, Pause,
                             onCopy, std::move(finisher));
    } catch (const std::system_error&) {
        // No thread to be had: nothing was converted, so the run ends as if cancelled.
        Post(Note{Note::Kind::Ending, 0, run, nullptr});
    }
}

void ConversionWorker::RequestCancel() {
    CancelRequested.store(1);
    LastCancelledRun = StartedRuns;
    {
        // Taking the pause mutex once orders this store against a worker that has just checked
        // the flag and is about to sleep, so the wake below cannot be missed.
        std::lock_guard<std::mutex> lock(PauseMutex);
    }
    PauseWake.notify_all();
}

bool ConversionWorker::IsRunning() const {
    return EndingsOutstanding > 0;
}

void ConversionWorker::Wait() {
    JoinThread();
}

void ConversionWorker::JoinThread() {
    if (Thread.joinable()) {
        Thread.join();
    }
}

void ConversionWorker::SetPauseMilliseconds(int milliseconds) {
    Pause = std::max(0, milliseconds);
}

void ConversionWorker::Run(BitmapRef picture, ConversionOptions options, std::uint64_t run,
                           int pauseMs, bool onCopy, Finisher finisher) {
    BitmapRef result;
    try {
        const int width = static_cast<int>(picture->Width());
        Post(Note{Note::Kind::Range, width, run, nullptr});
        if (onCopy) {
            picture = picture->Clone(0, 0, width, static_cast<int>(picture->Height()));
            if (!picture) {
                throw std::bad_alloc();
            }
        }
        RoadSteps steps;
        steps.Progress = [this, run](int column) {
            Post(Note{Note::Kind::Column, column, run, nullptr});
        };
        // The last columns and the final 0 show before the filter starts.
        steps.Sharpening = [this] { Flush(); };
        result = ConvertAndSharpen(std::move(picture), options, steps, CancelRequested).Picture;
        // The pause counts from the end of the filter: what the finisher does falls inside it.
        const auto filtered = std::chrono::steady_clock::now();
        if (result && finisher && CancelRequested.load() == 0) {
            finisher(result);
        }
        const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - filtered)
                               .count();
        if (result && !PauseUnlessCancelled(std::max(0, pauseMs - static_cast<int>(spent)))) {
            result.reset();
        }
    } catch (...) {
        // Out of memory somewhere in the pass: report no result rather than a half-made one.
        result.reset();
    }
    picture.reset();
    try {
        Post(Note{Note::Kind::Ending, 0, run, std::move(result)});
    } catch (...) {
        // The ending cannot be queued; the destructor or the next Start still joins this thread.
    }
}

bool ConversionWorker::PauseUnlessCancelled(int milliseconds) {
    std::unique_lock<std::mutex> lock(PauseMutex);
    const bool cancelled = PauseWake.wait_for(lock, std::chrono::milliseconds(milliseconds),
                                              [this] { return CancelRequested.load() != 0; });
    return !cancelled;
}

void ConversionWorker::Post(Note note) {
    const bool urgent = note.What != Note::Kind::Column;
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(MailboxMutex);
        Mailbox.push_back(std::move(note));
        wake = WakeDueLocked(urgent);
    }
    Wake(wake);
}

void ConversionWorker::Flush() {
    bool wake = false;
    {
        std::lock_guard<std::mutex> lock(MailboxMutex);
        wake = !Mailbox.empty() && WakeDueLocked(true);
    }
    Wake(wake);
}

bool ConversionWorker::WakeDueLocked(bool urgent) {
    // Waking the user-interface thread for every column costs a context switch each time, which
    // on a small machine steals a core from the pass. Columns are woken for at most every few
    // milliseconds; every note is still emitted on its own, in order.
    if (WakePending) {
        return false;
    }
    const auto now = std::chrono::steady_clock::now();
    if (!urgent && now - LastWake < ColumnWakeInterval) {
        return false;
    }
    WakePending = true;
    LastWake = now;
    return true;
}

void ConversionWorker::Wake(bool wake) {
    // The call carries no data: everything crosses the threads through the mailbox and its mutex.
    if (wake) {
        QMetaObject::invokeMethod(this, "DeliverNotes", Qt::QueuedConnection);
    }
}

void ConversionWorker::DeliverNotes() {
    {
        std::lock_guard<std::mutex> lock(MailboxMutex);
        WakePending = false;
        while (!Mailbox.empty()) {
            Delivering.push_back(std::move(Mailbox.front()));
            Mailbox.pop_front();
        }
    }
    // A receiver may delete this object or spin the event loop; the guard covers the first and
    // the member queue keeps the order for a nested delivery.
    QPointer<ConversionWorker> self(this);
    while (self && !Delivering.empty()) {
        Note note = std::move(Delivering.front());
        Delivering.pop_front();
        if (note.Run != StartedRuns) {
            continue;  // left over from a run that a later Start replaced
        }
        switch (note.What) {
            case Note::Kind::Range:
                emit ProgressRange(note.Value);
                break;
            case Note::Kind::Column:
                emit Progress(note.Value);
                break;
            case Note::Kind::Ending: {
                if (note.Run == ThreadRun) {
                    JoinThread();  // the ending is the thread's last act
                }
                EndingsOutstanding = 0;
                const bool touchedByCancel = LastCancelledRun >= note.Run;
                if (touchedByCancel || !note.Result) {
                    emit Cancelled();
                } else {
                    emit Completed(std::move(note.Result));
                }
                break;
            }
        }
    }
}

}  // namespace velora
