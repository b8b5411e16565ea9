#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "checks/checks.h"
#include "model/grid.h"
#include "model/model.h"
#include "model/step_pieces.h"

namespace qav {
namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

// A 1000-character message buffer, blank or holding a caller's text.
struct Message {
    explicit Message(std::string_view start = {}, std::size_t length = 1000) : text(length, ' ') {
        MessageBuffer(text.data(), text.size()).Replace(start);
    }
    MessageBuffer Buffer() { return {text.data(), text.size()}; }
    std::string Trimmed() { return std::string(Buffer().Trimmed()); }
    std::string text;
};

int Hydraulic(double hm0, double tp, double wlev, double angle, Message& m, double invalid = -999) {
    return CheckHydraulicConditions(hm0, tp, wlev, angle, invalid, m.Buffer());
}

TEST(HydraulicChecks, CalmIsTestedFirst) {
    for (const double hm0 : {0.0, 1e-16}) {
        Message m;
        EXPECT_EQ(Hydraulic(hm0, -5, -999, -999, m), 1);
        EXPECT_EQ(m.Trimmed(), "Hm0 is (almost) zero");
    }
    Message m;
    EXPECT_EQ(Hydraulic(-1e-16, 8, 0, 0, m), -1);
    EXPECT_EQ(m.Trimmed(), "Hm0 is negative");
}

TEST(HydraulicChecks, InvalidBeforeNegativeAndZeroBeforeInvalid) {
    Message m;
    EXPECT_EQ(Hydraulic(-999, 8, 0, 0, m), -1);
    EXPECT_EQ(m.Trimmed(), "Hm0 is invalid");
    Message zero;
    EXPECT_EQ(Hydraulic(1, 0, 1, 1, zero, 0.0), -1);
    EXPECT_EQ(zero.Trimmed(), "Tp is (almost) zero");
    Message tp;
    EXPECT_EQ(Hydraulic(1, -3, 0, 0, tp), -1);
    EXPECT_EQ(tp.Trimmed(), "Tp is negative");
}

TEST(HydraulicChecks, AllFaultsJoinedInOrder) {
    Message m;
    EXPECT_EQ(Hydraulic(-1, -999, -999, -999, m), -1);
    EXPECT_EQ(m.Trimmed(), "Hm0 is negative | Tp is invalid | Wlev is invalid | incoming wave angle is invalid");
    Message shortBuffer("", 20);
    EXPECT_EQ(Hydraulic(-1, -999, 0, 0, shortBuffer), -1);
    EXPECT_EQ(shortBuffer.text, "Hm0 is negative | Tp");
}

TEST(HydraulicChecks, AcceptedLeavesTheBufferAlone) {
    Message m("caller's own text");
    const std::string before = m.text;
    EXPECT_EQ(Hydraulic(1.5, 8, -2, 270, m), 0);
    EXPECT_EQ(m.text, before);
}

TEST(HydraulicChecks, NonFiniteValuesAreInvalid) {
    Message m;
    EXPECT_EQ(Hydraulic(NaN, Inf, -Inf, NaN, m), -1);
    EXPECT_EQ(m.Trimmed(), "Hm0 is invalid | Tp is invalid | Wlev is invalid | incoming wave angle is invalid");
    Message neg;
    EXPECT_EQ(Hydraulic(-Inf, 8, 0, 0, neg), -1);
    EXPECT_EQ(neg.Trimmed(), "Hm0 is invalid");
}

TEST(WaveAngleCheck, OutsideRangeReplacesTheMessage) {
    Message m("Foreshore present-");
    EXPECT_TRUE(CheckIncomingWaveAngle(0, 90, m.Buffer()));
    EXPECT_TRUE(CheckIncomingWaveAngle(350, 10, m.Buffer()));
    EXPECT_TRUE(CheckIncomingWaveAngle(-90, 0, m.Buffer()));
    EXPECT_EQ(m.Trimmed(), "Foreshore present-");
    EXPECT_FALSE(CheckIncomingWaveAngle(0, 90.0001, m.Buffer()));
    EXPECT_EQ(m.Trimmed(), "Entry Incoming wave angle outside valid range");
}

int Series(std::vector<double> hm0, Message& m) {
    const std::vector<double> tp(hm0.size(), 8.0), wlev(hm0.size(), 0.0), angle(hm0.size(), 0.0);
    return ValidateHydraulicSeries(hm0, tp, wlev, angle, -999, m.Buffer());
}

TEST(HydraulicSeries, RefusedWinsThenCalmThenAccepted) {
    Message empty("untouched");
    EXPECT_EQ(Series({}, empty), 0);
    EXPECT_EQ(empty.Trimmed(), "untouched");
    Message calmFirst;
    EXPECT_EQ(Series({0, 1, 1}, calmFirst), 1);
    EXPECT_EQ(calmFirst.Trimmed(), "Hm0 is (almost) zero");
    Message refused;
    EXPECT_EQ(Series({1, -1, 0}, refused), -1);
    EXPECT_EQ(refused.Trimmed(), "Hm0 is negative");
    Message calmLast;
    EXPECT_EQ(Series({1, 1, 0}, calmLast), 1);
    // A refusal after a calm step is still reported.
    Message calmThenRefused;
    EXPECT_EQ(Series({0, 1, -1, 1}, calmThenRefused), -1);
    EXPECT_EQ(calmThenRefused.Trimmed(), "Hm0 is negative");
    Message accepted;
    EXPECT_EQ(Series({1, 2, 3}, accepted), 0);
    EXPECT_EQ(accepted.Trimmed(), "");
}

int Profile(std::vector<double> x, std::vector<double> z, Message& m) { return CheckProfile(x, z, m.Buffer()); }

TEST(ProfileChecks, SizeFaultsAppendToTheCallersText) {
    Message blank;
    EXPECT_EQ(Profile({}, {}, blank), -1);
    EXPECT_EQ(blank.Trimmed(), "The size of the grid array equals 0. Must be at least 1!");
    EXPECT_EQ(blank.Trimmed().size(), 56u);
    Message prefixed("No Foreshore present-No Dam present-");
    EXPECT_EQ(Profile({1, 2, 3}, {}, prefixed), -1);
    EXPECT_EQ(prefixed.Trimmed(),
              "No Foreshore present-No Dam present-The size of the depth array equals 0. Must be at least 1!");
    Message mismatch;
    EXPECT_EQ(Profile({0, 1, 2}, {0, 0, 0, 0}, mismatch), -1);
    EXPECT_EQ(mismatch.Trimmed(), "The array size of the grid does not match the array size of the depth values!");
}

TEST(ProfileChecks, PointFaultsReplaceInOrderOfKind) {
    Message one;
    EXPECT_EQ(Profile({5}, {NaN}, one), 0);
    Message equal("prefix");
    EXPECT_EQ(Profile({0, 10, 10}, {0, 0, 0}, equal), -1);
    EXPECT_EQ(equal.Trimmed(), "x-values not increasing");
    Message below;
    EXPECT_EQ(Profile({0, 10, 20}, {-5, -6, -4}, below), -1);
    EXPECT_EQ(below.Trimmed(), "bottom below toe");
    Message both;
    EXPECT_EQ(Profile({0, 10, 5}, {0, 5, 5}, both), -1);
    EXPECT_EQ(both.Trimmed(), "x-values not increasing");
    Message falling;
    EXPECT_EQ(Profile({0, 10}, {0, -1}, falling), -1);
    EXPECT_EQ(falling.Trimmed(), "bottom below toe");
}

TEST(ProfileChecks, SlopeOfExactlyOneInTenIsAccepted) {
    Message exact;
    EXPECT_EQ(Profile({0, 10}, {0, 1}, exact), 0);
    Message steep;
    EXPECT_EQ(Profile({0, 10}, {0, 1.0001}, steep), -1);
    EXPECT_EQ(steep.Trimmed(), "The absolute slope between succeeding grid points exceeds 1:10!");
}

TEST(ProfileChecks, NonFiniteValuesAreRefused) {
    for (const double bad : {NaN, Inf, -Inf}) {
        Message m;
        EXPECT_EQ(Profile({0, 10, 20}, {0, bad, 1}, m), -1);
        EXPECT_EQ(m.Trimmed(), "The profile contains a value that is not a finite number!");
        Message x;
        EXPECT_EQ(Profile({0, bad, 20}, {0, 0, 1}, x), -1);
        EXPECT_EQ(x.Trimmed(), "The profile contains a value that is not a finite number!");
    }
}

struct SetupCase {
    std::vector<double> hm0{1, 1, 1, 1, 1}, tp{8, 8, 8, 8, 8}, wlev{0, 0, 0, 0, 0}, angle{0, 0, 0, 0, 0};
    std::vector<double> x{0, 50, 100}, z{-5, -4, -3};
    RunInput input;
    SetupCase() {
        input.Hm0 = hm0;
        input.Tp = tp;
        input.Wlev = wlev;
        input.IncomingWaveAngle = angle;
        input.ProfileX = x;
        input.ProfileBottomLevel = z;
    }
    std::string Check(int expected) {
        Message m("old text");
        EXPECT_EQ(CheckModelSetup(input, m.Buffer()), expected);
        return m.Trimmed();
    }
};

TEST(ModelSetupCheck, AcceptedSetupDescribesForeshoreAndDam) {
    SetupCase s;
    s.input.DamType = 2;
    EXPECT_EQ(s.Check(0), "Foreshore present-Wand dam type present-");
    const std::vector<double> one{0};
    s.input.ProfileX = one;
    s.input.ProfileBottomLevel = one;
    s.input.DamType = 0;
    EXPECT_EQ(s.Check(0), "No Foreshore present-No Dam present-");
    s.input.ProfileX = {};
    s.input.ProfileBottomLevel = {};
    EXPECT_EQ(s.Check(-1),
              "No Foreshore present-No Dam present-The size of the grid array equals 0. Must be at least 1!");
}

TEST(ModelSetupCheck, RefusalsInTheirOrder) {
    SetupCase s;
    s.input.DamType = 4;
    EXPECT_EQ(s.Check(-1), "Foreshore present-Dam type not supported, must be 0,1,2,3-");
    s.input.DamType = -1;
    s.input.Parameters.RatioDepth = 0;  // not reached: the dam type comes first
    EXPECT_EQ(s.Check(-1), "Foreshore present-Dam type not supported, must be 0,1,2,3-");
    s.input.DamType = 1;
    s.input.IncomingWaveAngle = std::span<const double>(s.angle).first(4);
    EXPECT_EQ(s.Check(-1), "Foreshore present-Caisson dam type present-The sizes of one or more time depended "
                           "arrays (Hm0,Wlev,Tp,Incoming wave angle) are not equal!");
    s.input.IncomingWaveAngle = s.angle;
    EXPECT_EQ(s.Check(-1),
              "Foreshore present-Caisson dam type present-The value for ratio depth must be larger than zero!");
    s.input.Parameters.RatioDepth = 1e-300;
    s.input.Parameters.MinStepSize = NaN;
    EXPECT_EQ(s.Check(-1), "Foreshore present-Caisson dam type present-The value for minimum grid step size must "
                           "be larger than zero!");
    s.input.Parameters.MinStepSize = 1;
    s.input.DikeNormal = -999;
    EXPECT_EQ(s.Check(-1), "Foreshore present-Caisson dam type present-Dike normal is invalid");
    s.input.DikeNormal = Inf;
    EXPECT_EQ(s.Check(-1), "Foreshore present-Caisson dam type present-Dike normal is invalid");
    s.input.DikeNormal = 0;
    EXPECT_EQ(s.Check(0), "Foreshore present-Caisson dam type present-");
}

TEST(ModelSetupCheck, NonFiniteOrNegativeParametersAreRefused) {
    const std::string prefix = "Foreshore present-Dam dam type present-";
    struct Case {
        double ModelParameters::*field;
        double value;
        const char* text;
    };
    const Case cases[] = {
        {&ModelParameters::Ag, 0.0, "The value for the gravity constant must be larger than zero!"},
        {&ModelParameters::Ag, NaN, "The value for the gravity constant must be larger than zero!"},
        {&ModelParameters::Rho, -1.0, "The value for the water density must be larger than zero!"},
        {&ModelParameters::Rho, Inf, "The value for the water density must be larger than zero!"},
        {&ModelParameters::Alpha, -0.1, "The value for alpha must be zero or larger!"},
        {&ModelParameters::Fc, NaN, "The value for the bottom friction must be zero or larger!"},
    };
    for (const Case& c : cases) {
        SetupCase s;
        s.input.DamType = 3;
        s.input.Parameters.*(c.field) = c.value;
        EXPECT_EQ(s.Check(-1), prefix + c.text);
    }
    SetupCase zeroes;
    zeroes.input.Parameters.Alpha = 0;
    zeroes.input.Parameters.Fc = 0;
    zeroes.input.DamType = 3;
    EXPECT_EQ(zeroes.Check(0), prefix);
    zeroes.input.DamHeight = NaN;
    EXPECT_EQ(zeroes.Check(-1), prefix + "The dam height must be a finite number!");
    zeroes.input.DamType = 0;  // without a dam its height is never used
    EXPECT_EQ(zeroes.Check(0), "Foreshore present-No Dam present-");
}

} // namespace
} // namespace qav
