// Choice of the march by the processor the library runs on.
#include <cctype>
#include <cstdlib>
#include <optional>
#include <stdexcept>
#include <string>

#include "physics/roller_fast.h"

namespace qav {
namespace detail {

ToeWaves MarchOneBaseline(double, double, double, double, double, double, double, double, const double*,
                          std::size_t, const Constants&, double*);
ToeWaves MarchOneAvx2(double, double, double, double, double, double, double, double, const double*,
                      std::size_t, const Constants&, double*);
ToeWaves MarchOneAvx512(double, double, double, double, double, double, double, double, const double*,
                        std::size_t, const Constants&, double*);
void MarchLanesBaseline(double, double, double, const LaneStep*, std::size_t, const double*, const Constants&,
                        ToeWaves*);
void MarchLanesAvx2(double, double, double, const LaneStep*, std::size_t, const double*, const Constants&,
                    ToeWaves*);
void MarchLanesAvx512(double, double, double, const LaneStep*, std::size_t, const double*, const Constants&,
                      ToeWaves*);

} // namespace detail

namespace {

// Arrays the single-step march keeps per point.
constexpr std::size_t ArraysPerPoint = 6;

thread_local bool threadPathSet = false;
thread_local MarchPath threadPath = MarchPath::Reference;

} // namespace

double* MarchWorkspace::Reserve(std::size_t count) {
    if (store.size() < count) store.resize(count);
    return store.data();
}

bool IsMarchPathSupported(MarchPath path) {
    switch (path) {
    case MarchPath::Reference:
    case MarchPath::Baseline: return true;
    // The AVX2 path is taken on processors with FMA as well, as the vector
    // math library's AVX2 functions expect.
    case MarchPath::Avx2: return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    case MarchPath::Avx512:
        return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx2") &&
               __builtin_cpu_supports("fma");
    }
    return false;
}

namespace {

// The path QAV_MARCH_PATH names ("reference", "baseline", "avx2" or "avx512",
// in any case), if the processor runs it.
std::optional<MarchPath> PathFromEnvironment() {
    const char* text = std::getenv("QAV_MARCH_PATH");
    if (text == nullptr) return std::nullopt;
    std::string name(text);
    for (char& ch : name) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    for (const MarchPath p : {MarchPath::Reference, MarchPath::Baseline, MarchPath::Avx2, MarchPath::Avx512}) {
        std::string known(MarchPathName(p));
        for (char& ch : known) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
        if (name == known && IsMarchPathSupported(p)) return p;
    }
    return std::nullopt;
}

} // namespace

MarchPath BestMarchPath() {
    static const MarchPath best = [] {
        if (const std::optional<MarchPath> chosen = PathFromEnvironment()) return *chosen;
        // AVX2 before AVX-512. One path serves both the single time step and
        // the lanes, so that a step's result does not depend on the steps
        // beside it. Measured on a Sapphire Rapids Xeon, the 512-bit
        // quantities slow the single step's scalar chain of divisions down
        // (46 ns per point against 37 ns with AVX2), more than AVX-512 lanes
        // gain over AVX2 lanes (15 ns against 18 ns); a host that runs one
        // time step per call, as probabilistic assessments do, gets the
        // faster single step. QAV_MARCH_PATH=avx512 takes AVX-512 instead.
        if (IsMarchPathSupported(MarchPath::Avx2)) return MarchPath::Avx2;
        if (IsMarchPathSupported(MarchPath::Avx512)) return MarchPath::Avx512;
        return MarchPath::Baseline;
    }();
    return best;
}

MarchPath ThreadMarchPath() { return threadPathSet ? threadPath : BestMarchPath(); }

void SetThreadMarchPath(MarchPath path) {
    threadPath = IsMarchPathSupported(path) ? path : BestMarchPath();
    threadPathSet = true;
}

void ResetThreadMarchPath() { threadPathSet = false; }

std::vector<MarchPath> SupportedMarchPaths() {
    std::vector<MarchPath> paths;
    for (const MarchPath p : {MarchPath::Reference, MarchPath::Baseline, MarchPath::Avx2, MarchPath::Avx512}) {
        if (IsMarchPathSupported(p)) paths.push_back(p);
    }
    return paths;
}

std::string_view MarchPathName(MarchPath path) {
    switch (path) {
    case MarchPath::Reference: return "Reference";
    case MarchPath::Baseline: return "Baseline";
    case MarchPath::Avx2: return "Avx2";
    case MarchPath::Avx512: return "Avx512";
    }
    return "?";
}

int LaneCount(MarchPath path) {
    switch (path) {
    case MarchPath::Reference: return 1;
    // Two registers of lanes each (see roller_kernel.h).
    case MarchPath::Baseline: return 4;
    case MarchPath::Avx2: return 8;
    case MarchPath::Avx512: return 16;
    }
    return 1;
}

ToeWaves RunRollerModelOn(MarchPath path, double Tp, double TransmittedHm0, double Alpha, double Fc, double Wlev,
                          double DikeNormal, double IncomingWaveAngle, double gridStep,
                          std::span<const double> bottomLevel, const Constants& c, MarchWorkspace& work) {
    const std::size_t P = bottomLevel.size();
    if (path == MarchPath::Reference) {
        RollerWorkspace roller;
        return RunRollerModel(Tp, TransmittedHm0, Alpha, Fc, Wlev, DikeNormal, IncomingWaveAngle, gridStep,
                              bottomLevel, c, roller);
    }
    double* store = work.Reserve(ArraysPerPoint * (P + 8));
    const auto march = path == MarchPath::Avx512 ? detail::MarchOneAvx512
                       : path == MarchPath::Avx2 ? detail::MarchOneAvx2
                                                 : detail::MarchOneBaseline;
    return march(Tp, TransmittedHm0, Alpha, Fc, Wlev, DikeNormal, IncomingWaveAngle, gridStep, bottomLevel.data(),
                 P, c, store);
}

void RunRollerModelLanes(MarchPath path, double Alpha, double Fc, double DikeNormal,
                         std::span<const LaneStep> steps, const double* levels, const Constants& c,
                         std::span<ToeWaves> toe, MarchWorkspace& work) {
    if (steps.empty()) return;
    if (path == MarchPath::Reference) {
        // One lane: the reference march of that step.
        RollerWorkspace roller;
        const LaneStep& s = steps[0];
        toe[0] = RunRollerModel(s.Tp, s.TransmittedHm0, Alpha, Fc, s.Wlev, DikeNormal, s.IncomingWaveAngle,
                                s.gridStep, std::span<const double>(levels, s.points), c, roller);
        return;
    }
    (void)work;
    if (steps.size() > static_cast<std::size_t>(LaneCount(path))) throw std::invalid_argument("too many lanes");
    const auto march = path == MarchPath::Avx512 ? detail::MarchLanesAvx512
                       : path == MarchPath::Avx2 ? detail::MarchLanesAvx2
                                                 : detail::MarchLanesBaseline;
    march(Alpha, Fc, DikeNormal, steps.data(), steps.size(), levels, c, toe.data());
}

} // namespace qav
