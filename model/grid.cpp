// The regular computational grid laid over the profile for one time step.
#include <algorithm>
#include <cmath>
#include <limits>

#include "common/log.h"
#include "model/grid.h"

namespace qav {

namespace {

// The running minimum from the largest finite double: the running value is
// kept only while it is strictly less than the next value (so a NaN is taken).
template <class Transform>
double RunningMinimum(std::span<const double> values, Transform transform) {
    double minimum = std::numeric_limits<double>::max();
    for (const double value : values) {
        const double candidate = transform(value);
        if (!(minimum < candidate)) minimum = candidate;
    }
    return minimum;
}

}  // namespace

double MinimumValue(std::span<const double> values) {
    return RunningMinimum(values, [](double value) { return value; });
}

GridStepSize GridStepOf(std::span<const double> ProfileX, double MinStepSize, double RatioDepth,
                        std::span<const double> ProfileBottomLevel, double Wlev, double InvalidValue) {
    const std::size_t n = ProfileX.size();
    GridStepSize result{InvalidValue, 0.0, 0};
    if (n > 1) {
        // The smallest water depth on the profile; dry points give zero or less.
        const double hmin = RunningMinimum(ProfileBottomLevel, [Wlev](double z) { return Wlev - z; });
        const double L = std::fabs(ProfileX[n - 1] - ProfileX[0]);
        double s = MinStepSize > RatioDepth * hmin ? MinStepSize : RatioDepth * hmin;
        s = s < L ? s : L;
        const double steps = std::floor(L / s);
        result.Length = L;
        // Written so that a NaN count is refused too.
        if (steps >= 1.0 && steps <= static_cast<double>(MaxGridSteps)) {
            result.Steps = static_cast<std::int64_t>(steps);
            result.GridStep = L / static_cast<double>(static_cast<std::int32_t>(result.Steps));
        } else {
            result.Steps = -1;
            result.GridStep = L / steps;
        }
    }
    return result;
}

GridStepSize ComputeGridStepSize(std::span<const double> ProfileX, double MinStepSize, double RatioDepth,
                                 std::span<const double> ProfileBottomLevel, double Wlev,
                                 double InvalidValue) {
    const GridStepSize result =
        GridStepOf(ProfileX, MinStepSize, RatioDepth, ProfileBottomLevel, Wlev, InvalidValue);
    LogReal("Entry Grid step size :", result.GridStep);
    LogReal("Entry Distance between begin and end point grid :", result.Length);
    return result;
}

void CreateRegularGrid(std::span<const double> ProfileX, double GridStep, std::vector<double>& GridX) {
    GridX.clear();
    const std::size_t n = ProfileX.size();
    if (n < 2) return;
    const double L = std::fabs(ProfileX[n - 1] - ProfileX[0]);
    const double steps = std::round(L / GridStep);
    if (!(steps >= 0.0 && steps <= static_cast<double>(MaxGridSteps))) return;
    const auto M = static_cast<std::int32_t>(steps);
    GridX.resize(static_cast<std::size_t>(M) + 1);
    for (std::int32_t i = 0; i <= M; ++i) {
        // Each point from its own index, not as a running sum.
        GridX[static_cast<std::size_t>(i)] = static_cast<double>(i) * GridStep + ProfileX[0];
    }
}

int LocateSegment(std::span<const double> A, double x) {
    const int n = static_cast<int>(A.size());
    const bool ascending = A[0] <= A[n - 1];
    int lo = 0;
    int hi = n + 1;
    while (hi - lo > 1) {
        const int mid = (lo + hi) / 2;
        if ((A[mid - 1] <= x) == ascending) {
            lo = mid;
        } else {
            hi = mid;
        }
    }
    if (std::fabs(x - A[0]) < 1e-10) return 1;
    if (std::fabs(x - A[n - 1]) < 1e-10) return n - 1;
    return lo;
}

void InterpolateBottomLevels(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                             std::span<const double> GridX, std::vector<double>& GridBottomLevel) {
    const auto& X = ProfileX;
    const auto& Z = ProfileBottomLevel;
    const int n = static_cast<int>(X.size());
    GridBottomLevel.resize(GridX.size());
    for (std::size_t i = 0; i < GridX.size(); ++i) {
        // Points off the profile by rounding use the end segment: never an
        // index outside the profile.
        const int j = std::clamp(LocateSegment(X, GridX[i]), 1, n - 1);
        const double xj = X[j - 1];
        const double xNext = X[j];
        GridBottomLevel[i] = Z[j] + (Z[j - 1] - Z[j]) * (xNext - GridX[i]) / (xNext - xj);
    }
}

}  // namespace qav
