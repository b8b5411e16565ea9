#pragma once

// A short-latency stand-in for the bracket of the breaking dissipation,
//   b(R) = (1 - erf R) + exp(-R^2) ((1.5 R + R^3) 0.7522527780636751),
// for the fast marches: on piece j = 0 .. 352 one polynomial of degree 9 in
// t = 32 R - j, for |t| <= 1/2, for each of its two terms, erfc(R) and
// exp(-R^2) (...). Apart, the first term can be rounded as 1 - erf(R) with erf
// rounded to a double. Where that rounding is not in question a single
// polynomial does (FittedBracketOne): of the whole bracket, degree 7, on the
// pieces up to R = 3.55, and of the second term alone from R = 6.1 on, where
// 1 - erf(R) is 0. The C library's erf and exp take a long chain of dependent
// operations; a polynomial takes four multiplications and four additions one
// after the other once t is known. The coefficients are constants of the
// source (physics/bracket_fit.inc, bracket_one_fit.inc and
// bracket_square_fit.inc, written by bench/bracket_fit_generator.cpp).

namespace qav {

struct BracketFit {
    static constexpr int Degree = 9;
    static constexpr int Terms = Degree + 1;
    static constexpr int Stride = 2 * Terms;  // doubles per piece: erfc, then the second term
    static constexpr double PerUnit = 32.0;   // pieces per unit of R
    // Pieces j = 0 .. PerUnit Limit. From R = Limit on, the bracket rounds to
    // the float 0 (it is below 2^-150 from R = 10.6) ...
    static constexpr double Limit = 11.0;
    // ... up to here: from about 5.6e102 on, R^3 overflows and the bracket is NaN.
    static constexpr double ZeroUpTo = 1e100;
    static constexpr int Pieces = 353;
    static constexpr unsigned PieceMask = 0x1ff;  // holds every piece number
    // Relative distance from each fit, evaluated in doubles, to its term, with
    // room to spare (1.4e-14 is reached by each). The second term's also
    // holds how far exp(-R R) may move with the rounding of R R (up to R^2
    // 1.1e-16) and the roundings of forming the term.
    static constexpr double ErfcTolerance = 4e-14;
    static constexpr double Tolerance = 1e-13;
    // Pieces up to this one also have a fit of the whole bracket (erfc above
    // 2^-21, where 1 - erf(R) rounded to a double is erfc(R) to within
    // 2^-53); ...
    static constexpr int WholeUpTo = 113;
    // ... from this one on, where erfc(R) is below 2^-56 and 1 - erf(R)
    // rounds to 0, the bracket is its second term alone.
    static constexpr int SecondFrom = 196;
    // Relative distance from the whole bracket's fit to the bracket formed
    // from the nearest erf and exp, apart from the 2^-53 of 1 - erf(R):
    // the fit's own (4.8e-16 is reached), the rounding of R R in exp (up to
    // R^2 1.1e-16) and the other roundings of the terms, with room to spare.
    static constexpr double WholeTolerance = 1e-14;
    // coefficient[j][m] multiplies t^m in erfc on piece j,
    // coefficient[j][Terms + m] in the second term.
    alignas(64) double coefficient[Pieces][Stride];
};

inline constexpr BracketFit FittedBracket{{
#include "physics/bracket_fit.inc"
}};

// One polynomial per piece, ten coefficients, in t as above: the whole
// bracket on pieces 0 .. WholeUpTo, the second term (the same coefficients
// as FittedBracket's) from SecondFrom on, 0 between.
struct BracketOneFit {
    alignas(64) double coefficient[BracketFit::Pieces][BracketFit::Terms];
};

inline constexpr BracketOneFit FittedBracketOne{{
#include "physics/bracket_one_fit.inc"
}};

// The same bracket as a function of y = R^2, which a march has one square
// root before R: on piece j = First .. Pieces - 1 (y from 1 to Limit^2) one
// polynomial of degree 5 in t = 16 y - j, for |t| <= 1/2: of the whole bracket
// up to piece WholeUpTo, of its second term from SecondFrom on; between, where
// 1 - erf(R) rounds to a few multiples of 2^-53, one of erfc(sqrt y) and one
// of the second term (the rows of `two`, from piece WholeUpTo + 1 on). Degree
// 5 takes three multiplications and three additions after t, where the fits
// in R take four and four (and a square root before). Written by
// bench/bracket_fit_generator.cpp (`square`) into
// physics/bracket_square_fit.inc.
struct BracketSquareFit {
    static constexpr int Degree = 5;
    static constexpr int Terms = Degree + 1;
    static constexpr double PerUnit = 16.0;       // pieces per unit of y
    static constexpr int First = 16;              // y from 1 on: below, R's fits
    static constexpr int Pieces = 1937;           // y below Limit^2 = 121
    static constexpr unsigned PieceMask = 0x7ff;  // holds every piece number
    static constexpr int WholeUpTo = 200;         // y up to 12.53: R up to 3.54
    static constexpr int SecondFrom = 598;        // y from 37.34: R from 6.11
    // Relative distance from each fit, evaluated in doubles, to its term,
    // with room to spare: the generator reports 1.2e-13 for the whole
    // bracket's (near y = 1), 5.4e-14 for erfc's, 3.9e-14 for the second
    // term's.
    static constexpr double WholeTolerance = 4e-13;
    static constexpr double ErfcTolerance = 2e-13;
    static constexpr double Tolerance = 2e-13;
    // one[j]: the whole bracket or the second term on piece j (0 below First
    // and between); two[j - WholeUpTo - 1]: erfc, then the second term.
    alignas(64) double one[Pieces][Terms];
    alignas(64) double two[SecondFrom - WholeUpTo - 1][2 * Terms];
};

inline constexpr BracketSquareFit FittedSquareBracket{
#include "physics/bracket_square_fit.inc"
};

// The two fitted terms at R in [0, Limit), by Estrin's scheme without fused
// multiply-adds, as the marches evaluate them on registers; and the one
// polynomial of R's piece (0 between WholeUpTo and SecondFrom).
struct FittedTerms {
    double erfc;
    double second;
    double one;
};
[[nodiscard]] FittedTerms FittedBracketTerms(double R);

// The fits of the bracket in y = R^2 at y in [1, Limit^2), evaluated as the
// single march evaluates them: whole (or second term alone) from one[], or
// erfc and second from two[] (the other 0).
struct FittedSquareTerms {
    double one;
    double erfc;
    double second;
};
[[nodiscard]] FittedSquareTerms FittedSquareBracketTerms(double y);

// The bracket in extended precision: what the fit stands for (for tests).
[[nodiscard]] long double ExactBracket(long double R);

namespace detail {

// The bracket fit above in the variable s = R - j / 32 = t / 32 of
// piece j instead of t: coefficient m times 32^m. Scaling by powers of two is
// exact, so every product and sum of the evaluation is the one in t scaled by
// a power of two, and the fitted terms are the same bits (FittedBracketTerms).
// The marches form s with one subtraction from R and the piece's centre.
struct ScaledBracketFit {
    alignas(64) double coefficient[BracketFit::Pieces][BracketFit::Stride];
    alignas(64) double one[BracketFit::Pieces][BracketFit::Terms];
    // The lane march loads rows whole, a register at a time (LoadRows), up
    // to a register's width less one past the last row's last coefficient.
    double room[8];
};

constexpr ScaledBracketFit ScaleBracketFit() {
    ScaledBracketFit scaled{};
    for (int j = 0; j < BracketFit::Pieces; ++j) {
        double power = 1.0;
        for (int m = 0; m < BracketFit::Terms; ++m) {
            scaled.coefficient[j][m] = FittedBracket.coefficient[j][m] * power;
            scaled.coefficient[j][BracketFit::Terms + m] =
                FittedBracket.coefficient[j][BracketFit::Terms + m] * power;
            scaled.one[j][m] = FittedBracketOne.coefficient[j][m] * power;
            power *= BracketFit::PerUnit;
        }
    }
    return scaled;
}

inline constexpr ScaledBracketFit ScaledBracket = ScaleBracketFit();

// The fits in y = R^2, scaled the same way for s = y - j / 16.
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

}  // namespace detail

}  // namespace qav
