// The job runner and the progress display, with several threads at once.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <map>
#include <mutex>
#include <new>
#include <set>
#include <stdexcept>
#include <thread>
#include <vector>

#include "BatchTestSupport.h"
#include "FileConversion.h"
#include "JobRunner.h"
#include "MemoryBudget.h"
#include "ProgressDisplay.h"
#include "RowPipeline.h"

namespace velora::batch {
namespace {

using namespace testing;

// Shares never add up past the budget; one larger than all of it waits for the others and runs
// alone; a cancel ends the wait.
TEST(MemoryBudget, JobsWaitForRoomInsteadOfOvercommitting) {
    MemoryBudget budget(100);
    std::atomic<int> cancel{0};
    std::atomic<std::uint64_t> held{0};
    std::atomic<std::uint64_t> mostHeld{0};
    std::atomic<int> refused{0};
    std::vector<std::thread> jobs;
    for (int t = 0; t < 6; ++t) {
        jobs.emplace_back([&, t] {
            const std::uint64_t bytes = t == 5 ? 150 : 40;
            for (int i = 0; i < 50; ++i) {
                MemoryShare share(&budget);
                if (!share.Take(bytes, cancel)) {
                    ++refused;
                    return;
                }
                const std::uint64_t now = held.fetch_add(bytes) + bytes;
                std::uint64_t seen = mostHeld.load();
                while (now > seen && !mostHeld.compare_exchange_weak(seen, now)) {
                }
                // The oversized share is alone whenever it is held.
                EXPECT_TRUE(bytes <= 100 || now == bytes) << now;
                std::this_thread::yield();
                held.fetch_sub(bytes);
            }
        });
    }
    for (std::thread& job : jobs) {
        job.join();
    }
    EXPECT_EQ(refused.load(), 0);
    EXPECT_EQ(budget.Peak(), 150u);
    EXPECT_LE(mostHeld.load(), 150u);

    // In order of asking: a small share that would fit waits behind a large one asked for
    // before it, so the large one is never passed for ever.
    MemoryShare first(&budget);
    ASSERT_TRUE(first.Take(60, cancel));
    std::mutex orderMutex;
    std::vector<std::uint64_t> order;
    auto asker = [&](std::uint64_t bytes) {
        return std::thread([&, bytes] {
            MemoryShare share(&budget);
            ASSERT_TRUE(share.Take(bytes, cancel));
            std::lock_guard<std::mutex> lock(orderMutex);
            order.push_back(bytes);
        });
    };
    std::thread large = asker(80);
    while (budget.Waiters() < 1) {
        std::this_thread::yield();
    }
    std::thread small = asker(30);
    while (budget.Waiters() < 2) {
        std::this_thread::yield();
    }
    first.Return();
    large.join();
    small.join();
    EXPECT_EQ(order, (std::vector<std::uint64_t>{80, 30}));

    ASSERT_TRUE(first.Take(80, cancel));
    std::thread waiting([&] {
        MemoryShare second(&budget);
        EXPECT_FALSE(second.Take(40, cancel));
    });
    cancel = 2;
    waiting.join();
}

// Four jobs at once whose pictures only fit the budget one at a time: all are converted, one
// after the other.
TEST(MemoryBudget, ARunKeepsItsPicturesWithinTheBudget) {
    ScratchFolder scratch;
    const std::vector<std::string> inputs = WriteJpegs(scratch.path(), "p", 4, 160, 120);
    std::uint64_t smallest = ~std::uint64_t{0};
    for (const std::string& input : inputs) {
        smallest =
            std::min(smallest, StreamedMemory(160, 120, fs::file_size(input),
                                              PictureRowReader::Source::Rows, OutputFormat::Jpeg));
    }
    MemoryBudget budget(
        StreamedMemory(160, 120, 0, PictureRowReader::Source::Rows, OutputFormat::Jpeg) + 1);
    RunOutput run = RunInProcess(Joined({"--jobs", "4", "-o", scratch.Folder("out")}, inputs), 4,
                                 nullptr, "", &budget);
    EXPECT_EQ(run.ExitCode, ExitAllDone) << run.Err;
    EXPECT_EQ(FilesBelow(scratch.path() / "out").size(), 4u);
    EXPECT_GE(budget.Peak(), smallest);
    EXPECT_LT(budget.Peak(), 2 * smallest);
}

// An output folder that takes no files fails each picture before it is decoded: nothing is
// granted from the budget. (Root may write anywhere: the case needs another user.)
TEST(MemoryBudget, AnUnwritableFolderIsFoundBeforeAnyDecoding) {
    if (::geteuid() == 0) {
        GTEST_SKIP() << "root writes into any folder";
    }
    ScratchFolder scratch;
    const std::string out = scratch.Folder("out");
    ASSERT_TRUE(WriteJpeg(scratch / "p.jpg", 160, 120, 1));
    ASSERT_EQ(::chmod(out.c_str(), 0555), 0);
    MemoryBudget budget(std::uint64_t{1} << 30);
    RunOutput run = RunInProcess({"-o", out, scratch / "p.jpg"}, 1, nullptr, "", &budget);
    ::chmod(out.c_str(), 0755);
    EXPECT_EQ(run.ExitCode, 1) << run.Err;
    EXPECT_TRUE(Contains(run.Err, "cannot write into " + out)) << run.Err;
    EXPECT_EQ(budget.Peak(), 0u);
}

TEST(RunJobs, RunsEveryJobOnceWithinItsWorkers) {
    constexpr std::size_t Count = 500;
    std::vector<std::atomic<int>> runs(Count);
    std::atomic<int> running{0};
    std::atomic<int> mostAtOnce{0};
    std::mutex slotsMutex;
    std::set<unsigned> slots;
    std::atomic<int> cancel{0};
    RunJobs(Count, 4, cancel, [&](std::size_t index, unsigned slot) {
        int now = running.fetch_add(1) + 1;
        int seen = mostAtOnce.load();
        while (now > seen && !mostAtOnce.compare_exchange_weak(seen, now)) {
        }
        runs[index].fetch_add(1);
        {
            std::lock_guard<std::mutex> lock(slotsMutex);
            slots.insert(slot);
        }
        std::this_thread::yield();
        running.fetch_sub(1);
    });
    for (std::size_t i = 0; i < Count; ++i) {
        EXPECT_EQ(runs[i].load(), 1) << i;
    }
    EXPECT_LE(mostAtOnce.load(), 4);
    EXPECT_LE(*slots.rbegin(), 3u);
}

TEST(RunJobs, StartsNothingOnceCancelled) {
    std::atomic<int> cancel{1};
    std::atomic<int> started{0};
    RunJobs(10, 2, cancel, [&](std::size_t, unsigned) { started.fetch_add(1); });
    EXPECT_EQ(started.load(), 0);

    // Cancelled while job 3 runs: with one worker, the jobs after it never start.
    cancel.store(0);
    std::vector<std::size_t> order;
    RunJobs(10, 1, cancel, [&](std::size_t index, unsigned) {
        order.push_back(index);
        if (index == 3) {
            cancel.store(2);
        }
    });
    EXPECT_EQ(order, (std::vector<std::size_t>{0, 1, 2, 3}));
}

// A picture file and its result for the row pipeline. A band may come back to the reader only
// once the writer has had every row it held, the last one included.
struct FakeFile final : RowSource, RowSink {
    FakeFile(const std::vector<std::uint8_t>& picture, int width, int height)
        : Picture(picture), W(width), H(height) {}
    int Width() const override { return W; }
    int Height() const override { return H; }
    int NextRow() const override { return Next; }
    int ReadRows(std::uint8_t* rows, std::int32_t stride, int count) override {
        count = std::min(count, H - Next);
        for (int y = 0; y < count; ++y) {
            std::copy_n(&Picture[3 * W * (Next + y)], 3 * W, rows + stride * y);
        }
        std::lock_guard<std::mutex> lock(Mutex);
        HeldUntil[rows] = Next += count;
        FirstBand = Reads++ == 0 ? count : FirstBand;
        Changed.notify_all();
        if (Reads == ThrowAtRead) {
            throw std::bad_alloc();
        }
        Cancel = Reads == CancelAtRead ? 1 : Cancel.load();
        return count;
    }
    bool AllRowsRead() override {
        EXPECT_EQ(Next, H) << "finished before its last row";
        return ++Finishes, !FinishFails;
    }
    void BandReturned(const std::uint8_t* rows) override {
        std::lock_guard<std::mutex> lock(Mutex);
        EXPECT_GE(Written, HeldUntil[rows]) << "a band returned before its last row was written";
    }
    bool WriteRows(const std::uint8_t* rows, std::int32_t, int count) override {
        std::unique_lock<std::mutex> lock(Mutex);
        if (Written == ThrowAtRow) {
            throw std::runtime_error("the disk is full");
        }
        // A writer that lags leaves the reader with bands to spare, which it then converts itself.
        Changed.wait(lock, [&] { return Written > 0 || Reads >= ReadsBeforeFirstRow; });
        if (Written == CancelAtRow) {
            Changed.wait(lock, [&] { return Reads >= ReadsBeforeCancel; });
            Cancel = 1;
        }
        Result.insert(Result.end(), rows, rows + 3 * W * count);
        Written += count;
        Changed.notify_all();
        return true;
    }
    std::string Message() const override { return "unused"; }

    const std::vector<std::uint8_t>& Picture;
    const int W, H;
    int Next = 0;
    std::mutex Mutex;
    std::condition_variable Changed;
    std::map<const std::uint8_t*, int> HeldUntil;  // the row after the last a band holds
    int Reads = 0, FirstBand = 0, Written = 0, Finishes = 0;
    bool FinishFails = false;
    int ThrowAtRead = 0, CancelAtRead = 0, ThrowAtRow = -1, CancelAtRow = -1, ReadsBeforeCancel = 0,
        ReadsBeforeFirstRow = 0;
    std::vector<std::uint8_t> Result;
    std::atomic<int> Cancel{0};
};

TEST(RowPipeline, BandsCancelAndFailuresInEitherHalf) {
    constexpr int W = 24, H = 150;
    BitmapRef picture = TexturedPicture(W, H, 7);
    const std::vector<std::uint8_t> source = test::FromBitmap(*picture).Bytes;
    const std::atomic<int> never{0};
    const std::vector<std::uint8_t> expected =
        test::FromBitmap(
            *ConvertAndSharpen(picture, ConversionOptions{}, ConversionCallbacks{}, never).Picture)
            .Bytes;
    const struct {
        const char* What;
        int ThrowAtRead, CancelAtRead, ThrowAtRow, CancelAtRow, LagUntilRead;
        bool FinishFails;
        PipelineOutcome Outcome;
        const char* Message;
    } cases[] = {
        {"every row", 0, 0, -1, -1, 0, false, PipelineOutcome::Done, ""},
        {"the writer lags behind", 0, 0, -1, -1, 4, false, PipelineOutcome::Done, ""},
        {"cancelled while reading", 0, 3, -1, -1, 0, false, PipelineOutcome::Cancelled, ""},
        {"cancelled while writing", 0, 0, -1, 0, 0, false, PipelineOutcome::Cancelled, ""},
        {"the reader throws", 3, 0, -1, -1, 0, false, PipelineOutcome::Failed, "not enough memory"},
        {"the writer throws", 0, 0, 20, -1, 0, false, PipelineOutcome::Failed, "the disk is full"},
        {"the file fails after its rows", 0, 0, -1, -1, 0, true, PipelineOutcome::Failed, "unused"},
    };
    // One thread works with a pool of two bands; two threads with a larger one.
    for (unsigned threads : {1u, 2u}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.What) + " on " + std::to_string(threads) + " threads");
            FakeFile file(source, W, H);
            file.ThrowAtRead = c.ThrowAtRead;
            file.CancelAtRead = c.CancelAtRead;
            file.ThrowAtRow = c.ThrowAtRow;
            file.CancelAtRow = c.CancelAtRow;
            // On two threads the first half has a band waiting when the second is cancelled.
            file.ReadsBeforeCancel = threads > 1 ? 2 : 0;
            file.ReadsBeforeFirstRow = threads > 1 ? c.LagUntilRead : 0;
            file.FinishFails = c.FinishFails;
            RowConversion conversion;
            conversion.Start(W, H, ConversionOptions{});
            const PipelineResult run =
                RunRowPipeline(file, conversion, file, threads, file.Cancel, {});
            EXPECT_EQ(run.Outcome, c.Outcome);
            EXPECT_EQ(run.Message, c.Message);
            EXPECT_EQ(run.ReaderFailed, c.ThrowAtRead != 0 || c.FinishFails);
            // The reader is finished once it has given its last row, and never when cancelled.
            EXPECT_EQ(file.Finishes, c.Outcome == PipelineOutcome::Done || c.FinishFails);
            // Every row written is the conversion's, as far as the rows go.
            ASSERT_LE(file.Result.size(), expected.size());
            EXPECT_TRUE(std::equal(file.Result.begin(), file.Result.end(), expected.begin()));
            if (!c.FinishFails) {
                EXPECT_EQ(file.Result.size() == expected.size(),
                          c.Outcome == PipelineOutcome::Done);
            }
            // Both halves stop at the band after the cancel.
            if (c.CancelAtRead != 0) {
                EXPECT_EQ(file.Reads, c.CancelAtRead);
            }
            if (c.CancelAtRow >= 0) {
                EXPECT_LE(file.Written, file.FirstBand);
            }
        }
    }
}

// A display on a terminal 60 columns wide, redrawn only when told, as `adjust` changes it; what
// it wrote is kept.
struct CapturedDisplay {
    explicit CapturedDisplay(const std::function<void(DisplaySettings&)>& adjust)
        : Stream(std::tmpfile()) {
        DisplaySettings settings;
        settings.Stream = Stream;
        settings.Terminal = true;
        settings.Columns = 60;
        settings.RedrawMilliseconds = 0;
        adjust(settings);
        Display = std::make_unique<ProgressDisplay>(settings);
    }
    ~CapturedDisplay() { std::fclose(Stream); }
    std::string Text() {
        Display.reset();
        return testing::ReadStream(Stream);
    }
    std::FILE* Stream;
    std::unique_ptr<ProgressDisplay> Display;
};

TEST(ProgressDisplay, TheTerminalLineShowsFilesAndColumns) {
    CapturedDisplay captured([](DisplaySettings& settings) {
        settings.Total = 4;
        settings.Slots = 2;
    });
    ProgressDisplay& display = *captured.Display;
    display.Begin(0, "first.jpg");
    display.Begin(1, "second.jpg");
    display.Stage(0, FileStage::Converting, 200);
    display.Stage(1, FileStage::Saving, 200);
    // Columns arrive from the pass's threads.
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&display] {
            for (int i = 0; i < 25; ++i) {
                display.Column(0);
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    display.Finish(1, "second.jpg -> second_vlr.jpg");
    std::string line = display.RenderLine(0.0);
    EXPECT_TRUE(Contains(line, "1/4")) << line;
    EXPECT_TRUE(Contains(line, "first.jpg 50%")) << line;
    EXPECT_EQ(line.find("second.jpg"), std::string::npos) << line;
    EXPECT_LE(line.size(), 59u);

    std::string text = captured.Text();
    // Nothing of a progress line is left after the last message.
    std::string tail = text.substr(text.rfind('\n') + 1);
    EXPECT_TRUE(tail.empty() || (tail.size() >= 4 && tail.substr(tail.size() - 4) == "\r\x1b[K"))
        << tail;
}

TEST(ProgressDisplay, TheLineTellsTheTimeLeft) {
    const struct {
        double Seconds;
        const char* Shown;
    } cases[] = {
        {0, "0:00"},     {0.2, "0:01"},     {59.5, "1:00"},    {61, "1:01"},
        {3599, "59:59"}, {3600, "1:00:00"}, {3723, "1:02:03"}, {-4, "0:00"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FormatTimeLeft(c.Seconds), c.Shown) << c.Seconds;
    }

    CapturedDisplay captured([](DisplaySettings& settings) {
        settings.Terminal = false;
        settings.Total = 4;
    });
    ProgressDisplay& display = *captured.Display;
    display.Begin(0, "a.jpg");
    display.Finish(0, "");
    // A quarter done in 10 s: three quarters more take 30 s.
    EXPECT_TRUE(Contains(display.RenderLine(10.0), "] 1/4 0:30 left")) << display.RenderLine(10.0);
    // Too early to tell.
    EXPECT_EQ(display.RenderLine(1.0).find("left"), std::string::npos);
    for (int i = 0; i < 3; ++i) {
        display.Begin(0, "b.jpg");
        display.Finish(0, "");
    }
    EXPECT_EQ(display.RenderLine(60.0).find("left"), std::string::npos);
}

TEST(ProgressDisplay, ColoursOnlyWhenAllowed) {
    for (bool colour : {false, true}) {
        CapturedDisplay captured([colour](DisplaySettings& settings) {
            settings.Colour = colour;
            settings.Total = 2;
        });
        ProgressDisplay& display = *captured.Display;
        display.Begin(0, "a.jpg");
        display.Finish(0, "a.jpg -> a_vlr.jpg");
        display.Warning("velora-batch: b.jpg: warning: damaged");
        display.Error("velora-batch: c.jpg: broken");
        display.Redraw();
        const std::string text = captured.Text();
        EXPECT_EQ(text.find("\x1b[3") != std::string::npos, colour) << text;
        EXPECT_EQ(testing::Visible(text).find("\x1b"), std::string::npos);
        // The message replaced the line it interrupted.
        EXPECT_TRUE(Contains(text, "\r\x1b[K[1/2] a.jpg -> a_vlr.jpg\n")) << text;
        if (colour) {
            EXPECT_TRUE(Contains(text, "\x1b[31mvelora-batch: c.jpg: broken\x1b[0m\n"));
            EXPECT_TRUE(Contains(text, "\x1b[33mvelora-batch: b.jpg: warning: damaged\x1b[0m\n"));
            // Half of the files done: half of the bar, in green.
            EXPECT_TRUE(Contains(text, "[\x1b[32m##########\x1b[0m----------] 1/2")) << text;
        }
    }
}

}  // namespace
}  // namespace velora::batch
