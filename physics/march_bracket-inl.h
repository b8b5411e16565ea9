// The breaking bracket of the march (roller_march.cpp) rounded to single
// precision: from the piecewise fits of bracket.h, settled from the
// reference's R where a fit leaves the float in doubt; the polynomials, the
// settling, and the bracket for registers of lanes (for one point:
// march_bracket_one-inl.h).

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "physics/bracket.h"
#include "physics/exact_math.h"

// Compiled once per target: foreach_target.h includes the march again for
// each instruction set, and this part with it.
#if defined(QAV_PHYSICS_MARCH_BRACKET_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QAV_PHYSICS_MARCH_BRACKET_INL_H_
#undef QAV_PHYSICS_MARCH_BRACKET_INL_H_
#else
#define QAV_PHYSICS_MARCH_BRACKET_INL_H_
#endif

#include <hwy/highway.h>
#include "physics/march_wave_number-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

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
    Pack<D, K> c[BracketFit::Terms];
    LoadRows(fit, offset, c);
    const Pack<D, K> p03 = Add(Add(c[0], Mul(c[1], s)), Mul(Add(c[2], Mul(c[3], s)), s2));
    const Pack<D, K> p47 = Add(Add(c[4], Mul(c[5], s)), Mul(Add(c[6], Mul(c[7], s)), s2));
    return Add(Add(p03, Mul(p47, s4)), Mul(Add(c[8], Mul(c[9], s)), s8));
}

template <std::size_t K, class VI>
HWY_INLINE Pack<D, K> FitPolynomial7(const double* fit, const VI* offset, const Pack<D, K>& s,
                                     const Pack<D, K>& s2, const Pack<D, K>& s4) {
    Pack<D, K> c[8];
    LoadRows(fit, offset, c);
    const Pack<D, K> p03 = Add(Add(c[0], Mul(c[1], s)), Mul(Add(c[2], Mul(c[3], s)), s2));
    const Pack<D, K> p47 = Add(Add(c[4], Mul(c[5], s)), Mul(Add(c[6], Mul(c[7], s)), s2));
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

// The pieces of the bracket fit a lane march expects at its next row: R
// taken on by its last step from the row before. Their coefficients are
// loaded before R is known; the row checks the guess against R's own pieces
// and takes those instead where any lane looked at differs. The result does
// not depend on the guess. Only AVX-512 guesses: its marches wait on the
// divider, and the guess's bookkeeping fills the time; with narrower
// registers the bookkeeping costs more than the early loads save (AVX2: a
// tenth of the instructions of a call of many steps).
#if HWY_ARCH_X86 && HWY_TARGET <= HWY_AVX3
constexpr bool GuessedPieces = true;
#else
constexpr bool GuessedPieces = false;
#endif

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
            pieces[j] = hn::And(hn::BitCast(di, units.v[j]),
                                hn::Set(di, static_cast<std::int64_t>(BracketFit::PieceMask)));
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
            onePolynomial =
                onePolynomial && hn::AllFalse(d, hn::AndNot(hn::Or(whole.m[j], second), looked.m[j]));
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
    bool guessed = GuessedPieces && (onePolynomial || !next.onePolynomial) && (allWhole || !next.allWhole);
    for (std::size_t j = 0; GuessedPieces && j < K; ++j) {
        guessed = guessed && hn::AllFalse(d, hn::AndNot(hn::RebindMask(d, hn::Eq(pieces[j], next.piece[j])),
                                                        looked.m[j]));
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
        for (std::size_t j = 0; j < K; ++j)
            centre.v[j] = hn::Mul(hn::ConvertTo(d, next.piece[j]), hn::Set(d, PieceWidth));
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
        for (std::size_t j = 0; j < K; ++j)
            offsets[j] = hn::Add(hn::ShiftLeft<3>(used[j]), hn::ShiftLeft<1>(used[j]));
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
        for (std::size_t j = 0; j < K; ++j)
            offsets[j] = hn::Add(hn::ShiftLeft<4>(used[j]), hn::ShiftLeft<2>(used[j]));
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

    if constexpr (GuessedPieces) {
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
    }
    return Q;
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#endif  // QAV_PHYSICS_MARCH_BRACKET_INL_H_
