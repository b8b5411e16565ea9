// A host may hand the library one time step a call or thousands, from one
// thread or several: every fast path gives every step the same bits however
// the steps come, alone or marched in lanes beside any others.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "model/model.h"
#include "physics/roller_fast.h"
#include "tests/random_case.h"

namespace {

using qav::MarchPath;
using qav_testing::Storm;

struct Results {
    std::vector<double> hm0, tp, angle;
    std::vector<qav::StepOutcome> outcomes;
    std::vector<std::string> messages;
    std::vector<std::uint8_t> clamped;
    explicit Results(std::size_t n)
        : hm0(n), tp(n), angle(n), outcomes(n), messages(n), clamped(n) {}
};

// The storm through the driver, perCall steps a call, each call on threads
// threads, on path (or the library's own choice).
Results RunInCalls(const Storm& storm, std::optional<MarchPath> path, std::size_t perCall, unsigned threads) {
    if (path) {
        qav::SetThreadMarchPath(*path);
    } else {
        qav::ResetThreadMarchPath();
    }
    const std::size_t n = storm.hm0.size();
    Results r(n);
    std::string text(1000, ' ');
    qav::RunOptions options;
    options.Threads = threads;
    for (std::size_t at = 0; at < n; at += perCall) {
        const std::size_t count = std::min(perCall, n - at);
        qav::RunInput part = storm.input;
        part.Hm0 = part.Hm0.subspan(at, count);
        part.Tp = part.Tp.subspan(at, count);
        part.Wlev = part.Wlev.subspan(at, count);
        part.IncomingWaveAngle = part.IncomingWaveAngle.subspan(at, count);
        const qav::RunOutput out{std::span(r.hm0).subspan(at, count),      std::span(r.tp).subspan(at, count),
                                 std::span(r.angle).subspan(at, count),    std::span(r.outcomes).subspan(at, count),
                                 std::span(r.messages).subspan(at, count), std::span(r.clamped).subspan(at, count)};
        (void)qav::RollerModel5(part, out, qav::MessageBuffer(text.data(), text.size()), options);
    }
    qav::ResetThreadMarchPath();
    return r;
}

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The number of steps that differ in any bit of any result.
std::size_t Differences(const Results& got, const Results& expected) {
    std::size_t differ = 0;
    for (std::size_t i = 0; i < expected.hm0.size(); ++i) {
        if (!SameBits(got.hm0[i], expected.hm0[i]) || !SameBits(got.tp[i], expected.tp[i]) ||
            !SameBits(got.angle[i], expected.angle[i]) || got.outcomes[i] != expected.outcomes[i] ||
            got.messages[i] != expected.messages[i] || got.clamped[i] != expected.clamped[i]) {
            ++differ;
        }
    }
    return differ;
}

TEST(CallSizes, EveryPathCallSizeAndThreadCountGivesTheSameBits) {
#ifdef QAV_EMULATED
    // Under an emulator a tenth of the storms, to keep the suite short.
    constexpr int storms = 4;
#else
    constexpr int storms = 40;
#endif
    std::vector<MarchPath> fast = qav::SupportedMarchPaths();
    fast.erase(fast.begin());  // the reference march rounds its own way
    std::vector<std::optional<MarchPath>> paths(fast.begin(), fast.end());
    paths.emplace_back(std::nullopt);
    std::mt19937_64 random(20261208);
    std::size_t marched = 0;
    for (int s = 0; s < storms; ++s) {
        const Storm storm = qav_testing::RandomStorm(random, 100, 300.0);
        const Results expected = RunInCalls(storm, fast.front(), 1, 1);
        for (const qav::StepOutcome o : expected.outcomes) marched += o == qav::StepOutcome::Computed ? 1 : 0;
        for (const std::optional<MarchPath>& path : paths) {
            const std::string name = path ? std::string(qav::MarchPathName(*path)) : "the library's choice";
            for (const std::size_t perCall : {1, 2, 3, 4, 5, 6, 7, 8, 9, 1000}) {
                for (const unsigned threads : {1u, 3u}) {
                    EXPECT_EQ(Differences(RunInCalls(storm, path, perCall, threads), expected), 0u)
                        << name << ", " << perCall << " steps a call on " << threads << " threads, storm " << s;
                }
            }
        }
    }
    // Most steps reach the march; the rest are calm, refused or from behind.
    EXPECT_GT(marched, static_cast<std::size_t>(storms) * 80);
}

} // namespace
