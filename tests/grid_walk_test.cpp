// The grid built in one walk along the profile holds exactly the levels of the
// search per grid point.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <vector>

#include "model/grid_walk.h"
#include "model/grid.h"
#include "model/model.h"
#include "model/step_pieces.h"

namespace {

// Levels as the driver builds them with the search: grid X, interpolation,
// then the extra level.
std::vector<double> SearchLevels(const std::vector<double>& x, const std::vector<double>& z, double step) {
    std::vector<double> gridX;
    std::vector<double> levels;
    qav::CreateRegularGrid(x, step, gridX);
    qav::InterpolateBottomLevels(x, z, gridX, levels);
    if (!levels.empty()) levels.push_back(levels.back());
    return levels;
}

void ExpectSameBits(const std::vector<double>& x, const std::vector<double>& z, double step) {
    const std::vector<double> expected = SearchLevels(x, z, step);
    std::vector<double> walked;
    const bool built = qav::BuildGridBottomLevels(x, z, step, walked);
    ASSERT_EQ(built, !expected.empty());
    ASSERT_EQ(walked.size(), expected.size()) << "step " << step;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        ASSERT_EQ(std::memcmp(&walked[i], &expected[i], sizeof(double)), 0)
            << "point " << i << ": " << walked[i] << " vs " << expected[i] << ", step " << step;
    }
    if (expected.empty()) return;
    // The same levels handed out a block at a time, as a march asks for them,
    // blocks of 1 to 300 points, and past the end the last level again.
    const qav::WalkProfile profile(x, z);
    qav::GridWalk walk(profile, step, qav::RegularGridPointCount(x, step));
    std::vector<double> blocks(expected.size() + 5);
    for (std::size_t at = 0, size = 1; at < blocks.size(); at += size, size = size * 7 % 300 + 1) {
        walk.Next(blocks.data() + at, std::min(size, blocks.size() - at), 1);
    }
    for (std::size_t i = 0; i < blocks.size(); ++i) {
        const double& e = expected[std::min(i, expected.size() - 1)];
        ASSERT_EQ(std::memcmp(&blocks[i], &e, sizeof(double)), 0) << "block point " << i << ", step " << step;
    }
}

TEST(GridWalk, MatchesSearchBitForBitOnRandomProfiles) {
    std::mt19937_64 random(20261207);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int trial = 0; trial < 3000; ++trial) {
        const int n = 2 + static_cast<int>(unit(random) * 29);
        // Offsets up to a million metres, where grid points leave the profile
        // by rounding.
        const double origin = trial % 3 == 0 ? unit(random) * 2e6 - 1e6 : unit(random) * 100.0;
        std::vector<double> x{origin};
        std::vector<double> z{-20.0 * unit(random)};
        for (int j = 1; j < n; ++j) {
            x.push_back(x.back() + 0.01 + unit(random) * 200.0);
            z.push_back(z.back() + (unit(random) - 0.3) * 5.0);
        }
        const double wlev = unit(random) * 4.0 - 1.0;
        const qav::GridStepSize g =
            qav::ComputeGridStepSize(x, 0.1 + unit(random) * 5.0, 0.05 + unit(random), z, wlev, -999.0);
        if (g.Steps > 200000) continue;
        ExpectSameBits(x, z, g.GridStep);
    }
}

TEST(GridWalk, MatchesSearchWhereGridPointsMeetProfilePoints) {
    // Profile points on grid points, and within the 1e-10 end tolerance of one.
    std::vector<double> x{0.0, 0.5, 2.0, 3.25, 10.0};
    const std::vector<double> z{-10.0, -8.0, -7.5, -3.0, -1.0};
    ExpectSameBits(x, z, 0.25);
    ExpectSameBits(x, z, 10.0 / 3.0);
    x = {1e6, 1e6 + 0.3, 1e6 + 100.0 - 5e-11};
    ExpectSameBits(x, {-5.0, -4.0, -1.0}, (100.0 - 5e-11) / 7.0);
    x = {5.0, 5.0 + 4e-11, 9.0};  // second point within the tolerance of the first
    ExpectSameBits(x, {-5.0, -4.0, -1.0}, 0.5);
    // A last grid point within the tolerance of the end but before a last
    // segment shorter than the tolerance takes the last segment.
    x = {0.0, 10.0 - 2e-11, 10.0};
    ExpectSameBits(x, {-5.0, -4.0, -1.0}, (10.0 - 5e-11) / 7.0);
    // A repeated first point: the first grid point keeps the first segment.
    x = {5.0, 5.0, 9.0};
    ExpectSameBits(x, {-5.0, -4.0, -1.0}, 0.5);
}

TEST(GridWalk, OneStepAndNoGrid) {
    ExpectSameBits({0.0, 50.0}, {-4.0, -1.0}, 50.0);
    std::vector<double> levels{1.0};
    EXPECT_FALSE(qav::BuildGridBottomLevels(std::vector<double>{3.0}, std::vector<double>{-1.0}, 1.0, levels));
    EXPECT_TRUE(levels.empty());
}

TEST(GridWalk, DescendingProfileKeepsTheSearch) {
    // Not a profile the checks let through, but the walk must not guess.
    ExpectSameBits({10.0, 4.0, 0.0}, {-1.0, -3.0, -9.0}, 1.0);
}

TEST(GridWalk, WritesWithAStride) {
    const std::vector<double> x{0.0, 40.0, 100.0};
    const std::vector<double> z{-10.0, -6.0, -2.0};
    const double step = 100.0 / 166.0;
    const std::int64_t count = qav::RegularGridPointCount(x, step);
    ASSERT_EQ(count, 167);
    std::vector<double> strided(3 * (count + 1), 7.0);
    qav::WalkGridBottomLevels(x, z, step, count, strided.data() + 1, 3);
    const std::vector<double> expected = SearchLevels(x, z, step);
    for (std::int64_t i = 0; i <= count; ++i) {
        EXPECT_EQ(strided[3 * i + 1], expected[i]);
        EXPECT_EQ(strided[3 * i], 7.0);
    }
    EXPECT_EQ(expected[1], -9.93975903614458);
}

} // namespace
