// Template bodies of the whole-picture pass; included at the end of Conversion.h.
#pragma once

#include <algorithm>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace velora {
namespace detail {

// Below this many pixels setting up the colour cache would cost more than it saves.
constexpr long long CachedPassMinPixels = 1LL << 16;

template <class Bitmap>
typename Bitmap::RectType PassRect(int x, int y, int width, int height) {
    typename Bitmap::RectType rect{};
    rect.X = x;
    rect.Y = y;
    rect.Width = width;
    rect.Height = height;
    return rect;
}

// The plain path: one read and one write per pixel. A failed read converts the held colour,
// the last one produced, so that a hole in the picture repeats its neighbour below.
template <class Bitmap>
BandOutcome ConvertColumnsPixelByPixel(Bitmap& bitmap, int left, int width, int height,
                                       PixelConverter& converter, const PassControl& control,
                                       ColumnListener& listener, std::uint32_t& held) {
    BandOutcome outcome;
    for (int x = left + width - 1; x >= left; --x) {
        listener.ColumnStarting(x);
        for (int y = height - 1; y >= 0; --y) {
            std::uint32_t colour = 0;
            if (Bitmap::Succeeded(bitmap.GetPixel(x, y, &colour))) {
                held = colour;
            }
            const std::uint32_t out = converter(held);
            bitmap.SetPixel(x, y, out);  // a failed write is recorded on the bitmap
            held = out;
            if (control.StopRequested()) {
                outcome.RowsInPartialColumn = height - y;
                if (outcome.RowsInPartialColumn == height) {
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

// Writes one converted rectangle of the band buffer back. The write goes through a caller-buffer
// lock so that readers on other threads see whole pixels; if the lock is refused, pixel by pixel.
template <class Bitmap>
void WriteBack(Bitmap& bitmap, const PixelView& buffer, int left, int x, int y, int width,
               int height) {
    if (width <= 0 || height <= 0) {
        return;
    }
    typename Bitmap::LockRecord record{};
    record.Stride = buffer.Stride;
    record.Scan0 = buffer.At(x - left, y);
    const unsigned writeOnly = (Bitmap::ReadWriteMode & ~Bitmap::ReadMode) | Bitmap::UserBufferMode;
    if (Bitmap::Succeeded(bitmap.LockBits(PassRect<Bitmap>(x, y, width, height), writeOnly,
                                          Bitmap::Format24, &record))) {
        bitmap.UnlockBits(&record);
        return;
    }
    for (int column = x + width - 1; column >= x; --column) {
        for (int row = y + height - 1; row >= y; --row) {
            const std::uint8_t* p = buffer.At(column - left, row);
            bitmap.SetPixel(column, row,
                            0xFF000000u | (std::uint32_t{p[2]} << 16) | (std::uint32_t{p[1]} << 8) |
                                std::uint32_t{p[0]});
        }
    }
}

// One band: copy it out under the bitmap's lock, convert the copy, copy back what was converted.
template <class Bitmap>
BandOutcome ConvertBandOfBitmap(Bitmap& bitmap, int left, int width, int height,
                                PixelConverter& converter, const PassControl& control,
                                ColumnListener& listener, std::vector<std::uint8_t>& storage,
                                std::uint32_t& held) {
    const std::int32_t stride = (3 * width + 3) & ~3;
    bool haveBuffer = true;
    try {
        storage.resize(static_cast<std::size_t>(stride) * static_cast<std::size_t>(height));
    } catch (const std::bad_alloc&) {
        haveBuffer = false;
    }
    typename Bitmap::LockRecord record{};
    record.Stride = stride;
    record.Scan0 = storage.data();
    if (!haveBuffer || !Bitmap::Succeeded(bitmap.LockBits(PassRect<Bitmap>(left, 0, width, height),
                                                          Bitmap::ReadMode | Bitmap::UserBufferMode,
                                                          Bitmap::Format24, &record))) {
        return ConvertColumnsPixelByPixel(bitmap, left, width, height, converter, control, listener,
                                          held);
    }
    bitmap.UnlockBits(&record);

    const PixelView view{width, height, stride, storage.data()};
    const BandOutcome outcome = ConvertBand(view, left, converter, control, listener);
    const int done = outcome.ColumnsDone;
    WriteBack(bitmap, view, left, left + width - done, 0, done, height);
    if (outcome.RowsInPartialColumn > 0) {
        WriteBack(bitmap, view, left, left + width - done - 1, height - outcome.RowsInPartialColumn,
                  1, outcome.RowsInPartialColumn);
    }
    if (!outcome.Stopped) {
        const std::uint8_t* last = view.At(0, 0);
        held = 0xFF000000u | (std::uint32_t{last[2]} << 16) | (std::uint32_t{last[1]} << 8) |
               std::uint32_t{last[0]};
    }
    return outcome;
}

class ProgressListener final : public ColumnListener {
  public:
    explicit ProgressListener(const ProgressCallback& progress) : Progress(progress) {}
    void ColumnStarting(int column) override {
        if (Progress) {
            Progress(column);
        }
    }

  private:
    const ProgressCallback& Progress;
};

// Counts the columns of one band as they start. On the calling thread it also makes the progress
// calls that are due: its own column's and those of columns further right that other threads
// started meanwhile.
class BandListener final : public ColumnListener {
  public:
    BandListener(BandSchedule& schedule, int band, const ProgressCallback* reportTo)
        : Schedule(schedule), Band(band), ReportTo(reportTo) {}
    void ColumnStarting(int) override {
        Schedule.ColumnStarted(Band);
        if (ReportTo != nullptr) {
            Schedule.ReportStarted(*ReportTo);
        }
    }

  private:
    BandSchedule& Schedule;
    int Band;
    const ProgressCallback* ReportTo;
};

// Joins the pass's threads on every way out of ConvertPicture, a throwing callback included.
class WorkerThreads {
  public:
    explicit WorkerThreads(PassControl& control) : Control(control) {}
    WorkerThreads(const WorkerThreads&) = delete;
    WorkerThreads& operator=(const WorkerThreads&) = delete;
    ~WorkerThreads() {
        if (!Joined) {
            Control.Abort.store(true, std::memory_order_relaxed);
        }
        Join();
    }

    std::vector<std::thread>& Threads() { return List; }
    void Join() {
        for (std::thread& t : List) {
            if (t.joinable()) {
                t.join();
            }
        }
        Joined = true;
    }

  private:
    PassControl& Control;
    std::vector<std::thread> List;
    bool Joined = false;
};

template <class Bitmap>
PassResult ConvertPictureWith(Bitmap& bitmap, const ConversionOptions& options,
                              const ProgressCallback& progress,
                              const std::atomic<int>& cancelRequested, unsigned threads,
                              bool bands) {
    const int width = static_cast<int>(bitmap.Width());
    const int height = static_cast<int>(bitmap.Height());
    PassControl control{cancelRequested};
    std::uint32_t held = 0xFF000000u;  // opaque black until the first successful read

    if (width > 0 && height > 0) {
        const bool cached = bands && static_cast<long long>(width) * height >= CachedPassMinPixels;
        BandSchedule schedule(width, height);
        if (threads == 0) {
            threads = std::max(1u, std::thread::hardware_concurrency());
        }
        threads = std::min<unsigned>(threads, static_cast<unsigned>(schedule.BandCount()));
        if (!bands) {
            PixelConverter converter(options, false);
            ProgressListener listener(progress);
            ConvertColumnsPixelByPixel(bitmap, 0, width, height, converter, control, listener,
                                       held);
        } else if (threads <= 1) {
            PixelConverter converter(options, cached);
            ProgressListener listener(progress);
            std::vector<std::uint8_t> storage;
            for (int band = 0; band < schedule.BandCount(); ++band) {
                const BandOutcome outcome =
                    ConvertBandOfBitmap(bitmap, schedule.BandLeft(band), schedule.BandWidth(band),
                                        height, converter, control, listener, storage, held);
                if (outcome.Stopped) {
                    break;
                }
            }
        } else {
            // Every thread, the calling one included, takes bands and converts them with its own
            // converter; the calling thread also makes the progress calls.
            auto work = [&](const ProgressCallback* reportTo) {
                PixelConverter converter(options, cached);
                std::vector<std::uint8_t> storage;
                // A band converted pixel by pixel after a refused lock starts from black: the
                // pixel before it in pass order belongs to another thread.
                std::uint32_t bandHeld = 0xFF000000u;
                while (!control.StopRequested()) {
                    const int band = schedule.TakeBand();
                    if (band < 0) {
                        break;
                    }
                    BandListener listener(schedule, band, reportTo);
                    ConvertBandOfBitmap(bitmap, schedule.BandLeft(band), schedule.BandWidth(band),
                                        height, converter, control, listener, storage, bandHeld);
                    bandHeld = 0xFF000000u;
                }
            };
            WorkerThreads workers(control);
            for (unsigned i = 1; i < threads; ++i) {
                schedule.WorkerStarting();
                try {
                    workers.Threads().emplace_back([&] {
                        work(nullptr);
                        schedule.WorkerFinished();
                    });
                } catch (const std::system_error&) {
                    schedule.WorkerFinished();
                    break;  // fewer threads still convert every band
                }
            }
            work(&progress);
            schedule.ReportUntilFinished(progress);
            workers.Join();
        }
    }
    if (progress) {
        progress(0);
    }
    return PassResult{cancelRequested.load() != 0};
}

}  // namespace detail

template <class Bitmap>
PassResult ConvertPicture(Bitmap& bitmap, const ConversionOptions& options,
                          const ProgressCallback& progress, const std::atomic<int>& cancelRequested,
                          unsigned threads) {
    return detail::ConvertPictureWith(bitmap, options, progress, cancelRequested, threads, true);
}

template <class Bitmap>
PassResult ConvertPicturePixelByPixel(Bitmap& bitmap, const ConversionOptions& options,
                                      const ProgressCallback& progress,
                                      const std::atomic<int>& cancelRequested) {
    return detail::ConvertPictureWith(bitmap, options, progress, cancelRequested, 1, false);
}

}  // namespace velora
