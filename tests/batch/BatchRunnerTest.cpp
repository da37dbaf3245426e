// The job runner and the progress display, with several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#include "BatchTestSupport.h"
#include "JobRunner.h"
#include "ProgressDisplay.h"

namespace velora::batch {
namespace {

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

struct CapturedDisplay {
    explicit CapturedDisplay(bool terminal, bool quiet, std::size_t total, unsigned slots)
        : Stream(std::tmpfile()) {
        DisplaySettings settings;
        settings.Stream = Stream;
        settings.Terminal = terminal;
        settings.Quiet = quiet;
        settings.Columns = 60;
        settings.Total = total;
        settings.Slots = slots;
        settings.RedrawMilliseconds = 1;
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

TEST(ProgressDisplay, QuietDrawsNoLineEvenOnATerminal) {
    CapturedDisplay captured(true, true, 1, 1);
    captured.Display->Begin(0, "a.jpg");
    captured.Display->Note("velora-batch: b.jpg: exists, skipped");
    captured.Display->Finish(0, "a.jpg -> a_vlr.jpg");
    captured.Display->Error("velora-batch: c.jpg: broken");
    EXPECT_EQ(captured.Text(), "velora-batch: c.jpg: broken\n");
}

TEST(ProgressDisplay, TheTerminalLineShowsFilesAndColumns) {
    CapturedDisplay captured(true, false, 4, 2);
    ProgressDisplay& display = *captured.Display;
    display.Begin(0, "first.jpg");
    display.Begin(1, "second.jpg");
    display.Stage(0, RoadStage::Converting, 200);
    display.Stage(1, RoadStage::Saving, 200);
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
    std::string line = display.RenderLine();
    EXPECT_NE(line.find("1/4"), std::string::npos) << line;
    EXPECT_NE(line.find("first.jpg 50%"), std::string::npos) << line;
    EXPECT_EQ(line.find("second.jpg"), std::string::npos) << line;
    EXPECT_LE(line.size(), 59u);

    std::string text = captured.Text();
    // The message replaced the line it interrupted.
    EXPECT_NE(text.find("[1/4] second.jpg -> second_vlr.jpg\n"), std::string::npos);
    EXPECT_NE(text.find('\r'), std::string::npos);
    // Nothing of a progress line is left after the last message.
    std::string tail = text.substr(text.rfind('\n') + 1);
    EXPECT_TRUE(tail.empty() || (tail.size() >= 4 && tail.substr(tail.size() - 4) == "\r\x1b[K"))
        << tail;
}

}  // namespace
}  // namespace velora::batch
