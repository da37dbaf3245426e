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

#include "RowPipelineHandOver.h"

namespace velora::batch {

namespace {

// A band is large enough that handing it over costs nothing next to its rows, small enough that
// the few in flight stay in the processor's cache.
constexpr int BandRows = 16;
constexpr int PooledBands = 6;

struct Band {
    std::vector<std::uint8_t> Pixels;
    std::vector<std::uint8_t> Out;  // the finished rows the filter made once it had these
    int FirstRow = 0;
    int Rows = 0;
    int OutRows = 0;
    bool Converted = false;
    bool Sharpened = false;
};

// The next rows of the file, as decoded. False when the file failed.
bool ReadBand(RowSource& reader, Band& band, std::int32_t stride) {
    band.FirstRow = reader.NextRow();
    band.Converted = false;
    band.Sharpened = false;
    band.Rows = reader.ReadRows(band.Pixels.data(), stride,
                                std::min(BandRows, reader.Height() - reader.NextRow()));
    return band.Rows > 0;
}

// `aside`: on the reading thread's own converter, beside the one the other thread may be using.
void ConvertBand(RowConversion& conversion, Band& band, std::int32_t stride, bool aside = false) {
    for (int y = 0; y < band.Rows; ++y) {
        std::uint8_t* row = band.Pixels.data() + static_cast<std::ptrdiff_t>(y) * stride;
        if (aside) {
            conversion.ConvertRowAside(row);
        } else {
            conversion.ConvertRow(row);
        }
    }
    band.Converted = true;
}

// The filter, fed the converted bands in order. It borrows a band's rows until the finished rows
// they reach are made, which lag a row or so behind and go with the next band.
class Sharpener {
  public:
    explicit Sharpener(RowConversion& conversion) : Conversion(conversion) {}

    // Whether the band that begins at `firstRow` is the one the filter takes next.
    bool Next(int firstRow) const { return firstRow == NextRow; }

    void Sharpen(Band& band, std::int32_t stride) {
        band.OutRows = 0;
        for (int y = 0; y < band.Rows; ++y) {
            Conversion.PushBorrowed(band.Pixels.data() + static_cast<std::ptrdiff_t>(y) * stride);
            while (Conversion.OutputReady()) {
                Conversion.Emit(band.Out.data() +
                                static_cast<std::ptrdiff_t>(band.OutRows) * stride);
                ++band.OutRows;
            }
        }
        band.Sharpened = true;
        NextRow = band.FirstRow + band.Rows;
    }

  private:
    RowConversion& Conversion;
    int NextRow = 0;  // the first row the filter has not had
};

// A band through the conversion, unless it has been, and the filter, which must have had every
// band before it.
void Prepare(RowConversion& conversion, Sharpener& sharpener, Band& band, std::int32_t stride) {
    if (!band.Converted) {
        ConvertBand(conversion, band, stride);
    }
    sharpener.Sharpen(band, stride);
}

// The finished rows of bands into the file, in order. A band may be used again once Releasable
// says so: every row it reaches is written, even those the filter made only with the next band.
class Writing {
  public:
    Writing(RowSink& writer, const std::function<void()>& rowWritten)
        : Writer(writer), RowWritten(rowWritten) {}

    bool Write(const Band& band, std::int32_t stride) {
        for (int y = 0; y < band.OutRows; ++y) {
            if (!Writer.WriteRows(band.Out.data() + static_cast<std::ptrdiff_t>(y) * stride, stride,
                                  1)) {
                return false;
            }
            ++Written;
            if (RowWritten) {
                RowWritten();
            }
        }
        return true;
    }

    bool Releasable(const Band& band) const { return Written >= band.FirstRow + band.Rows; }

  private:
    RowSink& Writer;
    const std::function<void()>& RowWritten;
    int Written = 0;
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

PipelineResult RunOnOneThread(RowSource& reader, std::vector<Band>& bands, std::int32_t stride,
                              RowConversion& conversion, Sharpener& sharpener, RowSink& writer,
                              const std::atomic<int>& cancel,
                              const std::function<void()>& rowWritten) {
    bool reading = false;
    try {
        std::deque<int> held;
        Writing writing(writer, rowWritten);
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
            Prepare(conversion, sharpener, bands[band], stride);
            reading = false;
            if (!writing.Write(bands[band], stride)) {
                return Failed(false, writer.Message());
            }
            held.push_back(band);
            while (!held.empty() && writing.Releasable(bands[held.front()])) {
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
                               RowConversion& conversion, Sharpener& sharpener, RowSink& writer,
                               const std::atomic<int>& cancel,
                               const std::function<void()>& rowWritten) {
    HandOver handOver(static_cast<int>(bands.size()));
    bool readerFailed = false;
    std::exception_ptr firstThrew;
    std::thread firstHalf;
    try {
        firstHalf = std::thread([&] {
            // The bands handed over that may not have been through the filter yet, in order,
            // with their first rows.
            std::deque<std::pair<int, int>> handed;
            // The oldest of them through the filter when it is converted and the filter free;
            // false when there is none such.
            const auto sharpenOldest = [&] {
                std::unique_lock<std::mutex> preparing(handOver.PreparerFree, std::try_to_lock);
                for (; preparing.owns_lock() && !handed.empty(); handed.pop_front()) {
                    if (sharpener.Next(handed.front().second)) {
                        Band& oldest = bands[handed.front().first];
                        if (!oldest.Converted) {
                            return false;
                        }
                        sharpener.Sharpen(oldest, stride);
                        handed.pop_front();
                        return true;
                    }
                }
                return false;
            };
            try {
                while (reader.NextRow() < reader.Height() && cancel.load() == 0) {
                    int band = handOver.TakeFree(false);
                    if (band == HandOver::NoneFree) {
                        if (sharpenOldest()) {
                            continue;
                        }
                        band = handOver.TakeFree(true);
                    }
                    if (band < 0) {
                        break;
                    }
                    if (!ReadBand(reader, bands[band], stride)) {
                        readerFailed = true;
                        handOver.Stop();
                        break;
                    }
                    handed.emplace_back(band, bands[band].FirstRow);
                    // Once as many more have been handed over as there are bands, a band has
                    // been used again, so written, and with it every band before it.
                    if (handed.size() > bands.size()) {
                        handed.pop_front();
                    }
                    if (handOver.SecondHalfBusy()) {
                        ConvertBand(conversion, bands[band], stride, true);
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
        return RunOnOneThread(reader, bands, stride, conversion, sharpener, writer, cancel,
                              rowWritten);
    }
    bool writerFailed = false;
    std::exception_ptr secondThrew;
    try {
        std::deque<int> held;
        Writing writing(writer, rowWritten);
        for (int band; (band = handOver.TakeFull()) >= 0 && cancel.load() == 0;) {
            {
                // Every band before this one has been through the filter: this one is its next.
                std::lock_guard<std::mutex> preparing(handOver.PreparerFree);
                if (!bands[band].Sharpened) {
                    Prepare(conversion, sharpener, bands[band], stride);
                }
            }
            if (!writing.Write(bands[band], stride)) {
                writerFailed = true;
                break;
            }
            held.push_back(band);
            while (!held.empty() && writing.Releasable(bands[held.front()])) {
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
    try {
        // One thread needs the band it fills and the one before, which the filter still reads.
        bands.resize(twoThreads ? PooledBands : 2);
        for (Band& band : bands) {
            band.Pixels.resize(static_cast<std::size_t>(stride) * BandRows);
            // The last band also lets the filter finish the rows it held back.
            band.Out.resize(static_cast<std::size_t>(stride) * (BandRows + conversion.Lag()));
        }
    } catch (const std::bad_alloc&) {
        return Failed(false, "not enough memory");
    }
    Sharpener sharpener(conversion);
    return twoThreads ? RunOnTwoThreads(reader, bands, stride, conversion, sharpener, writer,
                                        cancel, rowWritten)
                      : RunOnOneThread(reader, bands, stride, conversion, sharpener, writer, cancel,
                                       rowWritten);
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
