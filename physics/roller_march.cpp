// The march of the energy balance on SIMD registers, written once and compiled
// by Highway for every instruction set it targets (foreach_target.h); one
// dispatch table (HWY_EXPORT) holds the marches of every target.
//
// Every target gives the same bits, for a time step marched alone or in a
// lane beside others: all the math is built from IEEE additions,
// subtractions, multiplications, divisions, square roots and conversions to
// single precision, in one order, without fused multiply-adds, so that a
// register of any width and a single number round alike.
//
// - tanh is the C library's own algorithm (fdlibm's, through expm1), with the
//   four multiply-adds that glibc's expm1 fuses on processors with FMA (and
//   that decide its last bit) carried out exactly in basic operations: the
//   wave numbers are then those of the reference march.
// - The breaking bracket comes from piecewise polynomial fits of its two terms
//   (bracket.h). Its single-precision rounding is always the one of the
//   bracket formed from erf and exp rounded to nearest: where the fits lie too
//   close to a boundary for their tolerance, the bracket is formed from the
//   nearest erf and exp in double-double (exact_math.h), a few times in a
//   million points. The C library's erf and exp round to nearest nearly always.
// - sinh (first point), sin and asin (toe direction) come from exact_math.h.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "physics/roller_march.cpp"
// SSSE3 processors take the baseline: one target less to compile.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS HWY_SSSE3
#endif
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "physics/bracket.h"
#include "physics/exact_math.h"
#include "physics/march_kernel.h"
#include "physics/physics.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

namespace hn = hwy::HWY_NAMESPACE;
using D = hn::ScalableTag<double>;
using V = hn::Vec<D>;
using M = hn::Mask<D>;

// Room for the widest register of doubles any target has.
constexpr std::size_t MaxLanes = HWY_MAX_BYTES / sizeof(double);

// Adding 1.5 * 2^52 rounds a double below 2^51 to an integer, found in the low
// bits.
constexpr double IntegerShift = 6755399441055744.0;

// fl(a b + c) from basic operations: the product's rounding error exactly by
// Veltkamp's split and Dekker's product, the sum's by Knuth's two-sum, both
// added back with one more rounding. This is the fused result except where
// that last rounding meets a tie.
template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV FusedLike(DD d, VV a, VV b, VV c) {
    const VV split = hn::Set(d, 134217729.0);  // 2^27 + 1
    const VV ga = hn::Mul(split, a);
    const VV ah = hn::Sub(ga, hn::Sub(ga, a));
    const VV al = hn::Sub(a, ah);
    const VV gb = hn::Mul(split, b);
    const VV bh = hn::Sub(gb, hn::Sub(gb, b));
    const VV bl = hn::Sub(b, bh);
    const VV p = hn::Mul(a, b);
    const VV pe = hn::Add(hn::Add(hn::Add(hn::Sub(hn::Mul(ah, bh), p), hn::Mul(ah, bl)), hn::Mul(al, bh)),
                          hn::Mul(al, bl));
    const VV s = hn::Add(p, c);
    const VV bb = hn::Sub(s, p);
    const VV se = hn::Add(hn::Sub(p, hn::Sub(s, bb)), hn::Sub(c, bb));
    return hn::Add(s, hn::Add(se, pe));
}

// 2^k for integral k in [-1022, 1023].
template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV PowerOfTwo(DD d, VV k) {
    const hn::RebindToUnsigned<DD> du;
    const auto bits = hn::BitCast(du, hn::Add(k, hn::Set(d, IntegerShift + 1023.0)));
    return hn::BitCast(d, hn::ShiftLeft<52>(bits));
}

// expm1(y) for -2 < y < 44 as glibc computes it (fdlibm's algorithm) on
// processors with FMA.
template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV Expm1(DD d, VV y) {
    const VV one = hn::Set(d, 1.0);
    const VV ay = hn::Abs(y);
    const auto negative = hn::Lt(y, hn::Zero(d));
    // |y| > ln2 / 2 is reduced by k ln2; |y| < 1.5 ln2 takes k = +-1.
    const auto reduced = hn::Ge(ay, hn::Set(d, 0x1.62e43p-2));
    const auto near = hn::Lt(ay, hn::Set(d, 0x1.0a2b2p+0));
    const VV half = hn::IfThenElse(negative, hn::Set(d, -0.5), hn::Set(d, 0.5));
    const VV kFar = hn::Trunc(hn::Add(hn::Mul(hn::Set(d, 0x1.71547652b82fep+0), y), half));
    const VV kNear = hn::IfThenElse(negative, hn::Neg(one), one);
    const VV k = hn::IfThenElseZero(reduced, hn::IfThenElse(near, kNear, kFar));
    const VV hi = hn::Sub(y, hn::Mul(k, hn::Set(d, 0x1.62e42feep-1)));
    const VV lo = hn::Mul(k, hn::Set(d, 0x1.a39ef35793c76p-33));
    const VV x = hn::Sub(hi, lo);
    const VV c = hn::Sub(hn::Sub(hi, x), lo);

    const VV hfx = hn::Mul(hn::Set(d, 0.5), x);
    const VV hxs = hn::Mul(x, hfx);
    const VV r1a = hn::Add(one, hn::Mul(hxs, hn::Set(d, -0x1.11111111110f4p-5)));
    const VV h2 = hn::Mul(hxs, hxs);
    const VV r2 = hn::Add(hn::Set(d, 0x1.a01a019fe5585p-10), hn::Mul(hxs, hn::Set(d, -0x1.4ce199eaadbb7p-14)));
    const VV h4 = hn::Mul(h2, h2);
    const VV r3 = hn::Add(hn::Set(d, 0x1.0cfca86e65239p-18), hn::Mul(hxs, hn::Set(d, -0x1.afdb76e09c32dp-23)));
    const VV r1 = hn::Add(hn::Add(r1a, hn::Mul(h2, r2)), hn::Mul(h4, r3));
    const VV t = FusedLike(d, hn::Neg(r1), hfx, hn::Set(d, 3.0));
    const VV e = hn::Mul(hxs, hn::Div(hn::Sub(r1, t), FusedLike(d, hn::Neg(x), t, hn::Set(d, 6.0))));
    // k = 0: x - (x e - hxs); otherwise e <- (x (e - c) - c) - hxs.
    const VV fused = FusedLike(d, x, hn::Sub(e, c), hn::Neg(hn::IfThenElse(reduced, c, hxs)));
    const VV r0 = hn::Sub(x, fused);
    const VV ek = hn::Sub(fused, hxs);
    const VV ex = hn::Sub(ek, x);
    const VV rMinus1 = hn::Sub(hn::Mul(hn::Set(d, 0.5), hn::Sub(x, ek)), hn::Set(d, 0.5));
    const VV rPlus1 = hn::IfThenElse(hn::Lt(x, hn::Set(d, -0.25)),
                                     hn::Mul(hn::Set(d, -2.0), hn::Sub(ek, hn::Add(x, hn::Set(d, 0.5)))),
                                     hn::Add(one, hn::Mul(hn::Set(d, 2.0), hn::Sub(x, ek))));
    const VV scale = PowerOfTwo(d, k);
    const VV inverseScale = PowerOfTwo(d, hn::Neg(k));
    const VV rFar = hn::Sub(hn::Mul(hn::Sub(one, ex), scale), one);
    const VV rMid = hn::Mul(hn::Sub(hn::Sub(one, inverseScale), ex), scale);
    const VV rHigh = hn::Mul(hn::Add(hn::Sub(x, hn::Add(ek, inverseScale)), one), scale);
    VV r = hn::IfThenElse(hn::Lt(k, hn::Set(d, 20.0)), rMid, rHigh);
    r = hn::IfThenElse(hn::Or(hn::Le(k, hn::Set(d, -2.0)), hn::Gt(k, hn::Set(d, 56.0))), rFar, r);
    r = hn::IfThenElse(hn::Eq(k, one), rPlus1, r);
    r = hn::IfThenElse(hn::Eq(k, hn::Neg(one)), rMinus1, r);
    return hn::IfThenElse(reduced, r, r0);
}

// tanh(x) as glibc computes it (fdlibm's algorithm) on processors with FMA.
template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV Tanh(DD d, VV x) {
    const VV one = hn::Set(d, 1.0);
    const VV two = hn::Set(d, 2.0);
    const VV ax = hn::Abs(x);
    const auto large = hn::Ge(ax, one);
    const VV twice = hn::Add(ax, ax);
    const VV t = Expm1(d, hn::IfThenElse(large, twice, hn::Neg(twice)));
    // |x| >= 1: 1 - 2 / (t + 2); otherwise -t / (t + 2).
    const VV q = hn::Div(hn::IfThenElse(large, two, hn::Neg(t)), hn::Add(t, two));
    VV z = hn::IfThenElse(large, hn::Sub(one, q), q);
    z = hn::IfThenElse(hn::Ge(ax, hn::Set(d, 22.0)), one, z);
    z = hn::IfThenElse(hn::Lt(x, hn::Zero(d)), hn::Neg(z), z);
    return hn::IfThenElse(hn::Lt(ax, hn::Set(d, 0x1p-55)), hn::Mul(x, hn::Add(one, x)), z);
}

// sinh(x) as glibc computes it, with the nearest exp past 22.
double Sinh(double x) {
    if (std::isnan(x)) return x + x;
    const double h = x < 0.0 ? -0.5 : 0.5;
    const double ax = std::fabs(x);
    if (ax < 22.0) {
        if (ax < 0x1p-28) return x;
        const hn::CappedTag<double, 1> d1;
        const double t = hn::GetLane(Expm1(d1, hn::Set(d1, ax)));
        if (ax < 1.0) return h * (2.0 * t - t * t / (t + 1.0));
        return h * (t + t / (t + 1.0));
    }
    if (ax < 0x1.62e42p+9) return h * NearestExp(ax);
    if (ax <= 0x1.633ce8fb9f87dp+9) {
        const double w = NearestExp(0.5 * ax);
        const double t = h * w;
        return t * w;
    }
    return x * 1e307;
}

// A fit's polynomial by Estrin's scheme, for single numbers and registers
// with the same operations.
HWY_INLINE double FitPolynomial(const double* c, double t, double t2, double t4, double t8) {
    const double p03 = (c[0] + c[1] * t) + (c[2] + c[3] * t) * t2;
    const double p47 = (c[4] + c[5] * t) + (c[6] + c[7] * t) * t2;
    return (p03 + p47 * t4) + (c[8] + c[9] * t) * t8;
}

HWY_INLINE V FitPolynomial(const V* c, V t, V t2, V t4, V t8) {
    const V p03 = hn::Add(hn::Add(c[0], hn::Mul(c[1], t)), hn::Mul(hn::Add(c[2], hn::Mul(c[3], t)), t2));
    const V p47 = hn::Add(hn::Add(c[4], hn::Mul(c[5], t)), hn::Mul(hn::Add(c[6], hn::Mul(c[7], t)), t2));
    return hn::Add(hn::Add(p03, hn::Mul(p47, t4)), hn::Mul(hn::Add(c[8], hn::Mul(c[9], t)), t8));
}

HWY_INLINE double ToFloatAndBack(double x) { return static_cast<double>(static_cast<float>(x)); }

HWY_INLINE V ToFloatAndBack(V x) {
    const D d;
    const hn::Rebind<float, D> df;
    return hn::PromoteTo(d, hn::DemoteTo(df, x));
}

// Below this erfc(R) (R above 3.6), 1 - erf(R) with erf(R) rounded to a
// double is found exactly from the fit: the multiple of 2^-53 nearest to
// erfc(R). Above it the rounding of 1 - erf(R) is part of the doubt.
constexpr double RoundedErfcBelow = 0x1p-21;
// The rounded bracket's own last rounding, relative.
constexpr double SumDoubt = 2.3e-16;

// The bracket of the breaking dissipation rounded to single precision, for one
// number: the float of the bracket formed from the nearest erf and exp. The
// fit settles it unless the fit lies too close to a boundary between two
// floats (or, for the first term, between two multiples of 2^-53), where
// exact_math.h forms it. piece holds the piece of the point before, which
// usually serves this one too: its coefficients are loaded before R is known,
// and swapped for the piece of R only when that differs.
HWY_INLINE double RoundedBracket(double R, std::size_t& piece) {
    if (R >= 0.0 && R < BracketFit::Limit) {
        const double* fit = &FittedBracket.coefficient[0][0];
        const double* c = fit + piece * BracketFit::Stride;
        const double u = R * BracketFit::PerUnit + IntegerShift;
        std::uint64_t bits;
        std::memcpy(&bits, &u, sizeof bits);
        const std::size_t own = static_cast<std::size_t>(bits & BracketFit::PieceMask);
        if (HWY_UNLIKELY(own != piece)) {
            piece = own;
            c = fit + own * BracketFit::Stride;
            // Keeps the compiler from selecting the address without a branch:
            // the loads of the guessed piece then start before R is known.
#if defined(__GNUC__)
            asm volatile("" : "+r"(c));
#endif
        }
        const double t = R * BracketFit::PerUnit - (u - IntegerShift);
        const double t2 = t * t;
        const double t4 = t2 * t2;
        const double t8 = t4 * t4;
        const double erfc = FitPolynomial(c, t, t2, t4, t8);
        const double second = FitPolynomial(c + BracketFit::Terms, t, t2, t4, t8);
        double doubt = second * BracketFit::Tolerance;
        double first = erfc;
        if (erfc < RoundedErfcBelow) {
            const double s = erfc * 0x1p53;
            const double m = (s + IntegerShift) - IntegerShift;
            if (!(std::fabs(s - m) < 0.5 - s * BracketFit::ErfcTolerance)) return NearestRoundedBracket(R);
            first = m * 0x1p-53;
        } else {
            doubt = doubt + (erfc * BracketFit::ErfcTolerance + 0x1p-53);
        }
        const double b = first + second;
        doubt = doubt + b * SumDoubt;
        if (ToFloatAndBack(b - doubt) == ToFloatAndBack(b + doubt)) return ToFloatAndBack(b);
        return NearestRoundedBracket(R);
    }
    // Past the fit the bracket's float is 0, up to where R^3 overflows.
    if (R >= BracketFit::Limit && R < BracketFit::ZeroUpTo) return 0.0;
    return NearestRoundedBracket(R);
}

// RoundedBracket for a register of R; lanes outside active are not looked at.
V RoundedBracket(V R, M active) {
    const D d;
    const hn::RebindToSigned<D> di;
    const V zero = hn::Zero(d);
    const V perUnit = hn::Set(d, BracketFit::PerUnit);
    const V shift = hn::Set(d, IntegerShift);
    const V tolerance = hn::Set(d, BracketFit::Tolerance);
    const M inFit = hn::And(hn::Ge(R, zero), hn::Lt(R, hn::Set(d, BracketFit::Limit)));
    const V r = hn::IfThenElseZero(inFit, R);
    const V u = hn::Add(hn::Mul(r, perUnit), shift);
    const auto pieces = hn::And(hn::BitCast(di, u), hn::Set(di, static_cast<std::int64_t>(BracketFit::PieceMask)));
    // 20 j = 16 j + 4 j.
    static_assert(BracketFit::Stride == 20, "offsets are 20 times the piece");
    const auto offsets = hn::Add(hn::ShiftLeft<4>(pieces), hn::ShiftLeft<2>(pieces));
    const double* fit = &FittedBracket.coefficient[0][0];
    V c[BracketFit::Stride];
    for (int m = 0; m < BracketFit::Stride; ++m) c[m] = hn::GatherIndex(d, fit + m, offsets);
    const V t = hn::Sub(hn::Mul(r, perUnit), hn::Sub(u, shift));
    const V t2 = hn::Mul(t, t);
    const V t4 = hn::Mul(t2, t2);
    const V t8 = hn::Mul(t4, t4);
    const V erfc = FitPolynomial(c, t, t2, t4, t8);
    const V second = FitPolynomial(c + BracketFit::Terms, t, t2, t4, t8);
    const M rounded = hn::Lt(erfc, hn::Set(d, RoundedErfcBelow));
    const V s = hn::Mul(erfc, hn::Set(d, 0x1p53));
    const V m = hn::Sub(hn::Add(s, shift), shift);
    const V erfcTolerance = hn::Set(d, BracketFit::ErfcTolerance);
    const M ambiguous = hn::AndNot(
        hn::Lt(hn::Abs(hn::Sub(s, m)), hn::Sub(hn::Set(d, 0.5), hn::Mul(s, erfcTolerance))), rounded);
    const V first = hn::IfThenElse(rounded, hn::Mul(m, hn::Set(d, 0x1p-53)), erfc);
    V doubt = hn::Mul(second, tolerance);
    doubt = hn::IfThenElse(rounded, doubt,
                           hn::Add(doubt, hn::Add(hn::Mul(erfc, erfcTolerance), hn::Set(d, 0x1p-53))));
    const V b = hn::Add(first, second);
    doubt = hn::Add(doubt, hn::Mul(b, hn::Set(d, SumDoubt)));
    const M settled = hn::AndNot(ambiguous, hn::Eq(ToFloatAndBack(hn::Sub(b, doubt)), ToFloatAndBack(hn::Add(b, doubt))));
    const M taken = hn::And(inFit, settled);
    const M zeroBeyond =
        hn::And(hn::Ge(R, hn::Set(d, BracketFit::Limit)), hn::Lt(R, hn::Set(d, BracketFit::ZeroUpTo)));
    V Q = hn::IfThenElseZero(taken, ToFloatAndBack(b));
    const M open = hn::AndNot(hn::Or(taken, zeroBeyond), active);
    if (!hn::AllFalse(d, open)) {
        HWY_ALIGN double q[MaxLanes];
        HWY_ALIGN double rs[MaxLanes];
        std::uint8_t bits[(MaxLanes + 7) / 8] = {};
        hn::Store(Q, d, q);
        hn::Store(R, d, rs);
        hn::StoreMaskBits(d, open, bits);
        for (std::size_t l = 0; l < hn::Lanes(d); ++l) {
            if ((bits[l / 8] >> (l % 8)) & 1u) q[l] = NearestRoundedBracket(rs[l]);
        }
        Q = hn::Load(d, q);
    }
    return Q;
}

V Depth(V bottom, V Wlev) {
    const D d;
    const V minimum = hn::Set(d, MinimumWaterDepth);
    const V depth = hn::Sub(Wlev, bottom);
    // A dry point, or a NaN difference, keeps the minimum depth.
    return hn::IfThenElse(hn::Gt(depth, minimum), depth, minimum);
}

// WaveNumber for N rows of depths at once, their steps side by side so that
// the processor works on all of them while any one waits: two Halley steps
// from the deep-water value.
template <std::size_t N>
HWY_INLINE void WaveNumbers(const V* omega, const V* h, V* k, double inverseG) {
    const D d;
    const V one = hn::Set(d, 1.0);
    const V half = hn::Set(d, 0.5);
    V deep[N];
    V x[N];
    for (std::size_t j = 0; j < N; ++j) {
        deep[j] = hn::Mul(hn::Mul(h[j], hn::Mul(omega[j], omega[j])), hn::Set(d, inverseG));
        x[j] = deep[j];
    }
    for (int step = 0; step < 2; ++step) {
        V T[N];
        for (std::size_t j = 0; j < N; ++j) T[j] = Tanh(d, x[j]);
        for (std::size_t j = 0; j < N; ++j) {
            const V sech2 = hn::Sub(one, hn::Mul(T[j], T[j]));
            const V halfSlope = hn::Mul(hn::Add(hn::Mul(sech2, x[j]), T[j]), half);
            const V Tx = hn::Mul(T[j], x[j]);
            const V f = hn::Sub(Tx, deep[j]);
            const V curvature = hn::Mul(hn::Mul(hn::Sub(Tx, one), sech2), f);
            const V root = hn::Sqrt(hn::Add(curvature, hn::Mul(halfSlope, halfSlope)));
            x[j] = hn::Sub(x[j], hn::Div(f, hn::Add(root, halfSlope)));
        }
    }
    for (std::size_t j = 0; j < N; ++j) {
        // -x / h is the negated x / h: the quotient's sign does not change its rounding.
        const V q = hn::Div(x[j], h[j]);
        k[j] = hn::IfThenElse(hn::Ge(omega[j], hn::Zero(d)), q, hn::Neg(q));
    }
}

// The quantities of a register of points that do not depend on the energy.
struct PointQuantities {
    V h, k, cg, hGamma, sech, tTp;
};

PointQuantities FromWaveNumber(V h, V k, V omega2, V Tp, const Constants& c) {
    const D d;
    // t stands for tanh(k h), from the dispersion relation.
    const V t = hn::Div(omega2, hn::Mul(k, hn::Set(d, c.g)));
    const V sech2 = hn::Sub(hn::Set(d, 1.0), hn::Mul(t, t));
    const V n = hn::Add(hn::Div(hn::Mul(sech2, hn::Mul(h, k)), hn::Add(t, t)), hn::Set(d, 0.5));
    const V cg = hn::Div(hn::Mul(n, hn::Set(d, TwoPi)), hn::Mul(Tp, k));
    const V gamma = hn::Add(hn::Mul(hn::Mul(k, hn::Set(d, 0.76)), h), hn::Set(d, 0.29));
    // sqrt(max(1 - t^2, 0)) as std::max has it: a NaN stays NaN.
    const V sech = hn::Sqrt(hn::IfThenElse(hn::Lt(sech2, hn::Zero(d)), hn::Zero(d), sech2));
    // Built whole: a default-constructed register is not available on every
    // target (NEON with GCC).
    return PointQuantities{h, k, cg, hn::Mul(h, gamma), sech, hn::Mul(t, Tp)};
}

// Energy, height, group velocity and dissipation at the offshore end of a
// time step, from its depth h0 and wave number k0.
struct Start {
    double E, H, cg, D;
};

Start FirstPoint(double Tp, double TransmittedHm0, double Fc, double omega2, double A, double h0, double k0,
                 const Constants& c, std::size_t& piece) {
    Start s;
    const double t0 = omega2 / (k0 * c.g);
    s.cg = GroupVelocity(GroupVelocityRatioFromTanh(k0, h0, t0), k0, Tp);
    s.E = WaveEnergy(TransmittedHm0 * Hm0ToHrms, c);
    s.H = WaveHeightFromEnergy(s.E, c);
    const double R0 = BreakerHeightRatio(BreakerIndex(k0, h0), h0, s.H);
    const double Db = RoundedBracket(R0, piece) * (s.H * s.H * s.H * A) / h0;
    const double u = (s.H * Pi) / (Sinh(h0 * k0) * Tp);
    s.D = Db + u * u * u * (c.rho * 0.2122065907891938 * Fc);
    return s;
}

// Reads the levels of a march a register of points at a time; past the last
// point the last level.
class PointReader {
public:
    PointReader(detail::LevelBlocks source, std::size_t points) : source_(source), points_(points) {}
    V Group(std::size_t first) {
        const D d;
        const std::size_t N = hn::Lanes(d);
        if (first >= blockFirst_ + blockCount_) {
            blockFirst_ = first;
            blockCount_ = std::min(detail::BlockValues, points_ - first);
            block_ = source_.read(source_.context, first, blockCount_, buffer_);
        }
        const std::size_t at = first - blockFirst_;
        if (at + N <= blockCount_) return hn::LoadU(d, block_ + at);
        // Blocks start at multiples of N: only the last group is cut short.
        HWY_ALIGN double tail[MaxLanes];
        for (std::size_t l = 0; l < N; ++l) tail[l] = block_[std::min(at + l, blockCount_ - 1)];
        return hn::Load(d, tail);
    }

private:
    detail::LevelBlocks source_;
    std::size_t points_;
    std::size_t blockFirst_ = 0;
    std::size_t blockCount_ = 0;
    const double* block_ = nullptr;
    HWY_ALIGN double buffer_[detail::BlockValues];
};

// One time step, marched point after point; the quantities of later points are
// computed two registers ahead, while the march works through the current one.
ToeWaves MarchOne(const detail::SingleStep& s, detail::LevelBlocks levels, const Constants& c) {
    const std::size_t P = s.points;
    if (P == 0) return {std::nan(""), std::nan("")};
    const D d;
    const std::size_t N = hn::Lanes(d);
    const double f = 1.0 / s.Tp;
    const double omega = f * TwoPi;
    const double omega2 = omega * omega;
    const double A = s.Alpha * 0.33233509704478426 * c.rho * c.g * f;
    const double friction = c.rho * 0.2122065907891938 * s.Fc;
    const double gRho = c.g * c.rho;

    // A ring of eight registers of points, filled two at a time, side by side.
    constexpr std::size_t Ring = 8;
    HWY_ALIGN double hq[Ring * MaxLanes], kq[Ring * MaxLanes], cgq[Ring * MaxLanes], hGammaq[Ring * MaxLanes],
        sechq[Ring * MaxLanes], tTpq[Ring * MaxLanes];
    PointReader reader(levels, P);
    const V vWlev = hn::Set(d, s.Wlev);
    const V vOmega2 = hn::Set(d, omega2);
    const V vTp = hn::Set(d, s.Tp);
    const V omegas[2] = {hn::Set(d, omega), hn::Set(d, omega)};
    const std::size_t groups = (P + N - 1) / N;
    // Groups pair and pair + 1 (the second only when there is one).
    const auto compute = [&](std::size_t pair) {
        const std::size_t first = 2 * pair;
        if (first >= groups) return;
        V h[2], k[2];
        h[0] = Depth(reader.Group(first * N), vWlev);
        h[1] = first + 1 < groups ? Depth(reader.Group((first + 1) * N), vWlev) : h[0];
        WaveNumbers<2>(omegas, h, k, 1.0 / c.g);
        for (std::size_t j = 0; j < 2 && first + j < groups; ++j) {
            const std::size_t slot = ((first + j) % Ring) * N;
            const PointQuantities p = FromWaveNumber(h[j], k[j], vOmega2, vTp, c);
            hn::Store(p.h, d, hq + slot);
            hn::Store(p.k, d, kq + slot);
            hn::Store(p.cg, d, cgq + slot);
            hn::Store(p.hGamma, d, hGammaq + slot);
            hn::Store(p.sech, d, sechq + slot);
            hn::Store(p.tTp, d, tTpq + slot);
        }
    };

    compute(0);
    compute(1);
    const double kFirst = kq[0];
    std::size_t piece = 0;
    const Start start = FirstPoint(s.Tp, s.TransmittedHm0, s.Fc, omega2, A, hq[0], kq[0], c, piece);
    double E = start.E;
    double H = start.H;
    double cgBehind = start.cg;
    double D = start.D;
    const double significant = ClampedEnergyShare * start.E;
    bool clamped = false;
    for (std::size_t group = 0; group < groups; ++group) {
        const std::size_t slot = (group % Ring) * N;
        const std::size_t end = std::min(N, P - group * N);
        for (std::size_t l = group == 0 ? 1 : 0; l < end; ++l) {
            const std::size_t i = slot + l;
            const double cgNext = cgq[i];
            // First-order upwind; a negative or NaN energy becomes 0.
            const double v = (cgBehind * E - D * s.gridStep) / cgNext;
            clamped = clamped || (v < 0.0 && E > significant && hq[i] > MinimumWaterDepth);
            E = v > 0.0 ? v : 0.0;
            cgBehind = cgNext;
            if (E > EnergyThreshold) {
                H = std::sqrt(E * 8.0 / gRho);
                const double Q = RoundedBracket(hGammaq[i] / H, piece);
                const double Db = Q * (H * H * H * A) / hq[i];
                const double u = sechq[i] * (H * Pi) / tTpq[i];
                D = Db + u * u * u * friction;
            } else {
                H = 0.0;
                D = 0.0;
            }
        }
        // After the second group of a pair, the pair two ahead.
        if (group % 2 == 1) compute(group / 2 + 2);
    }
    const double kLast = kq[((groups - 1) % Ring) * N + (P - 1) % N];
    return {H * HrmsToHm0,
            NearestRefractedWaveDirection(s.DikeNormal, s.IncomingWaveAngle, omega / kFirst, omega / kLast),
            clamped};
}

// Rows of lanes read a block at a time.
class RowReader {
public:
    RowReader(detail::LevelBlocks source, std::size_t rows, std::size_t stride)
        : source_(source), rows_(rows), stride_(stride), perBlock_(detail::BlockValues / stride) {}
    // Row i, which must follow the rows asked for before.
    const double* Row(std::size_t i) {
        if (i >= blockFirst_ + blockCount_) {
            blockFirst_ = i;
            blockCount_ = std::min(perBlock_, rows_ - i);
            block_ = source_.read(source_.context, i, blockCount_, buffer_);
        }
        return block_ + (i - blockFirst_) * stride_;
    }

private:
    detail::LevelBlocks source_;
    std::size_t rows_;
    std::size_t stride_;
    std::size_t perBlock_;
    std::size_t blockFirst_ = 0;
    std::size_t blockCount_ = 0;
    const double* block_ = nullptr;
    HWY_ALIGN double buffer_[detail::BlockValues];
};

// Up to Groups registers of time steps, one per lane, marched together to the
// longest one's last point; a lane stops changing after its own last point.
// The groups' chains of dependent operations are independent, so the
// processor works on one while the other waits.
template <std::size_t Groups>
void MarchLanes(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                detail::LevelBlocks rows, std::size_t stride, const Constants& c, ToeWaves* toe) {
    const D d;
    const std::size_t N = hn::Lanes(d);
    const std::size_t L = Groups * N;
    HWY_ALIGN double tp[Groups * MaxLanes], wlev[Groups * MaxLanes], dx[Groups * MaxLanes],
        points[Groups * MaxLanes];
    std::size_t longest = 0;
    for (std::size_t l = 0; l < L; ++l) {
        // Lanes without a step march a copy of the first one.
        const LaneStep& s = steps[l < count ? l : 0];
        tp[l] = s.Tp;
        wlev[l] = s.Wlev;
        dx[l] = s.gridStep;
        points[l] = l < count ? static_cast<double>(s.points) : 0.0;
        longest = std::max(longest, s.points);
    }
    V vTp[Groups], f[Groups], omega[Groups], omega2[Groups], vWlev[Groups], vDx[Groups], vPoints[Groups],
        A[Groups];
    for (std::size_t g = 0; g < Groups; ++g) {
        vTp[g] = hn::Load(d, tp + g * N);
        f[g] = hn::Div(hn::Set(d, 1.0), vTp[g]);
        omega[g] = hn::Mul(f[g], hn::Set(d, TwoPi));
        omega2[g] = hn::Mul(omega[g], omega[g]);
        vWlev[g] = hn::Load(d, wlev + g * N);
        vDx[g] = hn::Load(d, dx + g * N);
        vPoints[g] = hn::Load(d, points + g * N);
        A[g] = hn::Mul(hn::Set(d, Alpha * 0.33233509704478426 * c.rho * c.g), f[g]);
    }
    RowReader reader(rows, longest, stride);

    // The first point of every lane, as the single-step march has it.
    HWY_ALIGN double h0[Groups * MaxLanes], k0[Groups * MaxLanes], kLast[Groups * MaxLanes],
        omegas[Groups * MaxLanes], omega2s[Groups * MaxLanes], As[Groups * MaxLanes], e0[Groups * MaxLanes],
        hrms0[Groups * MaxLanes], cg0[Groups * MaxLanes], d0[Groups * MaxLanes];
    {
        const double* row = reader.Row(0);
        V h[Groups], k[Groups];
        for (std::size_t g = 0; g < Groups; ++g) h[g] = Depth(hn::LoadU(d, row + g * N), vWlev[g]);
        WaveNumbers<Groups>(omega, h, k, 1.0 / c.g);
        for (std::size_t g = 0; g < Groups; ++g) {
            hn::Store(h[g], d, h0 + g * N);
            hn::Store(k[g], d, k0 + g * N);
            hn::Store(k[g], d, kLast + g * N);
            hn::Store(omega[g], d, omegas + g * N);
            hn::Store(omega2[g], d, omega2s + g * N);
            hn::Store(A[g], d, As + g * N);
        }
    }
    HWY_ALIGN double significant[Groups * MaxLanes];
    for (std::size_t l = 0; l < L; ++l) {
        std::size_t piece = 0;
        const LaneStep& s = steps[l < count ? l : 0];
        const Start start = FirstPoint(tp[l], s.TransmittedHm0, Fc, omega2s[l], As[l], h0[l], k0[l], c, piece);
        e0[l] = start.E;
        hrms0[l] = start.H;
        cg0[l] = start.cg;
        d0[l] = start.D;
        significant[l] = ClampedEnergyShare * start.E;
    }
    V E[Groups], H[Groups], cg[Groups], Dis[Groups], vSignificant[Groups];
    M clamped[Groups];
    for (std::size_t g = 0; g < Groups; ++g) {
        E[g] = hn::Load(d, e0 + g * N);
        H[g] = hn::Load(d, hrms0 + g * N);
        cg[g] = hn::Load(d, cg0 + g * N);
        Dis[g] = hn::Load(d, d0 + g * N);
        vSignificant[g] = hn::Load(d, significant + g * N);
        clamped[g] = hn::Lt(hn::Zero(d), hn::Zero(d));
    }

    const V zero = hn::Zero(d);
    const V gRho = hn::Set(d, c.g * c.rho);
    const V friction = hn::Set(d, c.rho * 0.2122065907891938 * Fc);
    // The quantities of a block of rows first, then the march through them:
    // the march's chains of dependent operations then have the processor to
    // themselves instead of waiting behind the wave numbers of the same row.
    constexpr std::size_t Rows = 16;
    constexpr std::size_t Items = Rows * Groups;
    HWY_ALIGN double hItems[Items * MaxLanes], kItems[Items * MaxLanes], cgItems[Items * MaxLanes],
        hGammaItems[Items * MaxLanes], sechItems[Items * MaxLanes], tTpItems[Items * MaxLanes];
    for (std::size_t block = 1; block < longest; block += Rows) {
        const std::size_t rowCount = std::min(Rows, longest - block);
        constexpr std::size_t Side = 4;
        std::size_t r = 0;
        for (; r < rowCount; r += Side / Groups) {
            // Side registers of depths side by side: Groups per row.
            const std::size_t rowsHere = std::min(Side / Groups, rowCount - r);
            V h[Side], k[Side], w[Side];
            for (std::size_t j = 0; j < Side; ++j) {
                const std::size_t rr = r + std::min(j / Groups, rowsHere - 1);
                const std::size_t g = j % Groups;
                h[j] = Depth(hn::LoadU(d, reader.Row(block + rr) + g * N), vWlev[g]);
                w[j] = omega[g];
            }
            WaveNumbers<Side>(w, h, k, 1.0 / c.g);
            for (std::size_t j = 0; j < rowsHere * Groups; ++j) {
                const std::size_t g = j % Groups;
                const std::size_t at = ((r + j / Groups) * Groups + g) * N;
                const PointQuantities q = FromWaveNumber(h[j], k[j], omega2[g], vTp[g], c);
                hn::Store(q.h, d, hItems + at);
                hn::Store(q.k, d, kItems + at);
                hn::Store(q.cg, d, cgItems + at);
                hn::Store(q.hGamma, d, hGammaItems + at);
                hn::Store(q.sech, d, sechItems + at);
                hn::Store(q.tTp, d, tTpItems + at);
            }
        }
        for (std::size_t row = 0; row < rowCount; ++row) {
            const V index = hn::Set(d, static_cast<double>(block + row));
            for (std::size_t g = 0; g < Groups; ++g) {
                const std::size_t at = (row * Groups + g) * N;
                const M active = hn::Gt(vPoints[g], index);
                const V cgNext = hn::Load(d, cgItems + at);
                const V h = hn::Load(d, hItems + at);
                const V v = hn::Div(hn::Sub(hn::Mul(cg[g], E[g]), hn::Mul(Dis[g], vDx[g])), cgNext);
                clamped[g] = hn::Or(clamped[g],
                                    hn::And(hn::And(active, hn::Lt(v, zero)),
                                            hn::And(hn::Gt(E[g], vSignificant[g]),
                                                    hn::Gt(h, hn::Set(d, MinimumWaterDepth)))));
                const V energy = hn::IfThenElseZero(hn::Gt(v, zero), v);
                const M wet = hn::Gt(energy, hn::Set(d, EnergyThreshold));
                const V height = hn::Sqrt(hn::Div(hn::Mul(energy, hn::Set(d, 8.0)), gRho));
                const V Q = RoundedBracket(hn::Div(hn::Load(d, hGammaItems + at), height), hn::And(active, wet));
                const V Db = hn::Div(hn::Mul(Q, hn::Mul(hn::Mul(hn::Mul(height, height), height), A[g])), h);
                const V u = hn::Div(hn::Mul(hn::Load(d, sechItems + at), hn::Mul(height, hn::Set(d, Pi))),
                                    hn::Load(d, tTpItems + at));
                const V Df = hn::Mul(hn::Mul(hn::Mul(u, u), u), friction);
                E[g] = hn::IfThenElse(active, energy, E[g]);
                cg[g] = hn::IfThenElse(active, cgNext, cg[g]);
                Dis[g] = hn::IfThenElse(active, hn::IfThenElseZero(wet, hn::Add(Db, Df)), Dis[g]);
                H[g] = hn::IfThenElse(active, hn::IfThenElseZero(wet, height), H[g]);
            }
        }
        // The wave number of every lane's last point, when this block holds it.
        for (std::size_t l = 0; l < count; ++l) {
            const std::size_t last = steps[l].points - 1;
            if (last >= block && last < block + rowCount) {
                kLast[l] = kItems[((last - block) * Groups + l / N) * N + l % N];
            }
        }
    }

    HWY_ALIGN double hLast[Groups * MaxLanes];
    std::uint8_t clampedBits[Groups][(MaxLanes + 7) / 8] = {};
    for (std::size_t g = 0; g < Groups; ++g) {
        hn::Store(H[g], d, hLast + g * N);
        hn::StoreMaskBits(d, clamped[g], clampedBits[g]);
    }
    for (std::size_t l = 0; l < count; ++l) {
        const std::size_t g = l / N;
        const std::size_t lane = l % N;
        toe[l] = {hLast[l] * HrmsToHm0,
                  NearestRefractedWaveDirection(DikeNormal, steps[l].IncomingWaveAngle, omegas[l] / k0[l],
                                                omegas[l] / kLast[l]),
                  ((clampedBits[g][lane / 8] >> (lane % 8)) & 1u) != 0};
    }
}

void MarchLanesAny(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                   detail::LevelBlocks rows, std::size_t stride, const Constants& c, ToeWaves* toe) {
    if (count == 0) return;
    // A group that fills one register marches one.
    if (count <= hn::Lanes(D())) {
        MarchLanes<1>(Alpha, Fc, DikeNormal, steps, count, rows, stride, c, toe);
    } else {
        MarchLanes<2>(Alpha, Fc, DikeNormal, steps, count, rows, stride, c, toe);
    }
}

const detail::MarchKernels* MarchKernelsOf() {
    static const detail::MarchKernels kernels{HWY_TARGET, 2 * hn::Lanes(D()), &MarchOne, &MarchLanesAny};
    return &kernels;
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
} // namespace HWY_NAMESPACE
} // namespace qav
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace qav::detail {

HWY_EXPORT(MarchKernelsOf);

const MarchKernels* KernelsFor(std::int64_t target) {
    if ((hwy::SupportedTargets() & target) == 0) return nullptr;
    constexpr std::size_t entries =
        sizeof(HWY_DISPATCH_TABLE(MarchKernelsOf)) / sizeof(HWY_DISPATCH_TABLE(MarchKernelsOf)[0]);
    std::size_t index = 0;
    if constexpr (entries > 1) {
        // The entry HWY_DYNAMIC_DISPATCH would take if target were the best.
        const std::int64_t shifted = HWY_CHOSEN_TARGET_SHIFT(target);
        index = shifted != 0 ? hwy::Num0BitsBelowLS1Bit_Nonzero64(static_cast<std::uint64_t>(shifted))
                             : HWY_MAX_DYNAMIC_TARGETS + 1;
    }
    const auto entry = HWY_DISPATCH_TABLE(MarchKernelsOf)[index];
    if (entry == nullptr) return nullptr;
    const MarchKernels* kernels = entry();
    return kernels->target == target ? kernels : nullptr;
}

const MarchKernels& BestKernels() {
    static const MarchKernels* best = HWY_DYNAMIC_DISPATCH(MarchKernelsOf)();
    return *best;
}

const MarchKernels* const* SupportedKernels(std::size_t& count) {
    static const std::vector<const MarchKernels*> all = [] {
        std::vector<const MarchKernels*> list;
        // Lower bits are better targets.
        for (std::int64_t targets = hwy::SupportedTargets(); targets != 0; targets &= targets - 1) {
            if (const MarchKernels* k = KernelsFor(targets & -targets)) list.push_back(k);
        }
        return list;
    }();
    count = all.size();
    return all.data();
}

} // namespace qav::detail
#endif // HWY_ONCE
