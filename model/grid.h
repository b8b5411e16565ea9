#pragma once

// The dam in front of the dike and the regular grid of one time step.

#include <cstdint>
#include <span>
#include <vector>

namespace qav {

// ---- Dam ----

// Transmission coefficient in [0, 1] for relative freeboard R and the dam's
// shape coefficients (Goda).
[[nodiscard]] double TransmissionCoefficient(double R, double alpha, double beta);
// Significant wave height behind the dam (m).
[[nodiscard]] double DamTransmission(int DamType, double DamHeight, double Wlev, double Hm0);

// ---- Computational grid ----

// The step of the regular grid of one time step.
struct GridStepSize {
    double GridStep;     // m; InvalidValue when the profile has fewer than two points
    double Length;       // m, distance from the first to the last profile point
    std::int64_t Steps;  // number of steps; -1 when the grid cannot be built
};

// Largest number of grid steps a time step may have. A grid of more steps
// would need gigabytes per array (the process would be killed before any
// allocation failure could be reported), so such a step fails instead.
inline constexpr std::int64_t MaxGridSteps = 16777216;

// The grid step as ComputeGridStepSize finds it, without writing the log.
[[nodiscard]] GridStepSize GridStepOf(std::span<const double> ProfileX, double MinStepSize, double RatioDepth,
                                      std::span<const double> ProfileBottomLevel, double Wlev,
                                      double InvalidValue);
// The grid step of a time step, written to the log.
GridStepSize ComputeGridStepSize(std::span<const double> ProfileX, double MinStepSize, double RatioDepth,
                                 std::span<const double> ProfileBottomLevel, double Wlev,
                                 double InvalidValue);
// Grid X coordinates X(1) + (i - 1) GridStep; empty when the profile has
// fewer than two points.
void CreateRegularGrid(std::span<const double> ProfileX, double GridStep, std::vector<double>& GridX);
// Bottom levels interpolated at GridX.
void InterpolateBottomLevels(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                             std::span<const double> GridX, std::vector<double>& GridBottomLevel);
// Segment j (1-based) of a monotonic array with A(j) <= x < A(j + 1); 0 or n
// outside the array.
[[nodiscard]] int LocateSegment(std::span<const double> A, double x);
// Smallest element, or the largest finite double for an empty array.
[[nodiscard]] double MinimumValue(std::span<const double> values);

}  // namespace qav
