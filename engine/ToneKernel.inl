// ConvertPixel over a few colours at once, written once for every instruction set: included by
// each PixelKernels<set>.cpp inside a namespace of its own, after it has defined `Ops` (the
// vector type D, its lane count and the arithmetic on it).
//
// Every step is the scalar one, in the same order and with the same rounding (plain multiplies
// and adds, no fused ones), except the two exponentials, which come from a polynomial of our own
// and may differ from the C library's in the last bits. How far that can move a channel is far
// below the margin tested here (a millionth of a unit, against differences of about 1e-11 that
// the exponentials' few units in the last place can cause): a channel whose byte is the same at
// both ends of the margin has the byte ConvertPixel gives, since the byte grows with the channel.
// A colour whose channel lies that close to a whole number is handed back for the scalar path.
#pragma once

#include <cstdint>

namespace velora {
namespace kernels {
namespace tone {

constexpr double Third = 0.3333333333333333;
constexpr double Inv765 = 0.00130718954248366;
constexpr double Margin = 1e-6;

// e^x for -10 < x <= 0 (the tone curves' range), within a few units in the last place: x = k ln2
// + r with |r| <= ln2 / 2, e^r from its Taylor series to the 13th power (the remainder is below
// 1e-17), 2^k put straight into the exponent.
template <class Ops>
typename Ops::D Exp(typename Ops::D x) {
    using D = typename Ops::D;
    const D shifter = Ops::Set(0x1.8p52);  // adding it rounds to a whole number, kept in the bits
    const D shifted = Ops::Add(Ops::Mul(x, Ops::Set(0x1.71547652b82fep0)), shifter);
    const D k = Ops::Sub(shifted, shifter);
    // ln2 in two parts; the first has trailing zeros, so k times it is exact.
    const D r = Ops::Sub(Ops::Sub(x, Ops::Mul(k, Ops::Set(0x1.62e42fee00000p-1))),
                         Ops::Mul(k, Ops::Set(0x1.a39ef35793c76p-33)));
    // Estrin's scheme: pairs of terms, then pairs of pairs, which keeps the chain of dependent
    // steps short.
    const auto pair = [&](double low, double high) {
        return Ops::MulAdd(Ops::Set(high), r, Ops::Set(low));
    };
    const D r2 = Ops::Mul(r, r);
    const D r4 = Ops::Mul(r2, r2);
    const D r8 = Ops::Mul(r4, r4);
    const D q01 = Ops::MulAdd(r2, pair(1.0 / 2, 1.0 / 6), pair(1.0, 1.0));
    const D q23 = Ops::MulAdd(r2, pair(1.0 / 720, 1.0 / 5040), pair(1.0 / 24, 1.0 / 120));
    const D q45 =
        Ops::MulAdd(r2, pair(1.0 / 3628800, 1.0 / 39916800), pair(1.0 / 40320, 1.0 / 362880));
    const D q6 = pair(1.0 / 479001600, 1.0 / 6227020800);
    const D p = Ops::MulAdd(r8, Ops::MulAdd(r4, q6, q45), Ops::MulAdd(r4, q23, q01));
    return Ops::Mul(p, Ops::TwoToThe(shifted));
}

// ColorTriple(r, g, b).NormalizedByMax().StdDev().
template <class Ops>
typename Ops::D NormalizedStdDev(typename Ops::D r, typename Ops::D g, typename Ops::D b) {
    using D = typename Ops::D;
    const D zero = Ops::Set(0.0);
    const D one = Ops::Set(1.0);
    const D third = Ops::Set(Third);
    const D mx = Ops::Max(Ops::Max(r, g), b);
    const D black = Ops::IsZero(mx);
    const D k = Ops::Div(one, Ops::Select(black, one, mx));
    const D nr = Ops::Select(black, one, Ops::Mul(r, k));
    const D ng = Ops::Select(black, zero, Ops::Mul(g, k));
    const D nb = Ops::Select(black, zero, Ops::Mul(b, k));
    const D m = Ops::Mul(Ops::Add(Ops::Add(nb, ng), nr), third);
    const D dr = Ops::Sub(nr, m);
    const D dg = Ops::Sub(ng, m);
    const D db = Ops::Sub(nb, m);
    return Ops::Sqrt(
        Ops::Mul(Ops::Add(Ops::Add(Ops::Mul(dr, dr), Ops::Mul(dg, dg)), Ops::Mul(db, db)), third));
}

template <class Ops>
void ConvertColours(const std::uint32_t* keys, std::uint32_t* values, int count,
                    const ToneTerms& terms) {
    using D = typename Ops::D;
    constexpr int L = Ops::Lanes;
    const D one = Ops::Set(1.0);
    const D c255 = Ops::Set(255.0);
    const D zero = Ops::Set(0.0);
    const D margin = Ops::Set(Margin);
    for (int i = 0; i < count; i += L) {
        double lanes[3][L];
        for (int j = 0; j < L; ++j) {
            lanes[0][j] = static_cast<double>((keys[i + j] >> 16) & 0xFFu);
            lanes[1][j] = static_cast<double>((keys[i + j] >> 8) & 0xFFu);
            lanes[2][j] = static_cast<double>(keys[i + j] & 0xFFu);
        }
        const D r = Ops::Load(lanes[0]);
        const D g = Ops::Load(lanes[1]);
        const D b = Ops::Load(lanes[2]);
        const D sum = Ops::Add(Ops::Add(b, g), r);
        const D m = Ops::Mul(sum, Ops::Set(Third));
        const D s = NormalizedStdDev<Ops>(r, g, b);
        const D t = Ops::Add(
            Ops::Div(
                Ops::Set(terms.N),
                Ops::Add(one, Ops::Mul(Ops::Set(200.0), Exp<Ops>(Ops::Mul(Ops::Set(-15.0), s))))),
            Ops::Set(terms.HalfMinusC));
        D q[3] = {Ops::Add(Ops::Mul(Ops::Sub(r, m), t), m),
                  Ops::Add(Ops::Mul(Ops::Sub(g, m), t), m),
                  Ops::Add(Ops::Mul(Ops::Sub(b, m), t), m)};
        if (terms.GrayContrast) {
            const D si =
                NormalizedStdDev<Ops>(Ops::Abs(Ops::Sub(r, c255)), Ops::Abs(Ops::Sub(g, c255)),
                                      Ops::Abs(Ops::Sub(b, c255)));
            const D gl = Ops::Div(
                Ops::Set(0.1),
                Ops::Add(one, Ops::Mul(Ops::Set(20.0), Exp<Ops>(Ops::Mul(Ops::Set(-20.0), si)))));
            const D l =
                Ops::Add(Ops::Mul(Ops::Mul(sum, Ops::Set(Inv765)), Ops::Set(0.4)), Ops::Set(0.6));
            const D u = Ops::Add(Ops::Add(gl, l), Ops::Set(0.038));
            for (D& c : q) {
                c = Ops::Mul(c, u);
            }
            const D d = Ops::Sub(u, Ops::Set(0.8));
            const D k = Ops::Mul(d, Ops::Set(40.0));
            const D green = Ops::Mul(d, Ops::Set(15.0));
            if (terms.ReddishFilm) {
                q[0] = Ops::Add(q[0], k);
                q[1] = Ops::Add(q[1], green);
                q[2] = Ops::Sub(q[2], k);
            } else if (terms.BlueishFilm) {
                q[0] = Ops::Sub(q[0], k);
                q[1] = Ops::Sub(q[1], green);
                q[2] = Ops::Add(q[2], k);
            }
        }
        // The byte of each end of the margin: truncation of the channel held to 0..255.
        std::int32_t low[3][L];
        std::int32_t high[3][L];
        for (int c = 0; c < 3; ++c) {
            Ops::StoreTruncated(low[c], Ops::Min(Ops::Max(Ops::Sub(q[c], margin), zero), c255));
            Ops::StoreTruncated(high[c], Ops::Min(Ops::Max(Ops::Add(q[c], margin), zero), c255));
        }
        for (int j = 0; j < L; ++j) {
            const bool sure =
                low[0][j] == high[0][j] && low[1][j] == high[1][j] && low[2][j] == high[2][j];
            values[i + j] = sure ? 0xFF000000u | (static_cast<std::uint32_t>(low[0][j]) << 16) |
                                       (static_cast<std::uint32_t>(low[1][j]) << 8) |
                                       static_cast<std::uint32_t>(low[2][j])
                                 : 0u;
        }
    }
}

}  // namespace tone
}  // namespace kernels
}  // namespace velora
