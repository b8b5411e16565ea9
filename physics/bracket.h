#pragma once

// A short-latency stand-in for the bracket of the breaking dissipation,
//   b(R) = (1 - erf R) + exp(-R^2) ((1.5 R + R^3) 0.7522527780636751),
// for the fast marches: on piece j = 0 .. 352 one polynomial in t = 32 R - j,
// for |t| <= Reach. The C library's erf and exp take a long chain of
// dependent operations; a polynomial of degree 7 takes three multiply-adds
// one after the other.

namespace qav {

struct BracketFit {
    static constexpr int Degree = 7;
    static constexpr int Terms = Degree + 1;
    static constexpr int Stride = 8;         // doubles per piece: one cache line
    static constexpr double PerUnit = 32.0;  // pieces per unit of R
    // Pieces j = 0 .. PerUnit Limit. From R = Limit on, the bracket rounds to
    // the float 0 (it is below 2^-150 from R = 10.6).
    static constexpr double Limit = 11.0;
    // ... up to here: from about 5.6e102 on, R^3 overflows and the bracket is NaN.
    static constexpr double ZeroUpTo = 1e100;
    static constexpr int Pieces = 353;
    static constexpr unsigned PieceMask = 0x1ff;  // holds every piece number
    // A piece serves |t| <= Reach, so that a piece chosen from an estimate of
    // R a little off still serves.
    static constexpr double Reach = 0.6;
    // Relative distance from the fit to the bracket wherever the bracket is at
    // least 1e-8, with room to spare (about 5e-14 is reached).
    static constexpr double Tolerance = 1e-12;
    // coefficient[j][m] multiplies t^m on piece j; the rest of a row is 0.
    alignas(64) double coefficient[Pieces][Stride];
};

// The fit, computed once (in extended precision, at Chebyshev points of each
// piece) on first use; thread-safe.
[[nodiscard]] const BracketFit& FittedBracket();

// The bracket in extended precision: what the fit stands for.
[[nodiscard]] long double ExactBracket(long double R);

} // namespace qav
