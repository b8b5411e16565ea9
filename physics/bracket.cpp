// The piecewise polynomial fit of the breaking bracket, built once per process.
#include "physics/bracket.h"

#include <cmath>

namespace qav {

long double ExactBracket(long double R) {
    return erfcl(R) + expl(-R * R) * ((1.5L * R + R * R * R) * 0.7522527780636751L);
}

namespace {

// The interpolating polynomial of b(j / PerUnit + t / PerUnit) at Terms
// Chebyshev points of |t| <= Reach, as coefficients of powers of t: Newton's
// divided differences, then multiplied out.
void FitPiece(int j, double* coefficient) {
    constexpr int N = BracketFit::Terms;
    long double t[N];
    long double d[N];
    for (int m = 0; m < N; ++m) {
        t[m] = static_cast<long double>(BracketFit::Reach) *
               cosl(3.14159265358979323846264338327950288L * (m + 0.5L) / N);
        d[m] = ExactBracket((static_cast<long double>(j) + t[m]) / BracketFit::PerUnit);
    }
    for (int k = 1; k < N; ++k) {
        for (int m = N - 1; m >= k; --m) d[m] = (d[m] - d[m - 1]) / (t[m] - t[m - k]);
    }
    long double c[N] = {};
    c[0] = d[N - 1];
    for (int k = N - 2, degree = 0; k >= 0; --k, ++degree) {
        // c <- c * (t - t[k]) + d[k]
        for (int m = degree + 1; m >= 1; --m) c[m] = c[m - 1] - c[m] * t[k];
        c[0] = d[k] - c[0] * t[k];
    }
    for (int m = 0; m < N; ++m) coefficient[m] = static_cast<double>(c[m]);
}

BracketFit Build() {
    BracketFit fit{};
    for (int j = 0; j < BracketFit::Pieces; ++j) FitPiece(j, fit.coefficient[j]);
    return fit;
}

} // namespace

const BracketFit& FittedBracket() {
    static const BracketFit fit = Build();
    return fit;
}

} // namespace qav
