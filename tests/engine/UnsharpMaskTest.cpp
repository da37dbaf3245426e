// The sharpening filter: kernels from the worked values, the worked edge cases, and the whole
// filter against a direct evaluation of its definition on random pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>
#include <vector>

#include "PictureHelpers.h"
#include "UnsharpMaskFilter.h"
#include "UnsharpMaskRows.h"

namespace velora {
namespace {

using test::Plain;
using Dir = UnsharpMaskFilter::Direction;

const std::vector<std::int32_t> Kernel04 = {1, 23, 1};
const std::vector<std::int32_t> Kernel10 = {1, 12, 55, 90, 55, 12, 1};
const std::vector<std::int32_t> Kernel20 = {1, 3, 7, 14, 20, 23, 20, 14, 7, 3, 1};
const std::vector<std::int32_t> Identity = {1};

// One one-dimensional pass straight from its definition: the window cut at the ends of the
// line, the sum divided by the weights that were used. Unselected channels keep the source.
Plain BlurByDefinition(const Plain& in, const std::vector<std::int32_t>& k, bool horizontal,
                       unsigned channels) {
    Plain out = in;
    const int h = static_cast<int>(k.size() / 2);
    for (int c = 0; c < 3; ++c) {
        if ((channels & (1u << c)) == 0) {
            continue;
        }
        for (int y = 0; y < in.H; ++y) {
            for (int x = 0; x < in.W; ++x) {
                const int p = horizontal ? x : y;
                const int length = horizontal ? in.W : in.H;
                long long sum = 0;
                long long used = 0;
                for (int t = p - h; t <= p + h; ++t) {
                    if (t < 0 || t >= length) {
                        continue;
                    }
                    const int weight = k[static_cast<std::size_t>(t - p + h)];
                    sum += static_cast<long long>(weight) *
                           (horizontal ? in.At(t, y, c) : in.At(x, t, c));
                    used += weight;
                }
                out.At(x, y, c) = static_cast<std::uint8_t>(sum / used);
            }
        }
    }
    return out;
}

Plain UnsharpByDefinition(const Plain& in, const std::vector<std::int32_t>& k, double amount,
                          unsigned channels) {
    const Plain blurred =
        BlurByDefinition(BlurByDefinition(in, k, true, channels), k, false, channels);
    const long long scale = static_cast<long long>(std::floor(amount * 10000 + 0.5));
    Plain out = in;
    for (std::size_t i = 0; i < in.Bytes.size(); ++i) {
        if ((channels & (1u << (i % 3))) == 0) {
            continue;
        }
        const long long v = (in.Bytes[i] * (10000 + scale) - blurred.Bytes[i] * scale) / 10000;
        out.Bytes[i] = static_cast<std::uint8_t>(v > 255 ? 255 : v < 0 ? 0 : v);
    }
    return out;
}

TEST(UnsharpKernel, WorkedKernels) {
    UnsharpMaskFilter f;
    EXPECT_EQ(f.KernelSize(), 0u);
    EXPECT_EQ(f.KernelSum(), 0);
    // Narrow sigmas give the identity kernel, sigma 0 included.
    const std::pair<float, std::vector<std::int32_t>> cases[] = {
        {0.4f, Kernel04}, {1.0f, Kernel10}, {2.0f, Kernel20}, {0.099f, {1}},
        {0.05f, {1}},     {0.0f, {1}},      {-0.2f, {1}}};
    for (const auto& [sigma, kernel] : cases) {
        ASSERT_TRUE(f.BuildKernel(sigma)) << sigma;
        EXPECT_EQ(f.Kernel(), kernel) << sigma;
        EXPECT_EQ(f.KernelSize(), kernel.size()) << sigma;
        EXPECT_EQ(f.KernelSum(), std::accumulate(kernel.begin(), kernel.end(), 0)) << sigma;
    }
}

TEST(UnsharpKernel, RefusedKernelsLeaveNone) {
    UnsharpMaskFilter f;
    ASSERT_TRUE(f.BuildKernel(10.0f));  // floor(5 × 10 + 1.5) = 51, the longest allowed
    EXPECT_EQ(f.KernelSize(), 51u);
    const float refused[] = {10.2f, -0.31f, std::numeric_limits<float>::quiet_NaN(),
                             std::numeric_limits<float>::infinity(),
                             // Middle weight e^(1/(2·0.12²)) ≈ 1.3e15: no 32-bit sum can hold it.
                             0.12f};
    for (float sigma : refused) {
        ASSERT_TRUE(f.BuildKernel(0.4f));
        EXPECT_FALSE(f.BuildKernel(sigma)) << sigma;
        EXPECT_EQ(f.KernelSize(), 0u) << sigma;
        EXPECT_TRUE(f.Kernel().empty()) << sigma;
        EXPECT_EQ(f.KernelSum(), 0) << sigma;
    }
    auto source = test::ToBitmap(test::RandomPlain(5, 5, 1));
    EXPECT_EQ(f.UnsharpMask(*source, 10.2f, 0.3f, 7), nullptr);
}

TEST(UnsharpMask, EdgeAndLonePixel) {
    const Plain edge = test::MadePlain(8, 3, [](int x, int, int) { return x < 4 ? 100 : 200; });
    UnsharpMaskFilter f;
    auto result = f.UnsharpMask(*test::ToBitmap(edge), 0.4f, 0.3f, 7);
    ASSERT_NE(result, nullptr);
    const Plain out = test::FromBitmap(*result);
    for (int y = 0; y < 3; ++y) {
        for (int x = 0; x < 8; ++x) {
            const int expected = x < 3 ? 100 : x == 3 ? 98 : x == 4 ? 201 : 200;
            for (int c = 0; c < 3; ++c) {
                EXPECT_EQ(out.At(x, y, c), expected) << x << "," << y;
            }
        }
    }

    const Plain lone =
        test::MadePlain(5, 5, [](int x, int y, int) { return x == 2 && y == 2 ? 255 : 0; });
    auto loneSource = test::ToBitmap(lone);
    auto blurred = f.GaussianBlur(*loneSource, 0.4f, 7);
    ASSERT_NE(blurred, nullptr);
    const Plain b = test::FromBitmap(*blurred);
    EXPECT_EQ(b.At(2, 2, 1), 215);
    EXPECT_EQ(b.At(1, 2, 1), 9);
    EXPECT_EQ(b.At(2, 3, 1), 9);
    EXPECT_EQ(b.At(1, 1, 1), 0);
    auto sharpened = f.UnsharpMask(*loneSource, 0.4f, 0.3f, 7);
    ASSERT_NE(sharpened, nullptr);
    EXPECT_EQ(test::FromBitmap(*sharpened).Bytes, lone.Bytes);
}

TEST(UnsharpMask, FailuresGiveNoPictureAndRecordStatus) {
    UnsharpMaskFilter f;
    WorkingBitmap empty;  // holds no raster: every lock fails
    EXPECT_EQ(f.UnsharpMask(empty, 0.4f, 0.3f, 7), nullptr);
    EXPECT_NE(empty.LastStatus(), Status::Ok);
    ASSERT_TRUE(f.BuildKernel(0.4f));
    empty.GetLastStatus();
    EXPECT_EQ(f.BlurPass(empty, Dir::Horizontal, 7), nullptr);
    EXPECT_NE(empty.LastStatus(), Status::Ok);

    auto source = test::ToBitmap(test::RandomPlain(4, 4, 5));
    for (float amount : {std::numeric_limits<float>::quiet_NaN(), 1e6f, -1e6f}) {
        EXPECT_EQ(f.UnsharpMask(*source, 0.4f, amount, 7), nullptr) << amount;
    }
    EXPECT_NE(f.UnsharpMask(*source, 0.4f, 799.0f, 7), nullptr);
}

TEST(UnsharpMask, SharpeningStepExactForEveryPairOfBytes) {
    // Every source byte against every blurred byte, for the final sharpening's amount and others
    // that take the same shortcuts or none.
    const int width = 21846;  // 65538 bytes: every pair of bytes once, and two more
    std::vector<std::uint8_t> source(3 * width);
    std::vector<std::uint8_t> blurred(3 * width);
    for (int i = 0; i < 3 * width; ++i) {
        source[i] = static_cast<std::uint8_t>((i & 0xFFFF) >> 8);
        blurred[i] = static_cast<std::uint8_t>(i);
    }
    for (std::int32_t k : {3000, -4500, 17000, 12345, 0, -10000, -12000, 7990000}) {
        std::vector<std::uint8_t> out = blurred;
        UnsharpMaskFilter::SharpenRow(source.data(), out.data(), width, k, 7);
        int wrong = 0;
        for (int i = 0; i < 3 * width; ++i) {
            const double v = std::trunc((source[i] * (10000.0 + k) - blurred[i] * double(k)) / 1e4);
            wrong += out[i] != static_cast<std::uint8_t>(std::clamp(v, 0.0, 255.0));
        }
        EXPECT_EQ(wrong, 0) << "K " << k;
    }
}

TEST(UnsharpMask, MatchesDefinitionOnRandomPictures) {
    struct Run {
        float sigma;
        const std::vector<std::int32_t>* kernel;
        double amount;
        unsigned channels;
        int w, h;
        unsigned threads;
    };
    // Then the identity kernel (a plain copy) and thin pictures.
    const Run runs[] = {
        {0.4f, &Kernel04, 0.3, 7, 37, 23, 1},   {0.4f, &Kernel04, 0.3, 7, 701, 517, 3},
        {1.0f, &Kernel10, 0.3, 7, 29, 31, 2},   {2.0f, &Kernel20, 0.3, 7, 64, 9, 1},
        {2.0f, &Kernel20, 1.7, 5, 10, 40, 1},   {1.0f, &Kernel10, -0.45, 2, 17, 5, 1},
        {2.0f, &Kernel20, 0.3, 7, 5, 5, 1},  // lines shorter than the kernel
        {1.0f, &Kernel10, 0.3, 7, 600, 700, 4}, {0.05f, &Identity, 0.3, 7, 13, 7, 1},
        {0.4f, &Kernel04, 0.3, 7, 1, 9, 1},     {2.0f, &Kernel20, 0.3, 7, 1, 9, 1},
        {0.4f, &Kernel04, 0.3, 7, 9, 1, 1},     {2.0f, &Kernel20, 0.3, 7, 9, 1, 1},
        {0.4f, &Kernel04, 0.3, 7, 1, 1, 1},     {2.0f, &Kernel20, 0.3, 7, 1, 1, 1},
        {0.4f, &Kernel04, 0.3, 7, 2, 2, 1},     {2.0f, &Kernel20, 0.3, 7, 2, 2, 1},
    };
    std::uint32_t seed = 11;
    for (const Run& r : runs) {
        const Plain p = test::RandomPlain(r.w, r.h, ++seed);
        auto source = test::ToBitmap(p);
        UnsharpMaskFilter f;
        f.SetThreads(r.threads);
        auto blurred = f.GaussianBlur(*source, r.sigma, r.channels);
        ASSERT_NE(blurred, nullptr);
        const Plain expectedBlur = BlurByDefinition(
            BlurByDefinition(p, *r.kernel, true, r.channels), *r.kernel, false, r.channels);
        EXPECT_EQ(test::FromBitmap(*blurred).Bytes, expectedBlur.Bytes)
            << "blur sigma " << r.sigma << " " << r.w << "x" << r.h;
        auto sharp = f.UnsharpMask(*source, r.sigma, static_cast<float>(r.amount), r.channels);
        ASSERT_NE(sharp, nullptr);
        EXPECT_NE(sharp.get(), source.get());
        EXPECT_EQ(test::FromBitmap(*source).Bytes, p.Bytes);  // the source stays untouched
        const Plain expected =
            UnsharpByDefinition(p, *r.kernel, static_cast<float>(r.amount), r.channels);
        EXPECT_EQ(test::FromBitmap(*sharp).Bytes, expected.Bytes)
            << "sigma " << r.sigma << " " << r.w << "x" << r.h;
        // The same a row at a time, as a whole and as three ranges of rows made apart.
        const int thirds[] = {0, r.h / 3, 2 * r.h / 3, r.h};
        for (int parts : {1, 3}) {
            Plain streamed(r.w, r.h);
            for (int part = 0; part < parts; ++part) {
                UnsharpMaskRows rows;
                const int first = parts == 1 ? 0 : thirds[part];
                const int last = parts == 1 ? r.h : thirds[part + 1];
                ASSERT_TRUE(rows.Start(r.w, r.h, r.sigma, static_cast<float>(r.amount), r.channels,
                                       first, last));
                for (int y = rows.FirstSourceRow(); y < rows.LastSourceRow(); ++y) {
                    // Taken from a buffer that is overwritten at once: the rows are copied.
                    const auto from = p.Bytes.begin() + 3 * static_cast<std::ptrdiff_t>(y) * r.w;
                    std::vector<std::uint8_t> row(from, from + 3 * r.w);
                    ASSERT_TRUE(rows.Push(row.data()));
                    std::fill(row.begin(), row.end(), 0);
                    while (rows.OutputReady()) {
                        EXPECT_FALSE(rows.Push(row.data()));  // a waiting row comes first
                        rows.Emit(&streamed.At(0, rows.NextOutputRow(), 0));
                    }
                }
                EXPECT_TRUE(rows.Done());
            }
            EXPECT_EQ(streamed.Bytes, expected.Bytes)
                << "rows, sigma " << r.sigma << " " << r.w << "x" << r.h << " in " << parts;
        }
    }
}

}  // namespace
}  // namespace velora
