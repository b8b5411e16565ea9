// Main-entry calls at once from an OpenMP parallel loop and from plain
// threads, with different g and rho, logging on and off: every result equals
// the serial run's and every log file holds whole lines of its own calls.
#include <gtest/gtest.h>
#include <omp.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "qav.h"

namespace {

namespace fs = std::filesystem;

struct Outcome {
    int code = 0;
    std::vector<double> hm0, tp, angle;
    std::string message;
    bool operator==(const Outcome& other) const {
        return code == other.code && message == other.message &&
               std::memcmp(hm0.data(), other.hm0.data(), hm0.size() * sizeof(double)) == 0 &&
               std::memcmp(tp.data(), other.tp.data(), tp.size() * sizeof(double)) == 0 &&
               std::memcmp(angle.data(), other.angle.data(), angle.size() * sizeof(double)) == 0;
    }
};

// Call number `job`: its own g, rho, water levels and dam.
Outcome Call(int job, int logging, const std::string& logFile) {
    const int n = 6, m = 4, damType = job % 4;
    const double damHeight = -1.5, dikeNormal = 5.0 * (job % 3);
    const double ag = 9.0 + 0.1 * (job % 10), rho = 1000.0 + 5.0 * (job % 7);
    const double alpha = 1.0, fc = 0.01, ratioDepth = 0.3, invalid = -999.0, minStep = 0.5;
    std::vector<double> hm0(n), tp(n), wlev(n), angle(n);
    for (int i = 0; i < n; ++i) {
        hm0[i] = i == 3 ? 0.0 : 0.5 + 0.3 * i + 0.01 * job;
        tp[i] = 5.0 + i;
        wlev[i] = 0.2 * i - 0.5;
        angle[i] = 10.0 * i + job % 5;
    }
    const double x[] = {0, 100, 250, 400}, z[] = {-9, -7, -4, -2};
    Outcome out;
    out.hm0.resize(n);
    out.tp.resize(n);
    out.angle.resize(n);
    char message[1000];
    out.code = C_FORTRANENTRY_RollerModel5(&damType, &damHeight, &alpha, &fc, &invalid, &n, hm0.data(), tp.data(),
                                           wlev.data(), angle.data(), &dikeNormal, &m, x, &minStep, z, &ratioDepth,
                                           &logging, logFile.data(), static_cast<int64_t>(logFile.size()), &ag,
                                           &rho, out.hm0.data(), out.tp.data(), out.angle.data(), message);
    out.message = message;
    return out;
}

class Concurrency : public ::testing::Test {
protected:
    static constexpr int Jobs = 48;
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("qav-threads-" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        for (int job = 0; job < Jobs; ++job) serial_.push_back(Call(job, 0, " "));
        // One logged call alone: the number of lines any call writes.
        const fs::path single = dir_ / "single.log";
        Call(0, 1, single.string());
        linesPerCall_ = Lines(single).size();
        fs::remove(single);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Even jobs log to a file of their own, every third to the shared file.
    std::string LogFileOf(int job) const {
        if (job % 3 == 0) return (dir_ / "shared.log").string();
        if (job % 2 == 0) return (dir_ / ("job" + std::to_string(job) + ".log")).string();
        return " ";
    }
    int LoggingOf(int job) const { return job % 3 == 0 || job % 2 == 0 ? 1 : 0; }

    static std::vector<std::string> Lines(const fs::path& file) {
        std::ifstream in(file);
        std::vector<std::string> lines;
        for (std::string line; std::getline(in, line);) lines.push_back(line);
        return lines;
    }

    void ExpectLogsWhole() const {
        std::size_t sharedCalls = 0;
        for (int job = 0; job < Jobs; ++job) {
            if (job % 3 == 0) {
                ++sharedCalls;
            } else if (job % 2 == 0) {
                const auto lines = Lines(LogFileOf(job));
                EXPECT_EQ(lines.size(), linesPerCall_) << job;
                EXPECT_EQ(lines.front().rfind("Start Interface Logging:", 0), 0u);
            }
        }
        const auto shared = Lines(dir_ / "shared.log");
        EXPECT_EQ(shared.size(), sharedCalls * linesPerCall_);
        std::size_t starts = 0;
        for (const auto& line : shared) {
            EXPECT_TRUE(line.empty() || line.rfind("Entry", 0) == 0 || line.rfind("Start", 0) == 0 ||
                        line.rfind("DynamicLib-Qav.dll", 0) == 0)
                << line;
            if (line.rfind("Start Interface Logging:", 0) == 0) ++starts;
        }
        EXPECT_EQ(starts, sharedCalls);
    }

    fs::path dir_;
    std::vector<Outcome> serial_;
    std::size_t linesPerCall_ = 0;
};

TEST_F(Concurrency, OpenMPLoopMatchesSerialRuns) {
    std::vector<Outcome> parallel(Jobs);
#pragma omp parallel for num_threads(4) schedule(dynamic)
    for (int job = 0; job < Jobs; ++job) parallel[job] = Call(job, LoggingOf(job), LogFileOf(job));
    for (int job = 0; job < Jobs; ++job) EXPECT_TRUE(parallel[job] == serial_[job]) << job;
    ExpectLogsWhole();
}

TEST_F(Concurrency, PlainThreadsMatchSerialRuns) {
    std::vector<Outcome> parallel(Jobs);
    std::vector<std::thread> threads;
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int job = t; job < Jobs; job += 6) parallel[job] = Call(job, LoggingOf(job), LogFileOf(job));
        });
    }
    for (auto& thread : threads) thread.join();
    for (int job = 0; job < Jobs; ++job) EXPECT_TRUE(parallel[job] == serial_[job]) << job;
    ExpectLogsWhole();
}

TEST_F(Concurrency, ManyCallsPerThreadWithMixedConstants) {
    // Each thread runs every job several times, in its own order, logging now
    // and then to its own file; OpenMP teams and plain threads at once.
    constexpr int Rounds = 3;
    std::atomic<int> mismatches{0};
    const auto work = [&](int worker) {
        const std::string file = (dir_ / ("stress" + std::to_string(worker) + ".log")).string();
        for (int round = 0; round < Rounds; ++round) {
            for (int j = 0; j < Jobs; ++j) {
                const int job = (j * (worker + 1) + round) % Jobs;
                const bool logging = (j + worker) % 5 == 0;
                if (!(Call(job, logging ? 1 : 0, logging ? file : " ") == serial_[job])) ++mismatches;
            }
        }
    };
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) threads.emplace_back(work, t);
#pragma omp parallel num_threads(4)
    work(4 + omp_get_thread_num());
    for (auto& thread : threads) thread.join();
    EXPECT_EQ(mismatches.load(), 0);
    for (int worker = 0; worker < 8; ++worker) {
        const auto lines = Lines(dir_ / ("stress" + std::to_string(worker) + ".log"));
        EXPECT_EQ(lines.size() % linesPerCall_, 0u) << worker;
    }
}

} // namespace
