#include "RowPipeline.h"

#include <condition_variable>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <new>
#include <system_error>
#include <thread>
#include <vector>

namespace velora::batch {

namespace {

// A band is large enough that handing it over costs nothing next to its rows, small enough that
// the few in flight stay in the processor's cache.
constexpr int BandRows = 16;
constexpr int PooledBands = 6;

struct Band {
    std::vector<std::uint8_t> Pixels;
    int FirstRow = 0;
    int Rows = 0;
    bool Converted = false;
};

// The next rows of the file, as decoded. False when the file failed.
bool ReadBand(RowSource& reader, Band& band, std::int32_t stride) {
    band.FirstRow = reader.NextRow();
    band.Converted = false;
    band.Rows = reader.ReadRows(band.Pixels.data(), stride,
                                std::min(BandRows, reader.Height() - reader.NextRow()));
    return band.Rows > 0;
}

void ConvertBand(RowConversion& conversion, Band& band, std::int32_t stride) {
    for (int y = 0; y < band.Rows; ++y) {
        conversion.ConvertRow(band.Pixels.data() + static_cast<std::ptrdiff_t>(y) * stride);
    }
    band.Converted = true;
}

// The second half: every converted row into the filter, every finished row into the file. The
// filter borrows the band's rows; a band may be used again once Releasable says so.
class SecondHalf {
  public:
    SecondHalf(RowConversion& conversion, RowSink& writer, int width,
               const std::function<void()>& rowWritten)
        : Conversion(conversion),
          Writer(writer),
          Out(3 * static_cast<std::size_t>(width)),
          RowWritten(rowWritten) {}

    bool Feed(const Band& band, std::int32_t stride) {
        for (int y = 0; y < band.Rows; ++y) {
            Conversion.PushBorrowed(band.Pixels.data() + static_cast<std::ptrdiff_t>(y) * stride);
            while (Conversion.OutputReady()) {
                Conversion.Emit(Out.data());
                if (!Writer.WriteRows(Out.data(), static_cast<std::int32_t>(Out.size()), 1)) {
                    return false;
                }
                if (RowWritten) {
                    RowWritten();
                }
            }
        }
        return true;
    }

    bool Releasable(const Band& band) const {
        return Conversion.NextOutputRow() >= band.FirstRow + band.Rows;
    }

  private:
    RowConversion& Conversion;
    RowSink& Writer;
    std::vector<std::uint8_t> Out;
    const std::function<void()>& RowWritten;
};

PipelineResult Failed(bool readerFailed, std::string message) {
    PipelineResult result;
    result.Outcome = PipelineOutcome::Failed;
    result.ReaderFailed = readerFailed;
    result.Message = std::move(message);
    return result;
}

// What a half threw, as the reason its picture failed.
std::string Reason(const std::exception_ptr& thrown) {
    try {
        std::rethrow_exception(thrown);
    } catch (const std::bad_alloc&) {
        return "not enough memory";
    } catch (const std::exception& error) {
        return error.what();
    } catch (...) {
        return "an unexpected failure";
    }
}

PipelineResult Cancelled() {
    PipelineResult result;
    result.Outcome = PipelineOutcome::Cancelled;
    return result;
}

// Bands handed between the two threads: free ones to the first half, full ones to the second.
// One lock and at most one wake-up per band.
//
// The conversion goes to whichever half is lighter at the moment: the first half converts a band
// while the second has full bands waiting (it is the busier one) and the converter is free;
// otherwise the band goes over as decoded and the second half converts it. The converter is one
// object: whoever converts holds ConverterFree, and the first half never waits for it.
class HandOver {
  public:
    explicit HandOver(int count) {
        for (int i = 0; i < count; ++i) {
            Free.push_back(i);
        }
    }

    int TakeFree() {
        std::unique_lock<std::mutex> lock(Mutex);
        Changed.wait(lock, [&] { return Stopped || !Free.empty(); });
        if (Stopped) {
            return -1;
        }
        const int band = Free.front();
        Free.pop_front();
        return band;
    }
    void PutFree(int band) { Put(Free, band); }
    void PutFull(int band) { Put(Full, band); }
    bool SecondHalfBusy() {
        std::lock_guard<std::mutex> lock(Mutex);
        return !Full.empty();
    }

    std::mutex ConverterFree;
    // -1 once the first half is done and every full band taken, or when stopped.
    int TakeFull() {
        std::unique_lock<std::mutex> lock(Mutex);
        Changed.wait(lock, [&] { return Stopped || FirstHalfDone || !Full.empty(); });
        if (Stopped || Full.empty()) {
            return -1;
        }
        const int band = Full.front();
        Full.pop_front();
        return band;
    }
    void FinishFirstHalf() {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            FirstHalfDone = true;
        }
        Changed.notify_all();
    }
    void Stop() {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            Stopped = true;
        }
        Changed.notify_all();
    }

  private:
    void Put(std::deque<int>& queue, int band) {
        {
            std::lock_guard<std::mutex> lock(Mutex);
            queue.push_back(band);
        }
        Changed.notify_all();
    }

    std::mutex Mutex;
    std::condition_variable Changed;
    std::deque<int> Free;
    std::deque<int> Full;
    bool FirstHalfDone = false;
    bool Stopped = false;
};

PipelineResult RunOnOneThread(RowSource& reader, std::vector<Band>& bands, std::int32_t stride,
                              RowConversion& conversion, SecondHalf& second, RowSink& writer,
                              const std::atomic<int>& cancel) {
    bool reading = false;
    try {
        std::deque<int> held;
        std::deque<int> free;
        for (int i = 0; i < static_cast<int>(bands.size()); ++i) {
            free.push_back(i);
        }
        while (reader.NextRow() < reader.Height()) {
            if (cancel.load() != 0) {
                return Cancelled();
            }
            const int band = free.front();
            free.pop_front();
            reading = true;
            if (!ReadBand(reader, bands[band], stride)) {
                return Failed(true, reader.Message());
            }
            ConvertBand(conversion, bands[band], stride);
            reading = false;
            if (!second.Feed(bands[band], stride)) {
                return Failed(false, writer.Message());
            }
            held.push_back(band);
            while (!held.empty() && second.Releasable(bands[held.front()])) {
                reader.BandReturned(bands[held.front()].Pixels.data());
                free.push_back(held.front());
                held.pop_front();
            }
        }
        if (cancel.load() != 0) {
            return Cancelled();
        }
        reading = true;
        if (!reader.AllRowsRead()) {
            return Failed(true, reader.Message());
        }
    } catch (...) {
        return Failed(reading, Reason(std::current_exception()));
    }
    return PipelineResult{PipelineOutcome::Done, false, {}};
}

PipelineResult RunOnTwoThreads(RowSource& reader, std::vector<Band>& bands, std::int32_t stride,
                               RowConversion& conversion, SecondHalf& second, RowSink& writer,
                               const std::atomic<int>& cancel) {
    HandOver handOver(static_cast<int>(bands.size()));
    bool readerFailed = false;
    std::exception_ptr firstThrew;
    std::thread firstHalf;
    try {
        firstHalf = std::thread([&] {
            try {
                while (reader.NextRow() < reader.Height() && cancel.load() == 0) {
                    const int band = handOver.TakeFree();
                    if (band < 0) {
                        break;
                    }
                    if (!ReadBand(reader, bands[band], stride)) {
                        readerFailed = true;
                        handOver.Stop();
                        break;
                    }
                    if (handOver.SecondHalfBusy()) {
                        std::unique_lock<std::mutex> converting(handOver.ConverterFree,
                                                                std::try_to_lock);
                        if (converting.owns_lock()) {
                            ConvertBand(conversion, bands[band], stride);
                        }
                    }
                    handOver.PutFull(band);
                }
                if (!readerFailed && reader.NextRow() >= reader.Height() && cancel.load() == 0 &&
                    !reader.AllRowsRead()) {
                    readerFailed = true;
                    handOver.Stop();
                }
            } catch (...) {
                firstThrew = std::current_exception();
                handOver.Stop();
            }
            handOver.FinishFirstHalf();
        });
    } catch (const std::system_error&) {
        return RunOnOneThread(reader, bands, stride, conversion, second, writer, cancel);
    }
    bool writerFailed = false;
    std::exception_ptr secondThrew;
    try {
        std::deque<int> held;
        for (int band; (band = handOver.TakeFull()) >= 0 && cancel.load() == 0;) {
            if (!bands[band].Converted) {
                std::lock_guard<std::mutex> converting(handOver.ConverterFree);
                ConvertBand(conversion, bands[band], stride);
            }
            if (!second.Feed(bands[band], stride)) {
                writerFailed = true;
                break;
            }
            held.push_back(band);
            while (!held.empty() && second.Releasable(bands[held.front()])) {
                reader.BandReturned(bands[held.front()].Pixels.data());
                handOver.PutFree(held.front());
                held.pop_front();
            }
        }
    } catch (...) {
        secondThrew = std::current_exception();
    }
    // A first half still reading stops at its next band.
    handOver.Stop();
    firstHalf.join();
    if (firstThrew) {
        return Failed(true, Reason(firstThrew));
    }
    if (readerFailed) {
        return Failed(true, reader.Message());
    }
    if (secondThrew) {
        return Failed(false, Reason(secondThrew));
    }
    if (writerFailed) {
        return Failed(false, writer.Message());
    }
    if (cancel.load() != 0) {
        return Cancelled();
    }
    return PipelineResult{PipelineOutcome::Done, false, {}};
}

// The file's row reader and converted-picture writer as the pipeline's source and sink.
class FileRows final : public RowSource {
  public:
    explicit FileRows(PictureRowReader& reader) : Reader(reader) {}
    int Width() const override { return Reader.Width(); }
    int Height() const override { return Reader.Height(); }
    int NextRow() const override { return Reader.NextRow(); }
    int ReadRows(std::uint8_t* rows, std::int32_t stride, int count) override {
        return Reader.ReadRows(rows, stride, count);
    }
    std::string Message() const override { return Reader.Message(); }
    // A file of several scans frees its coefficients here, tens of MiB.
    bool AllRowsRead() override { return Reader.Finish(); }

  private:
    PictureRowReader& Reader;
};

class ResultRows final : public RowSink {
  public:
    explicit ResultRows(ConvertedPictureWriter& writer) : Writer(writer) {}
    bool WriteRows(const std::uint8_t* rows, std::int32_t stride, int count) override {
        return Writer.WriteRows(rows, stride, count);
    }
    std::string Message() const override { return Writer.Message(); }

  private:
    ConvertedPictureWriter& Writer;
};

}  // namespace

PipelineResult RunRowPipeline(RowSource& reader, RowConversion& conversion, RowSink& writer,
                              unsigned threads, const std::atomic<int>& cancel,
                              const std::function<void()>& rowWritten) {
    const int width = reader.Width();
    const std::int32_t stride = 3 * width;
    // A picture of one band leaves the second half nothing to overlap: a thread would only add
    // its start and the hand-overs.
    const bool twoThreads = threads > 1 && reader.Height() > BandRows;
    std::vector<Band> bands;
    std::unique_ptr<SecondHalf> second;
    try {
        // One thread needs the band it fills and the one before, which the filter still reads.
        bands.resize(twoThreads ? PooledBands : 2);
        for (Band& band : bands) {
            band.Pixels.resize(static_cast<std::size_t>(stride) * BandRows);
        }
        second = std::make_unique<SecondHalf>(conversion, writer, width, rowWritten);
    } catch (const std::bad_alloc&) {
        return Failed(false, "not enough memory");
    }
    return twoThreads ? RunOnTwoThreads(reader, bands, stride, conversion, *second, writer, cancel)
                      : RunOnOneThread(reader, bands, stride, conversion, *second, writer, cancel);
}

PipelineResult RunRowPipeline(PictureRowReader& reader, RowConversion& conversion,
                              ConvertedPictureWriter& writer, unsigned threads,
                              const std::atomic<int>& cancel,
                              const std::function<void()>& rowWritten) {
    FileRows source(reader);
    ResultRows sink(writer);
    return RunRowPipeline(source, conversion, sink, threads, cancel, rowWritten);
}

}  // namespace velora::batch
