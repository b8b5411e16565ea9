// Toe results of every fast path against the reference march on many random
// time steps (as the test of the fast paths draws them, but as many as asked
// for): the largest relative difference, and every case beyond 1e-13.
// Usage: qav_accuracy_sweep [cases] [seed]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "model/grid_walk.h"
#include "model/model.h"
#include "physics/roller_fast.h"

namespace {

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
        z.push_back(std::min(z.back() + (unit(random) - 0.25) * 6.0, 1.5));
    }
    if (n == 1) {
        c.step = 1.0;
        c.levels = z;
        return c;
    }
    const double target = std::exp(unit(random) * std::log(29999.0));
    const qav::GridStepSize g = qav::ComputeGridStepSize(x, (x.back() - x.front()) / target, 1e-6, z, c.Wlev, -999.0);
    c.step = g.GridStep;
    qav::BuildGridBottomLevels(x, z, g.GridStep, c.levels);
    return c;
}

double RelativeDifference(double a, double b) {
    if (a == b || (std::isnan(a) && std::isnan(b))) return 0.0;
    return std::fabs(a - b) / std::max(std::fabs(a), std::fabs(b));
}

} // namespace

int main(int argc, char** argv) {
    const int cases = argc > 1 ? std::atoi(argv[1]) : 30000;
    std::mt19937_64 random(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 99);
    const qav::Constants constants{9.81, 1025.0};
    qav::RollerWorkspace reference;
    qav::MarchWorkspace work;
    std::vector<qav::MarchPath> paths = qav::SupportedMarchPaths();
    paths.erase(paths.begin());
    std::vector<double> worst(paths.size(), 0.0);
    std::vector<int> beyond(paths.size(), 0);
    for (int trial = 0; trial < cases; ++trial) {
        const Case c = RandomCase(random);
        const qav::ToeWaves expected = qav::RunRollerModel(c.Tp, c.Hm0, c.Alpha, c.Fc, c.Wlev, c.DikeNormal,
                                                           c.Angle, c.step, c.levels, constants, reference);
        for (std::size_t p = 0; p < paths.size(); ++p) {
            const qav::ToeWaves got = qav::RunRollerModelOn(paths[p], c.Tp, c.Hm0, c.Alpha, c.Fc, c.Wlev,
                                                            c.DikeNormal, c.Angle, c.step, c.levels, constants,
                                                            work);
            const double d = std::max(RelativeDifference(got.hm0, expected.hm0),
                                      RelativeDifference(got.direction, expected.direction));
            worst[p] = std::max(worst[p], d);
            if (d > 1e-13) {
                ++beyond[p];
                std::printf("%s case %d, P %zu: Hm0 %.17g (reference %.17g), direction %.17g (%.17g)\n",
                            std::string(qav::MarchPathName(paths[p])).c_str(), trial, c.levels.size(), got.hm0,
                            expected.hm0, got.direction, expected.direction);
            }
        }
    }
    for (std::size_t p = 0; p < paths.size(); ++p) {
        std::printf("%s: largest relative difference %.3g; beyond 1e-13 in %d of %d cases\n",
                    std::string(qav::MarchPathName(paths[p])).c_str(), worst[p], beyond[p], cases);
    }
    return 0;
}
