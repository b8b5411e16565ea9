// Whole diagnostic logs of calls through the exports, line by line; time
// stamps are matched by their layout.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "qav.h"

namespace {

namespace fs = std::filesystem;

const std::string Stamp = "<stamp>";
const std::string StampPattern = R"([ 1]\d/\d\d/\d{4}[ 1]\d:\d\d:\d\d:\d\d [ap]m {0,6})";
const std::string Dashes(41, '-');

std::vector<std::string> ReadLines(const fs::path& file) {
    std::ifstream in(file);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

void ExpectLines(const std::vector<std::string>& actual, const std::vector<std::string>& expected) {
    ASSERT_EQ(actual.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        std::string pattern;
        for (const char c : expected[i]) {
            if (std::string("\\^$.|?*+()[]{}").find(c) != std::string::npos) pattern += '\\';
            pattern += c;
        }
        const std::string escapedStamp = "<stamp>";
        for (auto at = pattern.find(escapedStamp); at != std::string::npos; at = pattern.find(escapedStamp)) {
            pattern.replace(at, escapedStamp.size(), StampPattern);
        }
        EXPECT_TRUE(std::regex_match(actual[i], std::regex(pattern)))
            << "line " << i + 1 << "\n  actual:   " << actual[i] << "\n  expected: " << expected[i];
    }
}

struct LoggedRun {
    int damType = 0;
    double damHeight = 0.0;
    double parameters[7] = {9.81, 1025.0, 1.0, 0.01, 0.5, -999.0, 1.0};
    std::vector<double> hm0, tp, wlev, angle;
    double dikeNormal = 0.0;
    std::vector<double> x{0, 100, 200}, z{-8, -6, -4};
    fs::path file;

    int Call() {
        const int n = static_cast<int>(hm0.size()), m = static_cast<int>(x.size()), logging = 1;
        std::vector<double> a(hm0.size()), b(hm0.size()), c(hm0.size());
        std::string message(1000, ' ');
        const std::string name = file.string() + "  ";
        return FORTRANENTRY_ROLLERMODEL5(&damType, &damHeight, parameters, &n, hm0.data(), tp.data(), wlev.data(),
                                         angle.data(), &dikeNormal, &m, x.data(), z.data(), &logging, name.data(),
                                         a.data(), b.data(), c.data(), message.data(),
                                         static_cast<int64_t>(name.size()), 1000);
    }
};

// The interface header and the model constants, as every logged call starts.
std::vector<std::string> Header(const std::string& dam, const std::string& damHeight, int n,
                                const std::vector<std::string>& firstValues, const std::string& m) {
    std::vector<std::string> lines{"Start Interface Logging:" + Stamp,
                                   "DynamicLib-Qav.dll: VERSION 25.1.1.0",
                                   "Entry Alpha:    1.0000",
                                   "Entry Fc:    0.0100",
                                   "Entry Ag:    9.8100",
                                   "Entry Rho: 1025.0000",
                                   "Entry Invalid Value: -999.0000",
                                   "Entry DamType:    " + dam,
                                   "Entry DamHeight:" + damHeight,
                                   "Entry MinStepSize:    1.0000",
                                   "Entry RatioDepth:    0.5000"};
    const char* series[] = {"Hm0", "Tp", "Water Level", "Incoming Wave Angle"};
    for (int i = 0; i < 4; ++i) {
        lines.push_back(std::string("Entry Total number of ") + series[i] + " values:    " + std::to_string(n));
        if (n > 0) lines.push_back(std::string("Entry ") + series[i] + " first array value:" + firstValues[i]);
    }
    lines.push_back("Entry Total number of X values:    " + m);
    lines.push_back("Entry Total number of Bottom Level values:    " + m);
    lines.push_back("Entry Dike normal:    0.0000");
    lines.push_back("Entry Log Interface Finished at" + Stamp + Dashes);
    lines.push_back("Entry Gravity constant:    9.8100");
    lines.push_back("Entry Rho Water: 1025.0000");
    lines.push_back("Entry Default grid step size:   10.0000");
    lines.push_back("Entry Alpha:    1.0000");
    lines.push_back("Entry Fc:    0.0100");
    lines.push_back("Entry Invalid Value: -999.0000");
    lines.push_back("Entry DamType:    " + dam);
    lines.push_back("Entry DamHeight:" + damHeight);
    lines.push_back("Entry MinStepSize:    1.0000");
    lines.push_back("Entry RatioDepth:    0.5000");
    for (const char* name : series) {
        lines.push_back(std::string("Entry Total number of ") + name + " values:    " + std::to_string(n));
    }
    lines.push_back("Entry Total number of X values:    " + m);
    lines.push_back("Entry Total number of Bottom Level values:    " + m);
    return lines;
}

void Append(std::vector<std::string>& lines, const std::vector<std::string>& more) {
    lines.insert(lines.end(), more.begin(), more.end());
}

class LogSequence : public ::testing::Test {
protected:
    void SetUp() override {
        run_.file = fs::temp_directory_path() /
                    ("qav-seq-" + std::to_string(::getpid()) + "-" +
                     ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".log");
        fs::remove(run_.file);
    }
    void TearDown() override { fs::remove(run_.file); }
    LoggedRun run_;
};

TEST_F(LogSequence, SuccessfulRunWithADam) {
    run_.damType = 1;
    run_.damHeight = -2.0;
    run_.hm0 = {1.0, 0.0};
    run_.tp = {8.0, 6.0};
    run_.wlev = {0.0, 0.0};
    run_.angle = {0.0, 0.0};
    ASSERT_EQ(run_.Call(), 0);
    auto expected = Header("1", "   -2.0000", 2, {"    1.0000", "    8.0000", "    0.0000", "    0.0000"}, "3");
    Append(expected, {"Entry Foreshore:Foreshore present-",
                      "Entry Dam Type:Foreshore present-Caisson dam type present-",
                      "Entry Hm0 first array value:    1.0000", "Entry Tp first array value:    8.0000",
                      "Entry Water Level first array value:    0.0000",
                      "Entry Incoming Wave Angle first array value:    0.0000",
                      "Entry Profile first X value:    0.0000", "Entry Profile first Bottom value:   -8.0000",
                      // step 1 computed; step 2 calm writes nothing
                      "Entry Dike Normal:    0.0000", "Entry Grid step size :    2.0000",
                      "Entry Distance between begin and end point grid :  200.0000",
                      "Entry Log Finished at" + Stamp + Dashes});
    ExpectLines(ReadLines(run_.file), expected);

    // A second call appends behind the first.
    ASSERT_EQ(run_.Call(), 0);
    EXPECT_EQ(ReadLines(run_.file).size(), 2 * expected.size());
}

TEST_F(LogSequence, RefusedSetupEndsWithItsReason) {
    run_.parameters[4] = 0.0;  // RatioDepth
    run_.hm0 = {1.0};
    run_.tp = {8.0};
    run_.wlev = {0.0};
    run_.angle = {0.0};
    ASSERT_EQ(run_.Call(), -1);
    auto expected = Header("0", "    0.0000", 1, {"    1.0000", "    8.0000", "    0.0000", "    0.0000"}, "3");
    for (auto& line : expected) {
        if (line == "Entry RatioDepth:    0.5000") line = "Entry RatioDepth:    0.0000";
    }
    Append(expected, {"Entry Foreshore:Foreshore present-", "Entry Dam Type:Foreshore present-No Dam present-",
                      "Entry RatioDepth error:Foreshore present-No Dam present-The value for ratio depth must be "
                      "larger than zero!"});
    ExpectLines(ReadLines(run_.file), expected);
}

TEST_F(LogSequence, CalmRefusedAndOutOfRangeSteps) {
    run_.hm0 = {0.0, -1.0, 1.0, 1.0};
    run_.tp = {8.0, 8.0, 8.0, 8.0};
    run_.wlev = {0.0, 0.0, 0.0, 0.0};
    run_.angle = {0.0, 0.0, 180.0, 10.0};
    ASSERT_EQ(run_.Call(), 0);
    auto expected = Header("0", "    0.0000", 4, {"    0.0000", "    8.0000", "    0.0000", "    0.0000"}, "3");
    Append(expected, {"Entry Foreshore:Foreshore present-", "Entry Dam Type:Foreshore present-No Dam present-",
                      "Entry Hm0 first array value:    0.0000", "Entry Tp first array value:    8.0000",
                      "Entry Water Level first array value:    0.0000",
                      "Entry Incoming Wave Angle first array value:    0.0000",
                      "Entry Profile first X value:    0.0000", "Entry Profile first Bottom value:   -8.0000",
                      "Entry Dike Normal:    0.0000", "Entry Incoming wave angle outside valid range",
                      "Entry Dike Normal:    0.0000", "Entry Grid step size :    2.0000",
                      "Entry Distance between begin and end point grid :  200.0000",
                      "Entry Log Finished at" + Stamp + Dashes});
    ExpectLines(ReadLines(run_.file), expected);
}

TEST_F(LogSequence, NoTimeStepsReadsNoElement) {
    ASSERT_EQ(run_.Call(), -1);
    auto expected = Header("0", "    0.0000", 0, {}, "3");
    Append(expected, {"Entry Foreshore:Foreshore present-", "Entry Dam Type:Foreshore present-No Dam present-",
                      "Entry Profile first X value:    0.0000", "Entry Profile first Bottom value:   -8.0000",
                      "Entry Log Finished at" + Stamp + Dashes});
    ExpectLines(ReadLines(run_.file), expected);
}

TEST_F(LogSequence, LoggingOffTouchesNoFile) {
    run_.hm0 = {1.0};
    run_.tp = {8.0};
    run_.wlev = {0.0};
    run_.angle = {0.0};
    const int n = 1, m = 3, off = 0;
    double a, b, c;
    std::string message(1000, ' ');
    const std::string name = run_.file.string();
    ASSERT_EQ(FORTRANENTRY_ROLLERMODEL5(&run_.damType, &run_.damHeight, run_.parameters, &n, run_.hm0.data(),
                                        run_.tp.data(), run_.wlev.data(), run_.angle.data(), &run_.dikeNormal, &m,
                                        run_.x.data(), run_.z.data(), &off, name.data(), &a, &b, &c,
                                        message.data(), static_cast<int64_t>(name.size()), 1000),
              0);
    EXPECT_FALSE(fs::exists(run_.file));
}

} // namespace
