// ConversionWorker: runs one conversion of a picture on its own thread: the tone pass, the
// sharpening filter and the short pause before the result is shown. Everything it reports reaches
// the user-interface thread as queued signals; it never touches a widget and the user-interface
// thread never waits for it while a pass runs.
#pragma once

#include <QObject>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>

#include "Conversion.h"
#include "WorkingBitmap.h"

namespace velora {

class ConversionWorker : public QObject {
    Q_OBJECT
  public:
    explicit ConversionWorker(QObject* parent = nullptr);
    ~ConversionWorker() override;  // requests cancel and waits for the thread: nothing is torn
                                   // down while the worker can still touch it

    // Starts one conversion of `picture` in place (the worker keeps its own reference). The
    // cancel flag is cleared here, on the calling (UI) thread, before the thread starts, so a
    // Cancel that follows Start is never lost. A run that has not delivered its ending yet (a
    // Start right after Cancel) is cancelled, joined and its ending dropped first, so every Start
    // gets exactly one ending.
    void Start(BitmapRef picture, const ConversionOptions& options);
    // What to do with a finished result on the worker's thread, before the pause (the window
    // makes the picture it will show there); not called for a run that Cancel touched.
    using Finisher = std::function<void(const BitmapRef& result)>;
    // Like Start, but the conversion runs on a copy of `original` made on the worker's thread: the
    // original is never written, and the caller does not wait for the copy to be made.
    void StartOnCopy(BitmapRef original, const ConversionOptions& options, Finisher finisher);
    void RequestCancel();    // CancelRequested = 1; returns at once, never waits
    bool IsRunning() const;  // a thread exists that has not delivered its ending yet
    void Wait();             // requests nothing; joins the thread if any (used at close, tests)

    // The pause between the filter and the delivery of the result, and a way to change it for
    // the next Start (measurements of the work alone use 0).
    static constexpr int PauseMilliseconds = 200;
    void SetPauseMilliseconds(int milliseconds);

  signals
      :  // every signal is delivered on the UI thread (queued); the worker never touches a widget
    void ProgressRange(int maximum);  // 0..width, before the first column
    void Progress(int column);        // once per column, then 0 at the end of the pass
    // After the conversion (the pass, then its sharpening) and the 200 ms pause: the sharpened
    // picture, or the converted picture itself when the filter could make none.
    // Never delivered for a pass that Cancel touched: then Cancelled() comes instead, also when
    // the Cancel arrived after the pass but before this delivery.
    void Completed(velora::BitmapRef result);
    void Cancelled();

  private slots:
    void DeliverNotes();

  private:
    // One message from the worker thread to the user-interface thread, in the order they happen.
    // Columns are no messages: the worker counts its progress calls and the user-interface thread
    // turns the count into one Progress per column when it wakes.
    struct Note {
        enum class Kind { Range, PassEnd, Ending };
        Kind What = Kind::Range;
        int Value = 0;          // Range: the width; PassEnd: the pass's progress calls
        std::uint64_t Run = 0;  // the Start that the note belongs to
        BitmapRef Result;       // Ending only: null when the pass was cancelled
    };

    void StartRun(BitmapRef picture, const ConversionOptions& options, bool onCopy,
                  Finisher finisher);
    void Run(BitmapRef picture, ConversionOptions options, std::uint64_t run, int pauseMs,
             bool onCopy, Finisher finisher);
    void Post(Note note);
    void CountProgressCall(int calls);
    void Wake();
    void EmitColumnsUpTo(int calls);
    bool PauseUnlessCancelled(int milliseconds);
    void JoinThread();

    // Shared with the worker thread.
    std::atomic<int> CancelRequested{0};
    std::mutex MailboxMutex;
    std::deque<Note> Mailbox;
    std::atomic<int> ProgressCalls{0};  // made so far by the running pass
    std::atomic<bool> WakePending{false};
    static constexpr std::chrono::milliseconds ColumnWakeInterval{8};
    std::mutex PauseMutex;
    std::condition_variable PauseWake;

    // Worker thread only (one thread at a time, each joined before the next starts).
    std::chrono::steady_clock::time_point LastColumnWake;

    // User-interface thread only.
    std::thread Thread;
    int Pause = PauseMilliseconds;
    std::uint64_t StartedRuns = 0;       // number of the latest Start
    std::uint64_t LastCancelledRun = 0;  // the latest Start that a Cancel followed
    std::uint64_t ThreadRun = 0;         // the Start whose thread Thread holds
    int EndingsOutstanding = 0;
    std::deque<Note> Delivering;  // taken from the mailbox, not yet emitted
    bool InPass = false;          // between the Range and the PassEnd of the latest run
    int PassWidth = 0;
    int EmittedCalls = 0;  // progress calls of the pass already emitted as Progress
};

}  // namespace velora
