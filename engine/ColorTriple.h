// ColorTriple: one RGB colour as three doubles on the 0-255 scale, with its statistics and the two
// tone curves that drive the conversion and the colour readout. A plain value: no heap, no
// clamping. The arithmetic order is fixed (means by multiplying with THIRD, the lightness term by
// INV765) because converted pixels must agree to the last bit.
#pragma once

namespace velora {

class ColorTriple {
  public:
    static constexpr double THIRD = 0.3333333333333333;
    static constexpr double INV765 = 0.00130718954248366;

    constexpr ColorTriple() = default;
    constexpr ColorTriple(double r, double g, double b) : RValue(r), GValue(g), BValue(b) {}

    void Set(double r, double g, double b) {
        RValue = r;
        GValue = g;
        BValue = b;
    }

    double R() const { return RValue; }
    double G() const { return GValue; }
    double B() const { return BValue; }

    double Mean() const;
    double StdDev() const;
    double Max() const;
    double Min() const;
    ColorTriple NormalizedByMax() const;
    ColorTriple Inverted() const;
    double SaturationFactor(int colorStrength, int grayStrength) const;
    double BrightnessFactor() const;

  private:
    double RValue = 0.0;
    double GValue = 0.0;
    double BValue = 0.0;
};

}  // namespace velora
