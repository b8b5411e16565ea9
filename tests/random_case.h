// Random time steps on random profiles, with their grids, for holding the
// fast marches against the reference march (tests and the accuracy sweep).
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <span>
#include <vector>

#include "model/grid.h"
#include "model/grid_walk.h"
#include "model/model.h"
#include "model/step_pieces.h"
#include "physics/roller_fast.h"

namespace qav_testing {

// One random time step on a random profile, with its grid.
struct Case {
    double Tp, Hm0, Alpha, Fc, Wlev, DikeNormal, Angle, step;
    std::vector<double> levels;
};

inline Case RandomCase(std::mt19937_64& random) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Case c;
    c.Tp = 2.0 + 13.0 * unit(random);
    c.Hm0 = 0.1 + 4.9 * unit(random);
    c.Fc = 0.05 * unit(random);
    c.Alpha = 0.5 + 1.5 * unit(random);
    c.Wlev = 2.0 * unit(random) - 0.5;
    c.DikeNormal = 360.0 * unit(random);
    c.Angle = c.DikeNormal + 180.0 * unit(random) - 90.0;
    const int n = 1 + static_cast<int>(unit(random) * 30);
    std::vector<double> x{0.0};
    std::vector<double> z{-3.0 - 25.0 * unit(random)};
    for (int j = 1; j < n; ++j) {
        x.push_back(x.back() + 1.0 + 600.0 * unit(random));
        // Mostly rising towards the dike, sometimes a bar or a dry point.
        z.push_back(std::min(z.back() + (unit(random) - 0.25) * 6.0, 1.5));
    }
    if (n == 1) {
        c.step = 1.0;
        c.levels = z;
        return c;
    }
    // Grids of 2 to 30000 levels, spread evenly over the orders of magnitude.
    const double target = std::exp(unit(random) * std::log(29999.0));
    const double L = x.back() - x.front();
    const qav::GridStepSize g = qav::ComputeGridStepSize(x, L / target, 1e-6, z, c.Wlev, -999.0);
    c.step = g.GridStep;
    qav::BuildGridBottomLevels(x, z, g.GridStep, c.levels);
    return c;
}

// A random storm on a random profile of two to 31 points that the set-up
// check accepts (no slope steeper than 1:10, nothing below the first point):
// mostly waves that reach the march, with calm, refused and from-behind steps
// between, grids of about 2 to maxLevels levels.
struct Storm {
    std::vector<double> x, z, hm0, tp, wlev, angle;
    qav::RunInput input;
};

inline Storm RandomStorm(std::mt19937_64& random, std::size_t steps, double maxLevels) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    Storm s;
    const int n = 2 + static_cast<int>(unit(random) * 30);
    s.x.push_back(0.0);
    s.z.push_back(-3.0 - 25.0 * unit(random));
    for (int j = 1; j < n; ++j) {
        s.x.push_back(s.x.back() + 50.0 + 550.0 * unit(random));
        s.z.push_back(std::clamp(s.z.back() + (unit(random) - 0.25) * 4.0, s.z.front(), 1.5));
    }
    const double normal = 360.0 * unit(random);
    for (std::size_t i = 0; i < steps; ++i) {
        const double pick = unit(random);
        s.hm0.push_back(pick < 0.03 ? 0.0 : pick < 0.05 ? -999.0 : 0.1 + 4.9 * unit(random));
        s.tp.push_back(2.0 + 13.0 * unit(random));
        s.wlev.push_back(2.0 * unit(random) - 0.5);
        s.angle.push_back(normal + (pick > 0.97 ? 120.0 : 180.0 * unit(random) - 90.0));
    }
    qav::ModelParameters& p = s.input.Parameters;
    p.Alpha = 0.5 + 1.5 * unit(random);
    p.Fc = 0.05 * unit(random);
    p.RatioDepth = 1e-6;
    // Mostly small grids; only basic arithmetic, so that every platform draws
    // the same storms.
    const double u = unit(random);
    p.MinStepSize = (s.x.back() - s.x.front()) / (2.0 + (maxLevels - 2.0) * u * u * u);
    s.input.Hm0 = s.hm0;
    s.input.Tp = s.tp;
    s.input.Wlev = s.wlev;
    s.input.IncomingWaveAngle = s.angle;
    s.input.DikeNormal = normal;
    s.input.ProfileX = s.x;
    s.input.ProfileBottomLevel = s.z;
    return s;
}

inline double RelativeDifference(double a, double b) {
    if (a == b || (std::isnan(a) && std::isnan(b))) return 0.0;
    return std::fabs(a - b) / std::max(std::fabs(a), std::fabs(b));
}

// Levels that lie in memory, handed to a march where they lie: the points
// of one step (stride 1), or rows of stride lanes.
struct InPlace {
    const double* levels;
    std::size_t stride = 1;
    static const double* Read(void* context, std::size_t first, std::size_t /*count*/, double* /*buffer*/) {
        const auto* in = static_cast<const InPlace*>(context);
        return in->levels + first * in->stride;
    }
    qav::LevelSource Source() { return {&Read, this}; }
};

// A time step over levels in memory on path.
inline qav::ToeWaves MarchOn(qav::MarchPath path, double Tp, double Hm0, double Alpha, double Fc, double Wlev,
                             double DikeNormal, double Angle, double step, const std::vector<double>& levels,
                             const qav::Constants& c) {
    return qav::RunRollerModelOn(path, Tp, Hm0, Alpha, Fc, Wlev, DikeNormal, Angle, step, levels.size(),
                                 InPlace{levels.data()}.Source(), c);
}

// Time steps in the lanes of path over rows of LaneCount(path) levels in
// memory (lane l of row i at levels[i * LaneCount(path) + l]).
inline void MarchLanesOn(qav::MarchPath path, double Alpha, double Fc, double DikeNormal,
                         std::span<const qav::LaneStep> steps, const double* levels, const qav::Constants& c,
                         std::span<qav::ToeWaves> toe) {
    InPlace rows{levels, static_cast<std::size_t>(qav::LaneCount(path))};
    qav::RunRollerModelLanes(path, Alpha, Fc, DikeNormal, steps, rows.Source(), c, toe);
}

} // namespace qav_testing
