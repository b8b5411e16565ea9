// The breaking bracket for one point, rounded to single precision: from the
// fits in R (RoundedBracket, the first point of a march), and from the fits
// in y = R^2 (RoundedBracketOfSquare, the points of the single march, which
// has R^2 one division after its energy flux and R only after two more and a
// square root); both settled as march_bracket-inl.h does.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <utility>

#include "physics/bracket.h"

// Compiled once per target: foreach_target.h includes the march again for
// each instruction set, and this part with it.
#if defined(QAV_PHYSICS_MARCH_BRACKET_ONE_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QAV_PHYSICS_MARCH_BRACKET_ONE_INL_H_
#undef QAV_PHYSICS_MARCH_BRACKET_ONE_INL_H_
#else
#define QAV_PHYSICS_MARCH_BRACKET_ONE_INL_H_
#endif

#include <hwy/highway.h>
#include "physics/march_bracket-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

// The piece of the bracket fit a march expects at its next point: R taken on
// by its last step from the point before.
struct PieceGuess {
    std::size_t piece = 0;
    double R = 0.0;  // of the point before
};

// The piece of R, for R in [0, Limit).
HWY_INLINE std::size_t PieceOf(double R) {
    const double u = R * BracketFit::PerUnit + IntegerShift;
    std::uint64_t bits;
    std::memcpy(&bits, &u, sizeof bits);
    return static_cast<std::size_t>(bits & BracketFit::PieceMask);
}

// Which terms a piece of a fit holds (bracket.h): the whole bracket, where 1 -
// erf(R) rounded to a double is erfc(R) to within 2^-53; the second term
// alone, where 1 - erf(R) is 0; or erfc and the second term between, where
// 1 - erf(R) is erfc(R) rounded to a multiple of 2^-53.
enum class PieceTerms { Whole, Second, Both };

// The relative tolerances of a set of fits.
struct FitTolerances {
    double whole, erfc, term;
};

// The bracket's float from a piece's fits: one() evaluates the one
// polynomial, both() erfc's and the second term's; shift is how far the
// bracket may move with its argument, relative. Where the fit leaves the
// float in doubt, or trusted() is false, settle().
template <class One, class Both, class Trusted, class Settle>
HWY_INLINE double FloatOfFits(PieceTerms terms, const One& one, const Both& both, double shift,
                              const FitTolerances& tolerance, const Trusted& trusted, const Settle& settle) {
    double b;
    double doubt;
    if (terms == PieceTerms::Whole) {
        b = one();
        doubt = b * tolerance.whole + 0x1p-53 + b * shift;
    } else if (terms == PieceTerms::Second) {
        b = one();
        doubt = b * tolerance.term + b * SumDoubt + b * shift;
    } else {
        const auto [erfc, second] = both();
        const double first = (erfc + MultipleOf2To53) - MultipleOf2To53;
        if (HWY_UNLIKELY(!(std::fabs(erfc - first) < 0x1p-54 - erfc * tolerance.erfc - erfc * shift))) {
            return settle();
        }
        b = first + second;
        doubt = second * tolerance.term + b * SumDoubt + b * shift;
    }
    if (HWY_LIKELY(ToFloatAndBack(b - doubt) == ToFloatAndBack(b + doubt) && trusted()))
        return ToFloatAndBack(b);
    return settle();
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
    const PieceTerms terms = guess <= BracketFit::WholeUpTo    ? PieceTerms::Whole
                             : guess >= BracketFit::SecondFrom ? PieceTerms::Second
                                                               : PieceTerms::Both;
    const double* c = &detail::ScaledBracket.coefficient[guess][0];
    const double* one = &detail::ScaledBracket.one[guess][0];
    return FloatOfFits(
        terms,
        [&]() HWY_ATTR QAV_INLINE_LAMBDA {
            // The whole bracket's fit has degree 7.
            return terms == PieceTerms::Whole ? FitPolynomial7(one, s, s2, s4)
                                              : FitPolynomial(one, s, s2, s4, s8);
        },
        [&]() HWY_ATTR QAV_INLINE_LAMBDA {
            return std::pair{FitPolynomial(c, s, s2, s4, s8),
                             FitPolynomial(c + BracketFit::Terms, s, s2, s4, s8)};
        },
        BracketShift(R), {BracketFit::WholeTolerance, BracketFit::ErfcTolerance, BracketFit::Tolerance},
        [] { return true; }, [&] { return SettledBracket(R, referenceR); });
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

// RoundedBracket, out of line: the fits in y leave few points to it.
template <class ReferenceR>
HWY_NOINLINE double BracketAtR(double R, PieceGuess& next, const ReferenceR& referenceR) {
    return RoundedBracket(R, next, referenceR);
}

// RoundedBracket at R = hGamma / H from y, a number that the march has before
// H and that lies within EarlySquareDoubt of R^2 (its energy flux gives R^2
// one division after it, H two and a square root): the fits in y wait for
// neither, and R's division is needed only where they do not settle the
// float. Where y lies outside the fits in y or farther from R^2, the fits in R
// are evaluated at R. The result does not depend on y.
template <class ReferenceR>
HWY_INLINE double RoundedBracketOfSquare(double y, double hGamma, double H, PieceGuess& next,
                                         const ReferenceR& referenceR) {
    constexpr double From = BracketSquareFit::First / BracketSquareFit::PerUnit;
    constexpr double Below = BracketFit::Limit * BracketFit::Limit;
    // y H^2 against (h gamma)^2, without a division; the strict comparison
    // fails for infinities and NaN.
    const auto squareHolds = [&]() HWY_ATTR QAV_INLINE_LAMBDA {
        const double yH2 = y * (H * H);
        return std::fabs(yH2 - hGamma * hGamma) < yH2 * EarlySquareDoubt;
    };
    if (HWY_UNLIKELY(!(y >= From && y < Below))) {
        // Past the fits the bracket's float is 0 (from R = 10.6 on), up to
        // where R^3 overflows.
        if (y >= Below && y < BracketFit::ZeroUpTo * BracketFit::ZeroUpTo && squareHolds()) return 0.0;
        return BracketAtR(hGamma / H, next, referenceR);
    }
    // y's own piece: y comes early enough for its piece's coefficients to
    // arrive before H (a guess from the point before, kept up at every point,
    // was slower).
    const std::size_t piece = SquarePieceOf(y);
    const double centre = static_cast<double>(piece) * (1.0 / BracketSquareFit::PerUnit);
    const double s = y - centre;
    const double s2 = s * s;
    const double s4 = s2 * s2;
    const PieceTerms terms = piece <= BracketSquareFit::WholeUpTo    ? PieceTerms::Whole
                             : piece >= BracketSquareFit::SecondFrom ? PieceTerms::Second
                                                                     : PieceTerms::Both;
    return FloatOfFits(
        terms,
        [&]() HWY_ATTR QAV_INLINE_LAMBDA {
            return FitPolynomial5(&detail::ScaledSquareBracket.one[piece][0], s, s2, s4);
        },
        [&]() HWY_ATTR QAV_INLINE_LAMBDA {
            const double* c = &detail::ScaledSquareBracket.two[piece - BracketSquareFit::WholeUpTo - 1][0];
            return std::pair{FitPolynomial5(c, s, s2, s4),
                             FitPolynomial5(c + BracketSquareFit::Terms, s, s2, s4)};
        },
        SquareShift(y),
        {BracketSquareFit::WholeTolerance, BracketSquareFit::ErfcTolerance, BracketSquareFit::Tolerance},
        squareHolds, [&] { return BracketAtR(hGamma / H, next, referenceR); });
}

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#endif  // QAV_PHYSICS_MARCH_BRACKET_ONE_INL_H_
