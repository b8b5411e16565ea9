// Whole runs on every march path: the same return code, outcomes and
// messages as the reference, toe values within 1e-13; time steps marched in
// lanes exactly as one after another on the same path.
#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "model/grid.h"
#include "model/model.h"
#include "model/step_pieces.h"
#include "physics/roller_fast.h"

namespace {

using qav::MarchPath;

struct RunResult {
    int code;
    std::vector<double> hm0, tp, angle;
    std::vector<qav::StepOutcome> outcomes;
    std::vector<std::string> messages;
    std::string message;
};

struct Series {
    std::vector<double> x, z, hm0, tp, wlev, angle;
    qav::RunInput input;

    Series(std::vector<double> profileX, std::vector<double> profileZ, std::size_t n, unsigned seed)
        : x(std::move(profileX)), z(std::move(profileZ)) {
        std::mt19937_64 random(seed);
        std::uniform_real_distribution<double> unit(0.0, 1.0);
        for (std::size_t i = 0; i < n; ++i) {
            const double pick = unit(random);
            // Mostly storms, with calm, refused and from-behind steps between.
            hm0.push_back(pick < 0.05 ? 0.0 : pick < 0.08 ? -999.0 : 0.1 + 4.0 * unit(random));
            tp.push_back(2.0 + 13.0 * unit(random));
            wlev.push_back(2.0 * unit(random) - 0.5);
            angle.push_back(pick > 0.95 ? 30.0 : 270.0 + 178.0 * unit(random) - 89.0);
        }
        input.Parameters.Fc = 0.02;
        input.Parameters.MinStepSize = 0.5;
        input.Parameters.RatioDepth = 0.3;
        input.Hm0 = hm0;
        input.Tp = tp;
        input.Wlev = wlev;
        input.IncomingWaveAngle = angle;
        input.DikeNormal = 270.0;
        input.ProfileX = x;
        input.ProfileBottomLevel = z;
    }
};

RunResult RunOn(const qav::RunInput& input, MarchPath path) {
    qav::SetThreadMarchPath(path);
    const std::size_t n = input.Hm0.size();
    RunResult run{0, std::vector<double>(n), std::vector<double>(n), std::vector<double>(n),
            std::vector<qav::StepOutcome>(n), std::vector<std::string>(n), std::string(1000, ' ')};
    const qav::RunOutput out{run.hm0, run.tp, run.angle, run.outcomes, run.messages, {}};
    run.code = qav::RollerModel5(input, out, qav::MessageBuffer(run.message.data(), run.message.size()));
    qav::ResetThreadMarchPath();
    return run;
}

// The same steps, one ComputeTimeStep after another on the path.
RunResult OneAtATime(const qav::RunInput& input, MarchPath path) {
    qav::SetThreadMarchPath(path);
    const std::size_t n = input.Hm0.size();
    RunResult run{0, std::vector<double>(n), std::vector<double>(n), std::vector<double>(n),
            std::vector<qav::StepOutcome>(n), std::vector<std::string>(n), std::string(1000, ' ')};
    const qav::MessageBuffer message(run.message.data(), run.message.size());
    const qav::Constants constants{input.Parameters.Ag, input.Parameters.Rho};
    qav::StepWorkspace work;
    std::size_t failures = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const qav::StepResult r = qav::ComputeTimeStep(input, constants, i, message, work);
        run.hm0[i] = r.Hm0Toe;
        run.tp[i] = r.TpToe;
        run.angle[i] = r.WaveAngleToe;
        run.outcomes[i] = r.Outcome;
        if (r.Outcome != qav::StepOutcome::Computed) run.messages[i] = std::string(message.Trimmed());
        if (qav::IsFailure(r.Outcome)) ++failures;
    }
    run.code = qav::RunReturnCode(failures, n);
    qav::ResetThreadMarchPath();
    return run;
}

void ExpectSameSteps(const RunResult& a, const RunResult& b, double tolerance, const std::string& label) {
    EXPECT_EQ(a.code, b.code) << label;
    EXPECT_EQ(a.message, b.message) << label;
    for (std::size_t i = 0; i < a.hm0.size(); ++i) {
        ASSERT_EQ(a.outcomes[i], b.outcomes[i]) << label << " step " << i;
        EXPECT_EQ(a.messages[i], b.messages[i]) << label << " step " << i;
        EXPECT_EQ(a.tp[i], b.tp[i]) << label << " step " << i;
        EXPECT_NEAR(a.hm0[i], b.hm0[i], tolerance * std::fabs(b.hm0[i])) << label << " step " << i;
        EXPECT_NEAR(a.angle[i], b.angle[i], tolerance * std::fabs(b.angle[i])) << label << " step " << i;
    }
}

std::vector<Series> Storms() {
    std::vector<Series> storms;
    // A foreshore rising to the dike, with a bar.
    storms.emplace_back(std::vector<double>{0, 200, 450, 600, 900}, std::vector<double>{-14, -8, -6.5, -7, -1.5},
                        203, 1u);
    // A crest that falls dry at low water.
    storms.emplace_back(std::vector<double>{0, 300, 400}, std::vector<double>{-6, 0.8, 0.5}, 97, 2u);
    return storms;
}

TEST(LaneRuns, EveryPathMatchesTheReferenceRun) {
    for (const Series& storm : Storms()) {
        const RunResult reference = RunOn(storm.input, MarchPath::Reference);
        for (const MarchPath path : qav::SupportedMarchPaths()) {
            ExpectSameSteps(RunOn(storm.input, path), reference, 1e-13, std::string(qav::MarchPathName(path)));
        }
    }
}

TEST(LaneRuns, LanesGiveExactlyTheStepsOneAfterAnother) {
    for (const Series& storm : Storms()) {
        for (const MarchPath path : qav::SupportedMarchPaths()) {
            ExpectSameSteps(RunOn(storm.input, path), OneAtATime(storm.input, path), 0.0,
                            std::string(qav::MarchPathName(path)));
        }
    }
}

TEST(LaneRuns, MessagesOfStepsBetweenGroupsKeepTheirOrder) {
    // Marching steps around a refused and a calm one: each keeps its own
    // message, and the run ends with the calm step's.
    std::vector<double> x{0, 300};
    std::vector<double> z{-12, -2};
    std::vector<double> hm0{1.0, 1.0, -999.0, 1.0, 1.0, 0.0, 1.0};
    std::vector<double> tp{6, 6, 6, 6, 6, 6, 6};
    std::vector<double> wlev{0, 0, 0, 0.5, 0, 0, 0};
    std::vector<double> angle{270, 350, 275, 270, 200, 270, 270};
    qav::RunInput input;
    input.Hm0 = hm0;
    input.Tp = tp;
    input.Wlev = wlev;
    input.IncomingWaveAngle = angle;
    input.DikeNormal = 270.0;
    input.ProfileX = x;
    input.ProfileBottomLevel = z;
    const RunResult reference = RunOn(input, MarchPath::Reference);
    EXPECT_EQ(reference.outcomes[2], qav::StepOutcome::Refused);
    EXPECT_EQ(reference.outcomes[5], qav::StepOutcome::Calm);
    EXPECT_EQ(qav::TrimTrailingBlanks(reference.message), "Hm0 is (almost) zero");
    for (const MarchPath path : qav::SupportedMarchPaths()) {
        ExpectSameSteps(RunOn(input, path), reference, 1e-13, std::string(qav::MarchPathName(path)));
    }
}

TEST(LaneRuns, LongCalmBetweenStormsKeepsEveryStepsMessage) {
    // A storm step, a calm of 600 steps (some refused, some from behind) that
    // waits with it, then storm steps again.
    std::vector<double> x{0, 300};
    std::vector<double> z{-12, -2};
    std::vector<double> hm0, tp, wlev, angle;
    for (int i = 0; i < 640; ++i) {
        const bool storm = i == 0 || i >= 601;
        hm0.push_back(storm ? 1.0 + 0.01 * i : i % 7 == 0 ? -999.0 : 0.0);
        tp.push_back(6.0);
        wlev.push_back(0.1 * (i % 5));
        angle.push_back(!storm && i % 11 == 0 ? 30.0 : 265.0);
    }
    qav::RunInput input;
    input.Hm0 = hm0;
    input.Tp = tp;
    input.Wlev = wlev;
    input.IncomingWaveAngle = angle;
    input.DikeNormal = 270.0;
    input.ProfileX = x;
    input.ProfileBottomLevel = z;
    for (const MarchPath path : qav::SupportedMarchPaths()) {
        ExpectSameSteps(RunOn(input, path), OneAtATime(input, path), 0.0, std::string(qav::MarchPathName(path)));
    }
}

} // namespace
