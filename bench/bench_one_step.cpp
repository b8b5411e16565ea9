// One time step per call of the C entry C_FORTRANENTRY_RollerModel5, as a
// probabilistic host calls it, through the shared library. bench/python_calls.py
// runs this binary and times the same calls of qav.run from Python in the
// same run, and prints the ratio per call.
#include <benchmark/benchmark.h>

#include <array>
#include <cstddef>
#include <cstdint>

#include "qav.h"

namespace {

// The bundled foreshore, examples/profile.csv.
constexpr std::array<double, 10> ProfileX = {0, 50, 100, 150, 200, 230, 260, 290, 320, 340};
constexpr std::array<double, 10> ProfileZ = {-8.0, -7.5, -6.8, -5.9, -4.8, -4.0, -3.1, -2.2, -1.5, -1.0};

struct Step {
    double hm0, tp, wlev, angle;
};

// The storm of examples/series.csv, row after row: building up, the peak,
// easing off, a calm step and, last, waves from behind the dike.
constexpr std::array<Step, 23> Storm = {{{0.8, 5.0, 0.2, 270}, {1.2, 5.8, 0.6, 265}, {1.6, 6.4, 1.0, 262},
                                         {2.0, 7.0, 1.5, 260}, {2.4, 7.6, 2.0, 258}, {2.8, 8.2, 2.6, 255},
                                         {3.1, 8.8, 3.1, 252}, {3.3, 9.2, 3.5, 250}, {3.4, 9.5, 3.8, 248},
                                         {3.5, 9.7, 4.0, 245}, {3.4, 9.6, 4.1, 242}, {3.2, 9.4, 4.0, 240},
                                         {3.0, 9.1, 3.7, 235}, {2.7, 8.7, 3.3, 230}, {2.4, 8.2, 2.8, 225},
                                         {2.0, 7.7, 2.2, 215}, {1.6, 7.0, 1.6, 200}, {1.2, 6.3, 1.0, 186},
                                         {0.0, 6.0, 0.6, 270}, {0.8, 5.5, 0.3, 275}, {0.6, 5.0, 0.1, 280},
                                         {0.5, 4.8, 0.0, 290}, {1.0, 6.0, 0.4, 95}}};

// The same cases as bench/python_calls.py (dike normal 270 deg, a dam with
// its crest at -1 m, default parameters): one step again and again, or the
// storm's steps one a call in turn.
template <class NextStep>
void Calls(benchmark::State& state, NextStep next) {
    const int damType = 3;
    const double damHeight = -1.0, alpha = 1.0, fc = 0.01, invalid = -999.0, dikeNormal = 270.0;
    const double minStep = 1.0, ratioDepth = 0.5, ag = 9.81, rho = 1025.0;
    const int n = 1, m = static_cast<int>(ProfileX.size()), logging = 0;
    double hm0Toe = 0, tpToe = 0, angleToe = 0;
    char message[QAV_MESSAGE_LENGTH];
    for (auto _ : state) {
        const Step& step = next();
        const int code = C_FORTRANENTRY_RollerModel5(
            &damType, &damHeight, &alpha, &fc, &invalid, &n, &step.hm0, &step.tp, &step.wlev, &step.angle,
            &dikeNormal, &m, ProfileX.data(), &minStep, ProfileZ.data(), &ratioDepth, &logging, " ", 1, &ag,
            &rho, &hm0Toe, &tpToe, &angleToe, message);
        benchmark::DoNotOptimize(code);
        benchmark::DoNotOptimize(hm0Toe);
    }
}

void OneStep(benchmark::State& state, Step step) {
    Calls(state, [&step]() -> const Step& { return step; });
}

void StormSteps(benchmark::State& state) {
    std::size_t row = 0;
    Calls(state, [&row]() -> const Step& {
        const Step& step = Storm[row];
        row = row + 1 == Storm.size() ? 0 : row + 1;
        return step;
    });
}

}  // namespace

BENCHMARK_CAPTURE(OneStep, peak, Step{3.5, 9.7, 4.0, 245.0})->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OneStep, moderate, Step{1.2, 5.8, 0.6, 265.0})->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(OneStep, calm, Step{0.0, 6.0, 0.6, 270.0})->Unit(benchmark::kMicrosecond);
// Named OneStep/storm so that one filter picks every case; each call is one step.
BENCHMARK(StormSteps)->Name("OneStep/storm")->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
