// The regular grid's bottom levels in one pass: the grid X coordinates grow
// with their index, so the segment of each one is found by walking on from the
// segment of the one before.
#include "model/grid_walk.h"

#include <algorithm>
#include <cmath>

#include "model/grid.h"

namespace qav {

std::int64_t RegularGridPointCount(std::span<const double> ProfileX, double GridStep) {
    const std::size_t n = ProfileX.size();
    if (n < 2) return -1;
    const double L = std::fabs(ProfileX[n - 1] - ProfileX[0]);
    const double steps = std::round(L / GridStep);
    if (!(steps >= 0.0 && steps <= static_cast<double>(MaxGridSteps))) return -1;
    return static_cast<std::int64_t>(static_cast<std::int32_t>(steps)) + 1;
}

void WalkGridBottomLevels(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                          double GridStep, std::int64_t count, double* out, std::size_t stride) {
    const auto& X = ProfileX;
    const auto& Z = ProfileBottomLevel;
    const int n = static_cast<int>(X.size());
    const double first = X[0];
    const double last = X[n - 1];

    // The walk counts the profile points at or before x, which is what the
    // bisection finds on a profile in non-decreasing order. Any other order
    // keeps the search.
    bool walkable = true;
    for (int j = 1; j < n; ++j) walkable = walkable && X[j - 1] <= X[j];

    int below = 0;  // profile points with X <= x
    std::size_t at = 0;
    for (std::int64_t i = 0; i < count; ++i, at += stride) {
        // Each point from its own index, not as a running sum.
        const double x = static_cast<double>(static_cast<std::int32_t>(i)) * GridStep + first;
        int j;
        if (walkable) {
            while (below < n && X[below] <= x) ++below;
            // Only a NaN coordinate can stand behind the one before.
            while (below > 0 && !(X[below - 1] <= x)) --below;
            if (std::fabs(x - first) < 1e-10) {
                j = 1;
            } else if (std::fabs(x - last) < 1e-10) {
                j = n - 1;
            } else {
                j = below;
            }
        } else {
            j = LocateSegment(X, x);
        }
        // Points off the profile by rounding use the end segment.
        j = std::clamp(j, 1, n - 1);
        const double xj = X[j - 1];
        const double xNext = X[j];
        out[at] = Z[j] + (Z[j - 1] - Z[j]) * (xNext - x) / (xNext - xj);

        if (walkable && j == below) {
            // The points that follow inside the same segment and clear of
            // both end tolerances take it as they are: no search, no tests
            // beyond those three.
            const double zNext = Z[j];
            const double dz = Z[j - 1] - Z[j];
            const double dx = xNext - xj;
            while (i + 1 < count) {
                const double y = static_cast<double>(static_cast<std::int32_t>(i + 1)) * GridStep + first;
                if (!(y < xNext) || std::fabs(y - first) < 1e-10 || std::fabs(y - last) < 1e-10) break;
                ++i;
                at += stride;
                out[at] = zNext + dz * (xNext - y) / dx;
            }
        }
    }
    // The extra level of the march's last step over constant depth.
    out[at] = out[at - stride];
}

bool BuildGridBottomLevels(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                           double GridStep, std::vector<double>& levels) {
    const std::int64_t count = RegularGridPointCount(ProfileX, GridStep);
    if (count < 1) {
        levels.clear();
        return false;
    }
    levels.resize(static_cast<std::size_t>(count) + 1);
    WalkGridBottomLevels(ProfileX, ProfileBottomLevel, GridStep, count, levels.data(), 1);
    return true;
}

}  // namespace qav
