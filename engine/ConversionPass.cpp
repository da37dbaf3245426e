#include "Conversion.h"

#include <algorithm>
#include <chrono>
#include <new>
#include <vector>

namespace velora {

BandOutcome ConvertBand(const PixelView& band, int firstColumn, PixelConverter& converter,
                        const PassControl& control, ColumnListener& listener) {
    // A column is converted as a row of its own, since the cache's vector loops want the pixels
    // side by side, and then written back pixel by pixel from the bottom, polling for Cancel after
    // each as always: a cancelled column ends where it always did, only its unwritten values were
    // made in vain.
    std::vector<std::uint8_t> column;
    try {
        column.resize(3 * static_cast<std::size_t>(band.Height));
    } catch (const std::bad_alloc&) {
        column.clear();  // pixel by pixel, only slower
    }
    BandOutcome outcome;
    for (int x = band.Width - 1; x >= 0; --x) {
        listener.ColumnStarting(firstColumn + x);
        if (!column.empty()) {
            const std::uint8_t* from = band.At(x, 0);
            for (int y = 0; y < band.Height; ++y, from += band.Stride) {
                std::copy(from, from + 3, &column[3 * static_cast<std::size_t>(y)]);
            }
            converter.ConvertRow(column.data(), column.data(), band.Height);
        }
        std::uint8_t* p = band.At(x, band.Height - 1);
        for (int y = band.Height - 1; y >= 0; --y, p -= band.Stride) {
            if (!column.empty()) {
                const std::uint8_t* converted = &column[3 * static_cast<std::size_t>(y)];
                p[0] = converted[0];
                p[1] = converted[1];
                p[2] = converted[2];
            } else {
                const std::uint32_t out = converter(
                    (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) | std::uint32_t{p[0]});
                p[0] = static_cast<std::uint8_t>(out);
                p[1] = static_cast<std::uint8_t>(out >> 8);
                p[2] = static_cast<std::uint8_t>(out >> 16);
            }
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
    Started = std::make_unique<std::atomic<int>[]>(static_cast<std::size_t>(Bands));
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
    Finished.notify_all();
}

void BandSchedule::ReportStarted(const ProgressCallback& progress) {
    while (ReportBand < Bands) {
        const std::size_t band = static_cast<std::size_t>(ReportBand);
        const int started = Started[band].load(std::memory_order_relaxed);
        const int right = BandLeft(ReportBand) + BandWidth(ReportBand) - 1;
        for (; ReportedInBand < started; ++ReportedInBand) {
            if (progress) {
                progress(right - ReportedInBand);
            }
        }
        if (ReportedInBand < BandWidth(ReportBand)) {
            return;  // the band is still being converted, or was stopped
        }
        ++ReportBand;
        ReportedInBand = 0;
    }
}

void BandSchedule::ReportUntilFinished(const ProgressCallback& progress) {
    for (;;) {
        ReportStarted(progress);
        std::unique_lock<std::mutex> lock(Mutex);
        if (Running == 0) {
            break;
        }
        // Looks now and then, rather than being woken for every column.
        Finished.wait_for(lock, std::chrono::milliseconds(2), [this] { return Running == 0; });
    }
    // Columns started just before the last thread finished.
    ReportStarted(progress);
}

}  // namespace velora
