#include "ColorTriple.h"

#include <cmath>

namespace velora {

double ColorTriple::Mean() const {
    return (BValue + GValue + RValue) * THIRD;
}

double ColorTriple::StdDev() const {
    const double m = Mean();
    const double dr = RValue - m;
    const double dg = GValue - m;
    const double db = BValue - m;
    return std::sqrt((dr * dr + dg * dg + db * db) * THIRD);
}

double ColorTriple::Max() const {
    double m = RValue;
    if (GValue > m) {
        m = GValue;
    }
    if (BValue > m) {
        m = BValue;
    }
    return m;
}

double ColorTriple::Min() const {
    double m = RValue;
    if (GValue < m) {
        m = GValue;
    }
    if (BValue < m) {
        m = BValue;
    }
    return m;
}

ColorTriple ColorTriple::NormalizedByMax() const {
    const double mx = Max();
    if (mx == 0.0) {
        // Black counts as a fully saturated colour, so it gets the colourful end of the curves.
        return ColorTriple(1.0, 0.0, 0.0);
    }
    const double k = 1.0 / mx;
    return ColorTriple(RValue * k, GValue * k, BValue * k);
}

ColorTriple ColorTriple::Inverted() const {
    return ColorTriple(std::fabs(RValue - 255.0), std::fabs(GValue - 255.0),
                       std::fabs(BValue - 255.0));
}

double ColorTriple::SaturationFactor(int colorStrength, int grayStrength) const {
    const double s = NormalizedByMax().StdDev();
    const double c = 0.01 * grayStrength - 0.5;
    const double n = 2.0 * (0.01 * colorStrength - 0.5) + 1.3 - c;
    return n / (1.0 + 200.0 * std::exp(-15.0 * s)) + (0.5 - c);
}

double ColorTriple::BrightnessFactor() const {
    const double s = Inverted().NormalizedByMax().StdDev();
    const double g = 0.1 / (1.0 + 20.0 * std::exp(-20.0 * s));
    const double l = (BValue + GValue + RValue) * INV765 * 0.4 + 0.6;
    return (g + l) + 0.038;
}

}  // namespace velora
