#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <string>
#include <vector>

#include "model/judgement.h"
#include "model/model.h"

namespace qav {
namespace {

// A 1:40 foreshore from -8 m to a toe at -1 m, facing west.
const std::vector<double> X{0, 200, 320, 340};
const std::vector<double> Z{-8.0, -4.8, -1.5, -1.0};

struct Storm {
    std::vector<double> hm0, tp, wlev, angle;
    void Add(double h, double t, double w, double a) {
        hm0.push_back(h);
        tp.push_back(t);
        wlev.push_back(w);
        angle.push_back(a);
    }
    [[nodiscard]] RunInput Input(double dikeNormal = 270.0) const {
        RunInput input;
        input.DikeNormal = dikeNormal;
        input.ProfileX = X;
        input.ProfileBottomLevel = Z;
        input.Hm0 = hm0;
        input.Tp = tp;
        input.Wlev = wlev;
        input.IncomingWaveAngle = angle;
        return input;
    }
};

Storm PlainStorm() {
    Storm storm;
    for (int i = 0; i < 6; ++i) storm.Add(0.5 + 0.4 * i, 4.0 + i, 0.5 * i, 250.0 + 5.0 * i);
    return storm;
}

std::vector<FindingKind> KindsOf(const RunInput& input) {
    RunJudge judge(input);
    judge.AddSteps(input, 0);
    std::vector<FindingKind> kinds;
    for (const Finding& finding : judge.Findings(Door::Cli)) kinds.push_back(finding.kind);
    return kinds;
}

bool Has(const std::vector<FindingKind>& kinds, FindingKind kind) {
    return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

TEST(RunJudge, EachImplausibleInputHasItsFindingAndAPlainStormNone) {
    const Storm plain = PlainStorm();
    EXPECT_TRUE(KindsOf(plain.Input()).empty());

    // The dike normal 180 deg off: every step from behind.
    EXPECT_EQ(KindsOf(plain.Input(90.0)), std::vector{FindingKind::MostFromBehind});
    // The same directions in radians, the normal in degrees.
    Storm radians = plain;
    for (double& a : radians.angle) a *= 3.141592653589793 / 180.0;
    // They come from behind as well, but the radians are the cause said.
    EXPECT_EQ(KindsOf(radians.Input()), std::vector{FindingKind::RadianAngles});
    // One angle alone, or a normal among the small angles, is no sign of radians.
    Storm north = plain;
    for (double& a : north.angle) a = (a - 250.0) / 10.0;
    EXPECT_FALSE(Has(KindsOf(north.Input(3.0)), FindingKind::RadianAngles));

    // Absurd but finite values, each with a finding of its own kind.
    const auto with = [&](auto change, FindingKind kind) {
        Storm storm = plain;
        RunInput input = storm.Input();
        change(storm, input);
        input.Hm0 = storm.hm0;
        input.Wlev = storm.wlev;
        EXPECT_TRUE(Has(KindsOf(input), kind)) << static_cast<int>(kind);
    };
    with([](Storm&, RunInput& in) { in.Parameters.Rho = 1e-20; }, FindingKind::Density);
    with([](Storm&, RunInput& in) { in.Parameters.Rho = 1e308; }, FindingKind::Density);
    with([](Storm&, RunInput& in) { in.Parameters.Ag = 1e300; }, FindingKind::Gravity);
    with([](Storm&, RunInput& in) { in.Parameters.Ag = 98.1; }, FindingKind::Gravity);
    with([](Storm& s, RunInput&) { s.wlev[2] = 1e100; }, FindingKind::WaterAboveProfile);
    with([](Storm& s, RunInput&) { s.wlev[2] = 400.0; }, FindingKind::WaterAboveProfile);  // cm
    with([](Storm& s, RunInput&) { s.hm0[3] = 1e200; }, FindingKind::Hm0AboveDepth);
    with([](Storm& s, RunInput&) { s.hm0[3] = 1e200; }, FindingKind::Steepness);
    with([](Storm& s, RunInput&) { s.hm0[1] = 9.0; }, FindingKind::Hm0AboveDepth);
    // A storm surge of 5 m over a profile topped at -1 m is no unit slip.
    Storm surge = plain;
    surge.wlev.assign(surge.wlev.size(), 5.0);
    EXPECT_TRUE(KindsOf(surge.Input()).empty());
}

TEST(RunJudge, PartsJudgeAsTheWhole) {
    Storm storm = PlainStorm();
    storm.Add(30.0, 6.0, 1.0, 250.0);  // steep, and above the depth
    storm.Add(1.0, 6.0, 400.0, 250.0);
    storm.Add(1.0, 6.0, 1.0, 80.0);
    const RunInput whole = storm.Input();
    const std::size_t n = storm.hm0.size();
    std::vector<double> toe(n), tp(n), angle(n);
    std::vector<StepOutcome> outcomes(n);
    std::vector<std::uint8_t> clamped(n);
    RollerModel5(whole, {toe, tp, angle, outcomes, {}, clamped}, {});
    std::vector<std::uint8_t> flags(n);
    for (std::size_t i = 0; i < n; ++i) flags[i] = JudgeStep(whole, i, outcomes[i], clamped[i] != 0);

    RunJudge once(whole);
    once.AddSteps(whole, 0, outcomes, flags, toe);
    RunJudge inParts(whole);
    for (std::size_t first = 0; first < n; first += 3) {
        const std::size_t count = std::min<std::size_t>(3, n - first);
        RunInput part = whole;
        part.Hm0 = part.Hm0.subspan(first, count);
        part.Tp = part.Tp.subspan(first, count);
        part.Wlev = part.Wlev.subspan(first, count);
        part.IncomingWaveAngle = part.IncomingWaveAngle.subspan(first, count);
        inParts.AddSteps(part, first, std::span(outcomes).subspan(first, count),
                         std::span(flags).subspan(first, count), std::span(toe).subspan(first, count));
    }
    for (const Door door : {Door::Cli, Door::Python}) {
        const std::vector<Finding> a = once.Findings(door);
        const std::vector<Finding> b = inParts.Findings(door);
        ASSERT_EQ(a.size(), 3u);
        ASSERT_EQ(b.size(), a.size());
        for (std::size_t k = 0; k < a.size(); ++k) EXPECT_EQ(a[k].text, b[k].text);
        EXPECT_EQ(once.Summary().Text(door), inParts.Summary().Text(door));
    }
    // The steep step is the seventh: step 7 in qav's table, index 6 in Python.
    EXPECT_NE(once.Findings(Door::Cli)[0].text.find("step 7 (the first such)"), std::string::npos);
    EXPECT_NE(once.Findings(Door::Python)[0].text.find("index 6 (the first such)"), std::string::npos);
    const RunSummary& summary = once.Summary();
    EXPECT_EQ(summary.steps, n);
    EXPECT_EQ(summary.outcomes[static_cast<std::size_t>(StepOutcome::AngleOutsideRange)], 1u);
    EXPECT_EQ(summary.flagged[3], 1u);  // waves from behind
    const auto largest = std::max_element(toe.begin(), toe.end() - 1);
    EXPECT_EQ(summary.largestStep, static_cast<std::size_t>(largest - toe.begin()));
}

TEST(JudgeStep, ToeFlagsFollowTheDepthAtTheToe) {
    // Toe at -1 m on a 1:40 slope, grid step 1 m: flagged below 10 x 0.025 m.
    Storm storm;
    for (const double depth : {-0.5, 0.0, 0.02, 0.2, 0.3, 2.0}) storm.Add(1.0, 6.0, -1.0 + depth, 270.0);
    const RunInput input = storm.Input();
    const std::array<std::uint8_t, 6> expected = {
        StepFlag::DryToe, StepFlag::ToeAtWaterLine, StepFlag::ToeAtWaterLine, StepFlag::ToeAtWaterLine, 0, 0};
    for (std::size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(JudgeStep(input, i, StepOutcome::Computed, false), expected[i]) << i;
    }
    EXPECT_EQ(JudgeStep(input, 0, StepOutcome::Refused, false), 0);
    EXPECT_EQ(StepNote(input, 0, StepFlag::DryToe, Door::Cli),
              "dry toe: the water level -1.5 m lies below the toe at -1 m");
    const std::string note =
        StepNote(input, 2, StepFlag::ToeAtWaterLine | StepFlag::EnergyClamped, Door::Python);
    EXPECT_NE(note.find("0.02 m of water at the toe"), std::string::npos) << note;
    EXPECT_NE(note.find("; the grid step is too coarse"), std::string::npos) << note;
    EXPECT_EQ(note.find("--"), std::string::npos) << note;
}

}  // namespace
}  // namespace qav
