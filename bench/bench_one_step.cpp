// One time step per call of the C entry C_FORTRANENTRY_RollerModel5, as a
// probabilistic host calls it, through the shared library. bench/python_calls.py
// runs this binary and times the same calls of qav.run from Python in the
// same run, and prints the ratio per call.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "qav.h"

namespace {

// The bundled foreshore, examples/profile.csv.
constexpr std::array<double, 10> ProfileX = {0, 50, 100, 150, 200, 230, 260, 290, 320, 340};
constexpr std::array<double, 10> ProfileZ = {-8.0, -7.5, -6.8, -5.9, -4.8, -4.0, -3.1, -2.2, -1.5, -1.0};

struct Step {
    double hm0, tp, wlev, angle;
};

// The same cases as bench/python_calls.py (dike normal 270 deg, a dam with
// its crest at -1 m, default parameters).
void OneStep(benchmark::State& state, Step step) {
    const int damType = 3;
    const double damHeight = -1.0, alpha = 1.0, fc = 0.01, invalid = -999.0, dikeNormal = 270.0;
    const double minStep = 1.0, ratioDepth = 0.5, ag = 9.81, rho = 1025.0;
    const int n = 1, m = static_cast<int>(ProfileX.size()), logging = 0;
    double hm0Toe = 0, tpToe = 0, angleToe = 0;
    char message[QAV_MESSAGE_LENGTH];
    for (auto _ : state) {
        const int code = C_FORTRANENTRY_RollerModel5(
            &damType, &damHeight, &alpha, &fc, &invalid, &n, &step.hm0, &step.tp, &step.wlev, &step.angle,
            &dikeNormal, &m, ProfileX.data(), &minStep, ProfileZ.data(), &ratioDepth, &logging, " ", 1, &ag,
            &rho, &hm0Toe, &tpToe, &angleToe, message);
        benchmark::DoNotOptimize(code);
        benchmark::DoNotOptimize(hm0Toe);
    }
}

}  // namespace

BENCHMARK_CAPTURE(OneStep, peak, Step{3.5, 9.7, 4.0, 245.0})->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OneStep, moderate, Step{1.2, 5.8, 0.6, 265.0})->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OneStep, calm, Step{0.0, 6.0, 0.6, 270.0})->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
