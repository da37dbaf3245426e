// The program's own work on one photo-sized picture (the conversion pass and the sharpening
// filter) next to what the file codec costs for the same picture: decoding it and encoding it
// again at quality 97, 4:4:4. The summary line gives the ratio and nanoseconds per pixel.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "Conversion.h"
#include "ConvertAndSharpen.h"
#include "UnsharpMaskFilter.h"
#include "WorkingBitmap.h"

namespace velora {
namespace {

constexpr int Width = 6000;
constexpr int Height = 4000;

// Smooth gradients in every channel, a few hard-edged shapes, fine texture and sensor-like noise:
// millions of distinct colours, as in a real photograph.
std::shared_ptr<WorkingBitmap> MakePhotoLike() {
    auto bitmap = WorkingBitmap::CreateBlank(Width, Height);
    BitmapData data;
    bitmap->LockBits(Rect{0, 0, Width, Height}, ImageLockModeRead | ImageLockModeWrite,
                     PixelFormat24bppRGB, &data);
    std::mt19937 rng(2024);
    std::normal_distribution<float> noise(0.0f, 3.0f);
    for (int y = 0; y < Height; ++y) {
        std::uint8_t* row = data.Scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride;
        for (int x = 0; x < Width; ++x) {
            const float fx = static_cast<float>(x) / Width;
            const float fy = static_cast<float>(y) / Height;
            float r = 60 + 150 * fy + 25 * std::sin(fx * 17.0f);
            float g = 50 + 120 * fx * (1 - fy) + 20 * std::sin((fx + fy) * 23.0f);
            float b = 90 + 100 * (1 - fx) * fy;
            const float dx = fx - 0.6f;
            const float dy = fy - 0.4f;
            if (dx * dx + dy * dy < 0.04f) {  // a bright disc
                r = 220 - 40 * fx;
                g = 190;
                b = 150 + 30 * fy;
            }
            if (((x / 500) + (y / 400)) % 7 == 0) {  // dark tiles with hard edges
                r *= 0.35f;
                g *= 0.4f;
                b *= 0.5f;
            }
            const float texture = 8 * std::sin(x * 0.31f) * std::sin(y * 0.27f);
            const float channels[3] = {b, g, r};
            for (int c = 0; c < 3; ++c) {
                const float v = channels[c] + texture + noise(rng);
                row[3 * x + c] = static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v);
            }
        }
    }
    bitmap->UnlockBits(&data);
    return bitmap;
}

WorkingBitmap& Picture() {
    static const std::shared_ptr<WorkingBitmap> picture = MakePhotoLike();
    return *picture;
}

void SetPixelsCounter(benchmark::State& state) {
    state.counters["ns/pixel"] = benchmark::Counter(
        static_cast<double>(Width) * Height,
        benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void Convert(WorkingBitmap& bitmap, unsigned threads) {
    std::atomic<int> cancel{0};
    int columns = 0;
    ConvertPicture(
        bitmap, ConversionOptions{}, [&](int) { ++columns; }, cancel, threads);
    benchmark::DoNotOptimize(columns);
}

std::shared_ptr<WorkingBitmap> Sharpen(WorkingBitmap& bitmap, unsigned threads) {
    UnsharpMaskFilter filter;
    filter.SetThreads(threads);
    return filter.UnsharpMask(bitmap, FinalSharpening::Sigma, FinalSharpening::Amount,
                              FinalSharpening::Channels);
}

void BM_PassAndFilter(benchmark::State& state) {
    const unsigned threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto copy = Picture().Clone(0, 0, Width, Height);
        state.ResumeTiming();
        Convert(*copy, threads);
        auto result = Sharpen(*copy, threads);
        benchmark::DoNotOptimize(result.get());
        state.PauseTiming();
        copy.reset();
        result.reset();
        state.ResumeTiming();
    }
    SetPixelsCounter(state);
}

void BM_PassOnly(benchmark::State& state) {
    const unsigned threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        state.PauseTiming();
        auto copy = Picture().Clone(0, 0, Width, Height);
        state.ResumeTiming();
        Convert(*copy, threads);
        state.PauseTiming();
        copy.reset();
        state.ResumeTiming();
    }
    SetPixelsCounter(state);
}

void BM_FilterOnly(benchmark::State& state) {
    const unsigned threads = static_cast<unsigned>(state.range(0));
    for (auto _ : state) {
        auto result = Sharpen(Picture(), threads);
        benchmark::DoNotOptimize(result.get());
        state.PauseTiming();
        result.reset();
        state.ResumeTiming();
    }
    SetPixelsCounter(state);
}

// The plain path: one locked GetPixel and SetPixel per pixel, every pixel through ConvertPixel.
void BM_PlainPixelPath(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        auto copy = Picture().Clone(0, 0, Width, Height);
        state.ResumeTiming();
        std::atomic<int> cancel{0};
        ConvertPicturePixelByPixel(*copy, ConversionOptions{}, nullptr, cancel);
        auto result = Sharpen(*copy, 1);
        benchmark::DoNotOptimize(result.get());
        state.PauseTiming();
        copy.reset();
        result.reset();
        state.ResumeTiming();
    }
    SetPixelsCounter(state);
}

struct TjHandle {
    tjhandle Handle;
    explicit TjHandle(tjhandle h) : Handle(h) {}
    ~TjHandle() {
        if (Handle) {
            tjDestroy(Handle);
        }
    }
    TjHandle(const TjHandle&) = delete;
    TjHandle& operator=(const TjHandle&) = delete;
};

struct TjBuffer {
    unsigned char* Data = nullptr;
    unsigned long Size = 0;
    ~TjBuffer() { tjFree(Data); }
};

// The same picture as a quality-97 4:4:4 JPEG, made once.
const std::vector<unsigned char>& PictureJpeg() {
    static const std::vector<unsigned char> jpeg = [] {
        BitmapData data;
        WorkingBitmap& p = Picture();
        p.LockBits(Rect{0, 0, Width, Height}, ImageLockModeRead, PixelFormat24bppRGB, &data);
        TjHandle enc(tjInitCompress());
        TjBuffer out;
        tjCompress2(enc.Handle, data.Scan0, Width, data.Stride, Height, TJPF_BGR, &out.Data,
                    &out.Size, TJSAMP_444, 97, 0);
        p.UnlockBits(&data);
        return std::vector<unsigned char>(out.Data, out.Data + out.Size);
    }();
    return jpeg;
}

void BM_CodecBaseline(benchmark::State& state) {
    const std::vector<unsigned char>& jpeg = PictureJpeg();
    TjHandle dec(tjInitDecompress());
    TjHandle enc(tjInitCompress());
    const int stride = (Width * 3 + 3) & ~3;
    std::vector<unsigned char> pixels(static_cast<std::size_t>(stride) * Height);
    for (auto _ : state) {
        if (tjDecompress2(dec.Handle, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                          pixels.data(), Width, stride, Height, TJPF_BGR, 0) != 0) {
            state.SkipWithError("decode failed");
            break;
        }
        TjBuffer out;
        if (tjCompress2(enc.Handle, pixels.data(), Width, stride, Height, TJPF_BGR, &out.Data,
                        &out.Size, TJSAMP_444, 97, 0) != 0) {
            state.SkipWithError("encode failed");
            break;
        }
        benchmark::DoNotOptimize(out.Size);
    }
    SetPixelsCounter(state);
}

BENCHMARK(BM_CodecBaseline)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(2.0);
BENCHMARK(BM_PassAndFilter)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(2.0);
BENCHMARK(BM_PassOnly)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(1.0);
BENCHMARK(BM_FilterOnly)
    ->Arg(0)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->MinTime(1.0);
BENCHMARK(BM_PlainPixelPath)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Iterations(1);

// "BM_X/0/min_time:2.000/process_time/real_time" becomes "BM_X/0".
std::string ShortName(const std::string& full) {
    std::string out;
    std::size_t start = 0;
    while (start <= full.size()) {
        std::size_t end = full.find('/', start);
        if (end == std::string::npos) {
            end = full.size();
        }
        const std::string part = full.substr(start, end - start);
        if (part.rfind("min_time:", 0) != 0 && part.rfind("iterations:", 0) != 0 &&
            part != "process_time" && part != "real_time") {
            out += (out.empty() ? "" : "/") + part;
        }
        start = end + 1;
    }
    return out;
}

// Prints the usual table and remembers each run's seconds per iteration for the summary.
class SummaryReporter : public benchmark::ConsoleReporter {
  public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.iterations > 0 && !run.error_occurred) {
                Seconds[ShortName(run.benchmark_name())] = {
                    run.real_accumulated_time / static_cast<double>(run.iterations),
                    run.cpu_accumulated_time / static_cast<double>(run.iterations)};
            }
        }
        ConsoleReporter::ReportRuns(runs);
    }
    std::map<std::string, std::pair<double, double>> Seconds;  // wall, all threads' CPU
};

}  // namespace
}  // namespace velora

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    velora::Picture();  // made before any timing
    velora::PictureJpeg();
    velora::SummaryReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto& s = reporter.Seconds;
    const auto codec = s.find("BM_CodecBaseline");
    const double pixels = static_cast<double>(velora::Width) * velora::Height;
    if (codec != s.end()) {
        std::printf("codec baseline: %.1f ms wall, %.1f ms CPU, %.2f ns/pixel wall\n",
                    codec->second.first * 1e3, codec->second.second * 1e3,
                    codec->second.first * 1e9 / pixels);
    }
    for (const char* name : {"BM_PassAndFilter/0", "BM_PassAndFilter/1", "BM_PlainPixelPath"}) {
        const auto ours = s.find(name);
        if (codec != s.end() && ours != s.end()) {
            std::printf(
                "%s: %.1f ms wall (%.2f ns/pixel, %.3f x codec), %.1f ms CPU (%.3f x codec)\n",
                name, ours->second.first * 1e3, ours->second.first * 1e9 / pixels,
                ours->second.first / codec->second.first, ours->second.second * 1e3,
                ours->second.second / codec->second.second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
