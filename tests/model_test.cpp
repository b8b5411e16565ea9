#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "model/grid.h"
#include "model/model.h"
#include "model/step_pieces.h"

namespace qav {
namespace {

TEST(DamTransmission, CoefficientsPerDamType) {
    struct Case {
        double R, alpha, beta, expected;
    };
    const Case cases[] = {
        {0.0, 2.2, 0.4, 0.359134},  {0.0, 1.8, 0.1, 0.456422}, {0.0, 2.6, 0.15, 0.454751},
        {0.5, 1.8, 0.1, 0.25},      {-1.0, 1.8, 0.1, 0.853553}, {2.0, 2.6, 0.15, 0.018365},
        {2.45, 2.6, 0.15, 0.0},     {3.0, 2.6, 0.15, 0.0},     {-2.6, 2.2, 0.4, 1.0},
        {1.8, 2.2, 0.4, 0.0},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(TransmissionCoefficient(c.R, c.alpha, c.beta), c.expected, 5e-7) << c.R << " " << c.alpha;
    }
}

TEST(DamTransmission, NoDamPassesEverythingAndLowerWaterPassesLess) {
    EXPECT_EQ(DamTransmission(0, 100.0, 0.0, 2.0), 2.0);
    EXPECT_EQ(DamTransmission(1, -10.0, 0.0, 2.0), 2.0);  // crest 5 Hm0 below water
    EXPECT_EQ(DamTransmission(1, 10.0, 0.0, 2.0), 0.0);
    double previous = 2.0;
    for (double wlev = 3.0; wlev >= -3.0; wlev -= 0.25) {
        const double passed = DamTransmission(3, 0.0, wlev, 2.0);
        EXPECT_LE(passed, previous) << wlev;
        previous = passed;
    }
}

const std::vector<double> X{0, 40, 100};
const std::vector<double> Z{-10, -6, -2};

TEST(ComputationalGrid, StepFromTheSmallestDepth) {
    const GridStepSize step = ComputeGridStepSize(X, 0.25, 0.3, Z, 0.0, -999);
    EXPECT_EQ(step.GridStep, 100.0 / 166);
    EXPECT_EQ(step.GridStep, 0.6024096385542169);
    EXPECT_EQ(step.Length, 100.0);
    EXPECT_EQ(step.Steps, 166);

    std::vector<double> gridX, levels;
    CreateRegularGrid(X, step.GridStep, gridX);
    ASSERT_EQ(gridX.size(), 167u);
    InterpolateBottomLevels(X, Z, gridX, levels);
    EXPECT_EQ(levels[0], -10.0);
    EXPECT_NEAR(levels[1], -9.93975903614458, 1e-13);
    EXPECT_NEAR(levels.back(), -2.0, 1e-12);
}

TEST(ComputationalGrid, DryPointAndShortProfiles) {
    // The last point dry at Wlev -4: the minimum step decides.
    const GridStepSize dry = ComputeGridStepSize(X, 0.25, 0.3, Z, -4.0, -999);
    EXPECT_EQ(dry.Steps, 400);
    EXPECT_EQ(dry.GridStep, 0.25);
    // Profile shorter than the minimum step: one step of the whole length.
    const GridStepSize single = ComputeGridStepSize(X, 500, 0.3, Z, 0.0, -999);
    EXPECT_EQ(single.Steps, 1);
    EXPECT_EQ(single.GridStep, 100.0);
    std::vector<double> gridX, levels;
    CreateRegularGrid(X, single.GridStep, gridX);
    InterpolateBottomLevels(X, Z, gridX, levels);
    EXPECT_EQ(levels, (std::vector<double>{-10.0, -2.0}));
    // One point: no grid.
    const std::vector<double> one{5.0};
    const GridStepSize none = ComputeGridStepSize(one, 1, 0.3, one, 0.0, -999);
    EXPECT_EQ(none.GridStep, -999);
    EXPECT_EQ(none.Length, 0.0);
    CreateRegularGrid(one, 1.0, gridX);
    EXPECT_TRUE(gridX.empty());
}

TEST(ComputationalGrid, TooManyStepsCannotBeBuilt) {
    const std::vector<double> longX{0, 1e12};
    const std::vector<double> longZ{-10, -10};
    EXPECT_EQ(ComputeGridStepSize(longX, 1.0, 0.3, longZ, 0.0, -999).Steps, -1);
    // A kilometre at a millimetre is fine; a million kilometres at a metre is not.
    const std::vector<double> kmX{0, 1000};
    EXPECT_EQ(ComputeGridStepSize(kmX, 0.001, 1e-9, longZ, 0.0, -999).Steps, 1000000);
    const std::vector<double> farX{0, 1e9};
    EXPECT_EQ(ComputeGridStepSize(farX, 1.0, 1e-9, longZ, 0.0, -999).Steps, -1);
    EXPECT_EQ(ComputeGridStepSize(farX, 100.0, 1e-9, longZ, 0.0, -999).Steps, 10000000);
    const std::vector<double> hugeX{-1e308, 1e308};  // the length overflows to infinity
    EXPECT_EQ(ComputeGridStepSize(hugeX, 1.0, 0.3, longZ, 0.0, -999).Steps, -1);
}

TEST(ComputationalGrid, InteriorPointsAndTheSegmentSearch) {
    const std::vector<double> A{0, 10, 20, 30};
    EXPECT_EQ(LocateSegment(A, 0.0), 1);
    EXPECT_EQ(LocateSegment(A, 10.0), 2);  // an interior point begins its segment
    EXPECT_EQ(LocateSegment(A, 29.0), 3);
    EXPECT_EQ(LocateSegment(A, 30.0), 3);
    EXPECT_EQ(LocateSegment(A, 30.0 + 1e-11), 3);
    EXPECT_EQ(LocateSegment(A, -1.0), 0);
    EXPECT_EQ(LocateSegment(A, 31.0), 4);
    const std::vector<double> descending{30, 20, 10, 0};
    EXPECT_EQ(LocateSegment(descending, 25.0), 1);

    // Points off the profile use the end segments: linear extrapolation.
    const std::vector<double> outside{-10.0, 110.0};
    std::vector<double> levels;
    InterpolateBottomLevels(X, Z, outside, levels);
    EXPECT_NEAR(levels[0], -11.0, 1e-12);
    EXPECT_NEAR(levels[1], -1.3333333333333333, 1e-12);
}

TEST(ComputationalGrid, MinimumOfNothingIsTheLargestDouble) {
    EXPECT_EQ(MinimumValue({}), std::numeric_limits<double>::max());
    const std::vector<double> values{3, -1, 2};
    EXPECT_EQ(MinimumValue(values), -1);
}

TEST(Driver, NoDirectionFailsOnlyItsOwnStep) {
    // Deeper water at the toe than offshore (a profile the set-up check would
    // refuse): the celerity grows and very oblique waves find no direction.
    const std::vector<double> x{0, 100, 1000}, z{-2, -2, -12};
    const std::vector<double> hm0(3, 1.0), tp(3, 8.0), wlev(3, 0.0), angle{10, 80, 10};
    RunInput input;
    input.Hm0 = hm0;
    input.Tp = tp;
    input.Wlev = wlev;
    input.IncomingWaveAngle = angle;
    input.ProfileX = x;
    input.ProfileBottomLevel = z;
    const Constants constants{9.81, 1025.0};
    std::string text(1000, ' ');
    StepWorkspace work;
    const StepResult before = ComputeTimeStep(input, constants, 0, {text.data(), text.size()}, work);
    EXPECT_EQ(before.Outcome, StepOutcome::Computed);
    EXPECT_EQ(text, std::string(1000, ' '));
    const StepResult failed = ComputeTimeStep(input, constants, 1, {text.data(), text.size()}, work);
    EXPECT_EQ(failed.Outcome, StepOutcome::NoDirection);
    EXPECT_TRUE(IsFailure(failed.Outcome));
    EXPECT_EQ(failed.Hm0Toe, -999);
    EXPECT_EQ(failed.TpToe, -999);
    EXPECT_EQ(failed.WaveAngleToe, -999);
    EXPECT_EQ(MessageBuffer(text.data(), text.size()).Trimmed(),
              "The refracted angle cannot be calculated for this profile!");
    const StepResult after = ComputeTimeStep(input, constants, 2, {text.data(), text.size()}, work);
    EXPECT_EQ(after.Outcome, StepOutcome::Computed);
    EXPECT_EQ(after.Hm0Toe, before.Hm0Toe);
    EXPECT_EQ(after.WaveAngleToe, before.WaveAngleToe);
}

TEST(Driver, ReturnCodeFromTheFailureCount) {
    EXPECT_EQ(RunReturnCode(0, 0), -1);
    EXPECT_EQ(RunReturnCode(0, 1), 0);
    EXPECT_EQ(RunReturnCode(1, 1), -1);
    EXPECT_EQ(RunReturnCode(1, 3), -1);
    EXPECT_EQ(RunReturnCode(1, 4), 0);
    EXPECT_EQ(RunReturnCode(2, 4), -1);
    EXPECT_EQ(RunReturnCode(1, 5), 0);
    EXPECT_EQ(RunReturnCode(2, 5), -1);
}

} // namespace
} // namespace qav
