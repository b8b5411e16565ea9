#pragma once

// Functions of the C library that the fast marches need at a few points per
// time step, computed the same way on every processor: in double-double
// arithmetic (about 1e-30 relative) from additions, subtractions,
// multiplications, divisions and square roots alone, then rounded to the
// nearest double. Where the C library rounds to nearest, as it nearly always
// does, they give its numbers.

namespace qav {

[[nodiscard]] double NearestExp(double x);
[[nodiscard]] double NearestErf(double x);
[[nodiscard]] double NearestSin(double x);
// For |x| <= 1; NaN beyond.
[[nodiscard]] double NearestAsin(double x);

// The breaking bracket as BreakingDissipation forms it,
//   (1 - erf R) + exp(-R R) ((1.5 R + R R R) 0.7522527780636751),
// with the nearest erf and exp, rounded to single precision and widened back.
[[nodiscard]] double NearestRoundedBracket(double R);

// RefractedWaveDirection with the nearest sin and asin.
[[nodiscard]] double NearestRefractedWaveDirection(double DikeNormal, double IncomingWaveAngle, double cFirst,
                                                   double cLast);

} // namespace qav
