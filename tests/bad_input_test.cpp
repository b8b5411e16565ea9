// One row per kind of bad input to the main entries: the return code, the
// message and what the result arrays hold afterwards.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <limits>
#include <string>
#include <vector>

#include "tests/model_call.h"

namespace {

namespace fs = std::filesystem;

constexpr double NaN = std::numeric_limits<double>::quiet_NaN();
constexpr double Inf = std::numeric_limits<double>::infinity();

enum class Results { AllInvalid, FirstInvalid, Untouched, Computed };

struct BadInput {
    const char* kind;
    std::function<void(ModelCall&)> change;
    int code;
    std::string message;
    Results results;
};

// Three computable steps; a row spoils one thing.
ModelCall Base() {
    ModelCall call;
    call.damType = 1;
    call.damHeight = -4.0;
    for (int i = 0; i < 3; ++i) call.AddStep(1.0 + i, 6.0 + i, 0.5 * i, 10.0 * i);
    return call;
}

const std::string SetupText = "Foreshore present-Caisson dam type present-";

std::vector<BadInput> Rows() {
    std::vector<BadInput> rows;
    for (const double bad : {NaN, Inf, -Inf}) {
        rows.push_back({"non-finite Hm0", [=](ModelCall& c) { c.hm0[0] = bad; }, -1, "Hm0 is invalid",
                        Results::FirstInvalid});
        rows.push_back({"non-finite Tp", [=](ModelCall& c) { c.tp[0] = bad; }, -1, "Tp is invalid",
                        Results::FirstInvalid});
        rows.push_back({"non-finite Wlev", [=](ModelCall& c) { c.wlev[0] = bad; }, -1, "Wlev is invalid",
                        Results::FirstInvalid});
        rows.push_back({"non-finite angle", [=](ModelCall& c) { c.angle[0] = bad; }, -1,
                        "incoming wave angle is invalid", Results::FirstInvalid});
        rows.push_back({"non-finite profile X", [=](ModelCall& c) { c.x[1] = bad; }, -1,
                        "The profile contains a value that is not a finite number!", Results::AllInvalid});
        rows.push_back({"non-finite bottom level", [=](ModelCall& c) { c.z[2] = bad; }, -1,
                        "The profile contains a value that is not a finite number!", Results::AllInvalid});
        rows.push_back({"non-finite dike normal", [=](ModelCall& c) { c.dikeNormal = bad; }, -1,
                        SetupText + "Dike normal is invalid", Results::AllInvalid});
        rows.push_back({"non-finite Ag", [=](ModelCall& c) { c.ag = bad; }, -1,
                        SetupText + "The value for the gravity constant must be larger than zero!",
                        Results::AllInvalid});
        rows.push_back({"non-finite Rho", [=](ModelCall& c) { c.rho = bad; }, -1,
                        SetupText + "The value for the water density must be larger than zero!",
                        Results::AllInvalid});
        rows.push_back({"non-finite Alpha", [=](ModelCall& c) { c.alpha = bad; }, -1,
                        SetupText + "The value for alpha must be zero or larger!", Results::AllInvalid});
        rows.push_back({"non-finite Fc", [=](ModelCall& c) { c.fc = bad; }, -1,
                        SetupText + "The value for the bottom friction must be zero or larger!",
                        Results::AllInvalid});
        rows.push_back({"non-finite dam height", [=](ModelCall& c) { c.damHeight = bad; }, -1,
                        SetupText + "The dam height must be a finite number!", Results::AllInvalid});
    }
    rows.push_back({"NaN ratio depth", [](ModelCall& c) { c.ratioDepth = NaN; }, -1,
                    SetupText + "The value for ratio depth must be larger than zero!", Results::AllInvalid});
    rows.push_back({"negative minimum step", [](ModelCall& c) { c.minStep = -1; }, -1,
                    SetupText + "The value for minimum grid step size must be larger than zero!",
                    Results::AllInvalid});
    rows.push_back({"profile of 10^12 m", [](ModelCall& c) { c.x = {0, 5e11, 1e12}; }, -1,
                    "The computational grid cannot be built for this profile!", Results::AllInvalid});
    rows.push_back({"every step refused", [](ModelCall& c) { c.tp = {-1, -2, -3}; }, -1, "Tp is negative",
                    Results::AllInvalid});
    rows.push_back({"log file in a missing folder", [](ModelCall& c) {
                        c.logging = 1;
                        c.logFile = "/nonexistent-qav-folder/run.log";
                    },
                    0, SetupText, Results::Computed});
    rows.push_back({"log file that cannot be created", [](ModelCall& c) {
                        c.logging = 1;
                        c.logFile = "/proc/qav-cannot-write.log";
                    },
                    0, SetupText, Results::Computed});
    rows.push_back({"log file named by an empty text", [](ModelCall& c) {
                        c.logging = 1;
                        c.logFile = "";
                    },
                    0, SetupText, Results::Computed});
    return rows;
}

TEST(BadInput, EachKindGetsItsCodeMessageAndResults) {
    ModelCall good = Base();
    ASSERT_EQ(good.CallC(), 0);
    for (const BadInput& row : Rows()) {
        for (const bool cEntry : {true, false}) {
            ModelCall call = Base();
            row.change(call);
            const int code = cEntry ? call.CallC() : call.CallRef();
            SCOPED_TRACE(std::string(row.kind) + (cEntry ? " (C entry)" : " (by reference)"));
            EXPECT_EQ(code, row.code);
            EXPECT_EQ(cEntry ? call.CMessage() : call.RefMessage(), row.message);
            for (std::size_t i = 0; i < call.hm0Toe.size(); ++i) {
                const bool invalid = row.results == Results::AllInvalid ||
                                     (row.results == Results::FirstInvalid && i == 0);
                if (invalid) {
                    EXPECT_EQ(call.hm0Toe[i], Invalid);
                    EXPECT_EQ(call.tpToe[i], Invalid);
                    EXPECT_EQ(call.angleToe[i], Invalid);
                } else {
                    EXPECT_EQ(call.hm0Toe[i], good.hm0Toe[i]) << i;
                    EXPECT_EQ(call.tpToe[i], good.tpToe[i]) << i;
                    EXPECT_EQ(call.angleToe[i], good.angleToe[i]) << i;
                }
            }
        }
    }
}

TEST(BadInput, CountsBelowOneAreEmptyArrays) {
    for (const int n : {0, -1, -2147483647 - 1}) {
        ModelCall call = Base();
        const int m = 3;
        char message[1000];
        EXPECT_EQ(C_FORTRANENTRY_RollerModel5(&call.damType, &call.damHeight, &call.alpha, &call.fc, &call.invalid,
                                              &n, nullptr, nullptr, nullptr, nullptr, &call.dikeNormal, &m,
                                              call.x.data(), &call.minStep, call.z.data(), &call.ratioDepth,
                                              &call.logging, " ", 1, &call.ag, &call.rho, nullptr, nullptr, nullptr,
                                              message),
                  -1)
            << n;
    }
    for (const int m : {0, -5}) {
        ModelCall call = Base();
        const int n = 3;
        call.Prepare();
        std::string message(1000, ' ');
        const double parameters[7] = {9.81, 1000, 1, 0.01, 0.3, Invalid, 1};
        EXPECT_EQ(FORTRANENTRY_ROLLERMODEL5(&call.damType, &call.damHeight, parameters, &n, call.hm0.data(),
                                            call.tp.data(), call.wlev.data(), call.angle.data(), &call.dikeNormal,
                                            &m, nullptr, nullptr, &call.logging, " ", call.hm0Toe.data(),
                                            call.tpToe.data(), call.angleToe.data(), message.data(), -7, -7),
                  -1);
        const std::string text =
            "No Foreshore present-Caisson dam type present-The size of the grid array equals 0. Must be at least 1!";
        EXPECT_EQ(message, text + std::string(1000 - text.size(), ' '));
        EXPECT_EQ(call.hm0Toe[0], Invalid);
    }
}

TEST(BadInput, ShortMessageBuffersAreCutNotOverrun) {
    const int m = 3;
    const double x[] = {0, 10, 10}, z[] = {0, 0, 0};
    std::vector<char> buffer(12, '#');
    EXPECT_EQ(VALIDATEPROFILE(&m, x, z, nullptr, nullptr, buffer.data(), 5), -1);
    EXPECT_EQ(std::string(buffer.data(), 12), "x-val#######");
    EXPECT_EQ(VALIDATEPROFILE(&m, x, z, nullptr, nullptr, buffer.data(), 0), -1);
    EXPECT_EQ(VALIDATEPROFILE(&m, x, z, nullptr, nullptr, buffer.data(), -3), -1);
    EXPECT_EQ(std::string(buffer.data(), 12), "x-val#######");
}

TEST(BadInput, EarlierLogContentIsKept) {
    const fs::path file = fs::temp_directory_path() / ("qav-earlier-" + std::to_string(::getpid()) + ".log");
    std::ofstream(file) << "a line from yesterday\n";
    ModelCall call = Base();
    call.logging = 1;
    call.logFile = file.string();
    ASSERT_EQ(call.CallC(), 0);
    std::ifstream in(file);
    std::string first;
    std::getline(in, first);
    EXPECT_EQ(first, "a line from yesterday");
    std::string second;
    std::getline(in, second);
    EXPECT_EQ(second.rfind("Start Interface Logging:", 0), 0u);
    in.close();  // Windows does not remove a file that is open
    fs::remove(file);
}

} // namespace
