// Cost per grid point of the energy march, of a whole time step (grid and
// march), of a call of the C entry over a storm series, and of the storm
// handed to the C entry a few time steps per call, from one host thread or
// two; for the reference march, every faster path the machine supports, and
// the library's own choice (Default: a step alone and steps in lanes each on
// the path that does it fastest). After the runs a table gives each path's
// ns per grid point and its speed-up over the reference measured in the same
// run (medians when repetitions are asked for), and one the speed-up of two
// host threads over one.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

#include "model/grid.h"
#include "model/model.h"
#include "model/step_pieces.h"
#include "physics/physics.h"
#include "physics/roller_fast.h"
#include "qav.h"
#include "tests/random_case.h"

namespace {

using qav::Constants;
using qav_testing::InPlace;

constexpr Constants kConstants{9.81, 1025.0};

// P bottom levels on a 1:50 foreshore from -10 m to -2 m, and its step.
struct Foreshore {
    std::vector<double> level;
    double step;
};

Foreshore MakeForeshore(int P) {
    Foreshore f;
    f.step = 400.0 / (P - 1);
    for (int i = 0; i < P; ++i) f.level.push_back(-10.0 + static_cast<double>(i) * f.step / 50.0);
    return f;
}

void SetPerPoint(benchmark::State& state, double pointsPerIteration) {
    state.counters["ns_per_point"] = benchmark::Counter(
        pointsPerIteration, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void MarchReference(benchmark::State& state) {
    const Foreshore f = MakeForeshore(static_cast<int>(state.range(0)));
    qav::RollerWorkspace work;
    for (auto _ : state) {
        const qav::ToeWaves toe = qav::RunRollerModel(8.0, 2.0, 1.0, 0.01, 0.0, 270.0, 280.0, f.step, f.level,
                                                      kConstants, work);
        benchmark::DoNotOptimize(toe);
    }
    SetPerPoint(state, static_cast<double>(f.level.size()));
}

void MarchFast(benchmark::State& state, qav::MarchPath path) {
    const Foreshore f = MakeForeshore(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        const qav::ToeWaves toe =
            qav::RunRollerModelOn(path, 8.0, 2.0, 1.0, 0.01, 0.0, 270.0, 280.0, f.step, f.level.size(),
                                  InPlace{f.level.data(), 1}.Source(), kConstants);
        benchmark::DoNotOptimize(toe);
    }
    SetPerPoint(state, static_cast<double>(f.level.size()));
}

// The lane march: LaneCount(path) time steps at once over the same foreshore,
// each lane with its own period and water level, as the driver hands over
// consecutive steps of a storm.
void MarchLanes(benchmark::State& state, qav::MarchPath path) {
    const Foreshore f = MakeForeshore(static_cast<int>(state.range(0)));
    const std::size_t lanes = static_cast<std::size_t>(qav::LaneCount(path));
    const std::size_t P = f.level.size();
    std::vector<qav::LaneStep> steps;
    for (std::size_t l = 0; l < lanes; ++l) {
        const double s = static_cast<double>(l) / static_cast<double>(lanes);
        steps.push_back({7.0 + 2.0 * s, 2.0, 0.2 * s, 280.0, f.step, P});
    }
    std::vector<double> levels(P * lanes);
    for (std::size_t i = 0; i < P; ++i) {
        for (std::size_t l = 0; l < lanes; ++l) levels[i * lanes + l] = f.level[i];
    }
    std::vector<qav::ToeWaves> toe(lanes);
    InPlace rows{levels.data(), lanes};
    for (auto _ : state) {
        qav::RunRollerModelLanes(path, 1.0, 0.01, 270.0, steps, rows.Source(), kConstants, toe);
        benchmark::DoNotOptimize(toe.data());
    }
    SetPerPoint(state, static_cast<double>(P * lanes));
}

// What the marches of a path cost, as the plan of a run weighs them
// (MarchPathCost): ns per grid point of a step alone (state.range(0) = 0),
// and per row of lanes with one register of lanes filled (1) and two (2),
// over the 1668 levels a step marches on the 1000 m profile at 1:100 of the
// storm below; the lanes' periods and water levels as the storm's.
void MarchCost(benchmark::State& state, qav::MarchPath path) {
    constexpr std::size_t P = 1668;
    const double step = 1000.0 / static_cast<double>(P - 2);
    const auto registers = static_cast<std::size_t>(state.range(0));
    const std::size_t lanes = static_cast<std::size_t>(qav::LaneCount(path));
    const std::size_t count = registers == 0 ? 1 : registers * lanes / 2;
    std::vector<qav::LaneStep> steps;
    for (std::size_t l = 0; l < count; ++l) {
        const double s = static_cast<double>(l) / static_cast<double>(lanes);
        steps.push_back({6.0 + 4.0 * s, 2.0, 0.5 * s, 280.0, step, P});
    }
    std::vector<double> levels(P * lanes);
    for (std::size_t i = 0; i < P; ++i) {
        const double z = std::min(-12.0 + static_cast<double>(i) * step / 100.0, -2.0);
        for (std::size_t l = 0; l < lanes; ++l) levels[i * lanes + l] = z;
    }
    std::vector<qav::ToeWaves> toe(lanes);
    InPlace rows{levels.data(), lanes};
    for (auto _ : state) {
        if (count == 1) {
            const qav::LaneStep& s = steps[0];
            toe[0] = qav::RunRollerModelOn(path, s.Tp, s.TransmittedHm0, 1.0, 0.01, s.Wlev, 270.0,
                                           s.IncomingWaveAngle, s.gridStep, P,
                                           InPlace{levels.data(), lanes}.Source(), kConstants);
        } else {
            qav::RunRollerModelLanes(path, 1.0, 0.01, 270.0, steps, rows.Source(), kConstants, toe);
        }
        benchmark::DoNotOptimize(toe.data());
    }
    SetPerPoint(state, static_cast<double>(P));
}

// The 1000 m profile at 1:100 from -12 m to -2 m, two points.
struct Storm {
    std::vector<double> x{0.0, 1000.0};
    std::vector<double> z{-12.0, -2.0};
    std::vector<double> hm0, tp, wlev, angle;
    qav::RunInput input;
    double levels = 0;  // grid levels marched over the whole series

    explicit Storm(std::size_t n) {
        for (std::size_t i = 0; i < n; ++i) {
            const double s = static_cast<double>(i) / static_cast<double>(n);
            hm0.push_back(1.5 + 0.8 * std::sin(Pi() * s));
            tp.push_back(6.0 + 4.0 * std::sin(Pi() * s));
            wlev.push_back(n == 1 ? 0.0 : 1.0 * std::sin(Pi() * s));
            angle.push_back(260.0 + 20.0 * s);
        }
        input.Parameters.MinStepSize = 0.25;
        input.Parameters.RatioDepth = 0.3;
        input.Hm0 = hm0;
        input.Tp = tp;
        input.Wlev = wlev;
        input.IncomingWaveAngle = angle;
        input.DikeNormal = 270.0;
        input.ProfileX = x;
        input.ProfileBottomLevel = z;
        for (std::size_t i = 0; i < n; ++i) {
            const qav::GridStepSize g = qav::ComputeGridStepSize(x, 0.25, 0.3, z, wlev[i], -999.0);
            levels += static_cast<double>(g.Steps + 2);
        }
    }
    static double Pi() { return 3.141592653589793; }
};

void TimeStep(benchmark::State& state, qav::MarchPath path) {
    Storm storm(1);
    const Constants constants{storm.input.Parameters.Ag, storm.input.Parameters.Rho};
    qav::StepWorkspace work;
    work.path = path;
    char text[1000];
    for (auto _ : state) {
        const qav::StepResult r =
            qav::ComputeTimeStep(storm.input, constants, 0, qav::MessageBuffer(text, sizeof text), work);
        benchmark::DoNotOptimize(r);
    }
    SetPerPoint(state, storm.levels);
}

// The C entry FORTRANENTRY_ROLLERMODEL5 over 1000 time steps, as a host calls
// it; the fast paths march the steps in lanes.
void CEntry(benchmark::State& state, qav::MarchPath path) {
    qav::SetThreadMarchPath(path);
    Storm storm(1000);
    const qav::ModelParameters& p = storm.input.Parameters;
    const double parameters[7] = {p.Ag, p.Rho, p.Alpha, p.Fc, p.RatioDepth, p.InvalidValue, p.MinStepSize};
    const int damType = 0;
    const double damHeight = 0.0;
    const int steps = static_cast<int>(storm.hm0.size());
    const int points = static_cast<int>(storm.x.size());
    const int logging = 0;
    std::vector<double> h(storm.hm0.size()), t(storm.hm0.size()), a(storm.hm0.size());
    char text[1000];
    for (auto _ : state) {
        const int code = FORTRANENTRY_ROLLERMODEL5(
            &damType, &damHeight, parameters, &steps, storm.hm0.data(), storm.tp.data(), storm.wlev.data(),
            storm.angle.data(), &storm.input.DikeNormal, &points, storm.x.data(), storm.z.data(), &logging, " ",
            h.data(), t.data(), a.data(), text, 1, sizeof text);
        benchmark::DoNotOptimize(code);
    }
    SetPerPoint(state, storm.levels);
    qav::ResetThreadMarchPath();
}

// The storm's steps first .. first + count - 1 through the C entry
// C_FORTRANENTRY_RollerModel5, perCall steps a call (the last call takes the
// rest).
struct StormCalls {
    const Storm& storm;
    int damType = 0;
    double damHeight = 0.0;
    int points;
    int logging = 0;
    std::vector<double> h, t, a;

    explicit StormCalls(const Storm& s)
        : storm(s), points(static_cast<int>(s.x.size())), h(s.hm0.size()), t(s.hm0.size()), a(s.hm0.size()) {}

    int Run(std::size_t first, std::size_t count, std::size_t perCall) {
        const qav::ModelParameters& p = storm.input.Parameters;
        char text[1000];
        int failed = 0;
        for (std::size_t at = first; at < first + count; at += perCall) {
            const int steps = static_cast<int>(std::min(perCall, first + count - at));
            failed += C_FORTRANENTRY_RollerModel5(
                &damType, &damHeight, &p.Alpha, &p.Fc, &p.InvalidValue, &steps, &storm.hm0[at], &storm.tp[at],
                &storm.wlev[at], &storm.angle[at], &storm.input.DikeNormal, &points, storm.x.data(),
                &p.MinStepSize, storm.z.data(), &p.RatioDepth, &logging, " ", 1, &p.Ag, &p.Rho, &h[at], &t[at],
                &a[at], text);
        }
        return failed;
    }
};

// The path a host thread's calls take: one path for every step, or the
// library's own choice.
void UsePath(std::optional<qav::MarchPath> path) {
    if (path) {
        qav::SetThreadMarchPath(*path);
    } else {
        qav::ResetThreadMarchPath();
    }
}

// The 1000 steps of the storm through the C entry, state.range(0) steps a
// call; 2000 a call: the storm of 2000 steps in one call.
void Calls(benchmark::State& state, std::optional<qav::MarchPath> path) {
    UsePath(path);
    const auto perCall = static_cast<std::size_t>(state.range(0));
    static const Storm storm1000(1000);
    static const Storm storm2000(2000);
    const Storm& storm = perCall > 1000 ? storm2000 : storm1000;
    StormCalls calls(storm);
    for (auto _ : state) benchmark::DoNotOptimize(calls.Run(0, storm.hm0.size(), perCall));
    SetPerPoint(state, storm.levels);
    qav::ResetThreadMarchPath();
}

// The 1000 steps of the storm from state.range(0) host threads, each calling
// the C entry one step a call for its share of them (wall time).
void HostThreads(benchmark::State& state, std::optional<qav::MarchPath> path) {
    static const Storm storm(1000);
    const auto threads = static_cast<std::size_t>(state.range(0));
    const std::size_t n = storm.hm0.size();
    StormCalls calls(storm);
    for (auto _ : state) {
        std::vector<std::thread> hosts;
        for (std::size_t t = 0; t < threads; ++t) {
            hosts.emplace_back([&, t] {
                UsePath(path);
                const std::size_t first = n * t / threads;
                benchmark::DoNotOptimize(calls.Run(first, n * (t + 1) / threads - first, 1));
            });
        }
        for (std::thread& host : hosts) host.join();
    }
    SetPerPoint(state, storm.levels);
}

// The divider's share of a point in lanes: the 14 divisions and 5 square
// roots that a point of one time step costs (13 for the wave number and what
// follows from it, 6 in the energy chain), as independent operations on
// full registers of eight lanes, so that only the divider's rate limits them.
// Its ns per point is the least the lane march could take on this processor
// while it keeps every division; MarchLanes and Calls/1000 beside it show how
// close the march comes.
#if defined(__x86_64__)
constexpr int Registers = 8;
constexpr int Divisions = 14;
constexpr int Roots = 5;

__attribute__((target("avx512f"))) void DividerFloorAvx512(benchmark::State& state) {
    __m512d a[Registers];
    const __m512d b = _mm512_set1_pd(1.0000001);
    for (int i = 0; i < Registers; ++i) a[i] = _mm512_set1_pd(2.0 + i);
    for (auto _ : state) {
        for (int r = 0; r < Divisions + Roots; ++r) {
            for (int i = 0; i < Registers; ++i) a[i] = r < Divisions ? _mm512_div_pd(a[i], b) : _mm512_mask_sqrt_pd(a[i], 0xFF, a[i]);
        }
        for (int i = 0; i < Registers; ++i) a[i] = _mm512_add_pd(a[i], b);  // stays away from 1
        benchmark::DoNotOptimize(a);
    }
    SetPerPoint(state, Registers * 8);
}

__attribute__((target("avx2"))) void DividerFloorAvx2(benchmark::State& state) {
    __m256d a[Registers];
    const __m256d b = _mm256_set1_pd(1.0000001);
    for (int i = 0; i < Registers; ++i) a[i] = _mm256_set1_pd(2.0 + i);
    for (auto _ : state) {
        for (int r = 0; r < Divisions + Roots; ++r) {
            for (int i = 0; i < Registers; ++i) a[i] = r < Divisions ? _mm256_div_pd(a[i], b) : _mm256_sqrt_pd(a[i]);
        }
        for (int i = 0; i < Registers; ++i) a[i] = _mm256_add_pd(a[i], b);
        benchmark::DoNotOptimize(a);
    }
    SetPerPoint(state, Registers * 4);
}
#endif

// The single step's chain alone: from one point's energy to the next, the
// dependent operations the march of a step alone must wait for (the energy
// flux and its division, the height's division and root, the friction's
// and the breaking's products and divisions), in the march's order, the
// bracket a constant. What the march does besides (the wave numbers, the
// bracket's polynomial) can go beside the chain; its ns per point is the
// least a step alone could take while it keeps the reference's operations.
void ChainFloor(benchmark::State& state) {
    constexpr std::size_t P = 1668;
    std::vector<double> cg(P), h(P), sech(P, 0.9), tTp(P, 6.0);
    for (std::size_t i = 0; i < P; ++i) {
        cg[i] = 9.0 - 0.003 * static_cast<double>(i);
        h[i] = 12.0 - 0.006 * static_cast<double>(i);
    }
    const double gRhoEighth = 9.81 * 1025.0 * 0.125;
    const double A = 415.0;
    const double friction = 1025.0 * 0.2122 * 0.01;
    const double Q = 0.01;
    const double dx = 0.6;
    for (auto _ : state) {
        double E = 5000.0;
        double D = 0.0;
        double cgBehind = cg[0];
        for (std::size_t i = 1; i < P; ++i) {
            const double v = (cgBehind * E - D * dx) / cg[i];
            E = v > 0.0 ? v : 0.0;
            cgBehind = cg[i];
            const double H = std::sqrt(E / gRhoEighth);
            const double u = sech[i] * (H * 3.141592653589793) / tTp[i];
            D = Q * (H * H * H * A) / h[i] + u * u * u * friction;
        }
        benchmark::DoNotOptimize(E);
    }
    SetPerPoint(state, static_cast<double>(P));
}

// Prints the per-point table with the speed-up of each path over the
// reference of the same case.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.aggregate_name != "" && run.aggregate_name != "median") continue;
            const auto counter = run.counters.find("ns_per_point");
            if (counter == run.counters.end()) continue;
            std::string name = run.run_name.str();
            // "/real_time" and the like name how a case was timed, not which.
            for (const char* suffix : {"/real_time", "/manual_time"}) {
                const auto at = name.find(suffix);
                if (at != std::string::npos) name.erase(at, std::string(suffix).size());
            }
            const auto slash = name.find('/');
            const std::string path = name.substr(0, slash);
            const std::string rest = slash == std::string::npos ? "" : name.substr(slash);
            std::string family = path.substr(0, path.rfind('_'));
            std::string kind = path.substr(path.rfind('_') + 1);
            if (!seen_.count(family + rest)) order_.push_back(family + rest);
            seen_[family + rest][kind] = counter->second.value * 1e9;  // s -> ns
        }
    }
    void Finalize() override {
        ConsoleReporter::Finalize();
        std::printf("\n| case | path | ns per grid point | speed-up over reference |\n|---|---|---|---|\n");
        for (const std::string& key : order_) {
            const auto& paths = seen_[key];
            const auto reference = paths.find("Reference");
            for (const auto& [kind, ns] : paths) {
                if (reference == paths.end()) {
                    std::printf("| %s | %s | %.2f | |\n", key.c_str(), kind.c_str(), ns);
                } else {
                    std::printf("| %s | %s | %.2f | %.2fx |\n", key.c_str(), kind.c_str(), ns,
                                reference->second / ns);
                }
            }
        }
        const auto one = seen_.find("HostThreads/1");
        const auto two = seen_.find("HostThreads/2");
        if (one == seen_.end() || two == seen_.end()) return;
        std::printf("\n| two host threads, one step a call | path | speed-up over one thread |\n|---|---|---|\n");
        for (const auto& [kind, ns] : two->second) {
            const auto alone = one->second.find(kind);
            if (alone != one->second.end()) std::printf("| HostThreads/2 | %s | %.2fx |\n", kind.c_str(), alone->second / ns);
        }
    }

private:
    std::vector<std::string> order_;
    std::map<std::string, std::map<std::string, double>> seen_;
};

} // namespace

int main(int argc, char** argv) {
    for (const int P : {100, 1000, 10000}) {
        benchmark::RegisterBenchmark("March_Reference", MarchReference)->Arg(P);
        for (const qav::MarchPath path : qav::SupportedMarchPaths()) {
            if (path == qav::MarchPath::Reference) continue;
            const std::string name = "March_" + std::string(qav::MarchPathName(path));
            benchmark::RegisterBenchmark(name.c_str(), MarchFast, path)->Arg(P);
        }
    }
    for (const qav::MarchPath path : qav::SupportedMarchPaths()) {
        // The reference has one lane: its lane march is its single step.
        const std::string name = "MarchLanes_" + std::string(qav::MarchPathName(path));
        benchmark::RegisterBenchmark(name.c_str(), MarchLanes, path)->Arg(1000);
    }
    for (const qav::MarchPath path : qav::SupportedMarchPaths()) {
        const std::string name = "MarchCost_" + std::string(qav::MarchPathName(path));
        // The reference marches steps alone.
        benchmark::RegisterBenchmark(name.c_str(), MarchCost, path)
            ->DenseRange(0, path == qav::MarchPath::Reference ? 0 : 2);
    }
    for (const qav::MarchPath path : qav::SupportedMarchPaths()) {
        const std::string name = "TimeStep_" + std::string(qav::MarchPathName(path));
        benchmark::RegisterBenchmark(name.c_str(), TimeStep, path);
    }
    for (const qav::MarchPath path : qav::SupportedMarchPaths()) {
        const std::string name = "CEntry_" + std::string(qav::MarchPathName(path));
        benchmark::RegisterBenchmark(name.c_str(), CEntry, path)->Unit(benchmark::kMillisecond);
    }
    // Every path, and the library's own choice.
    std::vector<std::pair<std::string, std::optional<qav::MarchPath>>> choices;
    for (const qav::MarchPath path : qav::SupportedMarchPaths()) choices.emplace_back(qav::MarchPathName(path), path);
    choices.emplace_back("Default", std::nullopt);
    for (const int perCall : {1, 2, 3, 4, 8, 64, 1000, 2000}) {
        for (const auto& [name, path] : choices) {
            benchmark::RegisterBenchmark(("Calls_" + name).c_str(), Calls, path)
                ->Arg(perCall)
                ->Unit(benchmark::kMillisecond);
        }
    }
    for (const int threads : {1, 2}) {
        for (const auto& [name, path] : choices) {
            if (path && *path != qav::MarchPath::Reference) continue;
            benchmark::RegisterBenchmark(("HostThreads_" + name).c_str(), HostThreads, path)
                ->Arg(threads)
                ->UseRealTime()
                ->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("ChainFloor", ChainFloor);
#if defined(__x86_64__)
    if (__builtin_cpu_supports("avx512f")) benchmark::RegisterBenchmark("DividerFloor_Avx512", DividerFloorAvx512);
    if (__builtin_cpu_supports("avx2")) benchmark::RegisterBenchmark("DividerFloor_Avx2", DividerFloorAvx2);
#endif
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    return 0;
}
