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

WalkProfile::WalkProfile(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel)
    : X(ProfileX), Z(ProfileBottomLevel), walkable(true) {
    // The walk counts the profile points at or before x, which is what the
    // bisection finds on a profile in non-decreasing order.
    for (std::size_t j = 1; j < X.size(); ++j) walkable = walkable && X[j - 1] <= X[j];
}

GridWalk::GridWalk(const WalkProfile& profile, double GridStep, std::int64_t count)
    : profile_(&profile), step_(GridStep), count_(count) {}

void GridWalk::Next(double* out, std::size_t n, std::size_t stride) {
    const auto& X = profile_->X;
    const auto& Z = profile_->Z;
    const bool walkable = profile_->walkable;
    const int m = static_cast<int>(X.size());
    const double first = X[0];
    const double last = X[m - 1];
    const double step = step_;
    const std::int64_t count = count_;
    std::int64_t i = next_;
    int below = below_;
    double level = last_;
    std::size_t at = 0;
    const std::size_t end = n * stride;
    while (at < end && i < count) {
        // Each point from its own index, not as a running sum.
        const double x = static_cast<double>(static_cast<std::int32_t>(i)) * step + first;
        int j;
        if (walkable) {
            while (below < m && X[below] <= x) ++below;
            // Only a NaN coordinate can stand behind the one before.
            while (below > 0 && !(X[below - 1] <= x)) --below;
            if (std::fabs(x - first) < 1e-10) {
                j = 1;
            } else if (std::fabs(x - last) < 1e-10) {
                j = m - 1;
            } else {
                j = below;
            }
        } else {
            j = LocateSegment(X, x);
        }
        // Points off the profile by rounding use the end segment.
        j = std::clamp(j, 1, m - 1);
        const double xj = X[j - 1];
        const double xNext = X[j];
        level = Z[j] + (Z[j - 1] - Z[j]) * (xNext - x) / (xNext - xj);
        out[at] = level;
        at += stride;
        ++i;

        if (walkable && j == below) {
            // The points that follow inside the same segment and clear of
            // both end tolerances take it as they are, without a search.
            // Their number first, then their levels in a loop of its own
            // whose divisions do not wait for one another. x grows with the
            // index, so the points that pass the tests come before those that
            // fail one (and past the first point the first end's test passes
            // for good): the number is found by doubling, then halving.
            const std::int64_t room =
                std::min(count - i, static_cast<std::int64_t>((end - at + stride - 1) / stride));
            const auto passes = [&](std::int64_t q) {
                const double y = static_cast<double>(static_cast<std::int32_t>(i + q)) * step + first;
                return y < xNext && !(std::fabs(y - last) < 1e-10);
            };
            std::int64_t run = 0;
            const double y0 = static_cast<double>(static_cast<std::int32_t>(i)) * step + first;
            if (room > 0 && passes(0) && !(std::fabs(y0 - first) < 1e-10)) {
                std::int64_t pass = 0;  // passes
                std::int64_t fail = 1;  // fails, or is room
                while (fail < room && passes(fail)) {
                    pass = fail;
                    fail = std::min(2 * fail, room);
                }
                while (fail - pass > 1) {
                    const std::int64_t mid = pass + (fail - pass) / 2;
                    if (passes(mid)) {
                        pass = mid;
                    } else {
                        fail = mid;
                    }
                }
                run = pass + 1;
            }
            if (run > 0) {
                const double zNext = Z[j];
                const double dz = Z[j - 1] - Z[j];
                const double dx = xNext - xj;
                double* to = out + at;
                for (std::int64_t q = 0; q < run; ++q) {
                    const double y = static_cast<double>(static_cast<std::int32_t>(i + q)) * step + first;
                    to[static_cast<std::size_t>(q) * stride] = zNext + dz * (xNext - y) / dx;
                }
                level = to[static_cast<std::size_t>(run - 1) * stride];
                i += run;
                at += static_cast<std::size_t>(run) * stride;
            }
        }
    }
    // Past the grid: its last level, the first time as the level the march
    // ends on over constant depth.
    for (; at < end; at += stride) out[at] = level;
    next_ = i;
    below_ = below;
    last_ = level;
}

void WalkGridBottomLevels(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                          double GridStep, std::int64_t count, double* out, std::size_t stride) {
    const WalkProfile profile(ProfileX, ProfileBottomLevel);
    GridWalk walk(profile, GridStep, count);
    walk.Next(out, static_cast<std::size_t>(count) + 1, stride);
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
