// The probe's click mapping and readout text, checked against the worked examples of the frame
// geometry and the tone curves.
#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "ColorProbe.h"

namespace velora {
namespace {

struct Click {
    int X;
    int Y;
    bool Inside;
    int PixelX;
    int PixelY;
};

void ExpectClicks(int width, int height, const std::vector<Click>& clicks) {
    for (const Click& c : clicks) {
        const ProbeHit hit = ProbeHitTest(c.X, c.Y, width, height);
        SCOPED_TRACE(testing::Message()
                     << width << "x" << height << " click (" << c.X << ", " << c.Y << ")");
        ASSERT_EQ(hit.Inside, c.Inside);
        if (c.Inside) {
            EXPECT_EQ(hit.PixelX, c.PixelX);
            EXPECT_EQ(hit.PixelY, c.PixelY);
        }
    }
}

TEST(ProbeHitTest, WidePictureIsCentredVertically) {
    ExpectClicks(1000, 500,
                 {{154, 290, true, 0, 0},
                  {616, 290, true, 997, 0},
                  {617, 290, false, 0, 0},
                  {154, 521, true, 0, 498},
                  {154, 522, false, 0, 0},
                  {153, 300, false, 0, 0},
                  {154, 289, false, 0, 0}});
}

TEST(ProbeHitTest, HighPictureIsCentredHorizontally) {
    ExpectClicks(300, 600,
                 {{270, 174, true, 0, 0},
                  {501, 174, true, 299, 0},
                  {502, 174, false, 0, 0},
                  {270, 636, true, 0, 598},
                  {270, 637, false, 0, 0},
                  {269, 174, false, 0, 0},
                  {270, 173, false, 0, 0}});
}

TEST(ProbeHitTest, SquarePictureIsHandledAsWideAndItsLastRowMapsPastThePicture) {
    // The lowest accepted row lands on row 800 of an 800-row picture: the caller's read fails
    // there and shows black, so the mapping must not be clamped into the picture.
    ExpectClicks(800, 800,
                 {{385, 405, true, 399, 399},
                  {154, 637, true, 0, 800},
                  {154, 174, true, 0, 0},
                  {154, 638, false, 0, 0},
                  {617, 174, false, 0, 0}});
}

TEST(ProbeHitTest, EmptyPictureIsNeverHit) {
    EXPECT_FALSE(ProbeHitTest(385, 405, 0, 0).Inside);
    EXPECT_FALSE(ProbeHitTest(385, 405, 0, 100).Inside);
    EXPECT_FALSE(ProbeHitTest(385, 405, 100, 0).Inside);
}

TEST(ReadoutLines, SkinColourWithDefaultColourAndFullHiddenSlider) {
    const std::vector<std::string> expected = {
        "R 200, G 150, B 120  ", "min 120.000000", "max 200.000000", "R 55, G 105, B 135  ",
        "VLRD 0.164992",         "VLRS 0.028035",  "VLRB 0.970660"};
    EXPECT_EQ(ReadoutLines(0xFFC89678u, 35, 100), expected);
    // Alpha is not part of the colour.
    EXPECT_EQ(ReadoutLines(0x00C89678u, 35, 100), expected);
}

TEST(ReadoutLines, BlackIsShownWithTheCurvesOfBlack) {
    // What a failed pixel read shows: opaque black.
    const std::vector<std::string> lines = ReadoutLines(0xFF000000u, 35, 41);
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[0], "R 0, G 0, B 0  ");
    EXPECT_EQ(lines[1], "min 0.000000");
    EXPECT_EQ(lines[3], "R 255, G 255, B 255  ");
    EXPECT_EQ(lines[4], "VLRD 0.471405");
    EXPECT_EQ(lines[5], "VLRS 1.521731");
    EXPECT_EQ(lines[6], "VLRB 0.642762");
}

TEST(ReadoutLines, DecimalPointDoesNotFollowTheProcessLocale) {
    // The window's toolkit adopts the environment's locale; a comma locale must not turn
    // "0.164992" into "0,164992". Skipped where no such locale is installed.
    const char* candidates[] = {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"};
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    const char* chosen = nullptr;
    for (const char* name : candidates) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            chosen = name;
            break;
        }
    }
    if (chosen == nullptr) {
        GTEST_SKIP() << "no locale with a decimal comma installed";
    }
    const std::vector<std::string> lines = ReadoutLines(0xFFC89678u, 35, 100);
    std::setlocale(LC_NUMERIC, previous.c_str());
    ASSERT_EQ(lines.size(), 7u);
    EXPECT_EQ(lines[4], "VLRD 0.164992") << chosen;
}

}  // namespace
}  // namespace velora
