// The breaking bracket of the single march (march_one-inl.h) from fits in
// y = R^2 (bracket.h): the march has R^2 one division after its energy flux,
// and R only after two more and a square root. Its float is RoundedBracket's
// at R (march_bracket-inl.h).

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "physics/bracket.h"

// Compiled once per target: foreach_target.h includes the march again for
// each instruction set, and this part with it.
#if defined(QAV_PHYSICS_MARCH_BRACKET_SQUARE_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef QAV_PHYSICS_MARCH_BRACKET_SQUARE_INL_H_
#undef QAV_PHYSICS_MARCH_BRACKET_SQUARE_INL_H_
#else
#define QAV_PHYSICS_MARCH_BRACKET_SQUARE_INL_H_
#endif

#include <hwy/highway.h>
#include "physics/march_bracket-inl.h"

HWY_BEFORE_NAMESPACE();
namespace qav {
namespace HWY_NAMESPACE {

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

// NOLINTNEXTLINE(google-readability-namespace-comments)
}  // namespace HWY_NAMESPACE
}  // namespace qav
HWY_AFTER_NAMESPACE();

#endif  // QAV_PHYSICS_MARCH_BRACKET_SQUARE_INL_H_
