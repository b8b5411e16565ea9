#pragma once

// A short-latency stand-in for the bracket of the breaking dissipation,
//   b(R) = (1 - erf R) + exp(-R^2) ((1.5 R + R^3) 0.7522527780636751),
// for the fast marches: on piece j = 0 .. 352 one polynomial of degree 7 in
// t = 32 R - j, for |t| <= 1/2. The C library's erf and exp take a long chain
// of dependent operations; the polynomial takes three multiplications and
// three additions one after the other once t is known. The coefficients are
// constants of the source (physics/bracket_fit.inc, written by
// bench/bracket_fit_generator.cpp).

namespace qav {

struct BracketFit {
    static constexpr int Degree = 7;
    static constexpr int Terms = Degree + 1;
    static constexpr int Stride = 8;         // doubles per piece: one cache line
    static constexpr double PerUnit = 32.0;  // pieces per unit of R
    // Pieces j = 0 .. PerUnit Limit. From R = Limit on, the bracket rounds to
    // the float 0 (it is below 2^-150 from R = 10.6) ...
    static constexpr double Limit = 11.0;
    // ... up to here: from about 5.6e102 on, R^3 overflows and the bracket is NaN.
    static constexpr double ZeroUpTo = 1e100;
    static constexpr int Pieces = 353;
    static constexpr unsigned PieceMask = 0x1ff;  // holds every piece number
    // Relative distance from the fit, evaluated in doubles, to the bracket
    // wherever the bracket is at least 1e-8, with room to spare (1.2e-14 is
    // reached); below 1e-8 the distance stays under 1e-21.
    static constexpr double Tolerance = 1e-13;
    // coefficient[j][m] multiplies t^m on piece j.
    alignas(64) double coefficient[Pieces][Stride];
};

inline constexpr BracketFit FittedBracket{{
#include "physics/bracket_fit.inc"
}};

// The fit at R in [0, Limit): Estrin's scheme without fused multiply-adds.
// The marches evaluate the same operations on registers.
[[nodiscard]] double FittedBracketValue(double R);

// The bracket in extended precision: what the fit stands for (for tests).
[[nodiscard]] long double ExactBracket(long double R);

} // namespace qav
