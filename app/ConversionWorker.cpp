#include "ConversionWorker.h"

#include <QMetaObject>
#include <QPointer>

#include <algorithm>
#include <chrono>
#include <new>
#include <system_error>
#include <utility>

#include "ConvertAndSharpen.h"

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
    ProgressCalls.store(0);
    InPass = false;
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
    int calls = 0;
    bool passEnded = false;
    try {
        const int width = static_cast<int>(picture->Width());
        Post(Note{Note::Kind::Range, width, run, nullptr});
        if (onCopy) {
            picture = picture->Clone(0, 0, width, static_cast<int>(picture->Height()));
            if (!picture) {
                throw std::bad_alloc();
            }
        }
        ConversionCallbacks steps;
        steps.Progress = [this, &calls](int) { CountProgressCall(++calls); };
        // The last columns and the final 0 show before the filter starts.
        steps.Sharpening = [this, run, &calls, &passEnded] {
            passEnded = true;
            Post(Note{Note::Kind::PassEnd, calls, run, nullptr});
        };
        result = ConvertAndSharpen(std::move(picture), options, steps, CancelRequested).Picture;
        if (!passEnded) {
            passEnded = true;
            Post(Note{Note::Kind::PassEnd, calls, run, nullptr});
        }
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
    {
        std::lock_guard<std::mutex> lock(MailboxMutex);
        Mailbox.push_back(std::move(note));
    }
    Wake();
}

void ConversionWorker::CountProgressCall(int calls) {
    // A column costs the pass one store. Waking the user-interface thread for every column would
    // cost a context switch each time, which on a small machine steals a core from the pass: it
    // is woken every few milliseconds and then emits every column since, each on its own.
    ProgressCalls.store(calls, std::memory_order_release);
    const auto now = std::chrono::steady_clock::now();
    if (now - LastColumnWake >= ColumnWakeInterval) {
        LastColumnWake = now;
        Wake();
    }
}

void ConversionWorker::Wake() {
    // The call carries no data: everything crosses the threads through the mailbox and the count.
    if (!WakePending.exchange(true)) {
        QMetaObject::invokeMethod(this, "DeliverNotes", Qt::QueuedConnection);
    }
}

void ConversionWorker::EmitColumnsUpTo(int calls) {
    // Progress calls of a pass: one per column from the right, then one 0 when it ends.
    QPointer<ConversionWorker> self(this);
    while (self && InPass && EmittedCalls < calls) {
        const int column = PassWidth - 1 - EmittedCalls;
        ++EmittedCalls;
        emit Progress(column);
    }
}

void ConversionWorker::DeliverNotes() {
    // Cleared first: whatever the worker adds from here on wakes this thread again.
    WakePending.store(false);
    {
        std::lock_guard<std::mutex> lock(MailboxMutex);
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
                InPass = true;
                PassWidth = note.Value;
                EmittedCalls = 0;
                emit ProgressRange(note.Value);
                break;
            case Note::Kind::PassEnd:
                EmitColumnsUpTo(note.Value - 1);
                if (self && InPass) {
                    InPass = false;
                    emit Progress(0);
                }
                break;
            case Note::Kind::Ending: {
                InPass = false;
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
    // The pass under way: every column so far, but for the latest call, which may be the pass's
    // last (its 0), and is emitted by the next delivery or by the pass's end.
    if (self && InPass) {
        EmitColumnsUpTo(ProgressCalls.load(std::memory_order_acquire) - 1);
    }
}

}  // namespace velora
