#include "Conversion.h"

#include "ColorTriple.h"

namespace velora {

namespace {

// Truncation toward zero, then the byte range. Written so that no double outside the int range
// is ever converted (extreme slider values can push a channel far beyond it).
std::uint32_t ChannelByte(double c) {
    if (!(c > 0.0)) {
        return 0;  // also truncates (-1, 0) to 0
    }
    if (c >= 255.0) {
        return 255;
    }
    return static_cast<std::uint32_t>(static_cast<std::int32_t>(c));
}

}  // namespace

std::uint32_t ConvertPixel(std::uint32_t colour, const ConversionOptions& options) {
    const double r = static_cast<double>((colour >> 16) & 0xFFu);
    const double g = static_cast<double>((colour >> 8) & 0xFFu);
    const double b = static_cast<double>(colour & 0xFFu);
    const ColorTriple p(r, g, b);
    const double t = p.SaturationFactor(options.ColorStrength, options.GrayStrength);
    const double u = p.BrightnessFactor();
    const double m = p.Mean();

    double qr = (r - m) * t + m;
    double qg = (g - m) * t + m;
    double qb = (b - m) * t + m;

    if (options.GrayContrast) {
        qr = qr * u;
        qg = qg * u;
        qb = qb * u;
        const double d = u - 0.8;
        const double k = d * 40.0;
        if (options.ReddishFilm) {
            qr = qr + k;
            qg = qg + d * 15.0;
            qb = qb - k;
        } else if (options.BlueishFilm) {
            qr = qr - k;
            qg = qg - d * 15.0;
            qb = qb + k;
        }
    }

    return 0xFF000000u | (ChannelByte(qr) << 16) | (ChannelByte(qg) << 8) | ChannelByte(qb);
}

}  // namespace velora
