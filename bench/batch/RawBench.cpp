// A 24-megapixel camera raw through velora-batch against LibRaw's own tool: `velora-batch
// photo.dng` beside `dcraw_emu -w -o 1 -T` (the same development) followed by velora-batch on
// the TIFF it wrote. Alternating rounds in one run, medians of wall time, and the peak memory of
// velora-batch against dcraw_emu's (LibRaw's own need). The raw is made by the tests' generator
// (tests/data/crafted_raw.py): a 6000 x 4000 RGGB DNG, 16 bits a sample, uncompressed.
//
//   bench_raw [--rounds N] [--size WIDTHxHEIGHT]
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace {

namespace fs = std::filesystem;
using velora::bench::ChildCost;
using velora::bench::RunChild;
using velora::bench::RunTimed;

constexpr double TimeGoal = 1.3;
constexpr double MemoryGoal = 2.0;

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    return n == 0 ? 0.0 : n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

struct Measured {
    std::vector<double> Seconds;
    double PeakMiB = 0.0;
    bool Failed = false;

    // One command of this way to a result, its time added to this round's.
    void Step(const std::vector<std::string>& argv, const fs::path& scratch, double& round) {
        const ChildCost cost = RunTimed(argv, (scratch / "time.txt").string());
        if (cost.ExitCode != 0) {
            std::fprintf(stderr, "failed (status %d): %s\n", cost.ExitCode, argv[0].c_str());
            Failed = true;
        }
        round += cost.Seconds;
        PeakMiB = std::max(PeakMiB, cost.PeakMiB);
    }
};

}  // namespace

int main(int argc, char** argv) {
    int rounds = 3;
    std::string size = "6000x4000";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--size") == 0) {
            size = argv[i + 1];
        }
    }
    const std::size_t x = size.find('x');
    if (x == std::string::npos) {
        std::fprintf(stderr, "--size takes WIDTHxHEIGHT\n");
        return 2;
    }
    std::string pattern = (fs::temp_directory_path() / "velora-bench-raw-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a scratch folder\n");
        return 1;
    }
    const fs::path scratch = pattern;
    const std::string raw = (scratch / "sensor.dng").string();
    const std::string developed = (scratch / "developed.tif").string();
    const std::string out = (scratch / "out").string();
    fs::create_directory(out);
    if (RunChild({"python3", VELORA_RAW_GENERATOR, raw, size.substr(0, x), size.substr(x + 1)})
            .ExitCode != 0) {
        std::fprintf(stderr, "cannot make the raw (python3 %s)\n", VELORA_RAW_GENERATOR);
        return 1;
    }
    const std::vector<std::string> velora = {
        VELORA_BATCH_TOOL, "--quiet", "--overwrite", "-o", out, raw};
    const std::vector<std::string> libRaw = {"dcraw_emu", "-w", "-o",      "1",
                                             "-T",        "-Z", developed, raw};
    const std::vector<std::string> afterLibRaw = {
        VELORA_BATCH_TOOL, "--quiet", "--overwrite", "-o", out, developed};
    Measured direct, baseline, decodeOnly;
    for (int r = 0; r < rounds; ++r) {
        // Alternating which goes first evens out what the shared machine does meanwhile.
        for (int order = 0; order < 2; ++order) {
            if ((order == 0) == (r % 2 == 0)) {
                double seconds = 0;
                direct.Step(velora, scratch, seconds);
                direct.Seconds.push_back(seconds);
            } else {
                double decode = 0, whole = 0;
                decodeOnly.Step(libRaw, scratch, decode);
                whole = decode;
                baseline.Step(afterLibRaw, scratch, whole);
                decodeOnly.Seconds.push_back(decode);
                baseline.Seconds.push_back(whole);
            }
        }
    }
    const double ours = Median(direct.Seconds);
    const double theirs = Median(baseline.Seconds);
    std::printf("raw %s, %d rounds (%ju bytes)\n", size.c_str(), rounds,
                static_cast<std::uintmax_t>(fs::file_size(raw)));
    std::printf("  velora-batch on the raw:            %7.2f s  peak %7.1f MiB\n", ours,
                direct.PeakMiB);
    std::printf("  dcraw_emu -w -o 1 -T alone:         %7.2f s  peak %7.1f MiB\n",
                Median(decodeOnly.Seconds), decodeOnly.PeakMiB);
    std::printf("  dcraw_emu + velora-batch on its TIFF: %5.2f s  peak %7.1f MiB\n", theirs,
                baseline.PeakMiB);
    const double timeRatio = theirs > 0 ? ours / theirs : 0;
    const double memoryRatio = decodeOnly.PeakMiB > 0 ? direct.PeakMiB / decodeOnly.PeakMiB : 0;
    std::printf("  time %.2fx (goal <= %.1fx: %s), memory %.2fx LibRaw's own (goal <= %.1fx: %s)\n",
                timeRatio, TimeGoal, timeRatio <= TimeGoal ? "met" : "MISSED", memoryRatio,
                MemoryGoal, memoryRatio <= MemoryGoal ? "met" : "MISSED");
    std::error_code error;
    fs::remove_all(scratch, error);
    return direct.Failed || baseline.Failed || decodeOnly.Failed ? 1 : 0;
}
