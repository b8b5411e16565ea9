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
//   multiply-adds that glibc's expm1 fuses on processors with FMA and that
//   decide its last bit carried out in basic operations: the wave numbers
//   are those of the reference march.
// - The breaking bracket comes from piecewise polynomial fits of its two terms
//   (bracket.h). Its single-precision rounding is always the one of the
//   bracket formed from erf and exp rounded to nearest: where the fits lie too
//   close to a boundary for their tolerance, the bracket is formed from the
//   nearest erf and exp in double-double (exact_math.h), a few times in a
//   million points. The C library's erf and exp round to nearest nearly always.
// - sinh (first point), sin and asin (toe direction) come from exact_math.h.
//
// A march is a chain of dependent divisions and square roots, point after
// point, which leaves most of the processor idle. The wave numbers of the
// points ahead (independent of each other) are computed in that idle time: in
// stages placed between the points of the chain, so that the processor's
// window of instructions always holds work of both.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "physics/roller_march.cpp"
// SSSE3 processors take the baseline: one target less to compile.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS HWY_SSSE3
#endif
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "physics/bracket.h"
#include "physics/exact_math.h"
#include "physics/march_kernel.h"
#include "physics/physics.h"

#ifndef QAV_ROLLER_MARCH_ONCE
#define QAV_ROLLER_MARCH_ONCE
namespace qav::detail {

// The bracket fit of bracket.h in the variable s = R - j / 32 = t / 32 of
// piece j instead of t: coefficient m times 32^m. Scaling by powers of two is
// exact, so every product and sum of the evaluation is the one in t scaled by
// a power of two, and the fitted terms are the same bits (FittedBracketTerms).
// The marches form s with one subtraction from R and the piece's centre.
struct ScaledBracketFit {
    alignas(64) double coefficient[BracketFit::Pieces][BracketFit::Stride];
};

constexpr ScaledBracketFit ScaleBracketFit() {
    ScaledBracketFit scaled{};
    for (int j = 0; j < BracketFit::Pieces; ++j) {
        double power = 1.0;
        for (int m = 0; m < BracketFit::Terms; ++m) {
            scaled.coefficient[j][m] = FittedBracket.coefficient[j][m] * power;
            scaled.coefficient[j][BracketFit::Terms + m] = FittedBracket.coefficient[j][BracketFit::Terms + m] * power;
            power *= BracketFit::PerUnit;
        }
    }
    return scaled;
}

inline constexpr ScaledBracketFit ScaledBracket = ScaleBracketFit();

} // namespace qav::detail
#endif

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

// ---- fl(a b + c) from basic operations ----
//
// The head of a double keeps its top 26 significant bits (the low 27 bits of
// the mantissa cleared); the tail, the rest, has at most 27. Head times head,
// or times tail, is exact; tail times tail rounds away less than 2^-106 of
// a b. Dekker's sum of the four products then gives a b - fl(a b), the
// product's rounding error, to well within the last rounding below.
constexpr std::uint64_t HeadMask = 0xFFFFFFFFF8000000u;

template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV HeadOf(DD d, VV a) {
    const hn::RebindToUnsigned<DD> du;
    return hn::And(a, hn::BitCast(d, hn::Set(du, HeadMask)));
}

// a b - p for p = fl(a b), from the heads and tails of a and b.
template <class VV>
HWY_INLINE VV ProductError(VV aHead, VV aTail, VV bHead, VV bTail, VV p) {
    return hn::Add(hn::Add(hn::Add(hn::Sub(hn::Mul(aHead, bHead), p), hn::Mul(aHead, bTail)), hn::Mul(aTail, bHead)),
                   hn::Mul(aTail, bTail));
}

// fl(c - a b) for |c| >= |a b| (with a given by its head and tail): the
// sum's rounding error by Dekker's two-sum of ordered terms, the product's
// added back with one more rounding. This is the fused result except where
// that last rounding meets a tie.
template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV SubtractSmallProduct(DD d, double c, VV a, VV aHead, VV aTail, VV b) {
    const VV vc = hn::Set(d, c);
    const VV bHead = HeadOf(d, b);
    const VV p = hn::Mul(a, b);
    const VV s = hn::Sub(vc, p);
    const VV se = hn::Sub(hn::Sub(vc, s), p);
    return hn::Add(s, hn::Sub(se, ProductError(aHead, aTail, bHead, hn::Sub(b, bHead), p)));
}

// fl(a b - c) for any sizes, by Knuth's two-sum.
template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV ProductMinus(DD d, VV a, VV aHead, VV aTail, VV b, VV c) {
    const VV bHead = HeadOf(d, b);
    const VV p = hn::Mul(a, b);
    const VV s = hn::Sub(p, c);
    const VV bb = hn::Sub(s, p);
    const VV se = hn::Sub(hn::Sub(p, hn::Sub(s, bb)), hn::Add(c, bb));
    return hn::Add(s, hn::Add(se, ProductError(aHead, aTail, bHead, hn::Sub(b, bHead), p)));
}

// 2^k for integral k in [-1022, 1023].
template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV PowerOfTwo(DD d, VV k) {
    const hn::RebindToUnsigned<DD> du;
    const auto bits = hn::BitCast(du, hn::Add(k, hn::Set(d, IntegerShift + 1023.0)));
    return hn::BitCast(d, hn::ShiftLeft<52>(bits));
}

// expm1(y) for -2 < y < 44 as glibc computes it (fdlibm's algorithm) on
// processors with FMA. glibc fuses every multiply-add of it; the ones that
// decide its last bit are fused here too: the polynomial's first, the two of
// the rational step and the last. (Fusing the polynomial's others changes no
// result in 10^8 random arguments; fusing none changes 2 in 10^4.) Without
// positive arguments below 1.04 (PlusOne false) the reduction by +ln 2 is
// left out: tanh never asks for it.
template <bool PlusOne, class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV Expm1(DD d, VV y) {
    const VV one = hn::Set(d, 1.0);
    const VV ay = hn::Abs(y);
    const auto negative = hn::Lt(y, hn::Zero(d));
    // |y| > ln2 / 2 is reduced by k ln2; |y| < 1.5 ln2 takes k = +-1.
    const auto reduced = hn::Ge(ay, hn::Set(d, 0x1.62e43p-2));
    const auto near = hn::Lt(ay, hn::Set(d, 0x1.0a2b2p+0));
    const VV half = hn::IfThenElse(negative, hn::Set(d, -0.5), hn::Set(d, 0.5));
    const VV kFar = hn::Trunc(hn::Add(hn::Mul(hn::Set(d, 0x1.71547652b82fep+0), y), half));
    const VV kNear = PlusOne ? hn::IfThenElse(negative, hn::Neg(one), one) : hn::Neg(one);
    const VV k = hn::IfThenElseZero(reduced, hn::IfThenElse(near, kNear, kFar));
    const VV hi = hn::Sub(y, hn::Mul(k, hn::Set(d, 0x1.62e42feep-1)));
    const VV lo = hn::Mul(k, hn::Set(d, 0x1.a39ef35793c76p-33));
    const VV x = hn::Sub(hi, lo);
    const VV c = hn::Sub(hn::Sub(hi, x), lo);

    const VV hfx = hn::Mul(hn::Set(d, 0.5), x);
    const VV hxs = hn::Mul(x, hfx);
    // r1 = 1 + hxs Q1 + ..., the first multiply-add fused: 1 - hxs (-Q1).
    constexpr double MinusQ1 = 0x1.11111111110f4p-5;
    constexpr double MinusQ1Head = std::bit_cast<double>(std::bit_cast<std::uint64_t>(MinusQ1) & HeadMask);
    const VV r1a = SubtractSmallProduct(d, 1.0, hn::Set(d, MinusQ1), hn::Set(d, MinusQ1Head),
                                        hn::Set(d, MinusQ1 - MinusQ1Head), hxs);
    const VV h2 = hn::Mul(hxs, hxs);
    const VV r2 = hn::Add(hn::Set(d, 0x1.a01a019fe5585p-10), hn::Mul(hxs, hn::Set(d, -0x1.4ce199eaadbb7p-14)));
    const VV h4 = hn::Mul(h2, h2);
    const VV r3 = hn::Add(hn::Set(d, 0x1.0cfca86e65239p-18), hn::Mul(hxs, hn::Set(d, -0x1.afdb76e09c32dp-23)));
    const VV r1 = hn::Add(hn::Add(r1a, hn::Mul(h2, r2)), hn::Mul(h4, r3));
    const VV xHead = HeadOf(d, x);
    const VV xTail = hn::Sub(x, xHead);
    const VV half1 = hn::Set(d, 0.5);
    // t = 3 - r1 hfx; e = hxs (r1 - t) / (6 - x t).
    const VV t = SubtractSmallProduct(d, 3.0, hfx, hn::Mul(xHead, half1), hn::Mul(xTail, half1), r1);
    const VV e = hn::Mul(hxs, hn::Div(hn::Sub(r1, t), SubtractSmallProduct(d, 6.0, x, xHead, xTail, t)));
    // k = 0: x - (x e - hxs); otherwise e <- (x (e - c) - c) - hxs.
    const VV fused = ProductMinus(d, x, xHead, xTail, hn::Sub(e, c), hn::IfThenElse(reduced, c, hxs));
    const VV r0 = hn::Sub(x, fused);
    const VV ek = hn::Sub(fused, hxs);
    const VV ex = hn::Sub(ek, x);
    // 0.5 (x - e) is exact: fused or not, the same.
    const VV rMinus1 = hn::Sub(hn::Mul(hn::Set(d, 0.5), hn::Sub(x, ek)), hn::Set(d, 0.5));
    const VV scale = PowerOfTwo(d, k);
    const VV inverseScale = PowerOfTwo(d, hn::Neg(k));
    const VV rFar = hn::Sub(hn::Mul(hn::Sub(one, ex), scale), one);
    const VV rMid = hn::Mul(hn::Sub(hn::Sub(one, inverseScale), ex), scale);
    const VV rHigh = hn::Mul(hn::Add(hn::Sub(x, hn::Add(ek, inverseScale)), one), scale);
    VV r = hn::IfThenElse(hn::Lt(k, hn::Set(d, 20.0)), rMid, rHigh);
    r = hn::IfThenElse(hn::Or(hn::Le(k, hn::Set(d, -2.0)), hn::Gt(k, hn::Set(d, 56.0))), rFar, r);
    if constexpr (PlusOne) {
        const VV rPlus1 = hn::IfThenElse(hn::Lt(x, hn::Set(d, -0.25)),
                                         hn::Mul(hn::Set(d, -2.0), hn::Sub(ek, hn::Add(x, hn::Set(d, 0.5)))),
                                         hn::Add(one, hn::Mul(hn::Set(d, 2.0), hn::Sub(x, ek))));
        r = hn::IfThenElse(hn::Eq(k, one), rPlus1, r);
    }
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
    const VV t = Expm1<false>(d, hn::IfThenElse(large, twice, hn::Neg(twice)));
    // |x| >= 1: 1 - 2 / (t + 2); otherwise -t / (t + 2), never negative.
    const VV q = hn::Div(hn::IfThenElse(large, two, hn::Neg(t)), hn::Add(t, two));
    VV z = hn::IfThenElse(large, hn::Sub(one, q), q);
    z = hn::IfThenElse(hn::Ge(ax, hn::Set(d, 22.0)), one, z);
    z = hn::CopySignToAbs(z, x);
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
        const double t = hn::GetLane(Expm1<true>(d1, hn::Set(d1, ax)));
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

// ---- the breaking bracket ----

// A fit's polynomial by Estrin's scheme, for single numbers and registers
// with the same operations.
HWY_INLINE double FitPolynomial(const double* c, double s, double s2, double s4, double s8) {
    const double p03 = (c[0] + c[1] * s) + (c[2] + c[3] * s) * s2;
    const double p47 = (c[4] + c[5] * s) + (c[6] + c[7] * s) * s2;
    return (p03 + p47 * s4) + (c[8] + c[9] * s) * s8;
}

// The same for a register, each lane with the coefficients of its own piece:
// the fit's row starts offset doubles past fit.
template <class VI>
HWY_INLINE V FitPolynomial(const double* fit, VI offset, V s, V s2, V s4, V s8) {
    const D d;
    const auto c = [&](int m) HWY_ATTR { return hn::GatherIndex(d, fit + m, offset); };
    const V p03 = hn::Add(hn::Add(c(0), hn::Mul(c(1), s)), hn::Mul(hn::Add(c(2), hn::Mul(c(3), s)), s2));
    const V p47 = hn::Add(hn::Add(c(4), hn::Mul(c(5), s)), hn::Mul(hn::Add(c(6), hn::Mul(c(7), s)), s2));
    return hn::Add(hn::Add(p03, hn::Mul(p47, s4)), hn::Mul(hn::Add(c(8), hn::Mul(c(9), s)), s8));
}

HWY_INLINE double ToFloatAndBack(double x) { return static_cast<double>(static_cast<float>(x)); }

HWY_INLINE V ToFloatAndBack(V x) {
    const D d;
    const hn::Rebind<float, D> df;
    return hn::PromoteTo(d, hn::DemoteTo(df, x));
}

constexpr double PieceWidth = 1.0 / BracketFit::PerUnit;

// Below this erfc(R) (R above 3.6), 1 - erf(R) with erf(R) rounded to a
// double is found exactly from the fit: erfc(R) rounded to a multiple of
// 2^-53, which adding and taking away 0.75 does. Above it the rounding of
// 1 - erf(R) is part of the doubt.
constexpr double RoundedErfcBelow = 0x1p-21;
constexpr double MultipleOf2To53 = 0.75;
// The rounded bracket's own last rounding, relative.
constexpr double SumDoubt = 2.3e-16;

// The bracket for R found where the fits leave its float in doubt, and for
// R outside them.
HWY_NOINLINE double UnsettledBracket(double R) {
    // Past the fit the bracket's float is 0, up to where R^3 overflows.
    if (R >= BracketFit::Limit && R < BracketFit::ZeroUpTo) return 0.0;
    return NearestRoundedBracket(R);
}

// The bracket of the breaking dissipation rounded to single precision, for one
// number: the float of the bracket formed from the nearest erf and exp. The
// fit settles it unless the fit lies too close to a boundary between two
// floats (or, for the first term, between two multiples of 2^-53), where
// exact_math.h forms it. piece holds the piece of the point before, which
// usually serves this one too: its coefficients and centre are at hand before
// R is known, and are swapped for the piece of R only when that differs.
HWY_INLINE double RoundedBracket(double R, std::size_t& piece) {
    if (HWY_UNLIKELY(!(R >= 0.0 && R < BracketFit::Limit))) return UnsettledBracket(R);
    const double* c = &detail::ScaledBracket.coefficient[piece][0];
    double centre = static_cast<double>(piece) * PieceWidth;
    const double u = R * BracketFit::PerUnit + IntegerShift;
    std::uint64_t bits;
    std::memcpy(&bits, &u, sizeof bits);
    const std::size_t own = static_cast<std::size_t>(bits & BracketFit::PieceMask);
    if (HWY_UNLIKELY(own != piece)) {
        piece = own;
        c = &detail::ScaledBracket.coefficient[own][0];
        centre = static_cast<double>(own) * PieceWidth;
        // Keeps the compiler from selecting the address without a branch:
        // the loads of the guessed piece then start before R is known.
#if defined(__GNUC__)
        asm volatile("" : "+r"(c), "+x"(centre));
#endif
    }
    const double s = R - centre;
    const double s2 = s * s;
    const double s4 = s2 * s2;
    const double s8 = s4 * s4;
    const double erfc = FitPolynomial(c, s, s2, s4, s8);
    const double second = FitPolynomial(c + BracketFit::Terms, s, s2, s4, s8);
    double b;
    double doubt = second * BracketFit::Tolerance;
    if (erfc < RoundedErfcBelow) {
        const double first = (erfc + MultipleOf2To53) - MultipleOf2To53;
        if (HWY_UNLIKELY(!(std::fabs(erfc - first) < 0x1p-54 - erfc * BracketFit::ErfcTolerance))) {
            return NearestRoundedBracket(R);
        }
        b = first + second;
    } else {
        b = erfc + second;
        doubt = doubt + (erfc * BracketFit::ErfcTolerance + 0x1p-53);
    }
    doubt = doubt + b * SumDoubt;
    if (HWY_LIKELY(ToFloatAndBack(b - doubt) == ToFloatAndBack(b + doubt))) return ToFloatAndBack(b);
    return NearestRoundedBracket(R);
}

// The lanes of open settled by UnsettledBracket.
HWY_NOINLINE V SettleBracketLanes(V Q, V R, M open) {
    const D d;
    HWY_ALIGN double q[MaxLanes];
    HWY_ALIGN double rs[MaxLanes];
    std::uint8_t bits[(MaxLanes + 7) / 8] = {};
    hn::Store(Q, d, q);
    hn::Store(R, d, rs);
    hn::StoreMaskBits(d, open, bits);
    for (std::size_t l = 0; l < hn::Lanes(d); ++l) {
        if ((bits[l / 8] >> (l % 8)) & 1u) q[l] = UnsettledBracket(rs[l]);
    }
    return hn::Load(d, q);
}

// RoundedBracket for a register of R; lanes outside active are not looked at.
HWY_INLINE V RoundedBracket(V R, M active) {
    const D d;
    const hn::RebindToSigned<D> di;
    const V zero = hn::Zero(d);
    const V shift = hn::Set(d, IntegerShift);
    const M inFit = hn::And(hn::Ge(R, zero), hn::Lt(R, hn::Set(d, BracketFit::Limit)));
    const V r = hn::IfThenElseZero(inFit, R);
    const V u = hn::Add(hn::Mul(r, hn::Set(d, BracketFit::PerUnit)), shift);
    const auto pieces = hn::And(hn::BitCast(di, u), hn::Set(di, static_cast<std::int64_t>(BracketFit::PieceMask)));
    // 20 j = 16 j + 4 j.
    static_assert(BracketFit::Stride == 20, "offsets are 20 times the piece");
    const auto offsets = hn::Add(hn::ShiftLeft<4>(pieces), hn::ShiftLeft<2>(pieces));
    const double* fit = &detail::ScaledBracket.coefficient[0][0];
    const V s = hn::Sub(r, hn::Mul(hn::Sub(u, shift), hn::Set(d, PieceWidth)));
    const V s2 = hn::Mul(s, s);
    const V s4 = hn::Mul(s2, s2);
    const V s8 = hn::Mul(s4, s4);
    const V erfc = FitPolynomial(fit, offsets, s, s2, s4, s8);
    const V second = FitPolynomial(fit + BracketFit::Terms, offsets, s, s2, s4, s8);
    const M rounded = hn::Lt(erfc, hn::Set(d, RoundedErfcBelow));
    const V multiple = hn::Set(d, MultipleOf2To53);
    const V first = hn::IfThenElse(rounded, hn::Sub(hn::Add(erfc, multiple), multiple), erfc);
    const V erfcTolerance = hn::Set(d, BracketFit::ErfcTolerance);
    const M ambiguous = hn::AndNot(
        hn::Lt(hn::Abs(hn::Sub(erfc, first)), hn::Sub(hn::Set(d, 0x1p-54), hn::Mul(erfc, erfcTolerance))),
        rounded);
    V doubt = hn::Mul(second, hn::Set(d, BracketFit::Tolerance));
    doubt = hn::IfThenElse(rounded, doubt,
                           hn::Add(doubt, hn::Add(hn::Mul(erfc, erfcTolerance), hn::Set(d, 0x1p-53))));
    const V b = hn::Add(first, second);
    doubt = hn::Add(doubt, hn::Mul(b, hn::Set(d, SumDoubt)));
    const M settled =
        hn::AndNot(ambiguous, hn::Eq(ToFloatAndBack(hn::Sub(b, doubt)), ToFloatAndBack(hn::Add(b, doubt))));
    const M taken = hn::And(inFit, settled);
    const V Q = hn::IfThenElseZero(taken, ToFloatAndBack(b));
    const M open = hn::AndNot(taken, active);
    if (HWY_UNLIKELY(!hn::AllFalse(d, open))) return SettleBracketLanes(Q, R, open);
    return Q;
}

// ---- wave numbers and the quantities of a point ----
//
// Registers live in local variables only (not in arrays or structures), as
// scalable vectors require; values kept between stages go through memory.

template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV Depth(DD d, VV bottom, VV Wlev) {
    const VV minimum = hn::Set(d, MinimumWaterDepth);
    const VV depth = hn::Sub(Wlev, bottom);
    // A dry point, or a NaN difference, keeps the minimum depth.
    return hn::IfThenElse(hn::Gt(depth, minimum), depth, minimum);
}

// One Halley step of WaveNumber on x = k h, given T = tanh(x).
template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE VV HalleyStep(DD d, VV x, VV T, VV deep) {
    const VV one = hn::Set(d, 1.0);
    const VV sech2 = hn::Sub(one, hn::Mul(T, T));
    const VV halfSlope = hn::Mul(hn::Add(hn::Mul(sech2, x), T), hn::Set(d, 0.5));
    const VV Tx = hn::Mul(T, x);
    const VV f = hn::Sub(Tx, deep);
    const VV curvature = hn::Mul(hn::Mul(hn::Sub(Tx, one), sech2), f);
    const VV root = hn::Sqrt(hn::Add(curvature, hn::Mul(halfSlope, halfSlope)));
    return hn::Sub(x, hn::Div(f, hn::Add(root, halfSlope)));
}

// The quantities of points that do not depend on the energy, in a ring: entry
// i holds those of every point (or lane of a row) whose place is congruent
// to i.
template <std::size_t Entries>
struct QuantityRing {
    HWY_ALIGN double h[Entries];
    HWY_ALIGN double k[Entries];
    HWY_ALIGN double cg[Entries];
    HWY_ALIGN double hGamma[Entries];
    HWY_ALIGN double sech[Entries];
    HWY_ALIGN double tTp[Entries];
};

// The wave numbers of a register of points from x = k h after the second
// Halley step, and the quantities that follow, stored at entry at.
template <class DD, std::size_t Entries, class VV = hn::Vec<DD>>
HWY_INLINE void StoreQuantities(DD d, VV h, VV x, VV omega, VV omega2, VV Tp, const Constants& c,
                                QuantityRing<Entries>& ring, std::size_t at) {
    // -x / h is the negated x / h: the quotient's sign does not change its rounding.
    const VV q = hn::Div(x, h);
    const VV k = hn::IfThenElse(hn::Ge(omega, hn::Zero(d)), q, hn::Neg(q));
    // t stands for tanh(k h), from the dispersion relation.
    const VV t = hn::Div(omega2, hn::Mul(k, hn::Set(d, c.g)));
    const VV sech2 = hn::Sub(hn::Set(d, 1.0), hn::Mul(t, t));
    const VV n = hn::Add(hn::Div(hn::Mul(sech2, hn::Mul(h, k)), hn::Add(t, t)), hn::Set(d, 0.5));
    const VV gamma = hn::Add(hn::Mul(hn::Mul(k, hn::Set(d, 0.76)), h), hn::Set(d, 0.29));
    hn::Store(h, d, ring.h + at);
    hn::Store(k, d, ring.k + at);
    hn::Store(hn::Div(hn::Mul(n, hn::Set(d, TwoPi)), hn::Mul(Tp, k)), d, ring.cg + at);
    hn::Store(hn::Mul(h, gamma), d, ring.hGamma + at);
    // sqrt(max(1 - t^2, 0)) as std::max has it: a NaN stays NaN.
    hn::Store(hn::Sqrt(hn::IfThenElse(hn::Lt(sech2, hn::Zero(d)), hn::Zero(d), sech2)), d, ring.sech + at);
    hn::Store(hn::Mul(t, Tp), d, ring.tTp + at);
}

// The wave numbers of a register of depths, in three stages of about equal
// work that a march runs between the points of its chain, each long after the
// one before has finished. In between, the stages keep their values here.
struct StageValues {
    HWY_ALIGN double h[MaxLanes];
    HWY_ALIGN double deep[MaxLanes];
    HWY_ALIGN double x[MaxLanes];
    HWY_ALIGN double T[MaxLanes];
};

// The depths, the deep-water start and the first tanh.
template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE void FirstStage(DD d, VV bottom, VV Wlev, VV omega, double inverseG, StageValues& v) {
    const VV h = Depth(d, bottom, Wlev);
    const VV deep = hn::Mul(hn::Mul(h, hn::Mul(omega, omega)), hn::Set(d, inverseG));
    hn::Store(h, d, v.h);
    hn::Store(deep, d, v.deep);
    hn::Store(Tanh(d, deep), d, v.T);
}

// The first Halley step and the second tanh.
template <class DD, class VV = hn::Vec<DD>>
HWY_INLINE void SecondStage(DD d, StageValues& v) {
    const VV deep = hn::Load(d, v.deep);
    const VV x = HalleyStep(d, deep, hn::Load(d, v.T), deep);
    hn::Store(x, d, v.x);
    hn::Store(Tanh(d, x), d, v.T);
}

// The second Halley step and the quantities of the points.
template <class DD, std::size_t Entries, class VV = hn::Vec<DD>>
HWY_INLINE void ThirdStage(DD d, const StageValues& v, VV omega, VV omega2, VV Tp, const Constants& c,
                           QuantityRing<Entries>& ring, std::size_t at) {
    const VV x = HalleyStep(d, hn::Load(d, v.x), hn::Load(d, v.T), hn::Load(d, v.deep));
    StoreQuantities(d, hn::Load(d, v.h), x, omega, omega2, Tp, c, ring, at);
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

// Below this energy sqrt(E 8 / (g rho)) is sqrt(E / (g rho / 8)): both are
// the rounded quotient of the same two numbers while E 8 does not overflow
// and g rho / 8 is exact. The second takes one dependent multiplication less.
// 0 (never) when g rho / 8 would lose bits.
double QuotientFormBelow(double gRho) { return gRho >= 0x1p-1019 ? 0x1p1020 : 0.0; }

// Reads the levels of a march a register of points at a time; past the last
// point the last level.
class PointReader {
public:
    PointReader(detail::LevelBlocks source, std::size_t points) : source_(source), points_(points) {}
    // The levels of points first .. first + Lanes(d) - 1; first grows from
    // call to call in steps of Lanes(d).
    template <class DD>
    hn::Vec<DD> Group(DD d, std::size_t first) {
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

// The energy carried from point to point of a single step.
struct Chain {
    double E, H, cgBehind, D;
    bool clamped;
    std::size_t piece;
};

// The single step's registers hold at most four points: a wider register
// would only make the chain wait longer for the divisions of its wave
// numbers.
using DOne = hn::CappedTag<double, 4>;

// One time step, marched point after point. The quantities of the points come
// from a ring of 16 points. The stages of the wave numbers of register G
// (points G N .. G N + N - 1) run after points G N - 8, G N - 6 and G N - 3 of
// the chain: each stage well after the one before has finished, the last
// three points before the register's first point is marched.
ToeWaves MarchOne(const detail::SingleStep& s, detail::LevelBlocks levels, const Constants& c) {
    const std::size_t P = s.points;
    if (P == 0) return {std::nan(""), std::nan("")};
    const DOne d;
    using VOne = hn::Vec<DOne>;
    const std::size_t N = hn::Lanes(d);
    const double f = 1.0 / s.Tp;
    const double omega = f * TwoPi;
    const double omega2 = omega * omega;
    const double A = s.Alpha * 0.33233509704478426 * c.rho * c.g * f;
    const double friction = c.rho * 0.2122065907891938 * s.Fc;
    const double gRho = c.g * c.rho;
    const double gRhoEighth = gRho * 0.125;
    const double quotientFormBelow = QuotientFormBelow(gRho);
    const double inverseG = 1.0 / c.g;

    constexpr std::size_t RingPoints = 16;
    constexpr std::size_t Lead = 8;
    constexpr std::size_t SecondAfter = 2;
    constexpr std::size_t ThirdAfter = 5;
    static_assert(RingPoints >= Lead + 1 + 4 && Lead >= ThirdAfter + 3, "ring and stages");
    QuantityRing<RingPoints> ring;
    constexpr std::size_t StageEntries = 16;
    StageValues stages[StageEntries];  // register G's in stages[G % StageEntries]
    PointReader reader(levels, P);
    const VOne vWlev = hn::Set(d, s.Wlev);
    const VOne vOmega = hn::Set(d, omega);
    const VOne vOmega2 = hn::Set(d, omega2);
    const VOne vTp = hn::Set(d, s.Tp);
    const std::size_t groups = (P + N - 1) / N;
    // Registers whose first stage would come before the march: all at once.
    const std::size_t early = std::min(groups, (Lead + N) / N);
    for (std::size_t g = 0; g < early; ++g) FirstStage(d, reader.Group(d, g * N), vWlev, vOmega, inverseG, stages[g]);
    for (std::size_t g = 0; g < early; ++g) SecondStage(d, stages[g]);
    for (std::size_t g = 0; g < early; ++g) ThirdStage(d, stages[g], vOmega, vOmega2, vTp, c, ring, g * N);

    const double kFirst = ring.k[0];
    Chain m{};
    {
        const Start start = FirstPoint(s.Tp, s.TransmittedHm0, s.Fc, omega2, A, ring.h[0], ring.k[0], c, m.piece);
        m.E = start.E;
        m.H = start.H;
        m.cgBehind = start.cg;
        m.D = start.D;
    }
    const double significant = ClampedEnergyShare * m.E;
    const std::size_t lanesMask = N - 1;  // N is a power of two
    for (std::size_t i = 1; i < P; ++i) {
        const std::size_t at = i & (RingPoints - 1);
        const double cgNext = ring.cg[at];
        // First-order upwind; a negative or NaN energy becomes 0.
        const double v = (m.cgBehind * m.E - m.D * s.gridStep) / cgNext;
        m.clamped = m.clamped || (v < 0.0 && m.E > significant && ring.h[at] > MinimumWaterDepth);
        m.E = v > 0.0 ? v : 0.0;
        m.cgBehind = cgNext;
        if (HWY_LIKELY(m.E > EnergyThreshold)) {
            if (HWY_LIKELY(m.E < quotientFormBelow)) {
                m.H = std::sqrt(m.E / gRhoEighth);
            } else {
                m.H = std::sqrt(m.E * 8.0 / gRho);
            }
            const double Q = RoundedBracket(ring.hGamma[at] / m.H, m.piece);
            const double Db = Q * (m.H * m.H * m.H * A) / ring.h[at];
            const double u = ring.sech[at] * (m.H * Pi) / ring.tTp[at];
            m.D = Db + u * u * u * friction;
        } else {
            m.H = 0.0;
            m.D = 0.0;
        }

        const std::size_t lead = i + Lead;
        if ((lead & lanesMask) == 0 && lead / N < groups) {
            const std::size_t g = lead / N;
            FirstStage(d, reader.Group(d, g * N), vWlev, vOmega, inverseG, stages[g % StageEntries]);
        }
        if (((lead - SecondAfter) & lanesMask) == 0) {
            const std::size_t g = (lead - SecondAfter) / N;
            if (g >= early && g < groups) SecondStage(d, stages[g % StageEntries]);
        }
        if (((lead - ThirdAfter) & lanesMask) == 0) {
            const std::size_t g = (lead - ThirdAfter) / N;
            if (g >= early && g < groups) {
                ThirdStage(d, stages[g % StageEntries], vOmega, vOmega2, vTp, c, ring, (g * N) & (RingPoints - 1));
            }
        }
    }
    const double kLast = ring.k[(P - 1) & (RingPoints - 1)];
    return {m.H * HrmsToHm0,
            NearestRefractedWaveDirection(s.DikeNormal, s.IncomingWaveAngle, omega / kFirst, omega / kLast),
            m.clamped};
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

// What a group of lanes keeps from row to row, and its constants, lane by
// lane.
struct LaneGroup {
    HWY_ALIGN double Tp[MaxLanes];
    HWY_ALIGN double omega[MaxLanes];
    HWY_ALIGN double omega2[MaxLanes];
    HWY_ALIGN double Wlev[MaxLanes];
    HWY_ALIGN double dx[MaxLanes];
    HWY_ALIGN double points[MaxLanes];
    HWY_ALIGN double lastRow[MaxLanes];
    HWY_ALIGN double A[MaxLanes];
    HWY_ALIGN double significant[MaxLanes];
};

// The lanes' chain over one row: the energy, height, group velocity and
// dissipation carried on, the clamp seen, and the wave number of each lane's
// last point. Lanes past their last point keep their values.
template <std::size_t Entries>
HWY_INLINE void MarchRow(const LaneGroup& lanes, const QuantityRing<Entries>& ring, std::size_t at,
                         std::size_t row, V gRho, V gRhoEighth, V quotientFormBelow, V friction, V& E, V& H,
                         V& cg, V& Dis, M& clamped, V& kLast) {
    const D d;
    const V zero = hn::Zero(d);
    const V index = hn::Set(d, static_cast<double>(row));
    const M active = hn::Gt(hn::Load(d, lanes.points), index);
    const V cgNext = hn::Load(d, ring.cg + at);
    const V h = hn::Load(d, ring.h + at);
    const V v = hn::Div(hn::Sub(hn::Mul(cg, E), hn::Mul(Dis, hn::Load(d, lanes.dx))), cgNext);
    clamped = hn::Or(clamped, hn::And(hn::And(active, hn::Lt(v, zero)),
                                      hn::And(hn::Gt(E, hn::Load(d, lanes.significant)),
                                              hn::Gt(h, hn::Set(d, MinimumWaterDepth)))));
    const V energy = hn::IfThenElseZero(hn::Gt(v, zero), v);
    const M wet = hn::Gt(energy, hn::Set(d, EnergyThreshold));
    V height = hn::Sqrt(hn::Div(energy, gRhoEighth));
    if (HWY_UNLIKELY(!hn::AllTrue(d, hn::Lt(energy, quotientFormBelow)))) {
        height = hn::Sqrt(hn::Div(hn::Mul(energy, hn::Set(d, 8.0)), gRho));
    }
    const V Q = RoundedBracket(hn::Div(hn::Load(d, ring.hGamma + at), height), hn::And(active, wet));
    const V Db = hn::Div(hn::Mul(Q, hn::Mul(hn::Mul(hn::Mul(height, height), height), hn::Load(d, lanes.A))), h);
    const V u = hn::Div(hn::Mul(hn::Load(d, ring.sech + at), hn::Mul(height, hn::Set(d, Pi))),
                        hn::Load(d, ring.tTp + at));
    const V Df = hn::Mul(hn::Mul(hn::Mul(u, u), u), friction);
    E = hn::IfThenElse(active, energy, E);
    cg = hn::IfThenElse(active, cgNext, cg);
    Dis = hn::IfThenElse(active, hn::IfThenElseZero(wet, hn::Add(Db, Df)), Dis);
    H = hn::IfThenElse(active, hn::IfThenElseZero(wet, height), H);
    kLast = hn::IfThenElse(hn::Eq(index, hn::Load(d, lanes.lastRow)), hn::Load(d, ring.k + at), kLast);
}

// Up to Groups registers of time steps, one per lane, marched together to the
// longest one's last point; a lane stops changing after its own last point.
// The groups' chains of dependent operations are independent of each other
// and of the wave numbers of the rows ahead: the stages of row R run after
// rows R - 5 (first), R - 4 (second) and R - 2 (third) of the chains.
template <std::size_t Groups>
void MarchLanes(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                detail::LevelBlocks rows, std::size_t stride, const Constants& c, ToeWaves* toe) {
    const D d;
    const std::size_t N = hn::Lanes(d);
    const std::size_t L = Groups * N;
    const double inverseG = 1.0 / c.g;
    LaneGroup group[Groups];
    std::size_t longest = 0;
    for (std::size_t l = 0; l < L; ++l) {
        // Lanes without a step march a copy of the first one.
        const LaneStep& s = steps[l < count ? l : 0];
        LaneGroup& g = group[l / N];
        const std::size_t lane = l % N;
        g.Tp[lane] = s.Tp;
        g.Wlev[lane] = s.Wlev;
        g.dx[lane] = s.gridStep;
        g.points[lane] = l < count ? static_cast<double>(s.points) : 0.0;
        g.lastRow[lane] = g.points[lane] - 1.0;
        longest = std::max(longest, s.points);
    }
    for (std::size_t g = 0; g < Groups; ++g) {
        const V f = hn::Div(hn::Set(d, 1.0), hn::Load(d, group[g].Tp));
        const V omega = hn::Mul(f, hn::Set(d, TwoPi));
        hn::Store(omega, d, group[g].omega);
        hn::Store(hn::Mul(omega, omega), d, group[g].omega2);
        hn::Store(hn::Mul(hn::Set(d, Alpha * 0.33233509704478426 * c.rho * c.g), f), d, group[g].A);
    }
    RowReader reader(rows, longest, stride);

    constexpr std::size_t RingRows = 8;
    constexpr std::size_t FirstLead = 5;
    constexpr std::size_t SecondLead = 4;
    constexpr std::size_t ThirdLead = 2;
    QuantityRing<RingRows * Groups * MaxLanes> ring;
    StageValues stages[RingRows][Groups];  // row R's in stages[R % RingRows]
    const auto slot = [N](std::size_t row, std::size_t g) { return ((row % RingRows) * Groups + g) * N; };
    const auto first = [&](std::size_t row) HWY_ATTR {
        const double* levels = reader.Row(row);
        for (std::size_t g = 0; g < Groups; ++g) {
            FirstStage(d, hn::LoadU(d, levels + g * N), hn::Load(d, group[g].Wlev), hn::Load(d, group[g].omega),
                       inverseG, stages[row % RingRows][g]);
        }
    };
    const auto second = [&](std::size_t row) HWY_ATTR {
        for (std::size_t g = 0; g < Groups; ++g) SecondStage(d, stages[row % RingRows][g]);
    };
    const auto third = [&](std::size_t row) HWY_ATTR {
        for (std::size_t g = 0; g < Groups; ++g) {
            ThirdStage(d, stages[row % RingRows][g], hn::Load(d, group[g].omega), hn::Load(d, group[g].omega2),
                       hn::Load(d, group[g].Tp), c, ring, slot(row, g));
        }
    };
    // Rows whose first stage would come before the march: all at once (a
    // lane's rows past its end repeat its last level).
    const std::size_t early = std::min(longest, FirstLead + 1);
    for (std::size_t row = 0; row < early; ++row) first(row);
    for (std::size_t row = 0; row < early; ++row) second(row);
    for (std::size_t row = 0; row < early; ++row) third(row);

    // The first point of every lane, as the single-step march has it.
    HWY_ALIGN double k0[Groups * MaxLanes], e0[Groups * MaxLanes], hrms0[Groups * MaxLanes],
        cg0[Groups * MaxLanes], d0[Groups * MaxLanes];
    for (std::size_t l = 0; l < L; ++l) {
        std::size_t piece = 0;
        const LaneStep& s = steps[l < count ? l : 0];
        LaneGroup& g = group[l / N];
        const std::size_t lane = l % N;
        const std::size_t at = slot(0, l / N) + lane;
        k0[l] = ring.k[at];
        const Start start =
            FirstPoint(g.Tp[lane], s.TransmittedHm0, Fc, g.omega2[lane], g.A[lane], ring.h[at], ring.k[at], c, piece);
        e0[l] = start.E;
        hrms0[l] = start.H;
        cg0[l] = start.cg;
        d0[l] = start.D;
        g.significant[lane] = ClampedEnergyShare * start.E;
    }

    const V gRho = hn::Set(d, c.g * c.rho);
    const V gRhoEighth = hn::Set(d, c.g * c.rho * 0.125);
    const V quotientFormBelow = hn::Set(d, QuotientFormBelow(c.g * c.rho));
    const V friction = hn::Set(d, c.rho * 0.2122065907891938 * Fc);
    // Group 0's and group 1's chains (group 1 unused with one group).
    const std::size_t g1 = Groups - 1;
    V E0 = hn::Load(d, e0), H0 = hn::Load(d, hrms0), cg0v = hn::Load(d, cg0), D0 = hn::Load(d, d0),
      kLast0 = hn::Load(d, k0);
    V E1 = hn::Load(d, e0 + g1 * N), H1 = hn::Load(d, hrms0 + g1 * N), cg1v = hn::Load(d, cg0 + g1 * N),
      D1 = hn::Load(d, d0 + g1 * N), kLast1 = hn::Load(d, k0 + g1 * N);
    M clamped0 = hn::Lt(hn::Zero(d), hn::Zero(d));
    M clamped1 = clamped0;
    for (std::size_t row = 1; row < longest; ++row) {
        MarchRow(group[0], ring, slot(row, 0), row, gRho, gRhoEighth, quotientFormBelow, friction, E0, H0, cg0v, D0,
                 clamped0, kLast0);
        if (row + FirstLead < longest) first(row + FirstLead);
        if constexpr (Groups == 2) {
            MarchRow(group[1], ring, slot(row, 1), row, gRho, gRhoEighth, quotientFormBelow, friction, E1, H1, cg1v,
                     D1, clamped1, kLast1);
        }
        if (row + SecondLead >= early && row + SecondLead < longest) second(row + SecondLead);
        if (row + ThirdLead >= early && row + ThirdLead < longest) third(row + ThirdLead);
    }

    HWY_ALIGN double hLast[Groups * MaxLanes], kEnd[Groups * MaxLanes];
    std::uint8_t clampedBits[Groups][(MaxLanes + 7) / 8] = {};
    hn::Store(H0, d, hLast);
    hn::Store(kLast0, d, kEnd);
    hn::StoreMaskBits(d, clamped0, clampedBits[0]);
    if constexpr (Groups == 2) {
        hn::Store(H1, d, hLast + N);
        hn::Store(kLast1, d, kEnd + N);
        hn::StoreMaskBits(d, clamped1, clampedBits[1]);
    }
    for (std::size_t l = 0; l < count; ++l) {
        const std::size_t lane = l % N;
        const double omega = group[l / N].omega[lane];
        toe[l] = {hLast[l] * HrmsToHm0,
                  NearestRefractedWaveDirection(DikeNormal, steps[l].IncomingWaveAngle, omega / k0[l], omega / kEnd[l]),
                  ((clampedBits[l / N][lane / 8] >> (lane % 8)) & 1u) != 0};
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
