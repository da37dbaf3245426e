// The colour triple and the per-pixel conversion against the worked values of the design.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>

#include "ColorTriple.h"
#include "Conversion.h"

namespace velora {
namespace {

constexpr double Six = 5e-7;  // worked values are given to six decimals

std::uint32_t Rgb(int r, int g, int b) {
    return 0xFF000000u | (static_cast<std::uint32_t>(r) << 16) |
           (static_cast<std::uint32_t>(g) << 8) | static_cast<std::uint32_t>(b);
}

void ExpectTriple(const ColorTriple& t, double r, double g, double b) {
    EXPECT_EQ(t.R(), r);
    EXPECT_EQ(t.G(), g);
    EXPECT_EQ(t.B(), b);
}

ConversionOptions Options(bool contrast, bool reddish = false, bool blueish = false) {
    ConversionOptions o;
    o.GrayContrast = contrast;
    o.ReddishFilm = reddish;
    o.BlueishFilm = blueish;
    return o;
}

TEST(ColorTriple, WorkedFactors) {
    // Black counts as fully saturated: it normalises to (1, 0, 0), like pure red.
    const struct {
        int r, g, b;
        double mean, stdDev, normalisedStdDev, saturation, brightness;
    } cases[] = {{0, 0, 0, 0, 0, 0.471405, 1.521731, 0.642762},
                 {255, 0, 0, 85, 120.208153, 0.471405, 1.521731, 0.871173},
                 {255, 255, 255, 255, 0, 0, 0.595423, 1.137839},
                 {128, 128, 128, 128, 0, 0, 0.595423, 0.843546},
                 {200, 150, 120, 156.666667, 32.998316, 0.164992, 0.651117, 0.970660}};
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.r << "," << c.g << "," << c.b);
        const ColorTriple t(c.r, c.g, c.b);
        EXPECT_NEAR(t.Mean(), c.mean, Six);
        EXPECT_NEAR(t.StdDev(), c.stdDev, Six);
        EXPECT_NEAR(t.NormalizedByMax().StdDev(), c.normalisedStdDev, Six);
        EXPECT_NEAR(t.SaturationFactor(35, 41), c.saturation, Six);
        EXPECT_NEAR(t.BrightnessFactor(), c.brightness, Six);
        ExpectTriple(t.Inverted(), 255 - c.r, 255 - c.g, 255 - c.b);
    }
    const ColorTriple black;
    ExpectTriple(black, 0, 0, 0);
    ExpectTriple(black.NormalizedByMax(), 1, 0, 0);
    EXPECT_DOUBLE_EQ(ColorTriple(255, 0, 0).SaturationFactor(35, 41),
                     black.SaturationFactor(35, 41));
    ExpectTriple(ColorTriple(255, 255, 255).NormalizedByMax(), 1, 1, 1);
    EXPECT_EQ(ColorTriple(255, 255, 255).NormalizedByMax().StdDev(), 0.0);
    // Out-of-range components are inverted by distance, not mirrored.
    ExpectTriple(ColorTriple(300, -10, 255).Inverted(), 45, 265, 0);
}

TEST(ColorTriple, LastBitArithmetic) {
    // 1 / 49 × 49 is just below 1 and is kept so.
    const ColorTriple n = ColorTriple(49, 49, 49).NormalizedByMax();
    const double belowOne = std::nextafter(1.0, 0.0);
    ExpectTriple(n, belowOne, belowOne, belowOne);
    EXPECT_EQ(n.StdDev(), 1.1102230246251565e-16);
    EXPECT_NEAR(ColorTriple(49, 49, 49).SaturationFactor(35, 41), 0.595423, Six);

    // Means multiply by the double nearest 1/3; for some sums that differs from dividing by 3.
    int differing = 0;
    for (int sum = 0; sum <= 765; ++sum) {
        const ColorTriple t(sum / 3, sum / 3 + (sum % 3 > 0 ? 1 : 0), sum / 3 + (sum % 3 > 1));
        EXPECT_EQ(t.Mean(), sum * 0.3333333333333333) << sum;
        if (sum % 3 == 0) {  // a grey: its mean is its value, and it has no spread
            EXPECT_EQ(t.Mean(), sum / 3) << sum;
            EXPECT_EQ(t.StdDev(), 0.0) << sum;
        }
        differing += (sum * 0.3333333333333333 != sum / 3.0);
    }
    EXPECT_GT(differing, 0);
}

TEST(ConvertPixel, WorkedTableAtStartUpSliders) {
    const struct {
        int r, g, b;
        int off[3], on[3], reddish[3], bluish[3];
    } cases[] = {
        {200, 150, 120, {184, 152, 132}, {179, 147, 128}, {186, 150, 122}, {172, 145, 135}},
        {128, 128, 128, {128, 128, 128}, {107, 107, 107}, {109, 108, 106}, {106, 107, 109}},
        {0, 0, 0, {0, 0, 0}, {0, 0, 0}, {0, 0, 6}, {6, 2, 0}},
        {255, 255, 255, {255, 255, 255}, {255, 255, 255}, {255, 255, 255}, {255, 255, 255}},
        {10, 200, 30, {0, 248, 9}, {0, 214, 8}, {0, 215, 5}, {0, 213, 10}},
        {255, 0, 0, {255, 0, 0}, {255, 0, 0}, {255, 0, 0}, {255, 0, 0}},
    };
    const ConversionOptions options[] = {Options(false), Options(true), Options(true, true),
                                         Options(true, false, true)};
    for (const auto& c : cases) {
        // Alpha of the input is ignored; the output is always opaque.
        const std::uint32_t in = Rgb(c.r, c.g, c.b) & 0x00FFFFFFu;
        const int* expected[] = {c.off, c.on, c.reddish, c.bluish};
        for (int i = 0; i < 4; ++i) {
            EXPECT_EQ(ConvertPixel(in, options[i]),
                      Rgb(expected[i][0], expected[i][1], expected[i][2]))
                << c.r << "," << c.g << "," << c.b << " options " << i;
        }
    }
}

TEST(ConvertPixel, OptionInteractions) {
    const std::uint32_t warm = Rgb(200, 150, 120);
    const struct {
        int color, gray, r, g, b;
    } sliders[] = {{100, 0, 206, 148, 114},
                   {0, 90, 160, 156, 153},
                   {0, 0, 201, 149, 118},
                   {100, 90, 165, 155, 149}};
    for (const auto& s : sliders) {
        ConversionOptions o = Options(false);
        o.ColorStrength = s.color;
        o.GrayStrength = s.gray;
        EXPECT_EQ(ConvertPixel(warm, o), Rgb(s.r, s.g, s.b)) << s.color << "/" << s.gray;
    }
    // Films need Gray Contrast; with both films the reddish one wins.
    for (std::uint32_t c : {warm, Rgb(128, 128, 128), Rgb(0, 0, 0), Rgb(10, 200, 30)}) {
        EXPECT_EQ(ConvertPixel(c, Options(false, true, true)), ConvertPixel(c, Options(false)));
        EXPECT_EQ(ConvertPixel(c, Options(true, true, true)), ConvertPixel(c, Options(true, true)));
    }
}

TEST(ConvertPixel, ExtremeSlidersStillGiveBytes) {
    // A huge Color pushes every channel of a warm colour far past both ends: red above its mean
    // saturates, green and blue below it go to 0. Neither may overflow on the way.
    ConversionOptions o = Options(false);
    o.ColorStrength = std::numeric_limits<int>::max();
    o.GrayStrength = 0;
    EXPECT_EQ(ConvertPixel(Rgb(200, 150, 120), o), Rgb(255, 0, 0));
    EXPECT_EQ(ConvertPixel(Rgb(250, 0, 0), o), Rgb(255, 0, 0));  // red channel beyond 2^31
    o.ColorStrength = std::numeric_limits<int>::min();
    EXPECT_EQ(ConvertPixel(Rgb(200, 150, 120), o), Rgb(0, 255, 255));
    EXPECT_EQ(ConvertPixel(Rgb(250, 0, 0), o), Rgb(0, 255, 255));
    // Greys stay grey whatever the sliders say.
    EXPECT_EQ(ConvertPixel(Rgb(77, 77, 77), o), Rgb(77, 77, 77));
}

}  // namespace
}  // namespace velora
