// The breaking bracket's fit on single numbers, and the bracket in extended
// precision that tests hold the fit against.
#include "physics/bracket.h"

#include <cmath>

#include "physics/physics.h"

namespace qav {

long double ExactBracket(long double R) {
    return erfcl(R) + expl(-R * R) * ((1.5L * R + R * R * R) * FourOverThreeSqrtPiLong);
}

namespace {

double Polynomial(const double* c, double t) {
    const double t2 = t * t;
    const double t4 = t2 * t2;
    const double t8 = t4 * t4;
    const double p03 = (c[0] + c[1] * t) + (c[2] + c[3] * t) * t2;
    const double p47 = (c[4] + c[5] * t) + (c[6] + c[7] * t) * t2;
    return (p03 + p47 * t4) + (c[8] + c[9] * t) * t8;
}

double SquarePolynomial(const double* c, double t) {
    const double t2 = t * t;
    const double t4 = t2 * t2;
    return ((c[0] + c[1] * t) + (c[2] + c[3] * t) * t2) + (c[4] + c[5] * t) * t4;
}

}  // namespace

FittedSquareTerms FittedSquareBracketTerms(double y) {
    constexpr double shift = 6755399441055744.0;
    const double j = (y * BracketSquareFit::PerUnit + shift) - shift;
    const double t = y * BracketSquareFit::PerUnit - j;
    const int piece = static_cast<int>(j);
    if (piece > BracketSquareFit::WholeUpTo && piece < BracketSquareFit::SecondFrom) {
        const double* c = FittedSquareBracket.two[piece - BracketSquareFit::WholeUpTo - 1];
        return {0.0, SquarePolynomial(c, t), SquarePolynomial(c + BracketSquareFit::Terms, t)};
    }
    return {SquarePolynomial(FittedSquareBracket.one[piece], t), 0.0, 0.0};
}

FittedTerms FittedBracketTerms(double R) {
    constexpr double shift = 6755399441055744.0;  // 1.5 2^52: adding it rounds to an integer
    const double j = (R * BracketFit::PerUnit + shift) - shift;
    const double t = R * BracketFit::PerUnit - j;
    const double* c = FittedBracket.coefficient[static_cast<int>(j)];
    return {Polynomial(c, t), Polynomial(c + BracketFit::Terms, t),
            Polynomial(FittedBracketOne.coefficient[static_cast<int>(j)], t)};
}

}  // namespace qav
