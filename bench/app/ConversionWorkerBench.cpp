// One 24-megapixel conversion, pass and sharpening, two ways: directly on the calling thread's
// terms as velora-batch does it (the baseline), and through ConversionWorker with an event loop
// receiving every column's progress signal as the window does. The window's figure carries the
// ratio to the baseline measured earlier in the same run.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>

#include "Conversion.h"
#include "ConversionWorker.h"
#include "ConvertAndSharpen.h"
#include "WorkingBitmap.h"

namespace {

using namespace velora;

constexpr int PhotoWidth = 6000;
constexpr int PhotoHeight = 4000;

// Something like a photograph: broad smooth gradients, a few objects with edges, and sensor
// noise, so that colours repeat about as often as in a real picture.
BitmapRef MakePhotoLikePicture() {
    BitmapRef picture = WorkingBitmap::CreateBlank(PhotoWidth, PhotoHeight);
    BitmapData data;
    if (picture->LockBits(Rect{0, 0, PhotoWidth, PhotoHeight},
                          ImageLockModeRead | ImageLockModeWrite, PixelFormat24bppRGB,
                          &data) != Status::Ok) {
        return nullptr;
    }
    std::uint32_t noise = 12345u;
    for (int y = 0; y < PhotoHeight; ++y) {
        std::uint8_t* p = data.Scan0 + static_cast<std::ptrdiff_t>(y) * data.Stride;
        for (int x = 0; x < PhotoWidth; ++x, p += 3) {
            noise = noise * 1664525u + 1013904223u;
            const int jitter = static_cast<int>((noise >> 24) % 9) - 4;
            double r = 120 + 80 * std::sin(x * 0.0011) * std::cos(y * 0.0017);
            double g = 110 + 70 * std::sin((x + y) * 0.0009);
            double b = 140 + 90 * std::cos(y * 0.0013);
            const int dx = x - 3000;
            const int dy = y - 2200;
            if (dx * dx + dy * dy < 900 * 900) {  // a warm, skin-like disc
                r = 205 - 0.02 * dy;
                g = 150 - 0.015 * dy;
                b = 122;
            }
            if ((x / 700 + y / 500) % 5 == 0) {  // hard-edged darker blocks
                r *= 0.5;
                g *= 0.55;
                b *= 0.6;
            }
            auto byte = [jitter](double v) {
                return static_cast<std::uint8_t>(std::clamp(static_cast<int>(v) + jitter, 0, 255));
            };
            p[0] = byte(b);
            p[1] = byte(g);
            p[2] = byte(r);
        }
    }
    picture->UnlockBits(&data);
    return picture;
}

const BitmapRef& Photo() {
    static const BitmapRef photo = MakePhotoLikePicture();
    return photo;
}

BitmapRef FreshCopy() {
    return Photo()->Clone(0, 0, PhotoWidth, PhotoHeight);
}

double BatchSecondsPerPass = 0.0;

void BM_PassAsBatch(benchmark::State& state) {
    const ConversionOptions options;
    const std::atomic<int> cancel{0};
    double total = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        BitmapRef picture = FreshCopy();
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        BitmapRef result =
            ConvertAndSharpen(picture, options, ConversionCallbacks{}, cancel).Picture;
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        benchmark::DoNotOptimize(result);
    }
    BatchSecondsPerPass = total / static_cast<double>(state.iterations());
    state.counters["megapixels_per_s"] =
        PhotoWidth * double(PhotoHeight) / 1e6 / BatchSecondsPerPass;
}

void BM_PassAsWindow(benchmark::State& state) {
    ConversionWorker worker;
    // The 200 ms pause is a deliberate delay before showing the result, not work.
    worker.SetPauseMilliseconds(0);
    QEventLoop loop;
    long long progressSignals = 0;
    bool completed = false;
    QObject::connect(&worker, &ConversionWorker::Progress, &loop, [&](int) { ++progressSignals; });
    QObject::connect(&worker, &ConversionWorker::Completed, &loop, [&](const BitmapRef& result) {
        completed = result != nullptr;
        loop.quit();
    });
    QObject::connect(&worker, &ConversionWorker::Cancelled, &loop, [&] { loop.quit(); });
    double total = 0.0;
    for (auto _ : state) {
        state.PauseTiming();
        BitmapRef picture = FreshCopy();
        progressSignals = 0;
        completed = false;
        state.ResumeTiming();
        const auto begin = std::chrono::steady_clock::now();
        worker.Start(picture, ConversionOptions());
        loop.exec();
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        if (!completed || progressSignals != PhotoWidth + 1) {
            state.SkipWithError("the window's pass did not complete with one signal per column");
            return;
        }
    }
    const double seconds = total / static_cast<double>(state.iterations());
    state.counters["megapixels_per_s"] = PhotoWidth * double(PhotoHeight) / 1e6 / seconds;
    if (BatchSecondsPerPass > 0.0) {
        state.counters["ratio_to_batch"] = seconds / BatchSecondsPerPass;
    }
}

// The baseline is registered first so that its figure exists when the window's runs.
BENCHMARK(BM_PassAsBatch)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);
BENCHMARK(BM_PassAsWindow)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(4);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
