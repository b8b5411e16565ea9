// The five exports as a host sees them, through the shared library.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "qav.h"
#include "tests/model_call.h"

namespace {

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();

TEST(Exports, VersionIsFixedAtBuildTime) {
    std::string text(1000, '#');
    GetVersionInfo(text.data());
    EXPECT_EQ(text, "25.1.1.0" + std::string(992, ' '));
    GetVersionInfo(nullptr);
}

TEST(Exports, BothEntriesAgreeBitForBit) {
    ModelCall run;
    run.damType = 3;
    run.damHeight = -3.0;
    run.dikeNormal = 10;
    run.AddStep(2.0, 8.0, 0.5, 30);
    run.AddStep(0.0, 6.0, 0.0, 10);
    run.AddStep(1.5, 7.0, 1.0, 95);
    run.AddStep(3.0, 10.0, 2.0, 355);
    const int c = run.CallC();
    const auto hC = run.hm0Toe, tC = run.tpToe, aC = run.angleToe;
    const std::string mC = run.CMessage();
    const int r = run.CallRef();
    EXPECT_EQ(c, r);
    EXPECT_EQ(0, std::memcmp(hC.data(), run.hm0Toe.data(), hC.size() * sizeof(double)));
    EXPECT_EQ(0, std::memcmp(tC.data(), run.tpToe.data(), tC.size() * sizeof(double)));
    EXPECT_EQ(0, std::memcmp(aC.data(), run.angleToe.data(), aC.size() * sizeof(double)));
    EXPECT_EQ(mC, run.RefMessage());
    EXPECT_EQ(run.message.size(), 1000u);
}

TEST(Exports, ResultTableRowsPerStep) {
    ModelCall run;
    run.dikeNormal = 0;
    run.AddStep(2.0, 8.0, 0.0, 0);    // computed
    run.AddStep(0.0, 6.0, 0.0, 20);   // calm
    run.AddStep(1.0, 6.0, 0.0, 180);  // from behind the dike
    run.AddStep(-1.0, 6.0, 0.0, 0);   // refused
    run.AddStep(2.0, 8.0, 0.0, 85);   // very oblique: half height
    run.AddStep(2.0, 8.0, 0.0, 80);   // at 80 degrees: no reduction
    EXPECT_EQ(run.CallC(), 0);
    EXPECT_GT(run.hm0Toe[0], 0.5);
    EXPECT_EQ(run.tpToe[0], 8.0);
    EXPECT_EQ(run.angleToe[0], 0.0);
    EXPECT_EQ(run.hm0Toe[1], 0.0);
    EXPECT_EQ(run.tpToe[1], 6.0);
    EXPECT_EQ(run.angleToe[1], 20.0);
    EXPECT_EQ(run.hm0Toe[2], 0.0);
    EXPECT_EQ(run.angleToe[2], 180.0);
    EXPECT_EQ(run.hm0Toe[3], Invalid);
    EXPECT_EQ(run.tpToe[3], Invalid);
    EXPECT_EQ(run.angleToe[3], Invalid);
    // The last message written is kept although the run succeeded.
    EXPECT_EQ(run.CMessage(), "Hm0 is negative");

    ModelCall plain;
    plain.AddStep(2.0, 8.0, 0.0, 85);
    plain.dikeNormal = 0;
    ASSERT_EQ(plain.CallC(), 0);
    ModelCall straight = plain;
    straight.angle[0] = 0;  // the march does not depend on the direction
    ASSERT_EQ(straight.CallC(), 0);
    EXPECT_NEAR(plain.hm0Toe[0], 0.5 * straight.hm0Toe[0], 1e-12);
    EXPECT_EQ(run.hm0Toe[5], straight.hm0Toe[0]);
    EXPECT_EQ(plain.CMessage(), "Foreshore present-No Dam present-");
}

TEST(Exports, ReturnCodeFollowsTheFailedSteps) {
    const auto runWith = [](int steps, int failed) {
        ModelCall run;
        for (int i = 0; i < steps; ++i) run.AddStep(i < failed ? -1.0 : 1.0, 8.0, 0.0, 0.0);
        return run.CallC();
    };
    EXPECT_EQ(runWith(0, 0), -1);
    EXPECT_EQ(runWith(1, 0), 0);
    EXPECT_EQ(runWith(1, 1), -1);
    EXPECT_EQ(runWith(3, 1), -1);
    EXPECT_EQ(runWith(4, 1), 0);
    EXPECT_EQ(runWith(4, 2), -1);
    EXPECT_EQ(runWith(5, 2), -1);
}

TEST(Exports, NoTimeStepsWritesNoResult) {
    ModelCall run;
    const int n = -3, m = 3;
    char message[1000];
    EXPECT_EQ(
        C_FORTRANENTRY_RollerModel5(&run.damType, &run.damHeight, &run.alpha, &run.fc, &run.invalid, &n,
                                    nullptr, nullptr, nullptr, nullptr, &run.dikeNormal, &m, run.x.data(),
                                    &run.minStep, run.z.data(), &run.ratioDepth, &run.logging, " ", 1,
                                    &run.ag, &run.rho, nullptr, nullptr, nullptr, message),
        -1);
    EXPECT_STREQ(message, "Foreshore present-No Dam present-");
}

TEST(Exports, RefusedSetupLeavesEveryResultInvalid) {
    ModelCall run;
    run.AddStep(1.0, 8.0, 0.0, 0.0);
    run.AddStep(1.0, 8.0, 0.0, 0.0);
    run.z = {-10, -12, -2};
    EXPECT_EQ(run.CallRef(), -1);
    EXPECT_EQ(run.RefMessage(), "bottom below toe");
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(run.hm0Toe[i], Invalid);
        EXPECT_EQ(run.tpToe[i], Invalid);
        EXPECT_EQ(run.angleToe[i], Invalid);
    }
}

TEST(Exports, GridTooLargeFailsItsStep) {
    ModelCall run;
    run.x = {0, 1e12};
    run.z = {-10, -10};
    run.AddStep(1.0, 8.0, 0.0, 0.0);
    EXPECT_EQ(run.CallC(), -1);
    EXPECT_EQ(run.CMessage(), "The computational grid cannot be built for this profile!");
    EXPECT_EQ(run.hm0Toe[0], Invalid);
}

TEST(Exports, OnePointProfileCarriesTheTransmittedHeight) {
    ModelCall run;
    run.x = {0};
    run.z = {-5};
    run.damType = 2;
    run.damHeight = 0.5;
    run.AddStep(2.0, 8.0, 0.0, 85.0);
    EXPECT_EQ(run.CallC(), 0);
    // Wall with R = 0.25, halved for waves 85 degrees off the normal.
    const double coefficient = 0.5 + 0.5 * std::sin((0.1 + 0.25) * (-1.5707963267948966) / 1.8);
    EXPECT_NEAR(run.hm0Toe[0], 0.5 * 2.0 * coefficient, 1e-12);
    EXPECT_EQ(run.angleToe[0], 85.0);
}

TEST(Exports, MessageTerminationOfTheCEntry) {
    ModelCall run;
    run.AddStep(1.0, 8.0, 0.0, 0.0);
    run.damType = 7;
    EXPECT_EQ(run.CallC(), -1);
    EXPECT_EQ(run.CMessage(), "Foreshore present-Dam type not supported, must be 0,1,2,3-");
    EXPECT_EQ(run.message[run.CMessage().size()], '\0');
}

TEST(Exports, MissingArgumentsAreNamed) {
    ModelCall run;
    run.AddStep(1.0, 8.0, 0.0, 0.0);
    run.Prepare();
    const int n = 1, m = 3;
    std::string message(1000, 'x');
    EXPECT_EQ(C_FORTRANENTRY_RollerModel5(
                  &run.damType, &run.damHeight, &run.alpha, &run.fc, &run.invalid, &n, run.hm0.data(),
                  nullptr, run.wlev.data(), run.angle.data(), &run.dikeNormal, &m, run.x.data(), &run.minStep,
                  run.z.data(), &run.ratioDepth, &run.logging, " ", 1, &run.ag, &run.rho, run.hm0Toe.data(),
                  run.tpToe.data(), run.angleToe.data(), message.data()),
              -1);
    EXPECT_STREQ(message.c_str(), "Argument Tp is missing!");
    EXPECT_EQ(run.hm0Toe[0], 12345.0);  // results untouched
    const double parameters[7] = {9.81, 1000, 1, 0.01, 0.3, -999, 1};
    EXPECT_EQ(FORTRANENTRY_ROLLERMODEL5(&run.damType, &run.damHeight, parameters, &n, run.hm0.data(),
                                        run.tp.data(), run.wlev.data(), run.angle.data(), nullptr, &m,
                                        run.x.data(), run.z.data(), &run.logging, " ", run.hm0Toe.data(),
                                        run.tpToe.data(), run.angleToe.data(), message.data(), 1, 1000),
              -1);
    EXPECT_EQ(message.substr(0, 30), "Argument DikeNormal is missing");
    // The parameters' array stands where the C entry's Alpha stands: before Hm0.
    EXPECT_EQ(FORTRANENTRY_ROLLERMODEL5(&run.damType, &run.damHeight, nullptr, &n, nullptr, run.tp.data(),
                                        run.wlev.data(), run.angle.data(), &run.dikeNormal, &m, run.x.data(),
                                        run.z.data(), &run.logging, " ", run.hm0Toe.data(), run.tpToe.data(),
                                        run.angleToe.data(), message.data(), 1, 1000),
              -1);
    EXPECT_EQ(message.substr(0, 35), "Argument ModelParameters is missing");
    // The C entry's own order: MinStepSize before the bottom levels, the log
    // file's name (of 3 characters) before Ag.
    EXPECT_EQ(C_FORTRANENTRY_RollerModel5(
                  &run.damType, &run.damHeight, &run.alpha, &run.fc, &run.invalid, &n, run.hm0.data(),
                  run.tp.data(), run.wlev.data(), run.angle.data(), &run.dikeNormal, &m, run.x.data(),
                  nullptr, nullptr, &run.ratioDepth, &run.logging, " ", 1, &run.ag, &run.rho,
                  run.hm0Toe.data(), run.tpToe.data(), run.angleToe.data(), message.data()),
              -1);
    EXPECT_STREQ(message.c_str(), "Argument MinStepSize is missing!");
    EXPECT_EQ(C_FORTRANENTRY_RollerModel5(
                  &run.damType, &run.damHeight, &run.alpha, &run.fc, &run.invalid, &n, run.hm0.data(),
                  run.tp.data(), run.wlev.data(), run.angle.data(), &run.dikeNormal, &m, run.x.data(),
                  &run.minStep, run.z.data(), &run.ratioDepth, &run.logging, nullptr, 3, nullptr, &run.rho,
                  run.hm0Toe.data(), run.tpToe.data(), run.angleToe.data(), message.data()),
              -1);
    EXPECT_STREQ(message.c_str(), "Argument LogFileName is missing!");
    EXPECT_EQ(FORTRANENTRY_ROLLERMODEL5(&run.damType, &run.damHeight, parameters, &n, run.hm0.data(),
                                        run.tp.data(), run.wlev.data(), run.angle.data(), &run.dikeNormal, &m,
                                        run.x.data(), run.z.data(), &run.logging, " ", run.hm0Toe.data(),
                                        run.tpToe.data(), run.angleToe.data(), nullptr, 1, 1000),
              -1);
    std::string profileMessage(20, ' ');
    EXPECT_EQ(VALIDATEPROFILE(&m, nullptr, run.z.data(), nullptr, nullptr, profileMessage.data(), 20), -1);
    EXPECT_EQ(profileMessage, "Argument ProfileX is");
    EXPECT_EQ(VALIDATEHYDRAULICDATA(&n, run.hm0.data(), run.tp.data(), run.wlev.data(), run.angle.data(),
                                    nullptr, nullptr, 0),
              -1);
}

TEST(Exports, ValidationEntries) {
    const int zero = 0, three = 3;
    std::string blank(1000, ' ');
    EXPECT_EQ(VALIDATEPROFILE(&zero, nullptr, nullptr, nullptr, nullptr, blank.data(), 1000), -1);
    EXPECT_EQ(blank, "The size of the grid array equals 0. Must be at least 1!" + std::string(944, ' '));
    const double x[] = {0, 10, 20}, z[] = {0, 1, 1.5};
    std::string prefixed = "caller text" + std::string(20, ' ');
    EXPECT_EQ(VALIDATEPROFILE(&three, x, z, nullptr, nullptr, prefixed.data(), -5), 0);
    EXPECT_EQ(prefixed, "caller text" + std::string(20, ' '));

    const double hm0[] = {0.0, 1.0, 1.0}, tp[] = {8, 8, 8}, wlev[] = {0, 0, 0}, angle[] = {0, 0, 0};
    std::string message(40, ' ');
    EXPECT_EQ(VALIDATEHYDRAULICDATA(&three, hm0, tp, wlev, angle, &Invalid, message.data(), 40), 1);
    EXPECT_EQ(message, "Hm0 is (almost) zero" + std::string(20, ' '));
    std::string untouched(10, 'u');
    EXPECT_EQ(
        VALIDATEHYDRAULICDATA(&zero, nullptr, nullptr, nullptr, nullptr, &Invalid, untouched.data(), 10), 0);
    EXPECT_EQ(untouched, std::string(10, 'u'));
    const double nanHm0[] = {1.0, NaN, 1.0};
    EXPECT_EQ(VALIDATEHYDRAULICDATA(&three, nanHm0, tp, wlev, angle, &Invalid, message.data(), 40), -1);
    EXPECT_EQ(message, "Hm0 is invalid" + std::string(26, ' '));
}

}  // namespace
