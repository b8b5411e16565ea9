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
// - tanh is the C library's own algorithm (fdlibm's, through expm1) with
//   every multiplication and addition rounded on its own. glibc fuses some of
//   them on processors with FMA; its tanh differs in the last bits for about
//   6 of 10^4 arguments, and a wave number then by a few units in the last
//   place. Carrying out the fused ones in basic operations would give glibc's
//   tanh nearly always, at about a tenth of a march's time.
// - The breaking bracket comes from piecewise polynomial fits (bracket.h).
//   Its single-precision rounding is always the one of the bracket formed
//   from erf and exp rounded to nearest at the reference's R: where a fit lies
//   too close to a boundary for its tolerance, or for the move of R that a
//   wave number a few units off could make, the point's wave number is found
//   again with tanh rounded as glibc's, and the bracket is formed from the
//   nearest erf and exp in double-double (exact_math.h), a few times in a
//   million points. The C library's erf and exp round to nearest nearly
//   always.
// - The toe direction takes the reference's wave numbers at the two ends,
//   found again as above; sinh (first point), sin and asin (toe direction)
//   come from exact_math.h.
//
// A march is a chain of dependent divisions and square roots, point after
// point, which leaves most of the processor idle. The wave numbers of the
// points ahead (independent of each other) are computed in that idle time: in
// stages placed between the points of the chain, so that the processor's
// window of instructions always holds work of both. Registers of independent
// work (the groups of a lane march, two rows of them) go side by side,
// operation by operation (Pack), so that the processor has one to work on
// while another waits.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "physics/roller_march.cpp"
// SSSE3 processors take the baseline: one target less to compile. Registers
// side by side live in arrays, which scalable vectors (SVE) cannot: Arm
// processors take NEON.
#ifndef HWY_DISABLED_TARGETS
#define HWY_DISABLED_TARGETS (HWY_SSSE3 | HWY_SVE | HWY_SVE2 | HWY_SVE_256 | HWY_SVE2_128)
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
    alignas(64) double one[BracketFit::Pieces][BracketFit::Terms];
};

constexpr ScaledBracketFit ScaleBracketFit() {
    ScaledBracketFit scaled{};
    for (int j = 0; j < BracketFit::Pieces; ++j) {
        double power = 1.0;
        for (int m = 0; m < BracketFit::Terms; ++m) {
            scaled.coefficient[j][m] = FittedBracket.coefficient[j][m] * power;
            scaled.coefficient[j][BracketFit::Terms + m] = FittedBracket.coefficient[j][BracketFit::Terms + m] * power;
            scaled.one[j][m] = FittedBracketOne.coefficient[j][m] * power;
            power *= BracketFit::PerUnit;
        }
    }
    return scaled;
}

inline constexpr ScaledBracketFit ScaledBracket = ScaleBracketFit();

// The fits in y = R^2 (bracket.h), scaled the same way for s = y - j / 16.
struct ScaledSquareFit {
    alignas(64) double one[BracketSquareFit::Pieces][BracketSquareFit::Terms];
    alignas(64) double two[BracketSquareFit::SecondFrom - BracketSquareFit::WholeUpTo - 1]
                          [2 * BracketSquareFit::Terms];
};

constexpr ScaledSquareFit ScaleSquareFit() {
    ScaledSquareFit scaled{};
    constexpr int Terms = BracketSquareFit::Terms;
    for (int j = 0; j < BracketSquareFit::Pieces; ++j) {
        double power = 1.0;
        for (int m = 0; m < Terms; ++m, power *= BracketSquareFit::PerUnit) {
            scaled.one[j][m] = FittedSquareBracket.one[j][m] * power;
        }
    }
    for (int j = 0; j < BracketSquareFit::SecondFrom - BracketSquareFit::WholeUpTo - 1; ++j) {
        double power = 1.0;
        for (int m = 0; m < Terms; ++m, power *= BracketSquareFit::PerUnit) {
            scaled.two[j][m] = FittedSquareBracket.two[j][m] * power;
            scaled.two[j][Terms + m] = FittedSquareBracket.two[j][Terms + m] * power;
        }
    }
    return scaled;
}

inline constexpr ScaledSquareFit ScaledSquareBracket = ScaleSquareFit();

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

// Lambdas are inlined like the functions (HWY_INLINE): a call would keep the
// compiler from mixing their operations with the caller's, and would spill
// the caller's registers.
#if defined(__GNUC__) || defined(__clang__)
#define QAV_INLINE_LAMBDA __attribute__((always_inline))
#else
#define QAV_INLINE_LAMBDA
#endif

// ---- registers side by side ----

// K registers of one computation, carried out operation by operation for all
// of them: the processor works on one while the others wait for a result.
// (The constructors carry the target's attributes: some compilers would
// otherwise make them for the baseline, which cannot build the registers.)
// Every loop over the registers of a pack is unrolled, so that they stay in
// registers.
#define QAV_EACH_REGISTER HWY_UNROLL(16)

template <class DD, std::size_t K>
struct Pack {
    HWY_ATTR Pack() {}
    hn::Vec<DD> v[K];
};

template <class DD, std::size_t K>
struct MaskPack {
    HWY_ATTR MaskPack() {}
    hn::Mask<DD> m[K];
};

template <std::size_t K, class DD>
HWY_INLINE Pack<DD, K> Constant(DD d, double c) {
    Pack<DD, K> r;
    QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.v[j] = hn::Set(d, c);
    return r;
}

// Register j from base + j stride.
template <std::size_t K, class DD>
HWY_INLINE Pack<DD, K> LoadPack(DD d, const double* base, std::size_t stride) {
    Pack<DD, K> r;
    QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.v[j] = hn::Load(d, base + j * stride);
    return r;
}

template <class DD, std::size_t K>
HWY_INLINE void StorePack(DD d, const Pack<DD, K>& p, double* base, std::size_t stride) {
    QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) hn::Store(p.v[j], d, base + j * stride);
}

#define QAV_PACK_UNARY(Name)                                          \
    template <class DD, std::size_t K>                                \
    HWY_INLINE Pack<DD, K> Name(const Pack<DD, K>& a) {               \
        Pack<DD, K> r;                                                \
        QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.v[j] = hn::Name(a.v[j]); \
        return r;                                                     \
    }
#define QAV_PACK_BINARY(Name, Result, Member, Operand)                                 \
    template <class DD, std::size_t K>                                                 \
    HWY_INLINE Result<DD, K> Name(const Operand<DD, K>& a, const Operand<DD, K>& b) {  \
        Result<DD, K> r;                                                               \
        QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.Member[j] = hn::Name(a.v[j], b.v[j]);     \
        return r;                                                                      \
    }
QAV_PACK_UNARY(Abs)
QAV_PACK_UNARY(Neg)
QAV_PACK_UNARY(Sqrt)
QAV_PACK_UNARY(Trunc)
QAV_PACK_BINARY(Add, Pack, v, Pack)
QAV_PACK_BINARY(Sub, Pack, v, Pack)
QAV_PACK_BINARY(Mul, Pack, v, Pack)
QAV_PACK_BINARY(Div, Pack, v, Pack)
QAV_PACK_BINARY(CopySign, Pack, v, Pack)
QAV_PACK_BINARY(Lt, MaskPack, m, Pack)
QAV_PACK_BINARY(Le, MaskPack, m, Pack)
QAV_PACK_BINARY(Gt, MaskPack, m, Pack)
QAV_PACK_BINARY(Ge, MaskPack, m, Pack)
QAV_PACK_BINARY(Eq, MaskPack, m, Pack)
#undef QAV_PACK_UNARY
#undef QAV_PACK_BINARY

#define QAV_MASK_BINARY(Name)                                                                \
    template <class DD, std::size_t K>                                                       \
    HWY_INLINE MaskPack<DD, K> Name(const MaskPack<DD, K>& a, const MaskPack<DD, K>& b) {    \
        MaskPack<DD, K> r;                                                                   \
        QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.m[j] = hn::Name(a.m[j], b.m[j]);               \
        return r;                                                                            \
    }
QAV_MASK_BINARY(And)
QAV_MASK_BINARY(Or)
QAV_MASK_BINARY(AndNot)
#undef QAV_MASK_BINARY

template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> IfThenElse(const MaskPack<DD, K>& m, const Pack<DD, K>& a, const Pack<DD, K>& b) {
    Pack<DD, K> r;
    QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.v[j] = hn::IfThenElse(m.m[j], a.v[j], b.v[j]);
    return r;
}

template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> IfThenElseZero(const MaskPack<DD, K>& m, const Pack<DD, K>& a) {
    Pack<DD, K> r;
    QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.v[j] = hn::IfThenElseZero(m.m[j], a.v[j]);
    return r;
}

// The bits of a with those of bits (one 64-bit pattern for every lane).
template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> AndBits(DD d, const Pack<DD, K>& a, std::uint64_t bits) {
    const hn::RebindToUnsigned<DD> du;
    const hn::Vec<DD> pattern = hn::BitCast(d, hn::Set(du, bits));
    Pack<DD, K> r;
    QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.v[j] = hn::And(a.v[j], pattern);
    return r;
}

// 2^k for integral k in [-1022, 1023].
template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> PowerOfTwo(DD d, const Pack<DD, K>& k) {
    const hn::RebindToUnsigned<DD> du;
    Pack<DD, K> r;
    QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) {
        const auto bits = hn::BitCast(du, hn::Add(k.v[j], hn::Set(d, IntegerShift + 1023.0)));
        r.v[j] = hn::BitCast(d, hn::ShiftLeft<52>(bits));
    }
    return r;
}

// ---- fl(a b + c) from basic operations ----
//
// The head of a double keeps its top 26 significant bits (the low 27 bits of
// the mantissa cleared); the tail, the rest, has at most 27. Head times head,
// or times tail, is exact; tail times tail rounds away less than 2^-106 of
// a b. Dekker's sum of the four products then gives a b - fl(a b), the
// product's rounding error, to well within the last rounding below.
constexpr std::uint64_t HeadMask = 0xFFFFFFFFF8000000u;

template <class DD, std::size_t K>
struct Split {
    Pack<DD, K> value, head, tail;
};

template <class DD, std::size_t K>
HWY_INLINE Split<DD, K> SplitOf(DD d, const Pack<DD, K>& a) {
    const Pack<DD, K> head = AndBits(d, a, HeadMask);
    return {a, head, Sub(a, head)};
}

// a b - p for p = fl(a b).
template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> ProductError(const Split<DD, K>& a, const Split<DD, K>& b, const Pack<DD, K>& p) {
    return Add(Add(Add(Sub(Mul(a.head, b.head), p), Mul(a.head, b.tail)), Mul(a.tail, b.head)), Mul(a.tail, b.tail));
}

// fl(c - a b) for |c| >= |a b|: the sum's rounding error by Dekker's two-sum
// of ordered terms, the product's added back with one more rounding. This is
// the fused result except where that last rounding meets a tie.
template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> SubtractSmallProduct(DD d, double c, const Split<DD, K>& a, const Split<DD, K>& b) {
    const Pack<DD, K> vc = Constant<K>(d, c);
    const Pack<DD, K> p = Mul(a.value, b.value);
    const Pack<DD, K> s = Sub(vc, p);
    const Pack<DD, K> se = Sub(Sub(vc, s), p);
    return Add(s, Sub(se, ProductError(a, b, p)));
}

// fl(a b - c) for any sizes, by Knuth's two-sum.
template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> ProductMinus(const Split<DD, K>& a, const Split<DD, K>& b, const Pack<DD, K>& c) {
    const Pack<DD, K> p = Mul(a.value, b.value);
    const Pack<DD, K> s = Sub(p, c);
    const Pack<DD, K> bb = Sub(s, p);
    const Pack<DD, K> se = Sub(Sub(p, Sub(s, bb)), Add(c, bb));
    return Add(s, Add(se, ProductError(a, b, p)));
}

// ---- tanh ----

// What glibc's expm1(y) (fdlibm's algorithm, on processors with FMA) has
// computed before it picks its result by k, the multiple of ln 2 taken away.
template <class DD, std::size_t K>
struct Expm1Parts {
    Pack<DD, K> k, x, hxs, ek, r0;
    MaskPack<DD, K> reduced, near;
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

// ay is |y| and negative says y < 0 (only where k is not 0).
template <Rounding Mode, class DD, std::size_t K>
HWY_INLINE Expm1Parts<DD, K> Expm1Core(DD d, const Pack<DD, K>& y, const Pack<DD, K>& ay,
                                       const MaskPack<DD, K>& negative) {
    using P = Pack<DD, K>;
    const auto C = [d](double c) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<K>(d, c); };
    Expm1Parts<DD, K> e;
    // |y| > ln2 / 2 is reduced by k ln2; |y| < 1.5 ln2 takes k = +-1.
    e.reduced = Ge(ay, C(0x1.62e43p-2));
    e.near = Lt(ay, C(0x1.0a2b2p+0));
    const P kFar = Trunc(Add(Mul(C(0x1.71547652b82fep+0), y), IfThenElse(negative, C(-0.5), C(0.5))));
    e.k = IfThenElseZero(e.reduced, IfThenElse(e.near, IfThenElse(negative, C(-1.0), C(1.0)), kFar));
    const P hi = Sub(y, Mul(e.k, C(0x1.62e42feep-1)));
    const P lo = Mul(e.k, C(0x1.a39ef35793c76p-33));
    const P x = Sub(hi, lo);
    const P c = Sub(Sub(hi, x), lo);
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
        fused = ProductMinus(xSplit, SplitOf(d, Sub(q, c)), IfThenElse(e.reduced, c, hxs));
    } else {
        const P t = Sub(C(3.0), Mul(r1, hfx));
        const P q = Mul(hxs, Div(Sub(r1, t), Sub(C(6.0), Mul(x, t))));
        fused = Sub(Mul(x, Sub(q, c)), IfThenElse(e.reduced, c, hxs));
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
    const Expm1Parts<DD, K> e = Expm1Core<Rounding::AsGlibc>(d, y, Abs(y), Lt(y, C(0.0)));
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
template <Rounding Mode, class DD, std::size_t K>
HWY_INLINE Pack<DD, K> Tanh(DD d, const Pack<DD, K>& x) {
    using P = Pack<DD, K>;
    const auto C = [d](double c) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<K>(d, c); };
    const P one = C(1.0);
    const P two = C(2.0);
    const P ax = Abs(x);
    const auto large = Ge(ax, one);
    const P twice = Add(ax, ax);
    const auto small = Lt(ax, one);
    const Expm1Parts<DD, K> e = Expm1Core<Mode>(d, IfThenElse(large, twice, Neg(twice)), twice, small);
    // expm1(-2 |x|) takes k = 0, -1 (near) or -2, -3; expm1(2 |x|) k = 3 .. 56.
    const P ex = Sub(e.ek, e.x);
    const P scale = PowerOfTwo(d, e.k);
    const P inverseScale = PowerOfTwo(d, Neg(e.k));
    const P rMinus1 = Sub(Mul(C(0.5), Sub(e.x, e.ek)), C(0.5));
    const P rFar = Sub(Mul(Sub(one, ex), scale), one);
    const P rMid = Mul(Sub(Sub(one, inverseScale), ex), scale);
    const P rHigh = Mul(Add(Sub(e.x, Add(e.ek, inverseScale)), one), scale);
    const P below = IfThenElse(e.reduced, IfThenElse(e.near, rMinus1, rFar), e.r0);
    const P above = IfThenElse(Lt(e.k, C(20.0)), rMid, rHigh);
    const P t = IfThenElse(large, above, below);
    const P q = Div(IfThenElse(large, two, Neg(t)), Add(t, two));
    P z = IfThenElse(large, Sub(one, q), q);
    z = IfThenElse(Ge(ax, C(19.5)), one, z);
    return CopySign(z, x);
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

// ---- the breaking bracket ----

// A fit's polynomial by Estrin's scheme, for single numbers and registers
// with the same operations.
HWY_INLINE double FitPolynomial(const double* c, double s, double s2, double s4, double s8) {
    const double p03 = (c[0] + c[1] * s) + (c[2] + c[3] * s) * s2;
    const double p47 = (c[4] + c[5] * s) + (c[6] + c[7] * s) * s2;
    return (p03 + p47 * s4) + (c[8] + c[9] * s) * s8;
}

// The same where the last two coefficients are 0 (the whole bracket's fit):
// the sum above without its last term, which is 0.
HWY_INLINE double FitPolynomial7(const double* c, double s, double s2, double s4) {
    const double p03 = (c[0] + c[1] * s) + (c[2] + c[3] * s) * s2;
    const double p47 = (c[4] + c[5] * s) + (c[6] + c[7] * s) * s2;
    return p03 + p47 * s4;
}

// The same for registers, each lane with the coefficients of its own piece:
// the fit's row starts offset[j] doubles past fit in register j.
template <std::size_t K, class VI>
HWY_INLINE Pack<D, K> FitPolynomial(const double* fit, const VI* offset, const Pack<D, K>& s,
                                    const Pack<D, K>& s2, const Pack<D, K>& s4, const Pack<D, K>& s8) {
    const D d;
    const auto c = [&](int m) HWY_ATTR QAV_INLINE_LAMBDA {
        Pack<D, K> r;
        for (std::size_t j = 0; j < K; ++j) r.v[j] = hn::GatherIndex(d, fit + m, offset[j]);
        return r;
    };
    const Pack<D, K> p03 = Add(Add(c(0), Mul(c(1), s)), Mul(Add(c(2), Mul(c(3), s)), s2));
    const Pack<D, K> p47 = Add(Add(c(4), Mul(c(5), s)), Mul(Add(c(6), Mul(c(7), s)), s2));
    return Add(Add(p03, Mul(p47, s4)), Mul(Add(c(8), Mul(c(9), s)), s8));
}

template <std::size_t K, class VI>
HWY_INLINE Pack<D, K> FitPolynomial7(const double* fit, const VI* offset, const Pack<D, K>& s, const Pack<D, K>& s2,
                                     const Pack<D, K>& s4) {
    const D d;
    const auto c = [&](int m) HWY_ATTR QAV_INLINE_LAMBDA {
        Pack<D, K> r;
        QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.v[j] = hn::GatherIndex(d, fit + m, offset[j]);
        return r;
    };
    const Pack<D, K> p03 = Add(Add(c(0), Mul(c(1), s)), Mul(Add(c(2), Mul(c(3), s)), s2));
    const Pack<D, K> p47 = Add(Add(c(4), Mul(c(5), s)), Mul(Add(c(6), Mul(c(7), s)), s2));
    return Add(p03, Mul(p47, s4));
}

HWY_INLINE double ToFloatAndBack(double x) { return static_cast<double>(static_cast<float>(x)); }

template <std::size_t K>
HWY_INLINE Pack<D, K> ToFloatAndBack(const Pack<D, K>& x) {
    const D d;
    const hn::Rebind<float, D> df;
    Pack<D, K> r;
    for (std::size_t j = 0; j < K; ++j) r.v[j] = hn::PromoteTo(d, hn::DemoteTo(df, x.v[j]));
    return r;
}

constexpr double PieceWidth = 1.0 / BracketFit::PerUnit;

// Past the whole bracket's fit (R above 3.55), 1 - erf(R) with erf(R)
// rounded to a double is found exactly from the fit of erfc: erfc(R) rounded
// to a multiple of 2^-53, which adding and taking away 0.75 does.
constexpr double MultipleOf2To53 = 0.75;
// The rounded bracket's own last rounding, relative.
constexpr double SumDoubt = 2.3e-16;

// h gamma at a point of depth h from the reference's wave number.
double ReferenceHGamma(double h, double omega, double inverseG);

// How far R may lie from the reference's R at a point, relative: R is h gamma
// / H, and a wave number from the plain tanh may differ from the
// reference's in its last bits: h gamma by at most 4 units in the last place,
// at 2.8 of 10^4 of 10^8 random points (bench/tanh_sweep.cpp), and R by one
// more half unit; the bound is 8 to 16 units.
constexpr double WaveNumberDoubt = 0x1p-48;

// How far the bracket, and each of its terms, may move when R does by
// WaveNumberDoubt, relative to itself: R |db / dR| / b stays below
// 2 R^2 + 4 for both terms.
HWY_INLINE double BracketShift(double R) { return (R * R * 2.0 + 4.0) * WaveNumberDoubt; }

// Past the fit the bracket's float is 0, up to where R^3 overflows.
HWY_INLINE bool ZeroPastFit(double R) { return R >= BracketFit::Limit && R < BracketFit::ZeroUpTo; }

// The bracket where the fits leave its float in doubt, or for R outside
// them: from the reference's R at the point (referenceR()), whose wave number
// comes from tanh rounded as glibc's, and the nearest erf and exp. So the
// float is the reference's wherever a last-bit difference of the wave number
// could have moved it.
template <class ReferenceR>
HWY_NOINLINE double SettledBracket(double R, const ReferenceR& referenceR) {
    if (ZeroPastFit(R)) return 0.0;
    const double reference = referenceR();
    return ZeroPastFit(reference) ? 0.0 : NearestRoundedBracket(reference);
}

// The piece of the bracket fit a march expects at its next point: R taken on
// by its last step from the point before.
struct PieceGuess {
    std::size_t piece = 0;
    double R = 0.0;  // of the point before
    // The same for the fits in y = R^2.
    std::size_t squarePiece = BracketSquareFit::First;
    double square = 0.0;
};

// The piece of R, for R in [0, Limit).
HWY_INLINE std::size_t PieceOf(double R) {
    const double u = R * BracketFit::PerUnit + IntegerShift;
    std::uint64_t bits;
    std::memcpy(&bits, &u, sizeof bits);
    return static_cast<std::size_t>(bits & BracketFit::PieceMask);
}

// The bracket of the breaking dissipation rounded to single precision, for one
// number: the float of the bracket formed from the nearest erf and exp. The
// fit settles it unless the fit lies too close to a boundary between two
// floats (or, for the first term, between two multiples of 2^-53), where
// exact_math.h forms it. The guessed piece nearly always is R's: its
// coefficients and centre are at hand before R is known, and are swapped for
// the piece of R only when that differs. The result does not depend on the
// guess.
template <class ReferenceR>
HWY_INLINE double RoundedBracket(double R, PieceGuess& next, const ReferenceR& referenceR) {
    if (HWY_UNLIKELY(!(R >= 0.0 && R < BracketFit::Limit))) return SettledBracket(R, referenceR);
    std::size_t guess = next.piece;
    double centre = static_cast<double>(guess) * PieceWidth;
    const std::size_t own = PieceOf(R);
    if (HWY_UNLIKELY(own != guess)) {
        guess = own;
        centre = static_cast<double>(own) * PieceWidth;
        // Keeps the compiler from selecting without a branch: the loads of
        // the guessed piece then start before R is known.
#if defined(__GNUC__)
        asm volatile("" : "+r"(guess), "+x"(centre));
#endif
    }
    // The next point's R, if R keeps its pace; its piece, if in the fit.
    const double ahead = R + (R - next.R);
    next.R = R;
    next.piece = ahead >= 0.0 && ahead < BracketFit::Limit ? PieceOf(ahead) : own;
    const double s = R - centre;
    const double s2 = s * s;
    const double s4 = s2 * s2;
    const double s8 = s4 * s4;
    const double shift = BracketShift(R);
    double b;
    double doubt;
    if (guess <= BracketFit::WholeUpTo) {
        // 1 - erf(R) rounded to a double is erfc(R) to within 2^-53.
        b = FitPolynomial7(&detail::ScaledBracket.one[guess][0], s, s2, s4);
        doubt = b * BracketFit::WholeTolerance + 0x1p-53 + b * shift;
    } else if (guess >= BracketFit::SecondFrom) {
        // 1 - erf(R) is 0.
        b = FitPolynomial(&detail::ScaledBracket.one[guess][0], s, s2, s4, s8);
        doubt = b * BracketFit::Tolerance + b * SumDoubt + b * shift;
    } else {
        const double* c = &detail::ScaledBracket.coefficient[guess][0];
        const double erfc = FitPolynomial(c, s, s2, s4, s8);
        const double second = FitPolynomial(c + BracketFit::Terms, s, s2, s4, s8);
        // 1 - erf(R) is erfc(R) rounded to a multiple of 2^-53.
        const double first = (erfc + MultipleOf2To53) - MultipleOf2To53;
        if (HWY_UNLIKELY(
                !(std::fabs(erfc - first) < 0x1p-54 - erfc * BracketFit::ErfcTolerance - erfc * shift))) {
            return SettledBracket(R, referenceR);
        }
        b = first + second;
        doubt = second * BracketFit::Tolerance + b * SumDoubt + b * shift;
    }
    if (HWY_LIKELY(ToFloatAndBack(b - doubt) == ToFloatAndBack(b + doubt))) return ToFloatAndBack(b);
    return SettledBracket(R, referenceR);
}

// Degree 5 by Estrin's scheme (the fits in y).
HWY_INLINE double FitPolynomial5(const double* c, double s, double s2, double s4) {
    return ((c[0] + c[1] * s) + (c[2] + c[3] * s) * s2) + (c[4] + c[5] * s) * s4;
}

// The piece of y in the fits in y, for y in [1, 121).
HWY_INLINE std::size_t SquarePieceOf(double y) {
    const double u = y * BracketSquareFit::PerUnit + IntegerShift;
    std::uint64_t bits;
    std::memcpy(&bits, &u, sizeof bits);
    return static_cast<std::size_t>(bits & BracketSquareFit::PieceMask);
}

// How far the y a march has early may lie from (h gamma / H)^2, relative;
// checked at every point.
constexpr double EarlySquareDoubt = 0x1p-49;
// How far y may lie from the square of the reference's R, relative: the
// above, the roundings of the check and of R, and twice WaveNumberDoubt, with
// room to spare.
constexpr double SquareDoubt = 0x1p-46;
// How far the bracket, and each of its terms, may move when y does by
// SquareDoubt, relative to itself: y |db / dy| / b = R |db / dR| / (2 b) stays
// below y + 2.
HWY_INLINE double SquareShift(double y) { return (y + 2.0) * SquareDoubt; }

template <class ReferenceR>
HWY_NOINLINE double BracketAtR(double R, PieceGuess& next, const ReferenceR& referenceR) {
    return RoundedBracket(R, next, referenceR);
}

// RoundedBracket at R = hGamma / H from y, a number that the march has before
// H and that lies within EarlySquareDoubt of R^2 (its energy flux gives R^2
// one division after it, H two and a square root): the fits in y wait for
// neither, and R's division is needed only where they do not settle the
// float. Where y lies outside the fits in y or farther from R^2, the fits in R
// are evaluated at R. The result depends on neither y nor the guess.
template <class ReferenceR>
HWY_INLINE double RoundedBracketOfSquare(double y, double hGamma, double H, PieceGuess& next,
                                         const ReferenceR& referenceR) {
    constexpr double From = BracketSquareFit::First / BracketSquareFit::PerUnit;
    constexpr double Below = BracketFit::Limit * BracketFit::Limit;
    if (HWY_UNLIKELY(!(y >= From && y < Below))) {
        // Past the fits the bracket's float is 0 (from R = 10.6 on), up to
        // where R^3 overflows.
        const double yH2 = y * (H * H);
        if (y >= Below && y < BracketFit::ZeroUpTo * BracketFit::ZeroUpTo &&
            std::fabs(yH2 - hGamma * hGamma) < yH2 * EarlySquareDoubt) {
            return 0.0;
        }
        return BracketAtR(hGamma / H, next, referenceR);
    }
    std::size_t guess = next.squarePiece;
    double centre = static_cast<double>(guess) * (1.0 / BracketSquareFit::PerUnit);
    const std::size_t own = SquarePieceOf(y);
    if (HWY_UNLIKELY(own != guess)) {
        guess = own;
        centre = static_cast<double>(own) * (1.0 / BracketSquareFit::PerUnit);
#if defined(__GNUC__)
        asm volatile("" : "+r"(guess), "+x"(centre));
#endif
    }
    const double ahead = y + (y - next.square);
    next.square = y;
    next.squarePiece = ahead >= From && ahead < Below ? SquarePieceOf(ahead) : own;
    const double s = y - centre;
    const double s2 = s * s;
    const double s4 = s2 * s2;
    const double shift = SquareShift(y);
    double b;
    double doubt;
    if (guess <= BracketSquareFit::WholeUpTo) {
        b = FitPolynomial5(&detail::ScaledSquareBracket.one[guess][0], s, s2, s4);
        doubt = b * BracketSquareFit::WholeTolerance + 0x1p-53 + b * shift;
    } else if (guess >= BracketSquareFit::SecondFrom) {
        b = FitPolynomial5(&detail::ScaledSquareBracket.one[guess][0], s, s2, s4);
        doubt = b * BracketSquareFit::Tolerance + b * SumDoubt + b * shift;
    } else {
        const double* c = &detail::ScaledSquareBracket.two[guess - BracketSquareFit::WholeUpTo - 1][0];
        const double erfc = FitPolynomial5(c, s, s2, s4);
        const double second = FitPolynomial5(c + BracketSquareFit::Terms, s, s2, s4);
        const double first = (erfc + MultipleOf2To53) - MultipleOf2To53;
        if (HWY_UNLIKELY(!(std::fabs(erfc - first) <
                           0x1p-54 - erfc * BracketSquareFit::ErfcTolerance - erfc * shift))) {
            return BracketAtR(hGamma / H, next, referenceR);
        }
        b = first + second;
        doubt = second * BracketSquareFit::Tolerance + b * SumDoubt + b * shift;
    }
    // y H^2 against (h gamma)^2, without a division; the strict comparison
    // fails for infinities and NaN.
    const double yH2 = y * (H * H);
    if (HWY_LIKELY(ToFloatAndBack(b - doubt) == ToFloatAndBack(b + doubt) &&
                   std::fabs(yH2 - hGamma * hGamma) < yH2 * EarlySquareDoubt)) {
        return ToFloatAndBack(b);
    }
    return BracketAtR(hGamma / H, next, referenceR);
}

// The lanes of open settled by SettledBracket, at points of depth h with
// height H and angular frequency omega.
HWY_NOINLINE V SettleBracketLanes(V Q, V R, V H, V h, V omega, double inverseG, M open) {
    const D d;
    HWY_ALIGN double q[MaxLanes];
    HWY_ALIGN double rs[MaxLanes];
    HWY_ALIGN double hs[MaxLanes];
    HWY_ALIGN double depths[MaxLanes];
    HWY_ALIGN double omegas[MaxLanes];
    std::uint8_t bits[(MaxLanes + 7) / 8] = {};
    hn::Store(Q, d, q);
    hn::Store(R, d, rs);
    hn::Store(H, d, hs);
    hn::Store(h, d, depths);
    hn::Store(omega, d, omegas);
    hn::StoreMaskBits(d, open, bits);
    for (std::size_t l = 0; l < hn::Lanes(d); ++l) {
        if ((bits[l / 8] >> (l % 8)) & 1u) {
            q[l] = SettledBracket(rs[l],
                                  [&] { return ReferenceHGamma(depths[l], omegas[l], inverseG) / hs[l]; });
        }
    }
    return hn::Load(d, q);
}

// The pieces of the bracket fit a lane march expects at its next row, found
// as the single step finds its own: R taken on by its last step from the row
// before. Their coefficients are gathered before R is known; the row checks
// the guess against R's own pieces and takes those instead where any lane
// looked at differs. The result does not depend on the guess.
template <std::size_t K>
struct LanePieceGuess {
    using VI = hn::Vec<hn::RebindToSigned<D>>;
    HWY_ATTR LanePieceGuess() {}
    VI piece[K];
    Pack<D, K> R;  // of the row before
    // Which of the fit's polynomials the guessed pieces of the lanes looked
    // at in the row before need: the whole bracket's only, or one per lane.
    bool onePolynomial;
    bool allWhole;
};

// RoundedBracket for registers of R = h gamma / H at points of depth h, with
// angular frequencies omega; lanes outside active are not looked at. Where no
// lane lies between the whole bracket's fit and the second term's alone, one
// polynomial serves every lane.
template <std::size_t K>
HWY_INLINE Pack<D, K> RoundedBracket(const Pack<D, K>& R, const Pack<D, K>& H, const Pack<D, K>& h,
                                     const Pack<D, K>& omega, double inverseG, const MaskPack<D, K>& active,
                                     LanePieceGuess<K>& next) {
    using P = Pack<D, K>;
    using VI = hn::Vec<hn::RebindToSigned<D>>;
    const D d;
    const hn::RebindToSigned<D> di;
    const auto C = [d](double c) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<K>(d, c); };
    const P shift = C(IntegerShift);
    const auto inFit = And(Ge(R, C(0.0)), Lt(R, C(BracketFit::Limit)));
    const P r = IfThenElseZero(inFit, R);
    const P u = Add(Mul(r, C(BracketFit::PerUnit)), shift);
    const auto pieceOf = [&](const Pack<D, K>& units, VI* pieces) HWY_ATTR QAV_INLINE_LAMBDA {
        for (std::size_t j = 0; j < K; ++j) {
            pieces[j] = hn::And(hn::BitCast(di, units.v[j]), hn::Set(di, static_cast<std::int64_t>(BracketFit::PieceMask)));
        }
    };
    const auto wholeOf = [&](const VI* pieces) HWY_ATTR QAV_INLINE_LAMBDA {
        MaskPack<D, K> whole;
        for (std::size_t j = 0; j < K; ++j) {
            whole.m[j] = hn::RebindMask(d, hn::Lt(pieces[j], hn::Set(di, BracketFit::WholeUpTo + 1)));
        }
        return whole;
    };
    // Which polynomials the pieces of the lanes in looked need.
    const auto familyOf = [&](const VI* pieces, const MaskPack<D, K>& whole, const MaskPack<D, K>& looked,
                              bool& onePolynomial, bool& allWhole) HWY_ATTR QAV_INLINE_LAMBDA {
        onePolynomial = true;
        allWhole = true;
        for (std::size_t j = 0; j < K; ++j) {
            const auto second = hn::RebindMask(d, hn::Gt(pieces[j], hn::Set(di, BracketFit::SecondFrom - 1)));
            onePolynomial = onePolynomial && hn::AllFalse(d, hn::AndNot(hn::Or(whole.m[j], second), looked.m[j]));
            allWhole = allWhole && hn::AllFalse(d, hn::AndNot(whole.m[j], looked.m[j]));
        }
    };
    VI pieces[K];
    pieceOf(u, pieces);
    const MaskPack<D, K> looked = And(active, inFit);
    bool onePolynomial;
    bool allWhole;
    const MaskPack<D, K> whole = wholeOf(pieces);
    familyOf(pieces, whole, looked, onePolynomial, allWhole);
    // The guess holds where every lane looked at is in its guessed piece and
    // the guessed polynomials serve them all.
    bool guessed = (onePolynomial || !next.onePolynomial) && (allWhole || !next.allWhole);
    for (std::size_t j = 0; j < K; ++j) {
        guessed = guessed && hn::AllFalse(d, hn::AndNot(hn::RebindMask(d, hn::Eq(pieces[j], next.piece[j])), looked.m[j]));
    }
    const VI* used = pieces;
    MaskPack<D, K> usedWhole = whole;
    // R's place in its piece: from the guessed piece's centre, known before
    // R, the same number as from R's own piece where the guess holds.
    P s;
    if (HWY_LIKELY(guessed)) {
        used = next.piece;
        usedWhole = wholeOf(next.piece);
        onePolynomial = next.onePolynomial;
        allWhole = next.allWhole;
        P centre;
        for (std::size_t j = 0; j < K; ++j) centre.v[j] = hn::Mul(hn::ConvertTo(d, next.piece[j]), hn::Set(d, PieceWidth));
        s = Sub(r, centre);
    } else {
        s = Sub(r, Mul(Sub(u, shift), C(PieceWidth)));
    }
    const P s2 = Mul(s, s);
    const P s4 = Mul(s2, s2);
    const P s8 = Mul(s4, s4);
    // BracketShift of R.
    const P bracketShift = Mul(Add(Mul(Mul(R, R), C(2.0)), C(4.0)), C(WaveNumberDoubt));
    P b;
    P doubt;
    MaskPack<D, K> ambiguous;
    if (onePolynomial) {
        // 10 j = 8 j + 2 j.
        static_assert(BracketFit::Terms == 10, "offsets are 10 times the piece");
        VI offsets[K];
        for (std::size_t j = 0; j < K; ++j) offsets[j] = hn::Add(hn::ShiftLeft<3>(used[j]), hn::ShiftLeft<1>(used[j]));
        if (allWhole) {
            b = FitPolynomial7<K>(&detail::ScaledBracket.one[0][0], offsets, s, s2, s4);
        } else {
            b = FitPolynomial<K>(&detail::ScaledBracket.one[0][0], offsets, s, s2, s4, s8);
        }
        doubt = IfThenElse(usedWhole, Add(Mul(b, C(BracketFit::WholeTolerance)), C(0x1p-53)),
                           Add(Mul(b, C(BracketFit::Tolerance)), Mul(b, C(SumDoubt))));
        doubt = Add(doubt, Mul(b, bracketShift));
        ambiguous = Lt(C(0.0), C(0.0));
    } else {
        // 20 j = 16 j + 4 j.
        static_assert(BracketFit::Stride == 20, "offsets are 20 times the piece");
        VI offsets[K];
        for (std::size_t j = 0; j < K; ++j) offsets[j] = hn::Add(hn::ShiftLeft<4>(used[j]), hn::ShiftLeft<2>(used[j]));
        const double* fit = &detail::ScaledBracket.coefficient[0][0];
        const P erfc = FitPolynomial<K>(fit, offsets, s, s2, s4, s8);
        const P second = FitPolynomial<K>(fit + BracketFit::Terms, offsets, s, s2, s4, s8);
        // Past the whole bracket's pieces, 1 - erf(R) is erfc(R) rounded to a
        // multiple of 2^-53; before, erfc(R) to within 2^-53.
        const P multiple = C(MultipleOf2To53);
        const P first = IfThenElse(usedWhole, erfc, Sub(Add(erfc, multiple), multiple));
        const P erfcTolerance = C(BracketFit::ErfcTolerance);
        ambiguous = AndNot(usedWhole, Ge(Abs(Sub(erfc, first)), Sub(Sub(C(0x1p-54), Mul(erfc, erfcTolerance)),
                                                                    Mul(erfc, bracketShift))));
        b = Add(first, second);
        doubt = Add(Add(Mul(second, C(BracketFit::Tolerance)), Mul(b, C(SumDoubt))), Mul(b, bracketShift));
        doubt = IfThenElse(usedWhole, Add(doubt, Add(Mul(erfc, erfcTolerance), C(0x1p-53))), doubt);
    }
    const auto settled = AndNot(ambiguous, Eq(ToFloatAndBack(Sub(b, doubt)), ToFloatAndBack(Add(b, doubt))));
    const auto taken = And(inFit, settled);
    P Q = IfThenElseZero(taken, ToFloatAndBack(b));
    const auto open = AndNot(taken, active);
    for (std::size_t j = 0; j < K; ++j) {
        if (HWY_UNLIKELY(!hn::AllFalse(d, open.m[j]))) {
            Q.v[j] = SettleBracketLanes(Q.v[j], R.v[j], H.v[j], h.v[j], omega.v[j], inverseG, open.m[j]);
        }
    }

    // The next row's pieces, if R keeps its pace: R's own where that leaves
    // the fit.
    const P ahead = Add(R, Sub(R, next.R));
    const auto aheadInFit = And(Ge(ahead, C(0.0)), Lt(ahead, C(BracketFit::Limit)));
    VI aheadPieces[K];
    pieceOf(Add(Mul(IfThenElseZero(aheadInFit, ahead), C(BracketFit::PerUnit)), shift), aheadPieces);
    for (std::size_t j = 0; j < K; ++j) {
        next.piece[j] = hn::IfThenElse(hn::RebindMask(di, aheadInFit.m[j]), aheadPieces[j], pieces[j]);
    }
    next.R = R;
    familyOf(next.piece, wholeOf(next.piece), looked, next.onePolynomial, next.allWhole);
    return Q;
}

// ---- wave numbers and the quantities of a point ----

template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> Depth(DD d, const Pack<DD, K>& bottom, const Pack<DD, K>& Wlev) {
    const Pack<DD, K> minimum = Constant<K>(d, MinimumWaterDepth);
    const Pack<DD, K> depth = Sub(Wlev, bottom);
    // A dry point, or a NaN difference, keeps the minimum depth.
    return IfThenElse(Gt(depth, minimum), depth, minimum);
}

// One Halley step of WaveNumber on x = k h, given T = tanh(x).
template <class DD, std::size_t K>
HWY_INLINE Pack<DD, K> HalleyStep(DD d, const Pack<DD, K>& x, const Pack<DD, K>& T, const Pack<DD, K>& deep) {
    using P = Pack<DD, K>;
    const P one = Constant<K>(d, 1.0);
    const P sech2 = Sub(one, Mul(T, T));
    const P halfSlope = Mul(Add(Mul(sech2, x), T), Constant<K>(d, 0.5));
    const P Tx = Mul(T, x);
    const P f = Sub(Tx, deep);
    const P curvature = Mul(Mul(Sub(Tx, one), sech2), f);
    const P root = Sqrt(Add(curvature, Mul(halfSlope, halfSlope)));
    return Sub(x, Div(f, Add(root, halfSlope)));
}

// The wave number of a point of depth h by the two Halley steps of the stages
// below, one point at a time, with tanh rounded as Mode says: Plain gives the
// stages' own wave number, AsGlibc the reference march's.
template <Rounding Mode>
double WaveNumberOf(double h, double omega, double inverseG) {
    const hn::CappedTag<double, 1> d1;
    const auto C = [d1](double v) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<1>(d1, v); };
    const auto vh = C(h);
    const auto vOmega = C(omega);
    const auto deep = Mul(Mul(vh, Mul(vOmega, vOmega)), C(inverseG));
    const auto x = HalleyStep(d1, deep, Tanh<Mode>(d1, deep), deep);
    const double q = hn::GetLane(Div(HalleyStep(d1, x, Tanh<Mode>(d1, x), deep), vh).v[0]);
    return omega >= 0.0 ? q : -q;
}

// The toe direction of a step from the reference's wave numbers at its first
// point (depth hFirst) and its last (hLast): near grazing incidence a wave
// number a few units in the last place off would move the direction far more
// than that.
double ToeDirection(double DikeNormal, double IncomingWaveAngle, double omega, double inverseG, double hFirst,
                    double hLast) {
    const double kFirst = WaveNumberOf<Rounding::AsGlibc>(hFirst, omega, inverseG);
    const double kLast = hLast == hFirst ? kFirst : WaveNumberOf<Rounding::AsGlibc>(hLast, omega, inverseG);
    return NearestRefractedWaveDirection(DikeNormal, IncomingWaveAngle, omega / kFirst, omega / kLast);
}

double ReferenceHGamma(double h, double omega, double inverseG) {
    return h * (WaveNumberOf<Rounding::AsGlibc>(h, omega, inverseG) * 0.76 * h + 0.29);
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

// The constants of K registers of lanes: omega, omega^2 and Tp.
template <class DD, std::size_t K>
struct Periods {
    Pack<DD, K> omega, omega2, Tp;
};

// The wave numbers of K registers of points from x = k h after the second
// Halley step, and the quantities that follow, stored at entry at (register
// j at + j stride).
template <class DD, std::size_t K, std::size_t Entries>
HWY_INLINE void StoreQuantities(DD d, const Pack<DD, K>& h, const Pack<DD, K>& x, const Periods<DD, K>& w,
                                const Constants& c, QuantityRing<Entries>& ring, std::size_t at, std::size_t stride) {
    using P = Pack<DD, K>;
    const auto C = [d](double v) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<K>(d, v); };
    // -x / h is the negated x / h: the quotient's sign does not change its rounding.
    const P q = Div(x, h);
    const P k = IfThenElse(Ge(w.omega, C(0.0)), q, Neg(q));
    // t stands for tanh(k h), from the dispersion relation.
    const P t = Div(w.omega2, Mul(k, C(c.g)));
    const P sech2 = Sub(C(1.0), Mul(t, t));
    const P n = Add(Div(Mul(sech2, Mul(h, k)), Add(t, t)), C(0.5));
    const P gamma = Add(Mul(Mul(k, C(0.76)), h), C(0.29));
    StorePack(d, h, ring.h + at, stride);
    StorePack(d, k, ring.k + at, stride);
    StorePack(d, Div(Mul(n, C(TwoPi)), Mul(w.Tp, k)), ring.cg + at, stride);
    StorePack(d, Mul(h, gamma), ring.hGamma + at, stride);
    // sqrt(max(1 - t^2, 0)) as std::max has it: a NaN stays NaN.
    StorePack(d, Sqrt(IfThenElse(Lt(sech2, C(0.0)), C(0.0), sech2)), ring.sech + at, stride);
    StorePack(d, Mul(t, w.Tp), ring.tTp + at, stride);
}

// The wave numbers of K registers of depths, in three stages of about equal
// work that a march runs between the points of its chain, each long after the
// one before has finished. In between, the stages keep their values here.
template <std::size_t K>
struct StageValues {
    HWY_ALIGN double h[K][MaxLanes];
    HWY_ALIGN double deep[K][MaxLanes];
    HWY_ALIGN double x[K][MaxLanes];
    HWY_ALIGN double T[K][MaxLanes];
};

// The depths, the deep-water start and the first tanh.
template <class DD, std::size_t K>
HWY_INLINE void FirstStage(DD d, const Pack<DD, K>& bottom, const Pack<DD, K>& Wlev, const Periods<DD, K>& w,
                           double inverseG, StageValues<K>& v) {
    const Pack<DD, K> h = Depth(d, bottom, Wlev);
    const Pack<DD, K> deep = Mul(Mul(h, Mul(w.omega, w.omega)), Constant<K>(d, inverseG));
    StorePack(d, h, &v.h[0][0], MaxLanes);
    StorePack(d, deep, &v.deep[0][0], MaxLanes);
    StorePack(d, Tanh<Rounding::Plain>(d, deep), &v.T[0][0], MaxLanes);
}

// The first Halley step and the second tanh.
template <class DD, std::size_t K>
HWY_INLINE void SecondStage(DD d, StageValues<K>& v) {
    const Pack<DD, K> deep = LoadPack<K>(d, &v.deep[0][0], MaxLanes);
    const Pack<DD, K> x = HalleyStep(d, deep, LoadPack<K>(d, &v.T[0][0], MaxLanes), deep);
    StorePack(d, x, &v.x[0][0], MaxLanes);
    StorePack(d, Tanh<Rounding::Plain>(d, x), &v.T[0][0], MaxLanes);
}

// The second Halley step and the quantities of the points.
template <class DD, std::size_t K, std::size_t Entries>
HWY_INLINE void ThirdStage(DD d, const StageValues<K>& v, const Periods<DD, K>& w, const Constants& c,
                           QuantityRing<Entries>& ring, std::size_t at, std::size_t stride) {
    const Pack<DD, K> x = HalleyStep(d, LoadPack<K>(d, &v.x[0][0], MaxLanes), LoadPack<K>(d, &v.T[0][0], MaxLanes),
                                     LoadPack<K>(d, &v.deep[0][0], MaxLanes));
    StoreQuantities(d, LoadPack<K>(d, &v.h[0][0], MaxLanes), x, w, c, ring, at, stride);
}

// Energy, height, group velocity and dissipation at the offshore end of a
// time step, from its depth h0 and wave number k0.
struct Start {
    double E, H, cg, D;
    PieceGuess piece;  // of the bracket fit at the next point
};

Start FirstPoint(double Tp, double TransmittedHm0, double Fc, double omega, double omega2, double A,
                 double h0, double k0, const Constants& c) {
    Start s;
    const double t0 = omega2 / (k0 * c.g);
    s.cg = GroupVelocity(GroupVelocityRatioFromTanh(k0, h0, t0), k0, Tp);
    s.E = WaveEnergy(TransmittedHm0 * Hm0ToHrms, c);
    s.H = WaveHeightFromEnergy(s.E, c);
    const double R0 = BreakerHeightRatio(BreakerIndex(k0, h0), h0, s.H);
    s.piece.R = R0;
    // R from the reference's wave number at the first point.
    const auto referenceR0 = [&] {
        const double k = WaveNumberOf<Rounding::AsGlibc>(h0, omega, 1.0 / c.g);
        return BreakerHeightRatio(BreakerIndex(k, h0), h0, s.H);
    };
    const double Db = RoundedBracket(R0, s.piece, referenceR0) * (s.H * s.H * s.H * A) / h0;
    const double u = (s.H * Pi) / (Sinh(h0 * k0) * Tp);
    s.D = Db + u * u * u * (c.rho * TwoOverThreePi * Fc);
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

// The single step's registers hold at most four points: a wider register
// would only make the chain wait longer for the divisions of its wave
// numbers.
using DOne = hn::CappedTag<double, 4>;

// One time step, marched point after point. The quantities of the points come
// from a ring of 16 points. The stages of the wave numbers of register G
// (points G N .. G N + N - 1) run after points G N - 8, G N - 6 and G N - 4 of
// the chain: each stage well after the one before has finished, the last
// four points before the register's first point is marched. (Of the timings
// tried, this one left the chain the most room.)
ToeWaves MarchOne(const detail::SingleStep& s, detail::LevelBlocks levels, const Constants& c) {
    const std::size_t P = s.points;
    if (P == 0) return {std::nan(""), std::nan("")};
    const DOne d;
    using POne = Pack<DOne, 1>;
    const std::size_t N = hn::Lanes(d);
    const double f = 1.0 / s.Tp;
    const double omega = f * TwoPi;
    const double omega2 = omega * omega;
    const double A = s.Alpha * ThreeSqrtPiOver16 * c.rho * c.g * f;
    const double friction = c.rho * TwoOverThreePi * s.Fc;
    const double gRho = c.g * c.rho;
    const double gRhoEighth = gRho * 0.125;
    const double quotientFormBelow = QuotientFormBelow(gRho);
    const double inverseG = 1.0 / c.g;

    constexpr std::size_t RingPoints = 16;
    constexpr std::size_t Lead = 8;
    constexpr std::size_t SecondAfter = 2;
    constexpr std::size_t ThirdAfter = 4;
    static_assert(RingPoints >= Lead + 1 + 4 && Lead >= ThirdAfter + 3, "ring and stages");
    QuantityRing<RingPoints> ring;
    constexpr std::size_t StageEntries = 16;
    StageValues<1> stages[StageEntries];  // register G's in stages[G % StageEntries]
    PointReader reader(levels, P);
    const POne vWlev = Constant<1>(d, s.Wlev);
    const Periods<DOne, 1> periods{Constant<1>(d, omega), Constant<1>(d, omega2), Constant<1>(d, s.Tp)};
    const auto levelsOf = [&](std::size_t g) HWY_ATTR QAV_INLINE_LAMBDA {
        POne bottom;
        bottom.v[0] = reader.Group(d, g * N);
        return bottom;
    };
    const std::size_t groups = (P + N - 1) / N;
    // Registers whose first stage would come before the march: all at once.
    const std::size_t early = std::min(groups, (Lead + N) / N);
    for (std::size_t g = 0; g < early; ++g) FirstStage(d, levelsOf(g), vWlev, periods, inverseG, stages[g]);
    for (std::size_t g = 0; g < early; ++g) SecondStage(d, stages[g]);
    for (std::size_t g = 0; g < early; ++g) ThirdStage(d, stages[g], periods, c, ring, g * N, 0);

    const double hFirst = ring.h[0];
    // What the chain carries from point to point.
    const Start start = FirstPoint(s.Tp, s.TransmittedHm0, s.Fc, omega, omega2, A, ring.h[0], ring.k[0], c);
    double E = start.E;
    double H = start.H;
    double cgBehind = start.cg;
    double D = start.D;
    PieceGuess piece = start.piece;
    bool clamped = false;
    const double significant = ClampedEnergyShare * E;
    const std::size_t lanesMask = N - 1;  // N is a power of two
    for (std::size_t i = 1; i < P; ++i) {
        const std::size_t at = i & (RingPoints - 1);
        const double cgNext = ring.cg[at];
        // First-order upwind; a negative or NaN energy becomes 0.
        const double flux = cgBehind * E - D * s.gridStep;
        const double v = flux / cgNext;
        clamped = clamped || (v < 0.0 && E > significant && ring.h[at] > MinimumWaterDepth);
        E = v > 0.0 ? v : 0.0;
        cgBehind = cgNext;
        if (HWY_LIKELY(E > EnergyThreshold)) {
            if (HWY_LIKELY(E < quotientFormBelow)) {
                H = std::sqrt(E / gRhoEighth);
            } else {
                H = std::sqrt(E * 8.0 / gRho);
            }
            // R = h gamma / H with H^2 = E / (g rho / 8) and E = flux / cg:
            // R^2 = (h gamma)^2 cg (g rho / 8) / flux, a division after the
            // flux where R takes three and a square root.
            const double hGamma = ring.hGamma[at];
            const double Q =
                RoundedBracketOfSquare(hGamma * hGamma * cgNext * gRhoEighth / flux, hGamma, H, piece,
                                       [&] { return ReferenceHGamma(ring.h[at], omega, inverseG) / H; });
            const double Db = Q * (H * H * H * A) / ring.h[at];
            const double u = ring.sech[at] * (H * Pi) / ring.tTp[at];
            D = Db + u * u * u * friction;
        } else {
            H = 0.0;
            D = 0.0;
        }

        const std::size_t lead = i + Lead;
        if ((lead & lanesMask) == 0 && lead / N < groups) {
            const std::size_t g = lead / N;
            FirstStage(d, levelsOf(g), vWlev, periods, inverseG, stages[g % StageEntries]);
        }
        if (((lead - SecondAfter) & lanesMask) == 0) {
            const std::size_t g = (lead - SecondAfter) / N;
            if (g >= early && g < groups) SecondStage(d, stages[g % StageEntries]);
        }
        if (((lead - ThirdAfter) & lanesMask) == 0) {
            const std::size_t g = (lead - ThirdAfter) / N;
            if (g >= early && g < groups) {
                ThirdStage(d, stages[g % StageEntries], periods, c, ring, (g * N) & (RingPoints - 1), 0);
            }
        }
    }
    return {H * HrmsToHm0,
            ToeDirection(s.DikeNormal, s.IncomingWaveAngle, omega, inverseG, hFirst,
                         ring.h[(P - 1) & (RingPoints - 1)]),
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
// The groups' chains go side by side, and the stages of the wave numbers of
// row R (all groups side by side) run after rows R - 5 (first), R - 4
// (second) and R - 2 (third) of the chains.
template <std::size_t Groups>
void MarchLanes(double Alpha, double Fc, double DikeNormal, const LaneStep* steps, std::size_t count,
                detail::LevelBlocks rows, std::size_t stride, const Constants& c, ToeWaves* toe) {
    using P = Pack<D, Groups>;
    using MP = MaskPack<D, Groups>;
    const D d;
    const std::size_t N = hn::Lanes(d);
    const std::size_t L = Groups * N;
    const double inverseG = 1.0 / c.g;
    const auto C = [d](double v) HWY_ATTR QAV_INLINE_LAMBDA { return Constant<Groups>(d, v); };
    // Lane l of every per-lane value at l: register j at j N.
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
    const P vTp = LoadPack<Groups>(d, tp, N);
    const P f = Div(C(1.0), vTp);
    const P omega = Mul(f, C(TwoPi));
    const Periods<D, Groups> periods{omega, Mul(omega, omega), vTp};
    const P vWlev = LoadPack<Groups>(d, wlev, N);
    const P vDx = LoadPack<Groups>(d, dx, N);
    const P vPoints = LoadPack<Groups>(d, points, N);
    const P lastRow = Sub(vPoints, C(1.0));
    const P A = Mul(C(Alpha * ThreeSqrtPiOver16 * c.rho * c.g), f);
    RowReader reader(rows, longest, stride);

    // The wave numbers go two rows at a time: the registers of rows R and
    // R + 1 (R even) side by side. Their stages run after rows R - 6
    // (first), R - 5 (second) and R - 2 (third) of the chains, into a ring of
    // eight rows (row i at slot(i), rows R and R + 1 next to each other).
    constexpr std::size_t Pair = 2 * Groups;
    constexpr std::size_t RingRows = 8;
    constexpr std::size_t FirstLead = 6;
    constexpr std::size_t SecondLead = 5;
    constexpr std::size_t ThirdLead = 2;
    constexpr std::size_t Early = 8;  // rows computed before the march
    QuantityRing<RingRows * Groups * MaxLanes> ring;
    StageValues<Pair> stages[4];  // rows R, R + 1's in stages[R / 2 % 4]
    const auto slot = [N](std::size_t row) { return (row % RingRows) * Groups * N; };
    Pack<D, Pair> pairWlev;
    Periods<D, Pair> pairPeriods;
    QAV_EACH_REGISTER for (std::size_t j = 0; j < Pair; ++j) {
        pairWlev.v[j] = vWlev.v[j % Groups];
        pairPeriods.omega.v[j] = periods.omega.v[j % Groups];
        pairPeriods.omega2.v[j] = periods.omega2.v[j % Groups];
        pairPeriods.Tp.v[j] = periods.Tp.v[j % Groups];
    }
    const auto first = [&](std::size_t row) HWY_ATTR QAV_INLINE_LAMBDA {
        // A lane's rows past its end repeat its last level; row + 1 past the
        // longest lane repeats row.
        Pack<D, Pair> bottom;
        const double* levels = reader.Row(row);
        QAV_EACH_REGISTER for (std::size_t j = 0; j < Groups; ++j) bottom.v[j] = hn::LoadU(d, levels + j * N);
        if (row + 1 < longest) levels = reader.Row(row + 1);
        QAV_EACH_REGISTER for (std::size_t j = 0; j < Groups; ++j) bottom.v[Groups + j] = hn::LoadU(d, levels + j * N);
        FirstStage(d, bottom, pairWlev, pairPeriods, inverseG, stages[row / 2 % 4]);
    };
    const auto second = [&](std::size_t row) HWY_ATTR QAV_INLINE_LAMBDA { SecondStage(d, stages[row / 2 % 4]); };
    const auto third = [&](std::size_t row) HWY_ATTR QAV_INLINE_LAMBDA {
        ThirdStage(d, stages[row / 2 % 4], pairPeriods, c, ring, slot(row), N);
    };
    // Rows whose first stage would come before the march: all at once.
    for (std::size_t row = 0; row < Early && row < longest; row += 2) first(row);
    for (std::size_t row = 0; row < Early && row < longest; row += 2) second(row);
    for (std::size_t row = 0; row < Early && row < longest; row += 2) third(row);

    // The first point of every lane, as the single-step march has it.
    HWY_ALIGN double omegas[Groups * MaxLanes], omega2s[Groups * MaxLanes], As[Groups * MaxLanes];
    HWY_ALIGN double h0[Groups * MaxLanes], e0[Groups * MaxLanes], hrms0[Groups * MaxLanes],
        cg0[Groups * MaxLanes], d0[Groups * MaxLanes], significant[Groups * MaxLanes];
    StorePack(d, omega, omegas, N);
    StorePack(d, periods.omega2, omega2s, N);
    StorePack(d, A, As, N);
    for (std::size_t l = 0; l < L; ++l) {
        const LaneStep& s = steps[l < count ? l : 0];
        h0[l] = ring.h[slot(0) + l];
        const Start start = FirstPoint(tp[l], s.TransmittedHm0, Fc, omegas[l], omega2s[l], As[l], h0[l],
                                       ring.k[slot(0) + l], c);
        e0[l] = start.E;
        hrms0[l] = start.H;
        cg0[l] = start.cg;
        d0[l] = start.D;
        significant[l] = ClampedEnergyShare * start.E;
    }

    const P vSignificant = LoadPack<Groups>(d, significant, N);
    const P gRho = C(c.g * c.rho);
    const P gRhoEighth = C(c.g * c.rho * 0.125);
    const P quotientFormBelow = C(QuotientFormBelow(c.g * c.rho));
    const P friction = C(c.rho * TwoOverThreePi * Fc);
    const P zero = C(0.0);
    P E = LoadPack<Groups>(d, e0, N);
    P H = LoadPack<Groups>(d, hrms0, N);
    P cg = LoadPack<Groups>(d, cg0, N);
    P Dis = LoadPack<Groups>(d, d0, N);
    P hLast = LoadPack<Groups>(d, h0, N);
    MP clamped = Lt(zero, zero);
    LanePieceGuess<Groups> guess;
    for (std::size_t j = 0; j < Groups; ++j) guess.piece[j] = hn::Zero(hn::RebindToSigned<D>());
    guess.R = zero;
    guess.onePolynomial = false;
    guess.allWhole = false;
    for (std::size_t row = 1; row < longest; ++row) {
        const std::size_t at = slot(row);
        const P index = C(static_cast<double>(row));
        const MP active = Gt(vPoints, index);
        const P cgNext = LoadPack<Groups>(d, ring.cg + at, N);
        const P h = LoadPack<Groups>(d, ring.h + at, N);
        const P v = Div(Sub(Mul(cg, E), Mul(Dis, vDx)), cgNext);
        clamped = Or(clamped, And(And(active, Lt(v, zero)), And(Gt(E, vSignificant), Gt(h, C(MinimumWaterDepth)))));
        const P energy = IfThenElseZero(Gt(v, zero), v);
        const MP wet = Gt(energy, C(EnergyThreshold));
        P height = Sqrt(Div(energy, gRhoEighth));
        bool quotientForm = true;
        for (std::size_t j = 0; j < Groups; ++j) quotientForm = quotientForm && hn::AllTrue(d, hn::Lt(energy.v[j], quotientFormBelow.v[j]));
        if (HWY_UNLIKELY(!quotientForm)) height = Sqrt(Div(Mul(energy, C(8.0)), gRho));
        const P Q = RoundedBracket(Div(LoadPack<Groups>(d, ring.hGamma + at, N), height), height, h, omega,
                                   inverseG, And(active, wet), guess);
        const P Db = Div(Mul(Q, Mul(Mul(Mul(height, height), height), A)), h);
        const P u = Div(Mul(LoadPack<Groups>(d, ring.sech + at, N), Mul(height, C(Pi))),
                        LoadPack<Groups>(d, ring.tTp + at, N));
        const P Df = Mul(Mul(Mul(u, u), u), friction);
        E = IfThenElse(active, energy, E);
        cg = IfThenElse(active, cgNext, cg);
        Dis = IfThenElse(active, IfThenElseZero(wet, Add(Db, Df)), Dis);
        H = IfThenElse(active, IfThenElseZero(wet, height), H);
        // The depth of the lane's last point, for the toe direction.
        hLast = IfThenElse(Eq(index, lastRow), h, hLast);

        // Even rows: the first stage and the one of divisions; odd rows the
        // second.
        if (row % 2 == 0) {
            if (row + FirstLead < longest) first(row + FirstLead);
            if (row + ThirdLead >= Early && row + ThirdLead < longest) third(row + ThirdLead);
        } else if (row + SecondLead >= Early && row + SecondLead < longest) {
            second(row + SecondLead);
        }
    }

    HWY_ALIGN double heights[Groups * MaxLanes], hEnd[Groups * MaxLanes];
    std::uint8_t clampedBits[Groups][(MaxLanes + 7) / 8] = {};
    StorePack(d, H, heights, N);
    StorePack(d, hLast, hEnd, N);
    for (std::size_t j = 0; j < Groups; ++j) hn::StoreMaskBits(d, clamped.m[j], clampedBits[j]);
    for (std::size_t l = 0; l < count; ++l) {
        const std::size_t lane = l % N;
        toe[l] = {heights[l] * HrmsToHm0,
                  ToeDirection(DikeNormal, steps[l].IncomingWaveAngle, omegas[l], inverseG, h0[l], hEnd[l]),
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
