// velora-batch on one 24-megapixel photo against `djpeg | cjpeg -quality 97` on the same file, its
// peak memory against the decoded picture, and a batch of eight such photos with one job and two.
// Every command runs as a child process; the figures are summed up at the end of the run.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"
#include "TestPhoto.h"

namespace {

namespace fs = std::filesystem;
using velora::bench::ChildCost;
using velora::bench::RunChild;

constexpr int PhotoWidth = 6000;
constexpr int PhotoHeight = 4000;
constexpr double DecodedMegabytes = PhotoWidth * PhotoHeight * 3 / 1e6;
constexpr int BatchFiles = 8;

struct Figures {
    double Seconds = 0.0;
    int Runs = 0;
    double PeakMegabytes = 0.0;
    double Mean() const { return Runs ? Seconds / Runs : 0.0; }
};
std::map<std::string, Figures> Measured;

fs::path Scratch;

std::string Quoted(const std::string& text) {
    return "'" + text + "'";
}

void Measure(benchmark::State& state, const std::string& name,
             const std::vector<std::string>& command) {
    for (auto _ : state) {
        ChildCost cost = RunChild(command);
        if (cost.ExitCode != 0) {
            state.SkipWithError(("exit status " + std::to_string(cost.ExitCode)).c_str());
            return;
        }
        state.SetIterationTime(cost.Seconds);
        Figures& figures = Measured[name];
        figures.Seconds += cost.Seconds;
        ++figures.Runs;
        figures.PeakMegabytes = std::max(figures.PeakMegabytes, cost.PeakMegabytes * 1.048576);
    }
    state.counters["peak_MB"] = Measured[name].PeakMegabytes;
}

std::vector<std::string> BatchCommand(const std::vector<std::string>& options,
                                      const std::vector<std::string>& files) {
    std::vector<std::string> command = {VELORA_BATCH_TOOL, "--quiet", "--overwrite", "-o",
                                        (Scratch / "out").string()};
    command.insert(command.end(), options.begin(), options.end());
    command.insert(command.end(), files.begin(), files.end());
    return command;
}

void PrintSummary() {
    const Figures& baseline = Measured["djpeg|cjpeg"];
    const Figures& one = Measured["velora-batch"];
    const Figures& jobs1 = Measured["batch8 --jobs 1"];
    const Figures& jobs2 = Measured["batch8 --jobs 2"];
    std::printf("\n== velora-batch on a %dx%d photo (%.0f MB decoded)\n", PhotoWidth, PhotoHeight,
                DecodedMegabytes);
    std::printf("djpeg | cjpeg -quality 97   %8.3f s\n", baseline.Mean());
    std::printf("velora-batch, one file      %8.3f s   time ratio %.2f (goal <= 1.5)\n", one.Mean(),
                baseline.Mean() > 0 ? one.Mean() / baseline.Mean() : 0.0);
    std::printf("velora-batch peak memory    %8.1f MB  = %.2f x decoded (goal <= 4, %.0f MB)\n",
                one.PeakMegabytes, one.PeakMegabytes / DecodedMegabytes, 4 * DecodedMegabytes);
    std::printf("%d files, --jobs 1          %8.3f s   peak %.1f MB\n", BatchFiles, jobs1.Mean(),
                jobs1.PeakMegabytes);
    std::printf("%d files, --jobs 2          %8.3f s   peak %.1f MB   speed-up %.2f on %u cores\n",
                BatchFiles, jobs2.Mean(), jobs2.PeakMegabytes,
                jobs2.Mean() > 0 ? jobs1.Mean() / jobs2.Mean() : 0.0,
                std::thread::hardware_concurrency());
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    std::string pattern = (fs::temp_directory_path() / "velora-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a scratch folder\n");
        return 1;
    }
    Scratch = pattern;
    fs::create_directory(Scratch / "out");
    const std::string photo = (Scratch / "photo.jpg").string();
    if (!velora::bench::WriteTestPhoto(photo, PhotoWidth, PhotoHeight)) {
        std::fprintf(stderr, "cannot write the test photo\n");
        return 1;
    }
    std::vector<std::string> batch;
    for (int i = 0; i < BatchFiles; ++i) {
        batch.push_back((Scratch / ("photo" + std::to_string(i) + ".jpg")).string());
        fs::copy_file(photo, batch.back(), fs::copy_options::overwrite_existing);
    }
    const std::string baselineOut = (Scratch / "out" / "baseline.jpg").string();

    benchmark::RegisterBenchmark(
        "djpeg|cjpeg -quality 97",
        [&](benchmark::State& state) {
            Measure(state, "djpeg|cjpeg",
                    {"sh", "-c",
                     "djpeg " + Quoted(photo) + " | cjpeg -quality 97 > " + Quoted(baselineOut)});
        })
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(
        "velora-batch one file",
        [&](benchmark::State& state) { Measure(state, "velora-batch", BatchCommand({}, {photo})); })
        ->UseManualTime()
        ->Iterations(3)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(
        "velora-batch 8 files --jobs 1",
        [&](benchmark::State& state) {
            Measure(state, "batch8 --jobs 1", BatchCommand({"--jobs", "1"}, batch));
        })
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark(
        "velora-batch 8 files --jobs 2",
        [&](benchmark::State& state) {
            Measure(state, "batch8 --jobs 2", BatchCommand({"--jobs", "2"}, batch));
        })
        ->UseManualTime()
        ->Iterations(1)
        ->Unit(benchmark::kMillisecond);

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    PrintSummary();
    std::error_code error;
    fs::remove_all(Scratch, error);
    return 0;
}
