// Double-double arithmetic (Dekker, Knuth) without fused multiply-adds: every
// operation is an IEEE basic operation, so the results are the same bits on
// every processor.
#include "physics/exact_math.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "physics/physics.h"

namespace qav {
namespace {

struct DD {
    double hi;
    double lo;
};

DD QuickTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

DD TwoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

DD Split(double a) {
    const double t = 134217729.0 * a;  // 2^27 + 1
    const double hi = t - (t - a);
    return {hi, a - hi};
}

DD TwoProduct(double a, double b) {
    const double p = a * b;
    const DD x = Split(a);
    const DD y = Split(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

DD Add(DD a, DD b) {
    DD s = TwoSum(a.hi, b.hi);
    const DD t = TwoSum(a.lo, b.lo);
    s.lo += t.hi;
    s = QuickTwoSum(s.hi, s.lo);
    s.lo += t.lo;
    return QuickTwoSum(s.hi, s.lo);
}

DD Neg(DD a) { return {-a.hi, -a.lo}; }

DD Mul(DD a, DD b) {
    DD p = TwoProduct(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return QuickTwoSum(p.hi, p.lo);
}

DD Mul(DD a, double b) {
    DD p = TwoProduct(a.hi, b);
    p.lo += a.lo * b;
    return QuickTwoSum(p.hi, p.lo);
}

DD Div(DD a, double b) {
    const double q1 = a.hi / b;
    DD r = Add(a, Neg(TwoProduct(q1, b)));
    const double q2 = r.hi / b;
    r = Add(r, Neg(TwoProduct(q2, b)));
    const double q3 = r.hi / b;
    return Add(QuickTwoSum(q1, q2), DD{q3, 0.0});
}

double Nearest(DD a) { return a.hi + a.lo; }

constexpr DD Ln2{0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56};
constexpr DD TwoOverRootPi{0x1.20dd750429b6dp+0, 0x1.1ae3a914fed8p-56};
constexpr DD HalfPi{0x1.921fb54442d18p+0, 0x1.1a62633145c07p-54};
constexpr double HalfPiTail = -0x1.f1976b7ed8fbcp-110;

// sqrt(a) for a > 0: the double's square root, corrected once.
DD SquareRoot(DD a) {
    const double y = std::sqrt(a.hi);
    const DD r = Add(a, Neg(TwoProduct(y, y)));
    return QuickTwoSum(y, r.hi / (y + y));
}

// asin(s) for |s| <= 1/2 by its series with coefficients c, with as many
// terms as s needs for 1e-33 (s^(2n) falls by at least 1/4 a term).
DD AsinSeriesOf(const DD* c, DD s) {
    const DD s2 = Mul(s, s);
    int terms = 60;
    for (double bound = 0.25; terms > 8 && s2.hi * 1.0000001 < bound; bound *= 0.25) terms = terms * 3 / 4;
    DD p = c[terms - 1];
    for (int n = terms - 2; n >= 0; --n) p = Add(c[n], Mul(p, s2));
    return Mul(s, p);
}

// Points of the table of asin.
constexpr double AsinStep = 1.0 / 64.0;
constexpr int AsinPoints = 33;  // 0 .. 1/2

// 1 / n! for n = 0 .. 29, the coefficients (2n)! / (4^n (n!)^2 (2n + 1))
// of the series of asin for n = 0 .. 59, and asin(s) and sqrt(1 - s^2) at
// s = j / 64 for j = 0 .. 32, in double-double; built once.
struct SeriesTables {
    DD inverseFactorial[30];
    DD asin[60];
    DD asinAt[AsinPoints];
    DD cosineAt[AsinPoints];
    SeriesTables() {
        inverseFactorial[0] = {1.0, 0.0};
        for (int n = 1; n < 30; ++n) inverseFactorial[n] = Div(inverseFactorial[n - 1], static_cast<double>(n));
        DD a{1.0, 0.0};  // (2n)! / (4^n (n!)^2)
        asin[0] = a;
        for (int n = 1; n < 60; ++n) {
            a = Div(Mul(a, static_cast<double>(2 * n - 1)), static_cast<double>(2 * n));
            asin[n] = Div(a, static_cast<double>(2 * n + 1));
        }
        for (int j = 0; j < AsinPoints; ++j) {
            const double s = j * AsinStep;
            asinAt[j] = AsinSeriesOf(asin, DD{s, 0.0});
            cosineAt[j] = SquareRoot(Add(DD{1.0, 0.0}, Neg(TwoProduct(s, s))));
        }
    }
};

const SeriesTables& Tables() {
    static const SeriesTables tables;
    return tables;
}

// exp(a) as 2^k (1 + u), u in double-double; k is returned apart so that the
// caller scales once.
DD ExpParts(DD a, double& k) {
    const DD* f = Tables().inverseFactorial;
    k = std::nearbyint(a.hi * 0x1.71547652b82fep+0);
    const DD kLn2 = Add(TwoProduct(k, Ln2.hi), DD{k * Ln2.lo, 0.0});
    const DD r = Add(a, Neg(kLn2));
    // exp(r) = (exp(r / 1024))^1024: the series of expm1 at |s| < 3.4e-4,
    // then ten squarings of 1 + u as u <- 2u + u^2.
    const DD s{r.hi * 0x1p-10, r.lo * 0x1p-10};
    DD p = f[13];
    for (int n = 12; n >= 1; --n) p = Add(f[n], Mul(p, s));
    DD u = Mul(s, p);
    for (int i = 0; i < 10; ++i) u = Add(Mul(u, 2.0), Mul(u, u));
    return Add(DD{1.0, 0.0}, u);
}

double ScaledNearest(DD m, double k) {
    // 1 + u lies in [0.7, 1.5); the result is normal wherever it is used.
    const int e = static_cast<int>(k);
    if (e > 1000) return std::ldexp(std::ldexp(Nearest(m), e - 1000), 1000);
    return std::ldexp(Nearest(m), e);
}

// sin(r) and cos(r) for |r| <= pi/4 by their series, to r^29 / 29!.
DD SinSeries(DD r) {
    const DD* f = Tables().inverseFactorial;
    const DD w = Neg(Mul(r, r));
    DD p = f[29];
    for (int n = 13; n >= 0; --n) p = Add(f[2 * n + 1], Mul(p, w));
    return Mul(r, p);
}

DD CosSeries(DD r) {
    const DD* f = Tables().inverseFactorial;
    const DD w = Neg(Mul(r, r));
    DD p = f[28];
    for (int n = 13; n >= 0; --n) p = Add(f[2 * n], Mul(p, w));
    return p;
}

// sin(r) or cos(r) (Cosine) for |r| <= pi/4 with their first four terms in
// double-double and the rest in doubles: within 1e-21 relative (the rest is
// below 4e-6 of the result). The nearest double to it is the nearest double
// to the series of SinSeries and CosSeries wherever the bound cannot move
// the rounding, which Settled tells.
template <bool Cosine>
DD QuickSeries(DD r) {
    const DD* f = Tables().inverseFactorial;
    const DD w = Mul(r, r);
    const double v = w.hi;
    // The rest: the terms from w^4 on over w^3, Horner in doubles.
    constexpr int First = Cosine ? 8 : 9;
    double rest = f[First + 20].hi;
    for (int n = First + 18; n >= First; n -= 2) rest = f[n].hi - v * rest;
    rest = rest * v;
    DD p = Add(Neg(f[Cosine ? 6 : 7]), DD{rest, 0.0});
    p = Add(f[Cosine ? 4 : 5], Mul(p, w));
    p = Add(Neg(f[Cosine ? 2 : 3]), Mul(p, w));
    p = Add(f[0], Mul(p, w));
    return Cosine ? p : Mul(r, p);
}

// True when every number within 2^-68 (relative) of v rounds to the same
// double as v.
bool Settled(DD v) {
    const double bound = std::fabs(v.hi) * 0x1p-68;
    return v.hi + (v.lo - bound) == v.hi + (v.lo + bound);
}

// asin(s) for 0 <= s <= 1/2: asin(s_j) + asin(s sqrt(1 - s_j^2) - s_j
// sqrt(1 - s^2)) for the table's s_j nearest to s, whose series needs a few
// terms only (the argument is at most 0.0092).
// Quick: the series' first two terms in double-double and the rest in
// doubles (below 6e-10 of the result there; within 1e-24), to be checked by
// Settled.
DD AsinSeries(DD s, bool quick) {
    const SeriesTables& t = Tables();
    const auto series = [&](DD u) {
        if (!quick) return AsinSeriesOf(t.asin, u);
        const DD u2 = Mul(u, u);
        double rest = t.asin[12].hi;
        for (int n = 11; n >= 2; --n) rest = t.asin[n].hi + u2.hi * rest;
        const DD p = Add(t.asin[0], Mul(Add(t.asin[1], DD{rest * u2.hi, 0.0}), u2));
        return Mul(u, p);
    };
    const int j = static_cast<int>(std::nearbyint(s.hi / AsinStep));
    if (j == 0) return series(s);
    const double sj = j * AsinStep;
    const DD cosine = SquareRoot(Add(DD{1.0, 0.0}, Neg(Mul(s, s))));
    const DD rest = Add(Mul(s, t.cosineAt[j]), Neg(Mul(cosine, sj)));
    return Add(t.asinAt[j], series(rest));
}

} // namespace

double NearestExp(double x) {
    if (std::isnan(x)) return x;
    if (x > 709.8) return std::numeric_limits<double>::infinity();
    if (x < -745.2) return 0.0;
    double k = 0.0;
    const DD m = ExpParts(DD{x, 0.0}, k);
    if (k < -1021.0) {
        // Among the subnormal numbers: one rounding of the scaled sum.
        return std::ldexp(m.hi, static_cast<int>(k)) + std::ldexp(m.lo, static_cast<int>(k));
    }
    return ScaledNearest(m, k);
}

double NearestErf(double x) {
    if (std::isnan(x)) return x;
    const double a = std::fabs(x);
    // From 6 on erf is within 2.2e-17 of 1, nearer than half the spacing of
    // the doubles below 1.
    if (a >= 6.0) return std::copysign(1.0, x);
    if (a == 0.0) return x;
    // erf(a) = 2/sqrt(pi) exp(-a^2) sum over n of (2 a^2)^n a / (1 3 5 ... (2n + 1)):
    // every term positive.
    const DD a2 = TwoProduct(a, a);
    double k = 0.0;
    const DD m = ExpParts(Neg(a2), k);
    const DD e{std::ldexp(m.hi, static_cast<int>(k)), std::ldexp(m.lo, static_cast<int>(k))};
    const DD twoA2 = Mul(a2, 2.0);
    DD term{a, 0.0};
    DD sum = term;
    for (int n = 1; n < 400; ++n) {
        term = Div(Mul(term, twoA2), static_cast<double>(2 * n + 1));
        sum = Add(sum, term);
        if (term.hi < 1e-34 * sum.hi) break;
    }
    return std::copysign(Nearest(Mul(Mul(TwoOverRootPi, e), sum)), x);
}

double NearestSin(double x) {
    if (!std::isfinite(x)) return std::numeric_limits<double>::quiet_NaN();
    // The reduction below by pi/2 in three parts (159 bits) holds while the
    // quotient x 2/pi is found to the nearest integer, up to about 2^52. A
    // direction difference of 2^50 radians (6e16 degrees) or more is not a
    // sea state; it takes the C library's sine, whose reduction is exact, as
    // the reference does, so that such a step is not failed where the
    // reference computes it.
    if (std::fabs(x) >= 0x1p50) return std::sin(x);
    const double k = std::nearbyint(x * 0x1.45f306dc9c883p-1);
    // r = x - k pi/2 with pi/2 in three parts.
    const DD kHi = TwoProduct(k, HalfPi.hi);
    const DD kLo = TwoProduct(k, HalfPi.lo);
    DD r = Add(DD{x, 0.0}, Neg(kHi));
    r = Add(r, Neg(kLo));
    r = Add(r, DD{-k * HalfPiTail, 0.0});
    const long quadrant = static_cast<long>(std::fmod(k, 4.0) + 4.0) % 4;
    const bool cosine = quadrant % 2 == 1;
    // The short series nearly always settles the rounding; else the long one.
    DD v = cosine ? QuickSeries<true>(r) : QuickSeries<false>(r);
    if (!Settled(v)) v = cosine ? CosSeries(r) : SinSeries(r);
    return quadrant >= 2 ? -Nearest(v) : Nearest(v);
}

double NearestAsin(double x) {
    const double a = std::fabs(x);
    if (!(a <= 1.0)) return std::numeric_limits<double>::quiet_NaN();
    if (a == 0.0) return x;
    const auto asinOf = [a](bool quick) {
        if (a <= 0.5) return AsinSeries(DD{a, 0.0}, quick);
        // asin(a) = pi/2 - 2 asin(sqrt((1 - a) / 2)); 1 - a and the halving are exact.
        const double d = (1.0 - a) * 0.5;
        const double s0 = std::sqrt(d);
        DD s{s0, 0.0};
        if (s0 > 0.0) {
            const DD square = TwoProduct(s0, s0);
            s = QuickTwoSum(s0, ((d - square.hi) - square.lo) / (s0 + s0));
        }
        return Add(Add(HalfPi, DD{HalfPiTail, 0.0}), Neg(Mul(AsinSeries(s, quick), 2.0)));
    };
    // The quick series nearly always settles the rounding; else the long one.
    DD y = asinOf(true);
    if (!Settled(y)) y = asinOf(false);
    return std::copysign(Nearest(y), x);
}

double NearestRoundedBracket(double R) {
    const double bracket =
        (1.0 - NearestErf(R)) + NearestExp(-R * R) * ((1.5 * R + R * R * R) * FourOverThreeSqrtPi);
    return static_cast<double>(static_cast<float>(bracket));
}

double NearestRefractedWaveDirection(double DikeNormal, double IncomingWaveAngle, double cFirst, double cLast) {
    return RefractedWaveDirection(DikeNormal, IncomingWaveAngle, cFirst, cLast, NearestSin, NearestAsin);
}

} // namespace qav
