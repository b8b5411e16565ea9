// Random time steps on random profiles, with their grids, for holding the
// fast marches against the reference march (tests and the accuracy sweep).
#pragma once

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "model/grid_walk.h"
#include "model/grid.h"
#include "model/model.h"
#include "model/step_pieces.h"

namespace qav_testing {

// One random time step on a random profile, with its grid.
struct Case {
    double Tp, Hm0, Alpha, Fc, Wlev, DikeNormal, Angle, step;
    std::vector<double> levels;
};

Case RandomCase(std::mt19937_64& random) {
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

double RelativeDifference(double a, double b) {
    if (a == b || (std::isnan(a) && std::isnan(b))) return 0.0;
    return std::fabs(a - b) / std::max(std::fabs(a), std::fabs(b));
}

} // namespace qav_testing
