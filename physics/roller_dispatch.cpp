// Choice of the march by the processor the library runs on, from the one
// dispatch table of roller_march.cpp.
#include <hwy/targets.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstdlib>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "physics/march_kernel.h"
#include "physics/roller_fast.h"

namespace qav {
namespace {

thread_local bool threadPathSet = false;
thread_local MarchPath threadPath = MarchPath::Reference;

constexpr MarchPath AllPaths[] = {MarchPath::Reference, MarchPath::Baseline, MarchPath::Sse4,
                                  MarchPath::Avx2,      MarchPath::Avx512,   MarchPath::Neon};

// The marches of path, if this build has them and the processor runs them.
const detail::MarchKernels* KernelsOf(MarchPath path) {
    std::size_t count = 0;
    const detail::MarchKernels* const* kernels = detail::SupportedKernels(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (kernels[i]->path == path) return kernels[i];
    }
    return nullptr;
}

std::string Lower(std::string_view text) {
    std::string s(text);
    for (char& ch : s) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    return s;
}

// The path QAV_MARCH_PATH names, in any case, if the processor runs it.
std::optional<MarchPath> PathFromEnvironment() {
    const char* text = std::getenv("QAV_MARCH_PATH");
    if (text == nullptr) return std::nullopt;
    const std::string name = Lower(text);
    for (const MarchPath p : AllPaths) {
        if (name == Lower(MarchPathName(p)) && IsMarchPathSupported(p)) return p;
    }
    return std::nullopt;
}

}  // namespace

std::string IgnoredMarchPathRequest() {
    const char* text = std::getenv("QAV_MARCH_PATH");
    if (text == nullptr || PathFromEnvironment()) return {};
    return text;
}

bool IsMarchPathSupported(MarchPath path) { return path == MarchPath::Reference || KernelsOf(path) != nullptr; }

MarchPath BestMarchPath() {
    static const MarchPath best = [] {
        if (const std::optional<MarchPath> chosen = PathFromEnvironment()) return *chosen;
        return detail::BestKernels().path;
    }();
    return best;
}

MarchPath ThreadMarchPath() { return threadPathSet ? threadPath : BestMarchPath(); }

void SetThreadMarchPath(MarchPath path) {
    threadPath = IsMarchPathSupported(path) ? path : BestMarchPath();
    threadPathSet = true;
}

void ResetThreadMarchPath() { threadPathSet = false; }

bool MarchPathPicked() {
    static const bool named = PathFromEnvironment().has_value();
    return threadPathSet || named;
}

std::vector<MarchPath> SupportedMarchPaths() {
    std::vector<MarchPath> paths{MarchPath::Reference};
    std::size_t count = 0;
    const detail::MarchKernels* const* kernels = detail::SupportedKernels(count);
    for (std::size_t i = count; i-- > 0;) paths.push_back(kernels[i]->path);
    return paths;
}

std::string_view MarchPathName(MarchPath path) {
    switch (path) {
    case MarchPath::Reference: return "Reference";
    case MarchPath::Baseline: return "Baseline";
    case MarchPath::Sse4: return "Sse4";
    case MarchPath::Avx2: return "Avx2";
    case MarchPath::Avx512: return "Avx512";
    case MarchPath::Neon:
        return "Neon";
    }
    return "?";
}

MarchCost MarchPathCost(MarchPath path) {
    const detail::MarchKernels* k = path == MarchPath::Reference ? nullptr : KernelsOf(path);
    constexpr double never = std::numeric_limits<double>::infinity();
    return k == nullptr ? MarchCost{never, {never, never}} : k->cost;
}

int LaneCount(MarchPath path) {
    const detail::MarchKernels* k = KernelsOf(path);
    return k == nullptr ? 1 : static_cast<int>(k->lanes);
}

namespace {

// Every level of a source at once, for the reference march.
std::vector<double> Gather(LevelSource source, std::size_t values) {
    std::vector<double> all(values);
    for (std::size_t first = 0; first < values; first += detail::BlockValues) {
        const std::size_t count = std::min(detail::BlockValues, values - first);
        const double* block = source.read(source.context, first, count, all.data() + first);
        if (block != all.data() + first) std::copy(block, block + count, all.data() + first);
    }
    return all;
}

} // namespace

ToeWaves RunRollerModelOn(MarchPath path, double Tp, double TransmittedHm0, double Alpha, double Fc, double Wlev,
                          double DikeNormal, double IncomingWaveAngle, double gridStep, std::size_t points,
                          LevelSource levels, const Constants& c) {
    const detail::MarchKernels* k = path == MarchPath::Reference ? nullptr : KernelsOf(path);
    if (k == nullptr) {
        const std::vector<double> all = Gather(levels, points);
        RollerWorkspace roller;
        return RunRollerModel(Tp, TransmittedHm0, Alpha, Fc, Wlev, DikeNormal, IncomingWaveAngle, gridStep, all,
                              c, roller);
    }
    const detail::SingleStep step{Tp, TransmittedHm0, Alpha, Fc, Wlev, DikeNormal, IncomingWaveAngle, gridStep,
                                  points};
    return k->one(step, {levels.read, levels.context}, c);
}

void RunRollerModelLanes(MarchPath path, double Alpha, double Fc, double DikeNormal,
                         std::span<const LaneStep> steps, LevelSource rows, const Constants& c,
                         std::span<ToeWaves> toe) {
    if (steps.empty()) return;
    const detail::MarchKernels* k = path == MarchPath::Reference ? nullptr : KernelsOf(path);
    if (k == nullptr) {
        // One lane: the reference march of that step.
        const LaneStep& s = steps[0];
        const std::vector<double> all = Gather(rows, s.points);
        RollerWorkspace roller;
        toe[0] = RunRollerModel(s.Tp, s.TransmittedHm0, Alpha, Fc, s.Wlev, DikeNormal, s.IncomingWaveAngle,
                                s.gridStep, all, c, roller);
        return;
    }
    if (steps.size() > k->lanes) throw std::invalid_argument("too many lanes");
    if (steps.size() == 1) {
        // One step alone marches on the single-step path, to the same bits;
        // its levels are the first of every row, read BlockValues / stride
        // rows at a time.
        struct Column {
            LevelSource rows;
            std::size_t stride;
            double block[detail::BlockValues];
        };
        const LaneStep& s = steps[0];
        const detail::SingleStep step{s.Tp, s.TransmittedHm0, Alpha, Fc, s.Wlev, DikeNormal, s.IncomingWaveAngle,
                                      s.gridStep, s.points};
        Column column{rows, k->lanes, {}};
        const auto read = [](void* context, std::size_t first, std::size_t count, double* buffer) -> const double* {
            auto* col = static_cast<Column*>(context);
            const std::size_t perBlock = detail::BlockValues / col->stride;
            for (std::size_t done = 0; done < count; done += perBlock) {
                const std::size_t n = std::min(perBlock, count - done);
                const double* r = col->rows.read(col->rows.context, first + done, n, col->block);
                for (std::size_t i = 0; i < n; ++i) buffer[done + i] = r[i * col->stride];
            }
            return buffer;
        };
        toe[0] = k->one(step, {+read, &column}, c);
        return;
    }
    k->lanes_march(Alpha, Fc, DikeNormal, steps.data(), steps.size(), {rows.read, rows.context}, k->lanes, c,
                   toe.data());
}

} // namespace qav
