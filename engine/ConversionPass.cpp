#include "Conversion.h"

#include <algorithm>
#include <new>

namespace velora {

PixelConverter::PixelConverter(const ConversionOptions& options, bool cached) : Options(options) {
    if (cached) {
        try {
            // Value-initialised: every entry starts at 0, "not converted yet".
            Table = std::make_unique<std::atomic<std::uint32_t>[]>(std::size_t{1} << 24);
        } catch (const std::bad_alloc&) {
            Table.reset();  // the pass still works, only slower
        }
    }
}

BandOutcome ConvertBand(const PixelView& band, int firstColumn, const PixelConverter& converter,
                        const PassControl& control, ColumnListener& listener) {
    BandOutcome outcome;
    for (int x = band.Width - 1; x >= 0; --x) {
        listener.ColumnStarting(firstColumn + x);
        std::uint8_t* p = band.At(x, band.Height - 1);
        for (int y = band.Height - 1; y >= 0; --y, p -= band.Stride) {
            const std::uint32_t in =
                (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | std::uint32_t{p[0]};
            const std::uint32_t out = converter(in);
            p[0] = static_cast<std::uint8_t>(out);
            p[1] = static_cast<std::uint8_t>(out >> 8);
            p[2] = static_cast<std::uint8_t>(out >> 16);
            if (control.StopRequested()) {
                outcome.RowsInPartialColumn = band.Height - y;
                if (outcome.RowsInPartialColumn == band.Height) {
                    ++outcome.ColumnsDone;
                    outcome.RowsInPartialColumn = 0;
                }
                outcome.Stopped = true;
                return outcome;
            }
        }
        ++outcome.ColumnsDone;
    }
    return outcome;
}

namespace {

int ColumnsPerBand(int width, int height) {
    // About 192 KiB of pixels per band: small enough for the cache, large enough that locking a
    // band costs nothing next to converting it.
    const long long bytesPerColumn = 3LL * std::max(height, 1);
    const long long columns = (192LL * 1024) / bytesPerColumn;
    return static_cast<int>(std::clamp<long long>(columns, 1, std::max(width, 1)));
}

}  // namespace

BandSchedule::BandSchedule(int width, int height)
    : Width(std::max(width, 0)), BandColumns(ColumnsPerBand(width, height)) {
    Bands = (Width + BandColumns - 1) / BandColumns;
    Started.assign(static_cast<std::size_t>(Bands), 0);
}

int BandSchedule::BandLeft(int band) const {
    return std::max(0, Width - (band + 1) * BandColumns);
}

int BandSchedule::BandWidth(int band) const {
    return Width - band * BandColumns - BandLeft(band);
}

void BandSchedule::WorkerStarting() {
    std::lock_guard<std::mutex> lock(Mutex);
    ++Running;
}

void BandSchedule::WorkerFinished() {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        --Running;
    }
    Changed.notify_all();
}

void BandSchedule::ColumnStarted(int band) {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        ++Started[static_cast<std::size_t>(band)];
    }
    Changed.notify_all();
}

void BandSchedule::ReportProgress(const ProgressCallback& progress) {
    for (int band = 0; band < Bands; ++band) {
        const int right = BandLeft(band) + BandWidth(band) - 1;
        for (int k = 0; k < BandWidth(band); ++k) {
            {
                std::unique_lock<std::mutex> lock(Mutex);
                const std::size_t b = static_cast<std::size_t>(band);
                Changed.wait(lock, [&] { return Started[b] > k || Running == 0; });
                if (Started[b] <= k) {
                    return;  // stopped before this column
                }
            }
            if (progress) {
                progress(right - k);
            }
        }
    }
}

}  // namespace velora
