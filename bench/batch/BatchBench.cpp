// velora-batch against the codec's own floor on real photos: for every photo of a folder (the
// large ones beside the repository by default), `djpeg FILE | cjpeg -quality 97 -sample 1x1`
// and velora-batch on the same file, alternating in the same run, medians of wall and CPU time,
// and velora-batch's peak memory against what djpeg alone needs for that file; velora-batch runs
// twice in each round, on the widest vector path and held to SSE2 (VELORA_SIMD=sse2), each run
// writing a new result; once more replacing the result it wrote, which is reported apart. Then the
// start-up: both on a 1x1 JPEG. Then eight of those photos with --jobs 1 against --jobs 2, and
// against two --jobs 1 runs side by side (what the machine lets two processes gain). Every
// command runs as a child process after a sync, so that none pays for the disk writes of another,
// and under /usr/bin/time -v for its peak memory, except at the start-up, which reports no peak:
// there time(1)'s own start would be a third of each side's figure. The machine may be shared,
// so the load average is printed with every figure.
//
//   bench_batch [--rounds N] [--batch-rounds N] [--photos DIR] [--tiny FILE]
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ChildProcess.h"

namespace {

namespace fs = std::filesystem;
using velora::bench::ChildCost;
using velora::bench::RunChild;
using velora::bench::RunTimed;

// A progressive file spends most of its time in the scans before the first row, which both
// sides pay alike; a 4:4:4 file gives the pipe's encoder less to do, so the same work weighs more.
constexpr double WallGoal = 0.8;
constexpr double ProgressiveWallGoal = 1.0;
constexpr double CpuGoal = 1.2;
constexpr double FullChromaCpuGoal = 1.3;
constexpr double MemoryAllowanceMiB = 32.0;
constexpr double JobsGoal = 1.8;
constexpr int BatchFiles = 8;

struct Samples {
    std::vector<double> Wall;
    std::vector<double> Cpu;
    double PeakMiB = 0.0;

    void Add(const ChildCost& cost) {
        Wall.push_back(cost.Seconds);
        Cpu.push_back(cost.CpuSeconds);
        PeakMiB = std::max(PeakMiB, cost.PeakMiB);
    }
    static double Median(std::vector<double> values) {
        if (values.empty()) {
            return 0.0;
        }
        std::sort(values.begin(), values.end());
        const std::size_t n = values.size();
        return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    }
    double WallMedian() const { return Median(Wall); }
    double CpuMedian() const { return Median(Cpu); }
};

std::string Quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

// What the frame header says: progressive (SOF2) and whether every component is sampled 1x1.
struct JpegKind {
    bool Progressive = false;
    bool FullChroma = false;
};

JpegKind KindOf(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> head(1 << 20);
    in.read(reinterpret_cast<char*>(head.data()), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    JpegKind kind;
    for (std::size_t i = 2; i + 4 < head.size();) {
        if (head[i] != 0xFF) {
            break;
        }
        const unsigned marker = head[i + 1];
        const std::size_t length = (std::size_t{head[i + 2]} << 8) | head[i + 3];
        if (marker >= 0xC0 && marker <= 0xC2 && i + 10 < head.size()) {
            kind.Progressive = marker == 0xC2;
            const unsigned components = head[i + 9];
            kind.FullChroma = true;
            for (unsigned c = 0; c < components && i + 12 + 3 * c < head.size(); ++c) {
                kind.FullChroma = kind.FullChroma && head[i + 11 + 3 * c] == 0x11;
            }
            break;
        }
        i += 2 + length;
    }
    return kind;
}

double Ratio(double a, double b) {
    return b > 0 ? a / b : 0.0;
}

const char* Verdict(bool met) {
    return met ? "met" : "MISSED";
}

class Bench {
  public:
    Bench(fs::path scratch, std::string tool) : Scratch(std::move(scratch)), Tool(std::move(tool)) {
        fs::create_directories(Scratch / "out");
    }

    // Every run writes new results, as a batch into a new folder does, unless `replacing`: the
    // pipe's shell truncates an old output beside djpeg's start, where velora-batch keeps an old
    // result whole until the new one is safely on the disk, and frees it only then.
    bool Run(const std::vector<std::string>& argv, Samples& into, bool replacing = false,
             bool peak = true) {
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(Scratch / "out", error)) {
            if (!replacing && entry.is_regular_file()) {
                fs::remove(entry.path(), error);
            }
        }
        // The disk is settled before the clock starts. The journal is one for the whole file
        // system: the first fsync after a run of the pipe (which syncs nothing) would otherwise
        // also commit the pipe's file and the removals above, and a large photo's result could
        // still be going to the disk under the next run.
        ::sync();
        const ChildCost cost =
            peak ? RunTimed(argv, (Scratch / "time.txt").string()) : RunChild(argv);
        if (cost.ExitCode != 0) {
            std::fprintf(stderr, "failed (status %d): %s\n", cost.ExitCode, argv.back().c_str());
            Failed = true;
            return false;
        }
        into.Add(cost);
        return true;
    }

    std::vector<std::string> Pipe(const std::string& photo) const {
        return {"sh", "-c",
                "djpeg " + Quoted(photo) + " | cjpeg -quality 97 -sample 1x1 > " +
                    Quoted((Scratch / "out" / "pipe.jpg").string())};
    }
    std::vector<std::string> DjpegAlone(const std::string& photo) const {
        return {"djpeg", "-outfile", "/dev/null", photo};
    }
    std::vector<std::string> Batch(const std::vector<std::string>& options,
                                   const std::vector<std::string>& files, bool sse2 = false) const {
        std::vector<std::string> command = {Tool, "--quiet", "--overwrite", "-o",
                                            (Scratch / "out").string()};
        if (sse2) {
            command.insert(command.begin(), {"env", "VELORA_SIMD=sse2"});
        }
        command.insert(command.end(), options.begin(), options.end());
        command.insert(command.end(), files.begin(), files.end());
        return command;
    }

    void Photo(const std::string& photo, int rounds) {
        Samples pipe, batch, sse2, djpeg, replacing;
        for (int round = 0; round < rounds; ++round) {
            // Each order half of the time, so that neither always runs on a cache the other
            // warmed or a machine the other loaded.
            if (round % 2 == 0) {
                Run(Pipe(photo), pipe);
                Run(Batch({}, {photo}), batch);
                Run(Batch({}, {photo}), replacing, true);
                Run(Batch({}, {photo}, true), sse2);
            } else {
                Run(Batch({}, {photo}, true), sse2);
                Run(Batch({}, {photo}), replacing, true);
                Run(Batch({}, {photo}), batch);
                Run(Pipe(photo), pipe);
            }
            Run(DjpegAlone(photo), djpeg);
        }
        const JpegKind kind = KindOf(photo);
        const double wallGoal = kind.Progressive ? ProgressiveWallGoal : WallGoal;
        const double cpuGoal = kind.FullChroma ? FullChromaCpuGoal : CpuGoal;
        const double wall = Ratio(batch.WallMedian(), pipe.WallMedian());
        const double cpu = Ratio(batch.CpuMedian(), pipe.CpuMedian());
        const double limit = djpeg.PeakMiB + MemoryAllowanceMiB;
        std::printf("%s (%s%s), load %s\n", fs::path(photo).filename().c_str(),
                    kind.Progressive ? "progressive" : "baseline", kind.FullChroma ? ", 4:4:4" : "",
                    LoadAverage().c_str());
        std::printf("  pipe          wall %7.3f s  cpu %7.3f s  peak %6.1f MiB\n",
                    pipe.WallMedian(), pipe.CpuMedian(), pipe.PeakMiB);
        std::printf("  velora-batch  wall %7.3f s  cpu %7.3f s  peak %6.1f MiB\n",
                    batch.WallMedian(), batch.CpuMedian(), batch.PeakMiB);
        std::printf("  same, sse2    wall %7.3f s  cpu %7.3f s  peak %6.1f MiB\n",
                    sse2.WallMedian(), sse2.CpuMedian(), sse2.PeakMiB);
        std::printf("  replacing     wall %7.3f s  cpu %7.3f s  (its earlier result there)\n",
                    replacing.WallMedian(), replacing.CpuMedian());
        std::printf("  djpeg alone                                  peak %6.1f MiB\n",
                    djpeg.PeakMiB);
        std::printf(
            "  wall ratio %.2f (goal <= %.1f, %s)  cpu ratio %.2f (goal <= %.1f, %s)  "
            "peak %.1f of %.1f MiB (%s)\n",
            wall, wallGoal, Verdict(wall <= wallGoal), cpu, cpuGoal, Verdict(cpu <= cpuGoal),
            batch.PeakMiB, limit, Verdict(batch.PeakMiB <= limit));
        Rows.push_back(Row{
            fs::path(photo).filename().string(), wall, cpu,
            Ratio(sse2.WallMedian(), pipe.WallMedian()), Ratio(sse2.CpuMedian(), pipe.CpuMedian()),
            Ratio(replacing.WallMedian(), pipe.WallMedian()), batch.PeakMiB, limit, LoadAverage()});
    }

    // Everything but the pixels: start, open, write, fsync, exit.
    void StartUp(const std::string& tiny, int rounds) {
        Samples pipe, batch;
        for (int round = 0; round < rounds; ++round) {
            if (round % 2 == 0) {
                Run(Pipe(tiny), pipe, false, false);
                Run(Batch({}, {tiny}), batch, false, false);
            } else {
                Run(Batch({}, {tiny}), batch, false, false);
                Run(Pipe(tiny), pipe, false, false);
            }
        }
        std::printf("start-up on %s, load %s\n", fs::path(tiny).filename().c_str(),
                    LoadAverage().c_str());
        std::printf("  pipe          wall %6.3f ms  cpu %6.3f ms\n", 1e3 * pipe.WallMedian(),
                    1e3 * pipe.CpuMedian());
        std::printf("  velora-batch  wall %6.3f ms  cpu %6.3f ms\n", 1e3 * batch.WallMedian(),
                    1e3 * batch.CpuMedian());
        StartUpWall = Ratio(batch.WallMedian(), pipe.WallMedian());
        StartUpCpu = Ratio(batch.CpuMedian(), pipe.CpuMedian());
        std::printf("  wall ratio %.2f  cpu ratio %.2f (goal both <= 1.0, %s)\n", StartUpWall,
                    StartUpCpu, Verdict(StartUpWall <= 1.0 && StartUpCpu <= 1.0));
    }

    void Jobs(const std::vector<std::string>& photos, int rounds) {
        std::vector<std::string> files;
        fs::create_directories(Scratch / "eight");
        for (int i = 0; i < BatchFiles; ++i) {
            const fs::path copy = Scratch / "eight" / ("photo" + std::to_string(i) + ".jpg");
            // Copies: velora-batch converts a file named twice (or through links) once.
            fs::copy_file(photos[static_cast<std::size_t>(i) % photos.size()], copy,
                          fs::copy_options::overwrite_existing);
            files.push_back(copy.string());
        }
        // The control: two runs of --jobs 1 on half the files each, side by side. It scales as
        // far as the machine lets two busy processes scale (a machine with no idle core, or a
        // scheduler that shares the cores between sessions rather than threads, lets it scale
        // little), so --jobs 2 against it is what Velora itself loses.
        const std::vector<std::string> firstHalf(files.begin(), files.begin() + BatchFiles / 2);
        const std::vector<std::string> secondHalf(files.begin() + BatchFiles / 2, files.end());
        std::string side;
        for (const auto& half : {firstHalf, secondHalf}) {
            std::string command;
            for (const std::string& word : Batch({"--jobs", "1"}, half)) {
                command += Quoted(word) + " ";
            }
            side += side.empty() ? command + "& " : command + "; wait";
        }
        const std::vector<std::string> control = {"sh", "-c", side};
        Samples one, two, apart;
        for (int round = 0; round < rounds; ++round) {
            if (round % 2 == 0) {
                Run(Batch({"--jobs", "1"}, files), one);
                Run(Batch({"--jobs", "2"}, files), two);
                Run(control, apart);
            } else {
                Run(control, apart);
                Run(Batch({"--jobs", "2"}, files), two);
                Run(Batch({"--jobs", "1"}, files), one);
            }
        }
        const double speedUp = Ratio(one.WallMedian(), two.WallMedian());
        const double controlSpeedUp = Ratio(one.WallMedian(), apart.WallMedian());
        std::printf("%d files (the photos above in turn), load %s\n", BatchFiles,
                    LoadAverage().c_str());
        std::printf("  --jobs 1      wall %7.3f s  cpu %7.3f s  peak %6.1f MiB\n", one.WallMedian(),
                    one.CpuMedian(), one.PeakMiB);
        std::printf("  --jobs 2      wall %7.3f s  cpu %7.3f s  peak %6.1f MiB\n", two.WallMedian(),
                    two.CpuMedian(), two.PeakMiB);
        std::printf("  2 x --jobs 1  wall %7.3f s  cpu %7.3f s  (two processes, 4 files each)\n",
                    apart.WallMedian(), apart.CpuMedian());
        std::printf("  speed-up %.2f (goal >= %.1f, %s); the control's %.2f\n", speedUp, JobsGoal,
                    Verdict(speedUp >= JobsGoal), controlSpeedUp);
        ControlSpeedUp = controlSpeedUp;
        JobsSpeedUp = speedUp;
    }

    void Summary() const {
        std::printf("\nsummary (ratios to the pipe; peak against djpeg alone + %.0f MiB)\n",
                    MemoryAllowanceMiB);
        std::printf(
            "| photo | wall | CPU | wall, sse2 | CPU, sse2 | wall, replacing | peak MiB "
            "| limit MiB | load |\n"
            "|---|---|---|---|---|---|---|---|---|\n");
        for (const Row& row : Rows) {
            std::printf("| %s | %.2f | %.2f | %.2f | %.2f | %.2f | %.1f | %.1f | %s |\n",
                        row.Name.c_str(), row.Wall, row.Cpu, row.WallSse2, row.CpuSse2,
                        row.WallReplacing, row.Peak, row.Limit, row.Load.c_str());
        }
        std::printf("start-up on a 1x1 JPEG against the pipe: wall %.2f, CPU %.2f\n", StartUpWall,
                    StartUpCpu);
        std::printf(
            "8 files, --jobs 2 against --jobs 1: %.2fx (two processes side by side: %.2fx)\n",
            JobsSpeedUp, ControlSpeedUp);
    }

    bool Failed = false;

  private:
    struct Row {
        std::string Name;
        double Wall, Cpu, WallSse2, CpuSse2, WallReplacing, Peak, Limit;
        std::string Load;
    };
    fs::path Scratch;
    std::string Tool;
    std::vector<Row> Rows;
    double JobsSpeedUp = 0.0;
    double ControlSpeedUp = 0.0;
    double StartUpWall = 0.0;
    double StartUpCpu = 0.0;
};

}  // namespace

int main(int argc, char** argv) {
    int rounds = 5;
    int batchRounds = 3;
    std::string folder = VELORA_PHOTOS_DIR "/large";
    std::string tiny = VELORA_PHOTOS_DIR "/special/tiny_1x1_minimal_exif.jpg";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (std::strcmp(argv[i], "--rounds") == 0) {
            rounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--batch-rounds") == 0) {
            batchRounds = std::max(1, std::atoi(argv[i + 1]));
        } else if (std::strcmp(argv[i], "--photos") == 0) {
            folder = argv[i + 1];
        } else if (std::strcmp(argv[i], "--tiny") == 0) {
            tiny = argv[i + 1];
        }
    }
    std::vector<std::string> photos;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error)) {
        const std::string extension = entry.path().extension().string();
        const std::string stem = entry.path().stem().string();
        // A result left beside its photo is no photo: velora-batch passes it over.
        const bool result = stem.size() > 4 && stem.compare(stem.size() - 4, 4, "_vlr") == 0;
        if (entry.is_regular_file() && !result && (extension == ".jpg" || extension == ".jpeg")) {
            photos.push_back(entry.path().string());
        }
    }
    std::sort(photos.begin(), photos.end());
    if (photos.empty()) {
        std::printf("skipped: no photos in %s\n", folder.c_str());
        return 0;
    }
    std::string pattern = (fs::temp_directory_path() / "velora-bench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "cannot make a scratch folder\n");
        return 1;
    }
    std::printf("load average at the start: %s\n", LoadAverage().c_str());
    Bench bench(pattern, VELORA_BATCH_TOOL);
    for (const std::string& photo : photos) {
        bench.Photo(photo, rounds);
    }
    if (fs::exists(tiny)) {
        // A few milliseconds a pair: many pairs cost little and steady the medians.
        bench.StartUp(tiny, 20 * rounds);
    }
    bench.Jobs(photos, batchRounds);
    bench.Summary();
    std::printf("load average at the end: %s\n", LoadAverage().c_str());
    fs::remove_all(pattern, error);
    return bench.Failed ? 1 : 0;
}
