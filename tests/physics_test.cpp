#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "physics/exact_math.h"
#include "physics/physics.h"

namespace qav {
namespace {

constexpr Constants Lab{9.81, 1000.0};

TEST(WaveFormulas, DispersionTakesExactlyTwoHalleySteps) {
    // The two-step values, not the converged roots (0.06801907425, 0.18111623601).
    EXPECT_NEAR(WaveNumber(TwoPi / 10, 10, Lab), 0.06801905744, 5e-12);
    EXPECT_NEAR(WaveNumber(TwoPi / 8, 2, Lab), 0.18111621416, 5e-12);
    EXPECT_NEAR(WaveNumber(TwoPi / 4, 100, Lab), 0.25151897047, 5e-12);
    EXPECT_NEAR(WaveNumber(TwoPi / 10, 0.001, Lab), 6.3437823981, 5e-10);
    // omega^2 h / g = 1: k h = 1.1996786400609727, not 1.1996786402577337.
    EXPECT_NEAR(WaveNumber(std::sqrt(9.81), 1.0, Lab), 1.1996786400609727, 4e-16);
    EXPECT_EQ(WaveNumber(-TwoPi / 8, 2, Lab), -WaveNumber(TwoPi / 8, 2, Lab));
}

TEST(WaveFormulas, DispersionOutsideItsDomainIsNaN) {
    EXPECT_TRUE(std::isnan(WaveNumber(TwoPi / 8, 0.0, Lab)));
    EXPECT_TRUE(std::isnan(WaveNumber(0.0, 5.0, Lab)));
}

TEST(WaveFormulas, SpeedsAtTenMetresDepth) {
    const double omega = TwoPi / 10;
    const double k = WaveNumber(omega, 10, Lab);
    const double n = GroupVelocityRatioFromTanh(k, 10, std::tanh(k * 10));
    EXPECT_NEAR(n, 0.87361657, 5e-9);
    EXPECT_NEAR(GroupVelocity(n, k, 10), 8.0699366, 5e-8);
    EXPECT_NEAR(PhaseCelerity(omega, k), 9.2373896, 5e-8);
}

TEST(WaveFormulas, EnergyAndBreakerRelations) {
    EXPECT_DOUBLE_EQ(WaveEnergy(1.0, Lab), 1226.25);
    EXPECT_DOUBLE_EQ(WaveHeightFromEnergy(1226.25, Lab), 1.0);
    EXPECT_DOUBLE_EQ(BreakerIndex(0.1, 2), 0.442);
    EXPECT_DOUBLE_EQ(BreakerHeightRatio(0.5, 2, 4), 0.25);
}

TEST(WaveFormulas, BreakingBracketIsRoundedToSinglePrecision) {
    EXPECT_NEAR(BreakingDissipation(1, 0.1, 0, 1, 1, Lab), 326.02073020, 5e-8);
    // Keeping the bracket in double would give 276.83888471.
    EXPECT_NEAR(BreakingDissipation(1, 0.1, 1, 1, 1, Lab), 276.83889082, 5e-8);
}

TEST(WaveFormulas, FrictionFromSinhAndFromTanhAgree) {
    const double k = WaveNumber(TwoPi / 10, 10, Lab);
    const double fromSinh = FrictionDissipation(0.01, 1, k, 10, 10, Lab);
    const double fromTanh = FrictionDissipationFromTanh(0.01, 1, k, 10, 10, std::tanh(k * 10), Lab);
    EXPECT_NEAR(fromSinh, 0.16647801, 5e-9);
    EXPECT_NEAR(fromTanh, fromSinh, 1e-14);
    EXPECT_EQ(FrictionDissipationFromTanh(0.01, 1, k, 10, 10, 1.0, Lab), 0.0);
    EXPECT_EQ(FrictionDissipationFromTanh(0.01, 1, k, 10, 10, 1.5, Lab), 0.0);
}

TEST(WaveFormulas, RefractionBetweenTheEndsOfTheGrid) {
    struct Case {
        double normal, incoming, cFirst, cLast, expected;
    };
    const Case cases[] = {{0, 30, 10, 5, 14.4775122},   {0, 330, 10, 5, 345.5224878},
                          {10, 30, 10, 5, 19.8465519},  {30, 10, 10, 5, 20.1534481},
                          {350, 10, 10, 5, 359.8465519}, {0, 80, 10, 10.1, 84.0738677}};
    for (const Case& c : cases) {
        EXPECT_NEAR(RefractedWaveDirection(c.normal, c.incoming, c.cFirst, c.cLast), c.expected, 5e-8)
            << c.normal << " " << c.incoming;
    }
    EXPECT_EQ(RefractedWaveDirection(0, 360, 10, 5), 360.0);
    // A sine ratio of about 1.004 counts as exactly 1; 1.034 has no solution.
    EXPECT_EQ(RefractedWaveDirection(0, 85, 10, 10.08), 90.0);
    const double none = RefractedWaveDirection(0, 80, 10, 10.5);
    std::uint64_t bits = 0;
    std::memcpy(&bits, &none, sizeof bits);
    EXPECT_EQ(bits, 0x7FF8000000000000ULL);
}

// Directions given in other turns than [0, 360], on both rules (the C
// library's sine and the fast marches' own): the toe direction lies in
// [0, 360] and is the one of the same directions brought into [0, 360].
TEST(WaveFormulas, RefractionOfDirectionsInAnyTurn) {
    using Rule = double (*)(double, double, double, double);
    for (const Rule rule : {Rule{RefractedWaveDirection}, Rule{NearestRefractedWaveDirection}}) {
        for (const double normal : {270.0, 990.0, -450.0, 720.0, 1e6, -1e6}) {
            for (const double turn : {0.0, 360.0, -720.0, 1e10}) {
                for (const double off : {-89.0, -20.0, 0.0, 10.0, 45.0, 89.0}) {
                    const double incoming = normal + turn + off;
                    const double direction = rule(normal, incoming, 10, 5);
                    const double inRange = rule(Modulo360(normal), Modulo360(incoming), 10, 5);
                    EXPECT_GE(direction, 0.0) << normal << " " << incoming;
                    EXPECT_LE(direction, 360.0) << normal << " " << incoming;
                    // Near 0 and 360 the two may lie a turn apart.
                    const double apart = std::fabs(direction - inRange);
                    EXPECT_NEAR(std::min(apart, 360.0 - apart), 0.0, 1e-6) << normal << " " << incoming;
                }
            }
        }
        // More than 540 apart: exactly the in-range answer, on the normal's
        // right side for a wave from its right.
        EXPECT_EQ(rule(720, 10, 10, 5), rule(0, 10, 10, 5));
        EXPECT_EQ(rule(990, 250, 10, 5), rule(270, 250, 10, 5));
        EXPECT_EQ(rule(0, 30 + 360e10, 10, 5), rule(0, Modulo360(30 + 360e10), 10, 5));
        EXPECT_EQ(rule(0, 360, 10, 5), 360.0);
    }
}

TEST(AngleHelpers, ValidRangeIsInclusiveAndNaNCountsAsValid) {
    EXPECT_TRUE(IsIncomingAngleValid(0, 90));
    EXPECT_TRUE(IsIncomingAngleValid(0, 270));
    EXPECT_TRUE(IsIncomingAngleValid(10, 350));
    EXPECT_TRUE(IsIncomingAngleValid(-90, 180));
    EXPECT_FALSE(IsIncomingAngleValid(0, 90.0001));
    EXPECT_FALSE(IsIncomingAngleValid(0, 180));
    EXPECT_TRUE(IsIncomingAngleValid(0, std::nan("")));
}

TEST(AngleHelpers, Modulo360KeepsTheSignConventions) {
    EXPECT_EQ(Modulo360(-30), 330);
    EXPECT_EQ(Modulo360(725), 5);
    EXPECT_EQ(Modulo360(-1e-20), 360);
    EXPECT_EQ(Modulo360(-360), 0);
    EXPECT_TRUE(std::signbit(Modulo360(-360)));
}

ToeWaves March(std::span<const double> levels, double gridStep, double hm0, double tp, double fc) {
    RollerWorkspace work;
    return RunRollerModel(tp, hm0, 1.0, fc, 0.0, 0.0, 0.0, gridStep, levels, Lab, work);
}

TEST(EnergyBalance, HorizontalBottomLosesOnlyToFriction) {
    const std::vector<double> flat(11, -10.0);
    EXPECT_NEAR(March(flat, 10, 1.0, 8, 0.01).hm0, 0.99949, 5e-6);
    EXPECT_NEAR(March(flat, 10, 1.0, 8, 0.0).hm0, 1.0, 1e-9);
}

TEST(EnergyBalance, SlopingForeshoreShoalsThenBreaks) {
    std::vector<double> slope;
    for (int i = 0; i <= 40; ++i) slope.push_back(-10 + 0.2 * i);
    RollerWorkspace work;
    std::vector<GridPointState> states;
    const auto collect = [](void* context, std::size_t, const GridPointState& state) {
        static_cast<std::vector<GridPointState>*>(context)->push_back(state);
    };
    const ToeWaves traced =
        RunRollerModelTraced(8, 2.0, 1.0, 0.01, 0.0, 0.0, 0.0, 10, slope, Lab, collect, &states);
    const ToeWaves plain = RunRollerModel(8, 2.0, 1.0, 0.01, 0.0, 0.0, 0.0, 10, slope, Lab, work);
    EXPECT_NEAR(plain.hm0, 1.2184, 5e-5);
    EXPECT_EQ(traced.hm0, plain.hm0);
    EXPECT_EQ(traced.direction, plain.direction);
    ASSERT_EQ(states.size(), slope.size());
    // Point 25 lies at 5 m depth: higher than offshore by shoaling.
    EXPECT_NEAR(states[25].depth, 5.0, 1e-12);
    EXPECT_NEAR(states[25].hrms * HrmsToHm0, 2.17, 0.01);
}

TEST(EnergyBalance, SinglePointAndDryPoints) {
    const std::vector<double> one{-5.0};
    const ToeWaves single = March(one, 10, 1.5, 8, 0.01);
    EXPECT_NEAR(single.hm0, 1.5, 1e-14);
    EXPECT_EQ(single.direction, 0.0);
    const std::vector<double> dry{-1.0, 0.5, 0.5};
    const std::vector<double> none{};
    std::vector<double> depths;
    RollerWorkspace work;
    (void)RunRollerModelTraced(8, 1.0, 1.0, 0.01, 0.0, 0.0, 0.0, 1, dry, Lab,
                               [](void* c, std::size_t, const GridPointState& s) {
                                   static_cast<std::vector<double>*>(c)->push_back(s.depth);
                               },
                               &depths);
    EXPECT_EQ(depths, (std::vector<double>{1.0, 0.001, 0.001}));
    EXPECT_TRUE(std::isnan(RunRollerModel(8, 1.0, 1.0, 0.01, 0, 0, 0, 1, none, Lab, work).hm0));
}

TEST(EnergyBalance, ZeroEnteringHeightGivesZeroAtTheToe) {
    std::vector<double> slope;
    for (int i = 0; i <= 20; ++i) slope.push_back(-10 + 0.2 * i);
    const ToeWaves toe = March(slope, 10, 0.0, 8, 0.01);
    EXPECT_EQ(toe.hm0, 0.0);
    EXPECT_EQ(toe.direction, 0.0);
}

} // namespace
} // namespace qav
