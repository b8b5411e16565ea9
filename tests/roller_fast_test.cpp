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
#include "physics/exact_math.h"
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
    const std::vector<MarchPath> paths = FastPaths();
    std::vector<double> worst(paths.size(), 0.0);
    std::vector<int> identical(paths.size(), 0);
    std::vector<int> sameHeight(paths.size(), 0);
    constexpr int cases = 4000;
    for (int trial = 0; trial < cases; ++trial) {
        const Case c = RandomCase(random);
        const qav::ToeWaves expected = qav::RunRollerModel(c.Tp, c.Hm0, c.Alpha, c.Fc, c.Wlev, c.DikeNormal,
                                                           c.Angle, c.step, c.levels, kConstants, reference);
        for (std::size_t p = 0; p < paths.size(); ++p) {
            const qav::ToeWaves got =
                qav_testing::MarchOn(paths[p], c.Tp, c.Hm0, c.Alpha, c.Fc, c.Wlev, c.DikeNormal, c.Angle,
                                     c.step, c.levels, kConstants);
            const double d = std::max(RelativeDifference(got.hm0, expected.hm0),
                                      RelativeDifference(got.direction, expected.direction));
            // The direction comes from the reference's wave numbers at the two
            // ends, with sin and asin rounded to nearest, which the C library
            // misses by a unit in the last place now and then.
            if (!std::isnan(expected.direction)) {
                EXPECT_LE(std::fabs(got.direction - expected.direction),
                          4.0 * std::fabs(std::nextafter(expected.direction, INFINITY) - expected.direction));
            }
            EXPECT_LE(d, 1e-13) << qav::MarchPathName(paths[p]) << " case " << trial << " P "
                                << c.levels.size() << ": " << got.hm0 << " vs " << expected.hm0 << ", "
                                << got.direction << " vs " << expected.direction;
            EXPECT_EQ(std::isnan(got.direction), std::isnan(expected.direction));
            worst[p] = std::max(worst[p], d);
            if (d == 0.0) ++identical[p];
            if (got.hm0 == expected.hm0) ++sameHeight[p];
        }
    }
    for (std::size_t p = 0; p < paths.size(); ++p) {
        std::printf("%s: largest relative difference %.3g, identical toe results in %d of %d cases\n",
                    std::string(qav::MarchPathName(paths[p])).c_str(), worst[p], identical[p], cases);
        // The bracket's float is the reference's wherever a wave number a few
        // units in the last place off could move it, and the wave numbers
        // differ from the reference's at about 3 points in 10^4: the toe height
        // is the reference's number itself in all but about one case in a
        // thousand. A bracket float off at one point, or a tanh with more
        // last-bit differences (a correctly rounded one moves the last bits of
        // about one toe height in ten), would break this.
        EXPECT_GE(sameHeight[p], cases - 4) << qav::MarchPathName(paths[p]);
    }
}

// The same bits: both NaN, or equal.
bool SameBits(const qav::ToeWaves& a, const qav::ToeWaves& b) {
    const auto same = [](double x, double y) { return (std::isnan(x) && std::isnan(y)) || x == y; };
    return same(a.hm0, b.hm0) && same(a.direction, b.direction) && a.energyClamped == b.energyClamped;
}

TEST(FastMarch, EveryPathSingleOrInLanesGivesTheSameBits) {
    // One answer on every instruction set, for a time step marched alone or
    // in any lane of a full or partly filled group.
    std::mt19937_64 random(2020);
    const std::vector<MarchPath> paths = FastPaths();
    ASSERT_FALSE(paths.empty());
    constexpr int cases = 4096;
    std::vector<Case> all;
    std::vector<qav::ToeWaves> expected;
    for (int trial = 0; trial < cases; ++trial) {
        Case c = RandomCase(random);
        if (c.levels.size() > 600) c.levels.resize(600);
        // All lanes of a group share Alpha, Fc and the dike normal, as in one run.
        c.Alpha = 1.0;
        c.Fc = 0.01;
        c.DikeNormal = 270.0;
        c.Angle = 270.0 + (c.Angle - c.DikeNormal);
        expected.push_back(qav_testing::MarchOn(paths[0], c.Tp, c.Hm0, c.Alpha, c.Fc, c.Wlev, c.DikeNormal,
                                                c.Angle, c.step, c.levels, kConstants));
        all.push_back(std::move(c));
    }
    for (const MarchPath path : paths) {
        int differing = 0;
        for (int trial = 0; trial < cases; ++trial) {
            const Case& c = all[trial];
            const qav::ToeWaves got =
                qav_testing::MarchOn(path, c.Tp, c.Hm0, c.Alpha, c.Fc, c.Wlev, c.DikeNormal, c.Angle, c.step,
                                     c.levels, kConstants);
            differing += !SameBits(got, expected[trial]);
        }
        EXPECT_EQ(differing, 0) << qav::MarchPathName(path) << " single steps";
        // Groups of 1 to all lanes, one after another over the cases.
        const std::size_t lanes = static_cast<std::size_t>(qav::LaneCount(path));
        differing = 0;
        for (std::size_t first = 0, size = 1; first < all.size(); first += size, size = size % lanes + 1) {
            const std::size_t count = std::min(size, all.size() - first);
            std::vector<qav::LaneStep> steps;
            std::size_t longest = 0;
            for (std::size_t l = 0; l < count; ++l) {
                const Case& c = all[first + l];
                steps.push_back({c.Tp, c.Hm0, c.Wlev, c.Angle, c.step, c.levels.size()});
                longest = std::max(longest, c.levels.size());
            }
            std::vector<double> levels(longest * lanes, -5.0);
            for (std::size_t l = 0; l < count; ++l) {
                const std::vector<double>& own = all[first + l].levels;
                for (std::size_t i = 0; i < longest; ++i) levels[i * lanes + l] = own[std::min(i, own.size() - 1)];
            }
            std::vector<qav::ToeWaves> toe(lanes);
            qav_testing::MarchLanesOn(path, 1.0, 0.01, 270.0, steps, levels.data(), kConstants, toe);
            for (std::size_t l = 0; l < count; ++l) differing += !SameBits(toe[l], expected[first + l]);
        }
        EXPECT_EQ(differing, 0) << qav::MarchPathName(path) << " in lanes";
    }
}

TEST(FastMarch, EveryPathReportsAnEnergyClampedUnderWater) {
    // Two grid steps of 200 m: the shoaled waves over 2 m of water dissipate
    // more than their flux in one step. A fine grid carries them down.
    qav::RollerWorkspace reference;
    const std::vector<double> coarse{-10.0, -2.0, -2.0, -2.0};
    const std::vector<double> dry{-10.0, -2.0, 1.0, 1.0};
    std::vector<double> fine;
    for (int i = 0; i <= 800; ++i) fine.push_back(-10.0 + 8.0 * i / 800.0);
    fine.push_back(fine.back());
    for (const MarchPath path : qav::SupportedMarchPaths()) {
        const auto run = [&](const std::vector<double>& levels, double step) {
            return path == MarchPath::Reference
                       ? qav::RunRollerModel(8, 2.5, 1, 0.01, 0, 270, 270, step, levels, kConstants,
                                             reference)
                       : qav_testing::MarchOn(path, 8, 2.5, 1, 0.01, 0, 270, 270, step, levels, kConstants);
        };
        const qav::ToeWaves clamped = run(coarse, 200.0);
        EXPECT_TRUE(clamped.energyClamped) << qav::MarchPathName(path);
        EXPECT_EQ(clamped.hm0, 0.0);
        // Clamped only where the bottom lies above the water: not reported.
        const qav::ToeWaves ashore = run(dry, 200.0);
        EXPECT_FALSE(ashore.energyClamped) << qav::MarchPathName(path);
        EXPECT_EQ(ashore.hm0, 0.0);
        const qav::ToeWaves carried = run(fine, 1.0);
        EXPECT_FALSE(carried.energyClamped) << qav::MarchPathName(path);
        EXPECT_GT(carried.hm0, 0.5);
    }
}

TEST(FastMarch, LanesGiveExactlyTheSingleStepMarchOfTheSamePath) {
    std::mt19937_64 random(7);
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
            qav_testing::MarchLanesOn(path, alpha, fc, normal, steps, levels.data(), kConstants, toe);
            for (std::size_t l = 0; l < count; ++l) {
                const Case& c = cases[l];
                const qav::ToeWaves alone = qav_testing::MarchOn(path, c.Tp, c.Hm0, alpha, fc, c.Wlev, normal,
                                                                 c.Angle, c.step, c.levels, kConstants);
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

TEST(FastMarch, WavesNearGrazingKeepTheReferencesDirection) {
    // Two points of nearly equal depth and waves at 89.99 deg to the dike
    // normal: asin then multiplies the error of the wave numbers' ratio
    // thousands of times. The fast paths' wave numbers differ from the
    // reference's in the last bits at a few points in 10^4, so the direction
    // must come from the reference's wave numbers at the two ends.
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> logDepth(std::log(0.05), std::log(30.0));
    std::uniform_real_distribution<double> period(2.0, 15.0);
    qav::RollerWorkspace reference;
    const double normal = 270.0;
    const double angle = normal + 89.99;
    const double scale = 4.0 * (std::nextafter(360.0, INFINITY) - 360.0);  // 4 units of the largest direction
    for (const MarchPath path : FastPaths()) {
        const std::size_t lanes = static_cast<std::size_t>(qav::LaneCount(path));
        int worse = 0;
        for (int group = 0; group < 20000 / static_cast<int>(lanes); ++group) {
            std::vector<qav::LaneStep> steps;
            std::vector<double> levels(2 * lanes);
            std::vector<qav::ToeWaves> expected;
            for (std::size_t l = 0; l < lanes; ++l) {
                const double h = std::exp(logDepth(random));
                const double tp = period(random);
                const std::vector<double> own{-h, -h * (1.0 - 1e-9)};
                levels[l] = own[0];
                levels[lanes + l] = own[1];
                steps.push_back({tp, 0.5, 0.0, angle, 1.0, 2});
                expected.push_back(qav::RunRollerModel(tp, 0.5, 1.0, 0.01, 0.0, normal, angle, 1.0, own,
                                                       kConstants, reference));
                const qav::ToeWaves alone =
                    qav_testing::MarchOn(path, tp, 0.5, 1.0, 0.01, 0.0, normal, angle, 1.0, own, kConstants);
                worse += !(std::fabs(alone.direction - expected[l].direction) <= scale);
            }
            std::vector<qav::ToeWaves> toe(lanes);
            qav_testing::MarchLanesOn(path, 1.0, 0.01, normal, steps, levels.data(), kConstants, toe);
            for (std::size_t l = 0; l < lanes; ++l) {
                worse += !(std::fabs(toe[l].direction - expected[l].direction) <= scale);
            }
        }
        EXPECT_EQ(worse, 0) << qav::MarchPathName(path);
    }
}

TEST(FastMarch, BracketFitAndNearestFunctionsStayWithinTheirBounds) {
    // The fast marches round the fitted bracket to single precision only
    // where its distance to the bracket of the nearest erf and exp cannot
    // reach the next float: that distance is bounded by the fits' tolerance.
    double worstFit = 0.0;
    double worstWhole = 0.0;
    for (double R = 0.0; R < qav::BracketFit::Limit; R += 1.0 / 4099.0) {
        const long double exact = qav::ExactBracket(R);
        const qav::FittedTerms fit = qav::FittedBracketTerms(R);
        const long double erfc = erfcl(R);
        worstFit = std::max(worstFit, static_cast<double>(std::fabs((fit.erfc - erfc) / erfc)));
        if (R > 0.0) {
            const long double second = exact - erfc;
            worstFit = std::max(worstFit, static_cast<double>(std::fabs((fit.second - second) / second)));
        }
        // The one polynomial of a piece: the whole bracket, or its second
        // term where 1 - erf(R) rounds to 0 (the same numbers as the term's fit).
        const int piece = static_cast<int>(std::nearbyint(R * qav::BracketFit::PerUnit));
        if (piece <= qav::BracketFit::WholeUpTo) {
            worstWhole = std::max(worstWhole, static_cast<double>(std::fabs((fit.one - exact) / exact)));
        } else if (piece >= qav::BracketFit::SecondFrom) {
            ASSERT_EQ(fit.one, fit.second) << R;
            ASSERT_LT(erfc, 0x1p-56L) << R;
        }
        const double nearest = qav::NearestRoundedBracket(R);
        ASSERT_LE(std::fabs(nearest - exact), 2.3e-16L + 1e-15L * exact + std::ldexp(exact, -24)) << R;
    }
    EXPECT_LT(worstFit, qav::BracketFit::ErfcTolerance / 2);
    EXPECT_LT(worstWhole, qav::BracketFit::WholeTolerance / 10);
    // Past the fit the bracket is 0 up to R = 1e100, as the reference has it;
    // past 5.6e102 R^3 overflows to the reference's NaN.
    for (double R = qav::BracketFit::Limit; R < 60.0; R += 0.0013) {
        ASSERT_EQ(qav::BreakingDissipation(1.0, 0.1, R, 1.0, 1.0, kConstants), 0.0) << R;
        ASSERT_EQ(qav::NearestRoundedBracket(R), 0.0) << R;
    }
    EXPECT_TRUE(std::isnan(qav::NearestRoundedBracket(1e103)));
    EXPECT_TRUE(std::isnan(qav::NearestRoundedBracket(INFINITY)));
    std::printf("fit: largest relative difference %.3g, whole bracket %.3g\n", worstFit, worstWhole);
}

// True when x is the double nearest to the extended-precision value exact.
bool IsNearest(double x, long double exact) {
    const long double distance = std::fabs(x - exact);
    return distance <= std::fabs(std::nextafter(x, INFINITY) - exact) &&
           distance <= std::fabs(std::nextafter(x, -INFINITY) - exact);
}

TEST(FastMarch, NearestFunctionsRoundToNearest) {
    // The functions the fast paths take instead of the C library's, the same
    // on every processor: within half a unit in the last place wherever the
    // marches use them.
    std::mt19937_64 random(11);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    int misses = 0;
    for (int i = 0; i < 3000; ++i) {
        const double x = -121.0 * unit(random);
        const double y = 6.5 * unit(random);
        const double z = (2.0 * unit(random) - 1.0) * 3.2;
        const double w = 2.0 * unit(random) - 1.0;
        // The extended-precision values are themselves rounded: allow the
        // rare tie they cannot settle.
        misses += !IsNearest(qav::NearestExp(x), expl(x));
        misses += !IsNearest(qav::NearestErf(y), erfl(y));
        misses += !IsNearest(qav::NearestSin(z), sinl(z));
        misses += !IsNearest(qav::NearestAsin(w), asinl(w));
    }
    EXPECT_LE(misses, 3);
    EXPECT_EQ(qav::NearestAsin(1.0), 0x1.921fb54442d18p+0);
    EXPECT_EQ(qav::NearestErf(6.0), 1.0);
    EXPECT_EQ(qav::NearestSin(0.0), 0.0);
    EXPECT_TRUE(std::isnan(qav::NearestAsin(1.0000001)));
}

TEST(FastMarch, EdgeCasesOfTheMarch) {
    qav::RollerWorkspace reference;
    const std::vector<double> one{-5.0};
    const std::vector<double> dry{-3.0, -1.0, 0.5, 1.0, 1.0};
    for (const MarchPath path : FastPaths()) {
        // One point: no march.
        qav::ToeWaves got = qav_testing::MarchOn(path, 8, 1.0, 1, 0.01, 0, 0, 30, 10, one, kConstants);
        EXPECT_NEAR(got.hm0, 1.0, 1e-15);
        // No waves entering; dry points at the toe.
        got = qav_testing::MarchOn(path, 8, 0.0, 1, 0.01, 0, 0, 30, 10, dry, kConstants);
        EXPECT_EQ(got.hm0, 0.0);
        const qav::ToeWaves expected =
            qav::RunRollerModel(8, 2.0, 1, 0.01, 0, 0, 30, 10, dry, kConstants, reference);
        got = qav_testing::MarchOn(path, 8, 2.0, 1, 0.01, 0, 0, 30, 10, dry, kConstants);
        EXPECT_NEAR(got.hm0, expected.hm0, 1e-13 * expected.hm0);
        EXPECT_NEAR(got.direction, expected.direction, 1e-13 * expected.direction);
        EXPECT_TRUE(
            std::isnan(qav_testing::MarchOn(path, 8, 1.0, 1, 0.01, 0, 0, 30, 10, {}, kConstants).hm0));
    }
}

} // namespace
