// The whole-picture pass: the fast path against ConvertPixel applied to every original pixel,
// the order of progress, cancellation, the plain path's held colour, and readers on another
// thread while the pass writes.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <functional>
#include <numeric>
#include <random>
#include <set>
#include <thread>
#include <utility>
#include <vector>

#include "Conversion.h"
#include "ConvertAndSharpen.h"
#include "PictureHelpers.h"

namespace velora {
namespace {

using test::Plain;

const std::atomic<int> Never{0};

Plain ConvertedByHand(const Plain& p, const ConversionOptions& o) {
    Plain out = p;
    for (int y = 0; y < p.H; ++y) {
        for (int x = 0; x < p.W; ++x) {
            out.SetArgb(x, y, ConvertPixel(p.Argb(x, y), o));
        }
    }
    return out;
}

const ConversionOptions Reddish{80, 10, true, true, false};

// WorkingBitmap seen through a raster that may refuse locks and fail chosen reads, to drive the
// pass down its fallback paths, and that never has memory for another picture. BeforeRead runs
// as a band is read, on the thread reading it, so a test can hold the pass at a known point.
class FlakyBitmap {
  public:
    using LockRecord = BitmapData;
    using RectType = Rect;
    static constexpr unsigned ReadMode = WorkingBitmap::ReadMode;
    static constexpr unsigned ReadWriteMode = WorkingBitmap::ReadWriteMode;
    static constexpr unsigned UserBufferMode = WorkingBitmap::UserBufferMode;
    static constexpr std::int32_t Format24 = WorkingBitmap::Format24;
    static bool Succeeded(Status s) { return WorkingBitmap::Succeeded(s); }

    explicit FlakyBitmap(WorkingBitmap& inner) : Inner(inner) {}
    unsigned Width() { return Inner.Width(); }
    unsigned Height() { return Inner.Height(); }
    Status GetPixel(int x, int y, Argb* c) {
        return FailedReads.count({x, y}) ? Status::GenericError : Inner.GetPixel(x, y, c);
    }
    Status SetPixel(int x, int y, Argb c) { return Inner.SetPixel(x, y, c); }
    Status LockBits(const Rect& r, unsigned mode, std::int32_t format, BitmapData* d) {
        if (BeforeRead && (mode & ReadMode)) {
            BeforeRead();
        }
        return RefuseLocks ? Status::Win32Error : Inner.LockBits(r, mode, format, d);
    }
    Status UnlockBits(BitmapData* d) { return Inner.UnlockBits(d); }
    bool HasImage() const { return Inner.HasImage(); }
    static std::shared_ptr<FlakyBitmap> CreateBlank(int, int) { return nullptr; }
    std::shared_ptr<FlakyBitmap> Clone(int, int, int, int) { return nullptr; }

    bool RefuseLocks = false;
    std::set<std::pair<int, int>> FailedReads;
    std::function<void()> BeforeRead;

  private:
    WorkingBitmap& Inner;
};

TEST(ConversionPass, FastPathEqualsConvertPixel) {
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 37}, {37, 1}, {5, 3}, {131, 97}, {257, 190}};
    std::uint32_t seed = 100;
    for (const auto& size : sizes) {
        for (bool photo : {false, true}) {
            const Plain p = photo ? test::PhotoLikePlain(size.first, size.second, ++seed)
                                  : test::RandomPlain(size.first, size.second, ++seed);
            for (const ConversionOptions& o : {ConversionOptions{}, Reddish}) {
                const Plain expected = ConvertedByHand(p, o);
                for (unsigned threads : {1u, 2u, 3u, 7u, 0u}) {
                    auto bitmap = test::ToBitmap(p);
                    const PassResult r = ConvertPicture(*bitmap, o, nullptr, Never, threads);
                    EXPECT_FALSE(r.Cancelled);
                    EXPECT_EQ(test::FromBitmap(*bitmap).Bytes, expected.Bytes)
                        << size.first << "x" << size.second << " threads " << threads;
                }
                auto plain = test::ToBitmap(p);
                ConvertPicturePixelByPixel(*plain, o, nullptr, Never);
                EXPECT_EQ(test::FromBitmap(*plain).Bytes, expected.Bytes);
            }
        }
    }
}

TEST(ConversionPass, CachedPathOnLargePicture) {
    // Large enough for the converted-colour table; photo-like so that colours repeat.
    const Plain p = test::PhotoLikePlain(1601, 1333, 5);
    const ConversionOptions o = Reddish;
    const Plain expected = ConvertedByHand(p, o);
    for (unsigned threads : {1u, 3u}) {
        auto bitmap = test::ToBitmap(p);
        ConvertPicture(*bitmap, o, nullptr, Never, threads);
        EXPECT_EQ(test::FromBitmap(*bitmap).Bytes, expected.Bytes) << threads;
    }
}

TEST(ConversionPass, ColourCacheKeepsExactValuesAndGrowsOnlyWhenColoursScatter) {
    std::mt19937 rng(8);
    std::vector<std::uint32_t> palette(1u << 18);
    for (std::uint32_t& c : palette) {
        c = rng() & 0xFFFFFFu;
    }
    struct Case {
        const char* Name;
        std::function<std::uint32_t(int x, int y)> Colour;
        unsigned Bits;  // the cache's size after 2^21 pixels
    };
    const Case cases[] = {
        // 64 colours in blocks, black among them: black must not pass for an empty slot.
        {"few colours",
         [](int x, int y) { return ((x / 16) % 8) * 0x1F0000u + ((y / 16) % 8) * 0x21u; },
         PixelConverter::FirstBits},
        // A quarter million colours in no order: the cache doubles until it reaches its limit,
        // and what it held before each doubling must still answer right.
        {"scattered colours", [&](int, int) { return palette[rng() % palette.size()]; },
         PixelConverter::MaxBits},
    };
    const int w = 2048;
    const int h = 1024;
    for (const Case& c : cases) {
        const ConversionOptions o = Reddish;
        PixelConverter byRow(o);
        PixelConverter byPixel(o);
        std::vector<std::uint8_t> row(3 * w);
        std::vector<std::uint8_t> out(3 * w);
        int wrong = 0;
        for (int y = 0; y < h; ++y) {
            std::vector<std::uint32_t> expected(w);
            for (int x = 0; x < w; ++x) {
                const std::uint32_t colour = c.Colour(x, y);
                row[3 * x] = static_cast<std::uint8_t>(colour);
                row[3 * x + 1] = static_cast<std::uint8_t>(colour >> 8);
                row[3 * x + 2] = static_cast<std::uint8_t>(colour >> 16);
                expected[x] = ConvertPixel(colour, o);
                wrong += byPixel(colour | 0xFF000000u) != expected[x];
            }
            byRow.ConvertRow(row.data(), out.data(), w);
            for (int x = 0; x < w; ++x) {
                wrong += (0xFF000000u | (std::uint32_t{out[3 * x + 2]} << 16) |
                          (std::uint32_t{out[3 * x + 1]} << 8) | out[3 * x]) != expected[x];
            }
        }
        EXPECT_EQ(wrong, 0) << c.Name;
        EXPECT_EQ(byRow.CacheBits(), c.Bits) << c.Name;
        EXPECT_EQ(byPixel.CacheBits(), c.Bits) << c.Name;
    }
    // Without the cache the same values come from ConvertPixel itself.
    PixelConverter plain(Reddish, false);
    EXPECT_FALSE(plain.Cached());
    EXPECT_EQ(plain(0xFF0A141Eu), ConvertPixel(0xFF0A141Eu, Reddish));
}

// Every colour through every vector path the processor has, against ConvertPixel: another C
// library's exponential or another processor shows here first. Each row goes through twice, out of
// place (mostly misses) and then in place (mostly hits). Sanitized builds run two option sets.
TEST(ConversionPass, EveryPathGivesConvertPixelForAllColours) {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    const ConversionOptions sets[] = {{35, 41, true, true, false}, {0, 90, false, false, false}};
#else
    const ConversionOptions sets[] = {{35, 41, false, false, false}, {35, 41, true, false, false},
                                      {35, 41, true, true, false},   {35, 41, true, false, true},
                                      {100, 90, true, false, false}, {0, 0, true, true, false},
                                      {100, 0, false, false, false}, {0, 90, true, false, true}};
#endif
#if defined(__x86_64__)
    // The program asks the processor by hand; were it to miss AVX2, that path would go untested.
    EXPECT_EQ(VectorPathSupported(VectorPath::Avx2),
              __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"));
#endif
    const int w = 4096;
    std::vector<std::uint8_t> source(3 * w), row(3 * w), out(3 * w);
    std::vector<std::uint32_t> expected(w);
    for (const ConversionOptions& o : sets) {
        std::vector<PixelConverter> converters;
        for (VectorPath path : {VectorPath::Avx2, VectorPath::Sse2, VectorPath::None}) {
            if (VectorPathSupported(path)) {
                converters.emplace_back(o, true, path);
                ASSERT_EQ(converters.back().Path(), path);
            }
        }
        std::vector<long> wrong(converters.size());
        const auto count = [&](const std::vector<std::uint8_t>& got, long& sum) {
            for (int x = 0; x < w; ++x) {
                std::uint32_t c = 0xFF000000u;
                std::memcpy(&c, &got[3 * x], 3);
                sum += c != expected[x];
            }
        };
        for (std::uint32_t first = 0; first < (1u << 24); first += w) {
            for (int x = 0; x < w; ++x) {
                const std::uint32_t colour = first + x;
                std::memcpy(&source[3 * x], &colour, 3);
                expected[x] = ConvertPixel(colour, o);
            }
            for (std::size_t i = 0; i < converters.size(); ++i) {
                row = source;
                converters[i].ConvertRow(row.data(), out.data(), w);
                count(out, wrong[i]);
                converters[i].ConvertRow(row.data(), row.data(), w);
                count(row, wrong[i]);
            }
        }
        for (std::size_t i = 0; i < converters.size(); ++i) {
            EXPECT_EQ(wrong[i], 0)
                << VectorPathName(converters[i].Path()) << " options " << o.ColorStrength << "/"
                << o.GrayStrength << o.GrayContrast << o.ReddishFilm << o.BlueishFilm;
        }
    }
}

TEST(ConversionPass, ProgressEveryColumnInOrderOnCallingThread) {
    // The widest picture holds several bands, so 2 and 4 threads take the threaded schedule and
    // its reporting order inside and across bands is seen.
    ASSERT_GE(BandSchedule(1800, 150).BandCount(), 4);
    for (int width : {1, 2, 61, 333, 1800}) {
        for (unsigned threads : {1u, 2u, 4u}) {
            auto bitmap = test::ToBitmap(test::RandomPlain(width, 150, 9));
            std::vector<int> seen;
            bool otherThread = false;
            const auto caller = std::this_thread::get_id();
            ConvertPicture(
                *bitmap, ConversionOptions{},
                [&](int x) {
                    seen.push_back(x);
                    otherThread |= std::this_thread::get_id() != caller;
                },
                Never, threads);
            std::vector<int> expected(width + 1, 0);
            std::iota(expected.rbegin() + 1, expected.rend(), 0);  // width - 1 down to 0, then 0
            EXPECT_EQ(seen, expected) << width << " threads " << threads;
            EXPECT_FALSE(otherThread);
        }
    }
}

TEST(ConversionPass, CancelStopsWithinOnePixel) {
    const Plain p = test::RandomPlain(97, 41, 21);
    const ConversionOptions o;
    const Plain converted = ConvertedByHand(p, o);
    for (bool plainPath : {false, true}) {
        auto bitmap = test::ToBitmap(p);
        std::atomic<int> cancel{0};
        const int at = 60;
        std::vector<int> seen;
        auto progress = [&](int x) {
            seen.push_back(x);
            if (x == at) {
                cancel = 1;
            }
        };
        const PassResult r = plainPath ? ConvertPicturePixelByPixel(*bitmap, o, progress, cancel)
                                       : ConvertPicture(*bitmap, o, progress, cancel, 1);
        EXPECT_TRUE(r.Cancelled);
        EXPECT_EQ(seen.back(), 0);  // the bar is reset after a cancelled pass as well
        EXPECT_EQ(seen[seen.size() - 2], at);
        // Exactly the columns right of `at` and the bottom pixel of column `at` are converted.
        const Plain after = test::FromBitmap(*bitmap);
        for (int y = 0; y < p.H; ++y) {
            for (int x = 0; x < p.W; ++x) {
                const bool done = x > at || (x == at && y == p.H - 1);
                EXPECT_EQ(after.Argb(x, y), done ? converted.Argb(x, y) : p.Argb(x, y))
                    << x << "," << y;
            }
        }
    }
    // A cancel already set converts the first pixel only, however many threads there are.
    for (unsigned threads : {1u, 2u, 5u}) {
        auto bitmap = test::ToBitmap(p);
        std::atomic<int> cancel{1};
        EXPECT_TRUE(ConvertPicture(*bitmap, o, nullptr, cancel, threads).Cancelled);
        const Plain after = test::FromBitmap(*bitmap);
        int changed = 0;
        for (std::size_t i = 0; i < p.Bytes.size(); i += 3) {
            changed += !std::equal(&p.Bytes[i], &p.Bytes[i] + 3, &after.Bytes[i]);
        }
        EXPECT_LE(changed, static_cast<int>(threads)) << threads;
    }
}

TEST(ConversionPass, CancelFromAnotherThreadLeavesTheRestUntouched) {
    // Cancelled from another thread once the first band is read; every other band waits for that
    // cancel before it is read, so the pass can never finish first, however the threads run.
    const Plain p = test::RandomPlain(2000, 300, 33);
    const ConversionOptions o;
    const Plain converted = ConvertedByHand(p, o);
    for (unsigned threads : {2u, 3u}) {
        auto inner = test::ToBitmap(p);
        FlakyBitmap bitmap(*inner);
        std::atomic<int> cancel{0};
        std::atomic<int> bandsRead{0};
        bitmap.BeforeRead = [&] {
            if (bandsRead.fetch_add(1) > 0) {
                while (cancel.load() == 0) {
                    std::this_thread::yield();
                }
            }
        };
        std::thread canceller([&] {
            while (bandsRead.load() == 0) {
                std::this_thread::yield();
            }
            cancel = 1;
        });
        const PassResult r = ConvertPicture(bitmap, o, nullptr, cancel, threads);
        canceller.join();
        EXPECT_TRUE(r.Cancelled);
        // Each column is converted from the bottom up: whole, untouched, or a bottom run cut
        // off by the cancel, and there is at most one cut column per thread.
        const Plain after = test::FromBitmap(*inner);
        int cut = 0;
        int untouchedColumns = 0;
        for (int x = 0; x < p.W; ++x) {
            int top = p.H;  // first row (from the top) of the converted bottom run
            bool bottomRun = true;
            bool sawNew = false;  // pixels that convert to themselves prove nothing
            for (int y = p.H - 1; y >= 0; --y) {
                const std::uint32_t now = after.Argb(x, y);
                const bool isNew = now == converted.Argb(x, y) && now != p.Argb(x, y);
                const bool isOld = now == p.Argb(x, y);
                ASSERT_TRUE(isNew || isOld) << "pixel " << x << "," << y << " is neither";
                if (isNew && !bottomRun) {
                    ADD_FAILURE() << "converted pixel above an unconverted one at " << x << ","
                                  << y;
                }
                if (bottomRun && (isNew || now == converted.Argb(x, y))) {
                    top = y;
                    sawNew |= isNew;
                } else {
                    bottomRun = false;
                }
            }
            cut += sawNew && top > 0;
            untouchedColumns += !sawNew;
        }
        EXPECT_LE(cut, static_cast<int>(threads));
        EXPECT_GT(untouchedColumns, 0);
    }
}

TEST(ConversionPass, FallbackPathsStayExact) {
    const Plain p = test::PhotoLikePlain(45, 30, 4);
    const ConversionOptions o = Reddish;
    const Plain converted = ConvertedByHand(p, o);
    for (unsigned threads : {1u, 3u}) {
        auto inner = test::ToBitmap(p);
        FlakyBitmap flaky(*inner);
        flaky.RefuseLocks = true;
        ConvertPicture(flaky, o, nullptr, Never, threads);
        EXPECT_EQ(test::FromBitmap(*inner).Bytes, converted.Bytes) << threads;
    }

    // A failed read converts the held colour: the last one produced, opaque black at first.
    auto inner = test::ToBitmap(p);
    FlakyBitmap flaky(*inner);
    flaky.FailedReads = {{44, 29}, {44, 28}, {30, 0}, {29, 29}};
    ConvertPicturePixelByPixel(flaky, o, nullptr, Never);
    Plain expected = p;
    std::uint32_t held = 0xFF000000u;
    for (int x = p.W - 1; x >= 0; --x) {
        for (int y = p.H - 1; y >= 0; --y) {
            if (!flaky.FailedReads.count({x, y})) {
                held = p.Argb(x, y);
            }
            held = ConvertPixel(held, o);
            expected.SetArgb(x, y, held);
        }
    }
    EXPECT_EQ(expected.Argb(44, 29), ConvertPixel(0xFF000000u, o));
    EXPECT_EQ(test::FromBitmap(*inner).Bytes, expected.Bytes);
}

TEST(ConversionPass, ReadersSeeWholePixelsDuringPass) {
    // The pass reads its second band only after the reader has looked 256 times since the first
    // band was read, so the reads meet a pass under way however the threads are scheduled.
    const Plain p = test::RandomPlain(640, 360, 77);
    const ConversionOptions o;
    const Plain converted = ConvertedByHand(p, o);
    auto bitmap = test::ToBitmap(p);
    FlakyBitmap gated(*bitmap);
    std::atomic<bool> started{false};
    std::atomic<bool> done{false};
    std::atomic<int> bad{0};
    std::atomic<int> reads{0};
    gated.BeforeRead = [&] {
        if (!started.exchange(true)) {
            return;
        }
        while (reads.load() < 256) {
            std::this_thread::yield();
        }
    };
    std::thread reader([&] {
        std::uint32_t state = 12345;
        while (!done.load()) {
            state = state * 1103515245u + 12345u;
            const int x = static_cast<int>((state >> 8) % 640u);
            const int y = static_cast<int>((state >> 4) % 360u);
            std::uint32_t c = 0;
            if (bitmap->GetPixel(x, y, &c) != Status::Ok ||
                (c != p.Argb(x, y) && c != converted.Argb(x, y))) {
                ++bad;
            }
            if (started.load() && reads.fetch_add(1) % 64 == 0) {
                auto copy = bitmap->Clone(x / 2, y / 2, 16, 16);
                bad += copy == nullptr;
            }
        }
    });
    ConvertPicture(gated, o, nullptr, Never, 2);
    done = true;
    reader.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(test::FromBitmap(*bitmap).Bytes, converted.Bytes);
}

TEST(ConvertAndSharpen, ConvertsThenSharpensLightly) {
    // The window's and velora-batch's sharpening: sigma 0.4, amount 0.3, all three channels.
    const Plain p = test::PhotoLikePlain(61, 47, 3);
    const ConversionOptions o = Reddish;
    const Plain converted = ConvertedByHand(p, o);
    const auto expected =
        UnsharpMaskFilter().UnsharpMask(*test::ToBitmap(converted), 0.4f, 0.3f, 7);
    ASSERT_NE(expected, nullptr);
    for (unsigned threads : {1u, 2u}) {
        auto picture = test::ToBitmap(p);
        std::vector<int> heard;  // columns, then -1 for the start of the filter
        ConversionCallbacks steps{[&](int x) { heard.push_back(x); }, [&] { heard.push_back(-1); }};
        const SharpenedPicture<WorkingBitmap> end =
            ConvertAndSharpen(picture, o, steps, Never, threads);
        ASSERT_NE(end.Picture, nullptr);
        EXPECT_TRUE(end.Sharpened);
        EXPECT_NE(end.Picture, picture);
        EXPECT_EQ(test::FromBitmap(*end.Picture).Bytes, test::FromBitmap(*expected).Bytes);
        EXPECT_EQ(test::FromBitmap(*picture).Bytes, converted.Bytes);  // converted in place
        ASSERT_EQ(heard.size(), static_cast<std::size_t>(p.W) + 2);
        EXPECT_EQ(heard[heard.size() - 2], 0);
        EXPECT_EQ(heard.back(), -1);
    }
}

TEST(ConvertAndSharpen, CancelledConversionEndsWithoutPicture) {
    const Plain p = test::RandomPlain(40, 30, 8);
    // Cancelled during the pass: the filter never starts. Cancelled while the filter runs: its
    // picture is dropped.
    for (bool duringFilter : {false, true}) {
        std::atomic<int> cancel{0};
        bool filterStarted = false;
        ConversionCallbacks steps;
        steps.Progress = [&](int x) {
            if (!duringFilter && x == 20) {
                cancel = 1;
            }
        };
        steps.Sharpening = [&] {
            filterStarted = true;
            if (duringFilter) {
                cancel = 1;
            }
        };
        const auto end = ConvertAndSharpen(test::ToBitmap(p), ConversionOptions{}, steps, cancel);
        EXPECT_EQ(end.Picture, nullptr) << duringFilter;
        EXPECT_EQ(filterStarted, duringFilter);
    }
}

TEST(ConvertAndSharpen, WithoutMemoryForTheFilterTheConvertedPictureIsKept) {
    const Plain p = test::RandomPlain(23, 19, 4);
    auto inner = test::ToBitmap(p);
    auto picture = std::make_shared<FlakyBitmap>(*inner);
    const auto end = ConvertAndSharpen(picture, ConversionOptions{}, ConversionCallbacks{}, Never);
    EXPECT_EQ(end.Picture, picture);
    EXPECT_FALSE(end.Sharpened);
    EXPECT_EQ(test::FromBitmap(*inner).Bytes, ConvertedByHand(p, ConversionOptions{}).Bytes);
}

}  // namespace
}  // namespace velora
