// The pieces of the whole-picture pass that do not depend on the raster type: the converted-colour
// cache, the band loop over a plain view, and the schedule that hands bands of columns to the
// pass's threads while the calling thread reports progress column by column. Reached through
// Conversion.h, which declares what this builds on.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "PixelView.h"

namespace velora {

// ConvertPixel with an optional table of every 24-bit colour already converted in this pass.
// Photos repeat their colours a lot, and each conversion costs two exponentials and two square
// roots. Several threads may fill the table at once: an entry is 0 until written, and every
// writer stores the same value, so relaxed atomics are enough.
class PixelConverter {
  public:
    // `cached` asks for the table (64 MiB); without memory for it the converter computes every
    // pixel.
    PixelConverter(const ConversionOptions& options, bool cached);

    std::uint32_t operator()(std::uint32_t colour) const {
        if (!Table) {
            return ConvertPixel(colour, Options);
        }
        std::atomic<std::uint32_t>& entry = Table[colour & 0xFFFFFFu];
        std::uint32_t value = entry.load(std::memory_order_relaxed);
        if (value == 0) {  // converted colours carry alpha 255, so 0 never is one
            value = ConvertPixel(colour, Options);
            entry.store(value, std::memory_order_relaxed);
        }
        return value;
    }

    bool Cached() const { return Table != nullptr; }

  private:
    ConversionOptions Options;
    std::unique_ptr<std::atomic<std::uint32_t>[]> Table;
};

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
BandOutcome ConvertBand(const PixelView& band, int firstColumn, const PixelConverter& converter,
                        const PassControl& control, ColumnListener& listener);

// Bands of adjacent columns, band 0 at the right edge of the picture. Worker threads take bands in
// that order and announce each column they start; the calling thread turns those announcements
// into progress calls in strict column order.
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

    void WorkerStarting();
    void WorkerFinished();
    void ColumnStarted(int band);

    // Calls progress(x) for every started column, from the right, until no worker is left.
    void ReportProgress(const ProgressCallback& progress);

  private:
    int Width;
    int BandColumns;
    int Bands;
    std::atomic<int> Next{0};

    std::mutex Mutex;
    std::condition_variable Changed;
    std::vector<int> Started;  // columns started per band
    int Running = 0;
};

}  // namespace velora
