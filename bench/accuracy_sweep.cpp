// Toe results of every fast path against the reference march on many random
// time steps (as the test of the fast paths draws them, but as many as asked
// for): the largest relative difference of the toe height and of the
// direction, every case beyond 1e-13 in either, and how many cases agree to
// the bit.
// Usage: qav_accuracy_sweep [cases] [seed]
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "model/grid_walk.h"
#include "model/grid.h"
#include "model/model.h"
#include "model/step_pieces.h"
#include "physics/roller_fast.h"
#include "tests/random_case.h"

using qav_testing::Case;
using qav_testing::RandomCase;
using qav_testing::RelativeDifference;

int main(int argc, char** argv) {
    const int cases = argc > 1 ? std::atoi(argv[1]) : 30000;
    std::mt19937_64 random(argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 99);
    const qav::Constants constants{9.81, 1025.0};
    qav::RollerWorkspace reference;
    std::vector<qav::MarchPath> paths = qav::SupportedMarchPaths();
    paths.erase(paths.begin());
    std::vector<double> worst(paths.size(), 0.0);
    std::vector<double> worstDirection(paths.size(), 0.0);
    std::vector<int> beyond(paths.size(), 0);
    std::vector<int> sameHeight(paths.size(), 0);
    std::vector<int> sameDirection(paths.size(), 0);
    std::vector<int> sameFlag(paths.size(), 0);
    for (int trial = 0; trial < cases; ++trial) {
        const Case c = RandomCase(random);
        const qav::ToeWaves expected = qav::RunRollerModel(c.Tp, c.Hm0, c.Alpha, c.Fc, c.Wlev, c.DikeNormal,
                                                           c.Angle, c.step, c.levels, constants, reference);
        for (std::size_t p = 0; p < paths.size(); ++p) {
            const qav::ToeWaves got =
                qav_testing::MarchOn(paths[p], c.Tp, c.Hm0, c.Alpha, c.Fc, c.Wlev, c.DikeNormal, c.Angle,
                                     c.step, c.levels, constants);
            const double dh = RelativeDifference(got.hm0, expected.hm0);
            const double dd = RelativeDifference(got.direction, expected.direction);
            worst[p] = std::max(worst[p], dh);
            worstDirection[p] = std::max(worstDirection[p], dd);
            sameHeight[p] += dh == 0.0;
            sameDirection[p] += dd == 0.0;
            sameFlag[p] += got.energyClamped == expected.energyClamped;
            if (dh > 1e-13 || dd > 1e-13) {
                ++beyond[p];
                std::printf("%s case %d, P %zu: Hm0 %.17g (reference %.17g), direction %.17g (%.17g)\n",
                            std::string(qav::MarchPathName(paths[p])).c_str(), trial, c.levels.size(), got.hm0,
                            expected.hm0, got.direction, expected.direction);
            }
        }
    }
    for (std::size_t p = 0; p < paths.size(); ++p) {
        std::printf("%s: largest relative difference %.3g in toe height, %.3g in direction; beyond 1e-13 in %d of "
                    "%d cases; the same bits in %d (height), %d (direction); the same clamp flag in %d\n",
                    std::string(qav::MarchPathName(paths[p])).c_str(), worst[p], worstDirection[p], beyond[p],
                    cases, sameHeight[p], sameDirection[p], sameFlag[p]);
    }
    return 0;
}
