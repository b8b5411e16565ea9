// expm1, tanh and sinh of the march (roller_march.cpp), by glibc's
// algorithm (fdlibm's) in basic operations, for registers side by side.

#include <cmath>
#include <cstddef>

#include "physics/exact_math.h"

// Compiled once per target: foreach_target.h includes the march again for
// each instruction set, and this part with it.
#if defined(QAV_PHYSICS_MARCH_TANH_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QAV_PHYSICS_MARCH_TANH_INL_H_
#undef QAV_PHYSICS_MARCH_TANH_INL_H_
#else
#define QAV_PHYSICS_MARCH_TANH_INL_H_
#endif

#include <hwy/highway.h>
#include "physics/march_packs-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

// ---- tanh ----

// What glibc's expm1(y) (fdlibm's algorithm, on processors with FMA) has
// computed before it picks its result by k, the multiple of ln 2 taken away.
template <class DD, std::size_t K>
struct Expm1Parts {
    Pack<DD, K> k, x, hxs, ek, r0;
    MaskPack<DD, K> reduced;
};

// How expm1 and tanh round the multiply-adds of fdlibm's algorithm.
// - Plain: each multiplication and addition rounded on its own. This is the
//   tanh of the wave numbers: it differs from glibc's by up to 3 units in the
//   last place for about 6 of 10^4 arguments (mostly below 1), and takes
//   about a tenth less of a march's time than AsGlibc.
// - AsGlibc: glibc fuses every multiply-add of expm1 on processors with FMA;
//   the ones that decide its last bit are fused here too, carried out in
//   basic operations: the two of the rational step and the last. (Of the
//   polynomial's, the first changes 5 results of 10^8 random arguments, the
//   others none.) This gives the reference's wave number of a point where the
//   breaking bracket's float is in doubt, and sinh at the first point.
enum class Rounding { Plain, AsGlibc };

// The signs of the arguments of whole registers, where they are known.
enum class Signs { Negative, Positive, Either };

// k where it is computed lane by lane; otherwise k is the same in every lane
// of the registers: 0 (|y| < ln2 / 2), -1, -2 or -3 (y <= -ln2 / 2).
constexpr int AnyK = 1024;

// q - c, which is q where k = 0 (c = +0).
template <int KnownK, class P>
HWY_INLINE P QMinusC(const P& q, const P& c) {
    if constexpr (KnownK == 0) {
        return q;
    } else {
        return Sub(q, c);
    }
}

// What the last multiply-add of expm1's core takes away: c where k is not 0,
// hxs where it is.
template <int KnownK, class P, class M>
HWY_INLINE P Subtrahend(const M& reduced, const P& c, const P& hxs) {
    if constexpr (KnownK == 0) {
        return hxs;
    } else if constexpr (KnownK != AnyK) {
        return c;
    } else {
        return IfThenElse(reduced, c, hxs);
    }
}

// ay is |y| and negative says y < 0 (only where k is not 0, and only read
// where Sign is Either). Where KnownK is not AnyK, the reduction takes the
// operations that the known k leaves: the same bits. reduced is set only
// where KnownK is AnyK.
template <Rounding Mode, Signs Sign, int KnownK = AnyK, class DD, std::size_t K>
HWY_INLINE Expm1Parts<DD, K> Expm1Core(DD d, const Pack<DD, K>& y, const Pack<DD, K>& ay,
                                       const MaskPack<DD, K>& negative) {
    using P = Pack<DD, K>;
    const auto C = [d](double c) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<K>(d, c); };
    Expm1Parts<DD, K> e;
    // |y| > ln2 / 2 is reduced by k ln2; |y| < 1.5 ln2 takes k = +-1. The
    // rounding of k in general gives +-1 there too: |y| / ln2 lies in
    // [0.5, 1.5 - 2^-21) and rounds no further, and adding 0.5 to it gives a
    // number in [1, 2).
    static_assert(KnownK == AnyK || (KnownK <= 0 && KnownK >= -3));
    P x, c;
    if constexpr (KnownK == 0) {
        // y - 0 ln2hi and y - 0 are y, and (y - y) - 0 is +0.
        e.k = C(0.0);
        x = y;
        c = e.k;
    } else if constexpr (KnownK != AnyK) {
        // k ln2hi is exact for |k| <= 3, and k ln2lo rounds as the product
        // of the two constants does.
        e.k = C(static_cast<double>(KnownK));
        const P hi = Sub(y, C(KnownK * 0x1.62e42feep-1));
        const P lo = C(KnownK * 0x1.a39ef35793c76p-33);
        x = Sub(hi, lo);
        c = Sub(Sub(hi, x), lo);
    } else {
        e.reduced = Ge(ay, C(0x1.62e43p-2));
        P half;
        if constexpr (Sign == Signs::Negative) {
            half = C(-0.5);
        } else if constexpr (Sign == Signs::Positive) {
            half = C(0.5);
        } else {
            half = IfThenElse(negative, C(-0.5), C(0.5));
        }
        e.k = IfThenElseZero(e.reduced, Trunc(Add(Mul(C(0x1.71547652b82fep+0), y), half)));
        const P hi = Sub(y, Mul(e.k, C(0x1.62e42feep-1)));
        const P lo = Mul(e.k, C(0x1.a39ef35793c76p-33));
        x = Sub(hi, lo);
        c = Sub(Sub(hi, x), lo);
    }
    e.x = x;

    const P hfx = Mul(C(0.5), x);
    const P hxs = Mul(x, hfx);
    e.hxs = hxs;
    // r1 = 1 + hxs Q1 + ... unfused: fusing its first multiply-add too would
    // change about one result in twenty million (5 of 10^8 random arguments),
    // at 3 per cent of a march.
    const P r1a = Add(C(1.0), Mul(hxs, C(-0x1.11111111110f4p-5)));
    const P h2 = Mul(hxs, hxs);
    const P r2 = Add(C(0x1.a01a019fe5585p-10), Mul(hxs, C(-0x1.4ce199eaadbb7p-14)));
    const P h4 = Mul(h2, h2);
    const P r3 = Add(C(0x1.0cfca86e65239p-18), Mul(hxs, C(-0x1.afdb76e09c32dp-23)));
    const P r1 = Add(Add(r1a, Mul(h2, r2)), Mul(h4, r3));
    // t = 3 - r1 hfx; e = hxs (r1 - t) / (6 - x t).
    // k = 0: the result is x - (x e - hxs); otherwise e <- (x (e - c) - c) - hxs.
    P fused;
    if constexpr (Mode == Rounding::AsGlibc) {
        const Split<DD, K> xSplit = SplitOf(d, x);
        const Split<DD, K> hfxSplit{hfx, Mul(xSplit.head, C(0.5)), Mul(xSplit.tail, C(0.5))};
        const P t = SubtractSmallProduct(d, 3.0, hfxSplit, SplitOf(d, r1));
        const P q = Mul(hxs, Div(Sub(r1, t), SubtractSmallProduct(d, 6.0, xSplit, SplitOf(d, t))));
        fused =
            ProductMinus(xSplit, SplitOf(d, QMinusC<KnownK>(q, c)), Subtrahend<KnownK>(e.reduced, c, hxs));
    } else {
        const P t = Sub(C(3.0), Mul(r1, hfx));
        const P q = Mul(hxs, Div(Sub(r1, t), Sub(C(6.0), Mul(x, t))));
        fused = Sub(Mul(x, QMinusC<KnownK>(q, c)), Subtrahend<KnownK>(e.reduced, c, hxs));
    }
    e.r0 = Sub(x, fused);
    e.ek = Sub(fused, hxs);
    return e;
}

// expm1(y) for |y| < 44 as glibc computes it on processors with FMA.
template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> Expm1(DD d, const Pack<DD, K>& y) {
    using P = Pack<DD, K>;
    const auto C = [d](double c) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<K>(d, c); };
    const Expm1Parts<DD, K> e = Expm1Core<Rounding::AsGlibc, Signs::Either>(d, y, Abs(y), Lt(y, C(0.0)));
    const P one = C(1.0);
    const P ex = Sub(e.ek, e.x);
    const P scale = PowerOfTwo(d, e.k);
    const P inverseScale = PowerOfTwo(d, Neg(e.k));
    // 0.5 (x - e) and 2 (x - e) are exact: fused or not, the same.
    const P rMinus1 = Sub(Mul(C(0.5), Sub(e.x, e.ek)), C(0.5));
    const P rPlus1 = IfThenElse(Lt(e.x, C(-0.25)), Mul(C(-2.0), Sub(e.ek, Add(e.x, C(0.5)))),
                                Add(one, Mul(C(2.0), Sub(e.x, e.ek))));
    const P rFar = Sub(Mul(Sub(one, ex), scale), one);
    const P rMid = Mul(Sub(Sub(one, inverseScale), ex), scale);
    const P rHigh = Mul(Add(Sub(e.x, Add(e.ek, inverseScale)), one), scale);
    P r = IfThenElse(Lt(e.k, C(20.0)), rMid, rHigh);
    r = IfThenElse(Or(Le(e.k, C(-2.0)), Gt(e.k, C(56.0))), rFar, r);
    r = IfThenElse(Eq(e.k, one), rPlus1, r);
    r = IfThenElse(Eq(e.k, Neg(one)), rMinus1, r);
    return IfThenElse(e.reduced, r, e.r0);
}

// tanh(x) by glibc's algorithm (fdlibm's), its multiply-adds rounded as Mode
// says: |x| >= 1: 1 - 2 / (t + 2) with t = expm1(2 |x|); otherwise
// -t / (t + 2) with t = expm1(-2 |x|); the sign of x. It is 1 from |x| = 22
// on, and already from 19.5 on, where 2 / (t + 2) < 2^-54. Below 2^-55 glibc
// returns x (1 + x), which is x: the same as the formula gives.
// Range says where |x| lies in every lane: registers all below 1, or all from
// 1 on, skip the other side's operations and the choice between the sides.
// The operations of a side are the same on every range: so are the results.
// FromOneMid: from 1 to below FromOneMidEnd, where expm1(2 |x|) takes
// k < 20 in every lane (|x| / ln2 + 0.5 rounds below 20) and tanh is not
// yet 1.
enum class TanhRange { BelowOne, FromOne, FromOneMid, Any };
constexpr double FromOneMidEnd = 0x1.b0861a6c0f69bp+2;  // about 6.76

// Below 1, KnownK is the k of expm1(-2 |x|) where every lane takes the same.
template <Rounding Mode, TanhRange Range, int KnownK = AnyK, class DD, std::size_t K>
HWY_INLINE Pack<DD, K> TanhIn(DD d, const Pack<DD, K>& x) {
    static_assert(KnownK == AnyK || Range == TanhRange::BelowOne);
    using P = Pack<DD, K>;
    const auto C = [d](double c) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<K>(d, c); };
    constexpr bool below = Range == TanhRange::BelowOne || Range == TanhRange::Any;
    constexpr bool above = Range != TanhRange::BelowOne;
    constexpr bool mid = Range == TanhRange::FromOneMid;
    const P one = C(1.0);
    const P two = C(2.0);
    const P ax = Abs(x);
    const auto large = Ge(ax, one);
    const P twice = Add(ax, ax);
    const auto small = Lt(ax, one);
    // expm1(-2 |x|) takes k = 0, -1, -2 or -3; expm1(2 |x|) k = 3 .. 56.
    Expm1Parts<DD, K> e;
    if constexpr (!above) {
        e = Expm1Core<Mode, Signs::Negative, KnownK>(d, Neg(twice), twice, small);
    } else if constexpr (!below) {
        e = Expm1Core<Mode, Signs::Positive>(d, twice, twice, small);
    } else {
        e = Expm1Core<Mode, Signs::Either>(d, IfThenElse(large, twice, Neg(twice)), twice, small);
    }
    const P ex = Sub(e.ek, e.x);
    const P scale = PowerOfTwo(d, e.k);
    P t;
    if constexpr (KnownK == 0) {
        t = e.r0;
    } else if constexpr (KnownK == -1) {
        t = Sub(Mul(C(0.5), Sub(e.x, e.ek)), C(0.5));
    } else if constexpr (KnownK != AnyK) {
        t = Sub(Mul(Sub(one, ex), C(KnownK == -2 ? 0.25 : 0.125)), one);
    } else if constexpr (below) {
        const P rMinus1 = Sub(Mul(C(0.5), Sub(e.x, e.ek)), C(0.5));
        const P rFar = Sub(Mul(Sub(one, ex), scale), one);
        // glibc picks the formula by k: also where |y| lies just past 1.5 ln2
        // and k is -1 by rounding.
        t = IfThenElse(e.reduced, IfThenElse(Eq(e.k, Neg(one)), rMinus1, rFar), e.r0);
    }
    if constexpr (above) {
        const P inverseScale = PowerOfTwo(d, Neg(e.k));
        const P rMid = Mul(Sub(Sub(one, inverseScale), ex), scale);
        if constexpr (mid) {
            t = rMid;
        } else {
            const P rHigh = Mul(Add(Sub(e.x, Add(e.ek, inverseScale)), one), scale);
            const P tAbove = IfThenElse(Lt(e.k, C(20.0)), rMid, rHigh);
            if constexpr (below) {
                t = IfThenElse(large, tAbove, t);
            } else {
                t = tAbove;
            }
        }
    }
    // Below 1, t + 2 > 0: -t / (t + 2) with the sign of x is |t| / (t + 2)
    // with that sign, the quotient of t with the sign of x.
    if constexpr (!above) return Div(CopySign(t, x), Add(t, two));
    P z;
    if constexpr (!below) {
        z = Sub(one, Div(two, Add(t, two)));
    } else {
        const P q = Div(IfThenElse(large, two, Neg(t)), Add(t, two));
        z = IfThenElse(large, Sub(one, q), q);
    }
    if constexpr (above && !mid) z = IfThenElse(Ge(ax, C(19.5)), one, z);
    return CopySign(z, x);
}

// The k of expm1(-2 |x|) for |x| < 1: 0, -1 (taken directly below 2 |x| =
// 1.5 ln2, and by rounding just past it), -2 or -3 where 2 |x| / ln2 + 0.5
// rounds to 2 or 3 and truncates to it.
inline int ReductionBelowOne(double ax) {
    if (ax < 0x1.62e43p-3) return 0;
    if (ax < 0x1.0a2b23f3bab74p-1) return -1;
    return ax < 0x1.bb9d3beb8c86bp-1 ? -2 : -3;
}

// Builds with AddressSanitizer (the sanitizer and fuzzing builds) take the
// range of both sides for every register: each range is a copy of tanh
// inlined at every call, and instrumented, the copies took the compiler half
// an hour for the march. Every range gives the same bits (the march parts'
// test), so their results are those of the other builds.
#if defined(__SANITIZE_ADDRESS__)
#define QAV_TANH_ONE_RANGE 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define QAV_TANH_ONE_RANGE 1
#endif
#endif

// tanh(x) as TanhIn gives it, on the range that holds for all lanes.
template <Rounding Mode, class DD, std::size_t K>
HWY_INLINE Pack<DD, K> Tanh(DD d, const Pack<DD, K>& x) {
#ifdef QAV_TANH_ONE_RANGE
    return TanhIn<Mode, TanhRange::Any>(d, x);
#else
    const Pack<DD, K> ax = Abs(x);
    const hn::Vec<DD> one = hn::Set(d, 1.0);
    hn::Mask<DD> allBelow = hn::Lt(ax.v[0], one);
    hn::Mask<DD> allFrom = hn::Ge(ax.v[0], one);
    QAV_EACH_REGISTER for (std::size_t j = 1; j < K; ++j) {
        allBelow = hn::And(allBelow, hn::Lt(ax.v[j], one));
        allFrom = hn::And(allFrom, hn::Ge(ax.v[j], one));
    }
    if (hn::AllTrue(d, allBelow)) {
        // No NaN: the least and the greatest |x| bound every lane's k.
        hn::Vec<DD> least = ax.v[0];
        hn::Vec<DD> most = ax.v[0];
        QAV_EACH_REGISTER for (std::size_t j = 1; j < K; ++j) {
            least = hn::Min(least, ax.v[j]);
            most = hn::Max(most, ax.v[j]);
        }
        const int k = ReductionBelowOne(hn::GetLane(hn::MinOfLanes(d, least)));
        if (k == ReductionBelowOne(hn::GetLane(hn::MaxOfLanes(d, most)))) {
            switch (k) {
                case 0:
                    return TanhIn<Mode, TanhRange::BelowOne, 0>(d, x);
                case -1:
                    return TanhIn<Mode, TanhRange::BelowOne, -1>(d, x);
                case -2:
                    return TanhIn<Mode, TanhRange::BelowOne, -2>(d, x);
                case -3:
                    return TanhIn<Mode, TanhRange::BelowOne, -3>(d, x);
                default:
                    break;
            }
        }
        return TanhIn<Mode, TanhRange::BelowOne>(d, x);
    }
    if (hn::AllTrue(d, allFrom)) {
        // No NaN here either.
        hn::Vec<DD> most = ax.v[0];
        QAV_EACH_REGISTER for (std::size_t j = 1; j < K; ++j) most = hn::Max(most, ax.v[j]);
        if (hn::GetLane(hn::MaxOfLanes(d, most)) < FromOneMidEnd)
            return TanhIn<Mode, TanhRange::FromOneMid>(d, x);
        return TanhIn<Mode, TanhRange::FromOne>(d, x);
    }
    return TanhIn<Mode, TanhRange::Any>(d, x);
#endif
}

// sinh(x) as glibc computes it, with the nearest exp past 22.
double Sinh(double x) {
    if (std::isnan(x)) return x + x;
    const double h = x < 0.0 ? -0.5 : 0.5;
    const double ax = std::fabs(x);
    if (ax < 22.0) {
        if (ax < 0x1p-28) return x;
        const hn::CappedTag<double, 1> d1;
        const double t = hn::GetLane(Expm1(d1, Constant<1>(d1, ax)).v[0]);
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

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#endif  // QAV_PHYSICS_MARCH_TANH_INL_H_
