#include <fcntl.h>
#include <gtest/gtest.h>
#include <omp.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/log.h"
#include "model/grid.h"
#include "model/model.h"
#include "model/step_pieces.h"

namespace qav {
namespace {

namespace fs = std::filesystem;

std::string Stamp(int year, int month, int day, int hour, int minute, int second, int ms) {
    const DateTimeText text = FormatDateTimeStamp({year, month, day, hour, minute, second, ms});
    return std::string(View(text));
}

TEST(LogLayout, TimeStampHoursAndMarker) {
    EXPECT_EQ(Stamp(2026, 12, 6, 21, 5, 7, 339), "12/06/2026 9:05:07:33 pm      ");
    EXPECT_EQ(Stamp(2026, 12, 6, 10, 15, 0, 0), "12/06/202610:15:00:00 am      ");
    EXPECT_EQ(Stamp(2026, 3, 7, 0, 30, 0, 0), " 3/07/2026 0:30:00:00 am      ");
    EXPECT_EQ(Stamp(2026, 3, 7, 12, 30, 0, 0).substr(10, 14), "12:30:00:00 am");
    EXPECT_EQ(Stamp(2026, 3, 7, 13, 30, 0, 0).substr(10, 14), " 1:30:00:00 pm");
    EXPECT_EQ(Stamp(2026, 3, 7, 13, 30, 0, 0).size(), 30u);
}

TEST(LogLayout, StampReadsTheInjectedClock) {
    SetLogClock([] { return LocalTime{2026, 12, 6, 13, 30, 0, 0}; });
    const std::string stamp(View(DateTimeStamp()));
    SetLogClock(nullptr);
    EXPECT_EQ(stamp, "12/06/2026 1:30:00:00 pm      ");
    EXPECT_NE(std::string(View(DateTimeStamp())), stamp);
}

TEST(LogLayout, IntegerFieldFiveColumnsThenBlanks) {
    EXPECT_EQ(FormatIntegerField(0), "    0     ");
    EXPECT_EQ(FormatIntegerField(-1234), "-1234     ");
    EXPECT_EQ(FormatIntegerField(99999), "99999     ");
    EXPECT_EQ(FormatIntegerField(123456), "*****     ");
    EXPECT_EQ(FormatIntegerField(-10000), "*****     ");
}

TEST(LogLayout, RealFieldFixedPointTenColumns) {
    EXPECT_EQ(FormatRealField(9.81), "    9.8100");
    EXPECT_EQ(FormatRealField(-999.0), " -999.0000");
    EXPECT_EQ(FormatRealField(99999.99994), "99999.9999");
    EXPECT_EQ(FormatRealField(123456.0), "**********");
    EXPECT_EQ(FormatRealField(-1e300), "**********");
    EXPECT_EQ(FormatRealField(std::numeric_limits<double>::quiet_NaN()), "       NaN");
    EXPECT_EQ(FormatRealField(std::numeric_limits<double>::infinity()), "  Infinity");
    EXPECT_EQ(FormatRealField(-std::numeric_limits<double>::infinity()), " -Infinity");
}

class LogFile : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("qav-log-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        InitLog(0, " ");
        fs::remove_all(dir_);
    }
    std::vector<std::string> Lines(const fs::path& file) const {
        std::ifstream in(file);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }
    fs::path dir_;
};

TEST_F(LogFile, ValueLinesAndBlankLines) {
    const fs::path file = dir_ / "run.log";
    ASSERT_TRUE(InitLog(1, file.string() + "   "));  // trailing blanks name the same file
    LogInteger("Entry DamType:", 1);
    LogInteger("Entry DamType:   ", -1234);
    LogReal("Entry Ag:", 9.81);
    WriteLogLine("     ");
    WriteLogLine("  leading kept   ");
    EXPECT_EQ(Lines(file), (std::vector<std::string>{"Entry DamType:    1", "Entry DamType:-1234",
                                                     "Entry Ag:    9.8100", "", "  leading kept"}));
}

TEST_F(LogFile, ExistingFileIsAppendedToNeverTruncated) {
    const fs::path file = dir_ / "old.log";
    std::ofstream(file) << "earlier run\n";
    ASSERT_TRUE(InitLog(1, file.string()));
    WriteLogLine("this run");
    EXPECT_EQ(Lines(file), (std::vector<std::string>{"earlier run", "this run"}));
}

TEST_F(LogFile, OffWritesNothingAndUnwritableLinesAreSkipped) {
    const fs::path file = dir_ / "off.log";
    ASSERT_TRUE(InitLog(0, file.string()));
    WriteLogLine("nothing");
    LogReal("Entry Ag:", 9.81);
    EXPECT_FALSE(fs::exists(file));
    EXPECT_EQ(LostLogLines(), 0u);
    ASSERT_TRUE(InitLog(1, (dir_ / "missing" / "x.log").string()));
    WriteLogLine("skipped");
    LogReal("Entry Ag:", 9.81);
    EXPECT_EQ(LostLogLines(), 2u);
    ASSERT_TRUE(InitLog(1, dir_.string()));  // a folder, not a file
    WriteLogLine("skipped");
    InitLog(0, "");  // the count stays for the caller to read
    EXPECT_EQ(LostLogLines(), 1u);
    EXPECT_FALSE(fs::exists(dir_ / "missing"));
    if (fs::exists("/dev/full")) {
        ASSERT_TRUE(InitLog(1, "/dev/full"));
        WriteLogLine("no room");
        EXPECT_EQ(LostLogLines(), 1u);
    }
}

// A named pipe nobody reads: each line is lost and counted, nothing waits.
// Should a write wait all the same, a reader opens the pipe after 10 s to
// set it free, and the test fails.
TEST_F(LogFile, NamedPipeWithoutReaderLosesLinesWithoutWaiting) {
    const fs::path pipe = dir_ / "log.fifo";
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
    std::atomic<bool> finished{false}, rescued{false};
    std::thread rescue([&] {
        for (int i = 0; i < 1000 && !finished; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (finished) return;
        rescued = true;
        const int fd = ::open(pipe.c_str(), O_RDONLY | O_NONBLOCK);
        while (!finished) std::this_thread::sleep_for(std::chrono::milliseconds(10));
        if (fd >= 0) ::close(fd);
    });
    ASSERT_TRUE(InitLog(1, pipe.string()));
    for (int i = 0; i < 3; ++i) WriteLogLine("line " + std::to_string(i));
    finished = true;
    rescue.join();
    EXPECT_FALSE(rescued);
    EXPECT_EQ(LostLogLines(), 3u);
}

TEST_F(LogFile, ThreadNumbersFromTheLimitGetNoLog) {
    const fs::path file = dir_ / "team.log";
    int refused = 0;
    testing::internal::CaptureStderr();
#pragma omp parallel num_threads(MaxLogThreads + 2) reduction(+ : refused)
    {
        const int number = omp_get_thread_num();
        if (number >= MaxLogThreads - 1) {
            if (InitLog(1, file.string())) {
                WriteLogLine("thread " + std::to_string(number));
            } else {
                ++refused;
                WriteLogLine("never");
            }
        }
    }
    const std::string errors = testing::internal::GetCapturedStderr();
    if (omp_get_max_threads() < MaxLogThreads + 2 && refused == 0) GTEST_SKIP() << "team smaller than asked";
    EXPECT_EQ(refused, 2);
    EXPECT_NE(errors.find("Too many OMP threads; should be <= 128\n"), std::string::npos);
    EXPECT_EQ(Lines(file), (std::vector<std::string>{"thread 127"}));
}

TEST_F(LogFile, StepWithoutADirectionLogsItsReason) {
    // Deeper water at the toe than offshore: oblique waves find no direction.
    const std::vector<double> x{0, 1000}, z{-2, -12}, hm0{1.0}, tp{8.0}, wlev{0.0}, angle{80.0};
    RunInput input;
    input.Hm0 = hm0;
    input.Tp = tp;
    input.Wlev = wlev;
    input.IncomingWaveAngle = angle;
    input.ProfileX = x;
    input.ProfileBottomLevel = z;
    const fs::path file = dir_ / "step.log";
    ASSERT_TRUE(InitLog(1, file.string()));
    std::string text(1000, ' ');
    StepWorkspace work;
    const StepResult step = ComputeTimeStep(input, Constants{}, 0, {text.data(), text.size()}, work);
    EXPECT_EQ(step.Outcome, StepOutcome::NoDirection);
    EXPECT_EQ(Lines(file),
              (std::vector<std::string>{
                  "Entry Dike Normal:    0.0000", "Entry Grid step size :    1.0000",
                  "Entry Distance between begin and end point grid : 1000.0000",
                  "Entry Refracted angle : The refracted angle cannot be calculated for this profile!"}));
}

} // namespace
} // namespace qav
