// The pieces of the whole-picture pass that do not depend on the raster type: the band loop over a
// plain view, and the schedule that hands bands of columns to the pass's threads and turns the
// columns they start into progress calls, in strict column order, on the calling thread. Reached
// through Conversion.h, which declares what this builds on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "PixelConverter.h"
#include "PixelView.h"

namespace velora {

// Stop when the user cancels, or when the pass itself is being torn down.
struct PassControl {
    const std::atomic<int>& Cancel;
    std::atomic<bool> Abort{false};

    bool StopRequested() const {
        return Cancel.load(std::memory_order_relaxed) != 0 || Abort.load(std::memory_order_relaxed);
    }
};

// How far a band got: whole columns from its right edge, then rows from the bottom of the next.
struct BandOutcome {
    int ColumnsDone = 0;
    int RowsInPartialColumn = 0;
    bool Stopped = false;
};

// Told the picture column number just before that column is converted.
class ColumnListener {
  public:
    virtual void ColumnStarting(int column) = 0;

  protected:
    ~ColumnListener() = default;
};

// Converts `band` in place, columns from the right, rows from the bottom, checking `control`
// after every pixel. `firstColumn` is the picture column of the view's column 0.
BandOutcome ConvertBand(const PixelView& band, int firstColumn, PixelConverter& converter,
                        const PassControl& control, ColumnListener& listener);

// Bands of adjacent columns, band 0 at the right edge of the picture. Threads take bands in that
// order and count the columns they start, each band's count written by its one thread; the calling
// thread reads the counts and makes the progress calls. Nothing is locked per column, and nobody
// is woken per column.
class BandSchedule {
  public:
    BandSchedule(int width, int height);

    int BandCount() const { return Bands; }
    int BandLeft(int band) const;
    int BandWidth(int band) const;

    // The next band to convert, or -1 when all are taken.
    int TakeBand() {
        const int band = Next.fetch_add(1, std::memory_order_relaxed);
        return band < Bands ? band : -1;
    }

    // By the thread converting `band`, just before each of its columns.
    void ColumnStarted(int band) {
        std::atomic<int>& count = Started[static_cast<std::size_t>(band)];
        count.store(count.load(std::memory_order_relaxed) + 1, std::memory_order_relaxed);
    }

    // Threads other than the caller that convert bands.
    void WorkerStarting();
    void WorkerFinished();

    // By the calling thread only: progress(x) for every column started since the last call, from
    // the right, each exactly once.
    void ReportStarted(const ProgressCallback& progress);
    // Reports until every other thread has finished, waiting a few milliseconds at most between
    // looks.
    void ReportUntilFinished(const ProgressCallback& progress);

  private:
    int Width;
    int BandColumns;
    int Bands;
    std::atomic<int> Next{0};
    std::unique_ptr<std::atomic<int>[]> Started;  // columns started per band

    // The calling thread's place in the progress.
    int ReportBand = 0;
    int ReportedInBand = 0;

    std::mutex Mutex;
    std::condition_variable Finished;
    int Running = 0;
};

}  // namespace velora
