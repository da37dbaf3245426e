// The probe's click mapping and readout text, checked against the worked examples of the frame
// geometry and the tone curves; the turn from stored to upright pixels against the orientation
// tag's own definition.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
#include <vector>

#include "ColorProbe.h"
#include "Orientation.h"

namespace velora {
namespace {

TEST(ProbeHitTest, ClicksMapOntoTheFittedPicture) {
    struct Click {
        int Width, Height, X, Y;
        bool Inside;
        int PixelX, PixelY;
    };
    const Click clicks[] = {
        // Wide: centred vertically.
        {1000, 500, 154, 290, true, 0, 0},
        {1000, 500, 616, 290, true, 997, 0},
        {1000, 500, 617, 290, false, 0, 0},
        {1000, 500, 154, 521, true, 0, 498},
        {1000, 500, 154, 522, false, 0, 0},
        {1000, 500, 153, 300, false, 0, 0},
        {1000, 500, 154, 289, false, 0, 0},
        // High: centred horizontally.
        {300, 600, 270, 174, true, 0, 0},
        {300, 600, 501, 174, true, 299, 0},
        {300, 600, 502, 174, false, 0, 0},
        {300, 600, 270, 636, true, 0, 598},
        {300, 600, 270, 637, false, 0, 0},
        {300, 600, 269, 174, false, 0, 0},
        {300, 600, 270, 173, false, 0, 0},
        // Square: handled as wide. The lowest accepted row lands on row 800 of an 800-row
        // picture: the caller's read fails there and shows black, so the mapping must not be
        // clamped into the picture.
        {800, 800, 385, 405, true, 399, 399},
        {800, 800, 154, 637, true, 0, 800},
        {800, 800, 154, 174, true, 0, 0},
        {800, 800, 154, 638, false, 0, 0},
        {800, 800, 617, 174, false, 0, 0},
        // An empty picture is never hit.
        {0, 0, 385, 405, false, 0, 0},
        {0, 100, 385, 405, false, 0, 0},
        {100, 0, 385, 405, false, 0, 0},
    };
    for (const Click& c : clicks) {
        SCOPED_TRACE(testing::Message()
                     << c.Width << "x" << c.Height << " click (" << c.X << ", " << c.Y << ")");
        const ProbeHit hit = ProbeHitTest(c.X, c.Y, c.Width, c.Height);
        ASSERT_EQ(hit.Inside, c.Inside);
        if (c.Inside) {
            EXPECT_EQ(hit.PixelX, c.PixelX);
            EXPECT_EQ(hit.PixelY, c.PixelY);
        }
    }
}

TEST(ReadoutLines, SkinColourAndBlack) {
    const std::vector<std::string> skin = {
        "R 200, G 150, B 120  ", "min 120.000000", "max 200.000000", "R 55, G 105, B 135  ",
        "VLRD 0.164992",         "VLRS 0.028035",  "VLRB 0.970660"};
    EXPECT_EQ(ReadoutLines(0xFFC89678u, 35, 100), skin);
    // Alpha is not part of the colour.
    EXPECT_EQ(ReadoutLines(0x00C89678u, 35, 100), skin);
    // What a failed pixel read shows: opaque black, with the curves of black.
    const std::vector<std::string> black = {
        "R 0, G 0, B 0  ", "min 0.000000",  "max 0.000000", "R 255, G 255, B 255  ",
        "VLRD 0.471405",   "VLRS 1.521731", "VLRB 0.642762"};
    EXPECT_EQ(ReadoutLines(0xFF000000u, 35, 41), black);
}

TEST(ReadoutLines, DecimalPointDoesNotFollowTheProcessLocale) {
    // The window's toolkit adopts the environment's locale; a comma locale must not turn
    // "0.164992" into "0,164992". Skipped where no such locale is installed.
    const std::string previous = std::setlocale(LC_NUMERIC, nullptr);
    const char* chosen = nullptr;
    for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "fr_FR.UTF-8", "ru_RU.UTF-8"}) {
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

using Grid = std::vector<std::vector<int>>;  // [row][column]

Grid FlipLeftRight(Grid g) {
    for (auto& row : g) {
        std::reverse(row.begin(), row.end());
    }
    return g;
}

Grid FlipTopBottom(Grid g) {
    std::reverse(g.begin(), g.end());
    return g;
}

Grid Transpose(const Grid& g) {
    Grid t(g[0].size(), std::vector<int>(g.size()));
    for (std::size_t r = 0; r < g.size(); ++r) {
        for (std::size_t c = 0; c < g[r].size(); ++c) {
            t[c][r] = g[r][c];
        }
    }
    return t;
}

// A quarter turn clockwise: the bottom-left corner comes to the top left.
Grid TurnClockwise(const Grid& g) {
    return FlipLeftRight(Transpose(g));
}

TEST(Orientation, UprightPixelsComeFromTheStoredOnesTheTagNames) {
    // The tag says where the stored picture's first row and first column are seen:
    // 1 top and left, 2 top and right, 3 bottom and right, 4 bottom and left, 5 left and top,
    // 6 right and top, 7 right and bottom, 8 left and bottom.
    const int w = 5, h = 3;
    Grid stored(h, std::vector<int>(w));
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            stored[y][x] = y * w + x;  // every pixel tells its position
        }
    }
    const Grid upright[9] = {{},
                             stored,
                             FlipLeftRight(stored),
                             FlipTopBottom(FlipLeftRight(stored)),
                             FlipTopBottom(stored),
                             Transpose(stored),
                             TurnClockwise(stored),
                             FlipTopBottom(TurnClockwise(stored)),
                             TurnClockwise(TurnClockwise(TurnClockwise(stored)))};
    for (int o = 1; o <= 8; ++o) {
        const Grid& shown = upright[o];
        const PixelPoint size = ShownSize(o, w, h);
        ASSERT_EQ(size.Y, int(shown.size())) << o;
        ASSERT_EQ(size.X, int(shown[0].size())) << o;
        EXPECT_EQ(SwapsSides(o), o >= 5);
        for (int y = 0; y < size.Y; ++y) {
            for (int x = 0; x < size.X; ++x) {
                const PixelPoint p = StoredPixel(o, w, h, x, y);
                ASSERT_EQ(p.Y * w + p.X, shown[y][x]) << o << ": " << x << "," << y;
            }
            // One past the upright picture's right edge is outside the stored one too: the
            // probe's read fails there, as it does for an upright picture.
            const PixelPoint past = StoredPixel(o, w, h, size.X, y);
            EXPECT_TRUE(past.X < 0 || past.X >= w || past.Y < 0 || past.Y >= h) << o;
        }
    }
    // Missing or invalid tags count as upright.
    for (int tag : {0, 9, -1, 65535}) {
        EXPECT_EQ(NormalOrientation(tag), 1);
        EXPECT_EQ(StoredPixel(tag, w, h, 2, 1).X, 2);
    }
}

}  // namespace
}  // namespace velora
