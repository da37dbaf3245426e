#include "ColorProbe.h"

#include <charconv>
#include <cmath>

#include "ColorTriple.h"
#include "PictureFrame.h"

namespace velora {

namespace {

int Truncated(double value) {
    return static_cast<int>(std::trunc(value));
}

// printf's "%d" and "%.<precision>f", always with a decimal point: the C library's formatting
// follows the process locale, which the window's toolkit sets from the environment.
std::string Decimal(int value) {
    char text[16];
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    return std::string(text, end);
}

std::string Fixed(double value, int precision) {
    char text[400];  // enough for any double in fixed notation with six decimals
    const auto result =
        std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, precision);
    return std::string(text, result.ptr);
}

}  // namespace

ProbeHit ProbeHitTest(int x, int y, int pictureWidth, int pictureHeight) {
    ProbeHit hit;
    if (pictureWidth <= 0 || pictureHeight <= 0) {
        return hit;  // nothing drawn, nothing to hit
    }
    const double s = PictureFrame::InnerSide;
    const double aspect = static_cast<double>(pictureWidth) / pictureHeight;
    double dx = 0.0;
    double dy = 0.0;
    double scale = 0.0;
    if (pictureWidth >= pictureHeight) {
        const double inv = 1.0 / aspect;
        const double drawn = s * inv;
        const int top = PictureFrame::CentreRow - Truncated(drawn / 2.0);
        dx = static_cast<double>(x) - PictureFrame::InnerLeft;
        dy = static_cast<double>(y) - top;
        if (dx < 0.0 || dy < 0.0 || dx > s - 1.0 || dy > drawn) {
            return hit;
        }
        scale = pictureHeight / (inv * s);
    } else {
        const double drawn = s * aspect;
        const int left = PictureFrame::CentreColumn - Truncated(drawn / 2.0);
        dx = static_cast<double>(x) - left;
        dy = static_cast<double>(y) - PictureFrame::InnerTop;
        if (dx < 0.0 || dy < 0.0 || dx > drawn || dy > s - 1.0) {
            return hit;
        }
        scale = pictureWidth / (s * aspect);
    }
    hit.Inside = true;
    hit.PixelX = Truncated(dx * scale);
    hit.PixelY = Truncated(dy * scale);
    return hit;
}

std::vector<std::string> ReadoutLines(std::uint32_t argb, int colorSlider, int hiddenSlider) {
    const int r = static_cast<int>((argb >> 16) & 0xFFu);
    const int g = static_cast<int>((argb >> 8) & 0xFFu);
    const int b = static_cast<int>(argb & 0xFFu);
    const ColorTriple p(r, g, b);
    const ColorTriple inverted = p.Inverted();
    // The two lines of components end in two blanks, as the program has always drawn them.
    return {
        "R " + Decimal(r) + ", G " + Decimal(g) + ", B " + Decimal(b) + "  ",
        "min " + Fixed(p.Min(), 6),
        "max " + Fixed(p.Max(), 6),
        "R " + Fixed(inverted.R(), 0) + ", G " + Fixed(inverted.G(), 0) + ", B " +
            Fixed(inverted.B(), 0) + "  ",
        "VLRD " + Fixed(p.NormalizedByMax().StdDev(), 6),
        "VLRS " + Fixed(p.SaturationFactor(colorSlider, hiddenSlider), 6),
        "VLRB " + Fixed(p.BrightnessFactor(), 6),
    };
}

}  // namespace velora
