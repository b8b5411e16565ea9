// Registers side by side (Pack, MaskPack) and their operations, for the
// march (roller_march.cpp): K registers of one computation carried out
// operation by operation, and products with their rounding errors from
// basic operations.

#include <cstddef>
#include <cstdint>

// Compiled once per target: foreach_target.h includes the march again for
// each instruction set, and this part with it.
#if defined(QAV_PHYSICS_MARCH_PACKS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QAV_PHYSICS_MARCH_PACKS_INL_H_
#undef QAV_PHYSICS_MARCH_PACKS_INL_H_
#else
#define QAV_PHYSICS_MARCH_PACKS_INL_H_
#endif

#include <hwy/highway.h>

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

#define QAV_PACK_UNARY(Name)                                                             \
    template <class DD, std::size_t K>                                                   \
    HWY_INLINE Pack<DD, K> Name(const Pack<DD, K>& a) {                                  \
        Pack<DD, K> r;                                                                   \
        QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.v[j] = hn::Name(a.v[j]); \
        return r;                                                                        \
    }
#define QAV_PACK_BINARY(Name, Result, Member, Operand)                                                \
    template <class DD, std::size_t K>                                                                \
    HWY_INLINE Result<DD, K> Name(const Operand<DD, K>& a, const Operand<DD, K>& b) {                 \
        Result<DD, K> r;                                                                              \
        QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.Member[j] = hn::Name(a.v[j], b.v[j]); \
        return r;                                                                                     \
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

#define QAV_MASK_BINARY(Name)                                                                    \
    template <class DD, std::size_t K>                                                           \
    HWY_INLINE MaskPack<DD, K> Name(const MaskPack<DD, K>& a, const MaskPack<DD, K>& b) {        \
        MaskPack<DD, K> r;                                                                       \
        QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) r.m[j] = hn::Name(a.m[j], b.m[j]); \
        return r;                                                                                \
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
// or times tail, is exact; tail times tail rounds away less than 2^-103 of
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
    return Add(Add(Add(Sub(Mul(a.head, b.head), p), Mul(a.head, b.tail)), Mul(a.tail, b.head)),
               Mul(a.tail, b.tail));
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

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#endif  // QAV_PHYSICS_MARCH_PACKS_INL_H_
