// Every fast march held against the reference march, RunRollerModel.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "model/grid_walk.h"
#include "model/grid.h"
#include "model/model.h"
#include "model/step_pieces.h"
#include "physics/bracket.h"
#include "physics/roller_fast.h"
#include "tests/random_case.h"

namespace {

using qav::MarchPath;

using qav_testing::Case;
using qav_testing::RandomCase;
using qav_testing::RelativeDifference;


constexpr qav::Constants kConstants{9.81, 1025.0};

std::vector<MarchPath> FastPaths() {
    std::vector<MarchPath> paths = qav::SupportedMarchPaths();
    paths.erase(paths.begin());  // the reference itself
    return paths;
}

TEST(FastMarch, EveryPathWithin1e13OfTheReferenceOnRandomCases) {
    std::mt19937_64 random(42);
    qav::RollerWorkspace reference;
    qav::MarchWorkspace work;
    const std::vector<MarchPath> paths = FastPaths();
    std::vector<double> worst(paths.size(), 0.0);
    std::vector<int> identical(paths.size(), 0);
    constexpr int cases = 4000;
    for (int trial = 0; trial < cases; ++trial) {
        const Case c = RandomCase(random);
        const qav::ToeWaves expected = qav::RunRollerModel(c.Tp, c.Hm0, c.Alpha, c.Fc, c.Wlev, c.DikeNormal,
                                                           c.Angle, c.step, c.levels, kConstants, reference);
        for (std::size_t p = 0; p < paths.size(); ++p) {
            const qav::ToeWaves got = qav::RunRollerModelOn(paths[p], c.Tp, c.Hm0, c.Alpha, c.Fc, c.Wlev,
                                                            c.DikeNormal, c.Angle, c.step, c.levels, kConstants,
                                                            work);
            const double d = std::max(RelativeDifference(got.hm0, expected.hm0),
                                      RelativeDifference(got.direction, expected.direction));
            // The direction comes from the end points' reference wave numbers.
            if (!std::isnan(expected.direction)) {
                EXPECT_EQ(got.direction, expected.direction);
            }
            EXPECT_LE(d, 1e-13) << qav::MarchPathName(paths[p]) << " case " << trial << " P "
                                << c.levels.size() << ": " << got.hm0 << " vs " << expected.hm0 << ", "
                                << got.direction << " vs " << expected.direction;
            EXPECT_EQ(std::isnan(got.direction), std::isnan(expected.direction));
            worst[p] = std::max(worst[p], d);
            if (d == 0.0) ++identical[p];
        }
    }
    for (std::size_t p = 0; p < paths.size(); ++p) {
        std::printf("%s: largest relative difference %.3g, identical toe results in %d of %d cases\n",
                    std::string(qav::MarchPathName(paths[p])).c_str(), worst[p], identical[p], cases);
    }
}

TEST(FastMarch, LanesGiveExactlyTheSingleStepMarchOfTheSamePath) {
    std::mt19937_64 random(7);
    qav::MarchWorkspace work;
    for (const MarchPath path : FastPaths()) {
        const std::size_t lanes = static_cast<std::size_t>(qav::LaneCount(path));
        for (int group = 0; group < 60; ++group) {
            // Groups of 1 to all lanes, of unequal lengths; every third one
            // deepens towards the toe, where oblique waves lose their direction.
            const std::size_t count = 1 + static_cast<std::size_t>(group) % lanes;
            std::vector<Case> cases;
            std::vector<qav::LaneStep> steps;
            std::size_t longest = 0;
            for (std::size_t l = 0; l < count; ++l) {
                Case c = RandomCase(random);
                if (c.levels.size() > 3000) c.levels.resize(3000);
                if (group % 3 == 0) std::reverse(c.levels.begin(), c.levels.end());
                steps.push_back({c.Tp, c.Hm0, c.Wlev, c.Angle, c.step, c.levels.size()});
                longest = std::max(longest, c.levels.size());
                cases.push_back(std::move(c));
            }
            std::vector<double> levels(longest * lanes);
            for (std::size_t l = 0; l < lanes; ++l) {
                const std::vector<double>& own = cases[l < count ? l : 0].levels;
                for (std::size_t i = 0; i < longest; ++i) levels[i * lanes + l] = own[std::min(i, own.size() - 1)];
            }
            // All lanes share Alpha, Fc and the dike normal, as in one run.
            const double alpha = cases[0].Alpha;
            const double fc = cases[0].Fc;
            const double normal = cases[0].DikeNormal;
            std::vector<qav::ToeWaves> toe(lanes);
            qav::RunRollerModelLanes(path, alpha, fc, normal, steps, levels.data(), kConstants, toe, work);
            for (std::size_t l = 0; l < count; ++l) {
                const Case& c = cases[l];
                const qav::ToeWaves alone = qav::RunRollerModelOn(path, c.Tp, c.Hm0, alpha, fc, c.Wlev, normal,
                                                                  c.Angle, c.step, c.levels, kConstants, work);
                EXPECT_EQ(toe[l].hm0, alone.hm0) << qav::MarchPathName(path) << " group " << group << " lane " << l;
                if (std::isnan(alone.direction)) {
                    EXPECT_TRUE(std::isnan(toe[l].direction));
                } else {
                    EXPECT_EQ(toe[l].direction, alone.direction) << qav::MarchPathName(path) << " lane " << l;
                }
            }
        }
    }
}

TEST(FastMarch, BracketFitAndCLibraryErfStayWithinTheirBounds) {
    // The fast marches round the fitted bracket to single precision only
    // where its distance to the reference's bracket cannot reach the next
    // float: that distance is bounded by the fit's tolerance (relative) and by
    // 2.3e-16 for the C library's 1 - erf(R) (absolute).
    const qav::BracketFit& fit = qav::FittedBracket();
    double worstFit = 0.0;
    double worstErf = 0.0;
    for (double R = 0.0; R < qav::BracketFit::Limit; R += 1.0 / 4099.0) {
        const long double exact = qav::ExactBracket(R);
        const double u = R * qav::BracketFit::PerUnit;
        const int j = static_cast<int>(std::nearbyint(u));
        const double t = u - j;
        double b = 0.0;
        for (int m = qav::BracketFit::Degree; m >= 0; --m) b = b * t + fit.coefficient[j][m];
        if (exact >= 1e-8L) worstFit = std::max(worstFit, static_cast<double>(std::fabs((b - exact) / exact)));
        else EXPECT_LT(std::fabs(b - exact), 1e-17L) << R;
        worstErf = std::max(worstErf, static_cast<double>(std::fabs((1.0 - std::erf(R)) - erfcl(R))));
    }
    EXPECT_LT(worstFit, qav::BracketFit::Tolerance / 4);
    // Past the fit the fast marches take a bracket of 0 up to R = 1e100, as
    // the reference has it; past 5.6e102 R^3 overflows to the reference's NaN.
    for (double R = qav::BracketFit::Limit; R < 60.0; R += 0.0013) {
        ASSERT_EQ(qav::BreakingDissipation(1.0, 0.1, R, 1.0, 1.0, kConstants), 0.0) << R;
    }
    EXPECT_EQ(qav::BreakingDissipation(1.0, 0.1, qav::BracketFit::ZeroUpTo, 1.0, 1.0, kConstants), 0.0);
    EXPECT_TRUE(std::isnan(qav::BreakingDissipation(1.0, 0.1, 1e103, 1.0, 1.0, kConstants)));
    EXPECT_TRUE(std::isnan(qav::BreakingDissipation(1.0, 0.1, INFINITY, 1.0, 1.0, kConstants)));
    EXPECT_LT(worstErf, 2.3e-16);
    std::printf("fit: largest relative difference %.3g; 1 - erf: largest difference %.3g\n", worstFit, worstErf);
}

TEST(FastMarch, EdgeCasesOfTheMarch) {
    qav::RollerWorkspace reference;
    qav::MarchWorkspace work;
    const std::vector<double> one{-5.0};
    const std::vector<double> dry{-3.0, -1.0, 0.5, 1.0, 1.0};
    for (const MarchPath path : FastPaths()) {
        // One point: no march.
        qav::ToeWaves got = qav::RunRollerModelOn(path, 8, 1.0, 1, 0.01, 0, 0, 30, 10, one, kConstants, work);
        EXPECT_NEAR(got.hm0, 1.0, 1e-15);
        // No waves entering; dry points at the toe.
        got = qav::RunRollerModelOn(path, 8, 0.0, 1, 0.01, 0, 0, 30, 10, dry, kConstants, work);
        EXPECT_EQ(got.hm0, 0.0);
        const qav::ToeWaves expected =
            qav::RunRollerModel(8, 2.0, 1, 0.01, 0, 0, 30, 10, dry, kConstants, reference);
        got = qav::RunRollerModelOn(path, 8, 2.0, 1, 0.01, 0, 0, 30, 10, dry, kConstants, work);
        EXPECT_NEAR(got.hm0, expected.hm0, 1e-13 * expected.hm0);
        EXPECT_NEAR(got.direction, expected.direction, 1e-13 * expected.direction);
        EXPECT_TRUE(std::isnan(qav::RunRollerModelOn(path, 8, 1.0, 1, 0.01, 0, 0, 30, 10, {}, kConstants, work).hm0));
    }
}

} // namespace
