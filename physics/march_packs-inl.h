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

// ---- rows of a table, one per lane ----

// The N x N numbers of r (row l in register l) transposed in registers:
// number m of every row in register m.
HWY_INLINE void Transpose(V* r) {
#if HWY_TARGET == HWY_SCALAR
    (void)r;  // one number
#else
    const D d;
    constexpr std::size_t N = hn::MaxLanes(D());
    if constexpr (N == 4) {
        // Pairs within the 128-bit halves, then the halves.
        const V t0 = hn::InterleaveLower(d, r[0], r[1]);
        const V t1 = hn::InterleaveUpper(d, r[0], r[1]);
        const V t2 = hn::InterleaveLower(d, r[2], r[3]);
        const V t3 = hn::InterleaveUpper(d, r[2], r[3]);
        r[0] = hn::ConcatLowerLower(d, t2, t0);
        r[1] = hn::ConcatLowerLower(d, t3, t1);
        r[2] = hn::ConcatUpperUpper(d, t2, t0);
        r[3] = hn::ConcatUpperUpper(d, t3, t1);
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
    } else if constexpr (N == 8) {
        // Pairs within the 128-bit blocks, then the 4 x 4 blocks in two
        // rounds of block shuffles.
        V t[8];
        QAV_EACH_REGISTER for (std::size_t i = 0; i < 8; i += 2) {
            t[i] = hn::InterleaveLower(d, r[i], r[i + 1]);
            t[i + 1] = hn::InterleaveUpper(d, r[i], r[i + 1]);
        }
        // Blocks 0 and 2 of a, then of b; blocks 1 and 3 of a, then of b.
        const auto even = [](V a, V b) HWY_ATTR QAV_INLINE_LAMBDA {
            return V{_mm512_shuffle_f64x2(a.raw, b.raw, 0x88)};
        };
        const auto odd = [](V a, V b) HWY_ATTR QAV_INLINE_LAMBDA {
            return V{_mm512_shuffle_f64x2(a.raw, b.raw, 0xdd)};
        };
        QAV_EACH_REGISTER for (std::size_t i = 0; i < 2; ++i) {
            const V u0 = even(t[i], t[i + 2]);
            const V u1 = odd(t[i], t[i + 2]);
            const V u2 = even(t[i + 4], t[i + 6]);
            const V u3 = odd(t[i + 4], t[i + 6]);
            r[i] = even(u0, u2);
            r[i + 4] = odd(u0, u2);
            r[i + 2] = even(u1, u3);
            r[i + 6] = odd(u1, u3);
        }
#endif
    } else if constexpr (N > 1) {
        // Read as one array of N^2 numbers, row after row, a transpose
        // rotates the bits of a number's index by log2 N; unzipping the array
        // (even numbers first, then odd ones) rotates them by one.
        for (std::size_t round = 1; round < N; round *= 2) {
            V u[N];
            QAV_EACH_REGISTER for (std::size_t i = 0; i < N / 2; ++i) {
                u[i] = hn::ConcatEven(d, r[2 * i + 1], r[2 * i]);
                u[i + N / 2] = hn::ConcatOdd(d, r[2 * i + 1], r[2 * i]);
            }
            QAV_EACH_REGISTER for (std::size_t i = 0; i < N; ++i) r[i] = u[i];
        }
    }
#endif
}

// Numbers 0 .. Count - 1 of rows of a table, lane l's row starting at the
// offset in lane l (in doubles past table), one register per number. Each
// row is loaded whole, N numbers at a time, and transposed in registers: N
// loads for N numbers of every lane, where a gather per number loads them one
// by one. The loads read up to N - 1 numbers past a row's Count, which the
// table must hold.
template <std::size_t Count, class VI>
HWY_INLINE void LoadRows(const double* table, const VI& offset, V (&c)[Count]) {
    const D d;
    constexpr std::size_t N = hn::MaxLanes(D());
    HWY_ALIGN std::int64_t at[N];
    hn::Store(offset, hn::RebindToSigned<D>(), at);
    QAV_EACH_REGISTER for (std::size_t first = 0; first < Count; first += N) {
        V r[N];
        QAV_EACH_REGISTER for (std::size_t l = 0; l < N; ++l) r[l] = hn::LoadU(d, table + at[l] + first);
        Transpose(r);
        QAV_EACH_REGISTER for (std::size_t m = 0; m < N; ++m) {
            if (first + m < Count) c[first + m] = r[m];
        }
    }
}

// The same for K registers of lanes: number m of register j's lanes in
// c[m].v[j].
template <std::size_t Count, std::size_t K, class VI>
HWY_INLINE void LoadRows(const double* table, const VI* offset, Pack<D, K> (&c)[Count]) {
    QAV_EACH_REGISTER for (std::size_t j = 0; j < K; ++j) {
        V row[Count];
        LoadRows(table, offset[j], row);
        QAV_EACH_REGISTER for (std::size_t m = 0; m < Count; ++m) c[m].v[j] = row[m];
    }
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
