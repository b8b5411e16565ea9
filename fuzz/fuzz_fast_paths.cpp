// One fuzzed series of time steps over one fuzzed profile, marched on the
// reference and on every fast path this processor runs:
// - the grid's bottom levels of the fast paths' walk are those of the
//   reference's grid and interpolation, bit for bit;
// - every fast path gives the same bits as every other, a step marched alone
//   or in a lane of a group of the series' steps, and through the driver;
// - each is within 1e-13 relative of the reference in toe height where the
//   reference's height is a normal number, and in direction within 4 units
//   in the last place of the largest term of the sum that gives it (the
//   direction, the dike normal, the refracted angle up to 90 deg); NaN where
//   the reference's is NaN.
// A breach aborts with what differed, and libFuzzer keeps the input.
#include <algorithm>
#include <cinttypes>
#include <string>

#include "checks/checks.h"
#include "common/log.h"
#include "fuzz/fuzz_input.h"
#include "model/grid.h"
#include "model/grid_walk.h"
#include "model/step_pieces.h"
#include "tests/random_case.h"

namespace {

using namespace qav_fuzz;
using qav::MarchPath;
using qav::ToeWaves;

constexpr int MaxSteps = 40;  // a few full groups of lanes on every path
constexpr int MaxPoints = 200;
// Each step is marched about a dozen times (reference, each fast path alone,
// in lanes and through the driver): a smaller budget of grid points.
constexpr double Budget = 2e4;

const std::vector<MarchPath>& FastPaths() {
    static const std::vector<MarchPath> paths = [] {
        std::vector<MarchPath> all = qav::SupportedMarchPaths();
        all.erase(std::remove(all.begin(), all.end(), MarchPath::Reference), all.end());
        return all;
    }();
    return paths;
}

const char* Name(MarchPath path) { return qav::MarchPathName(path).data(); }

bool Same(double a, double b) { return (std::isnan(a) && std::isnan(b)) || a == b; }

bool SameBits(const ToeWaves& a, const ToeWaves& b) {
    return Same(a.hm0, b.hm0) && Same(a.direction, b.direction) && a.energyClamped == b.energyClamped;
}

// The march's arguments of the step being compared, for the report.
std::string current;

void Describe(double Tp, double Hm0, double Alpha, double Fc, double Wlev, double DikeNormal, double Angle,
              double gridStep, const std::vector<double>& levels, const qav::Constants& c) {
    char text[512];
    std::snprintf(text, sizeof text,
                  "Tp %.17g TransmittedHm0 %.17g Alpha %.17g Fc %.17g Wlev %.17g DikeNormal %.17g "
                  "IncomingWaveAngle %.17g gridStep %.17g g %.17g rho %.17g, %zu levels from %.17g to %.17g",
                  Tp, Hm0, Alpha, Fc, Wlev, DikeNormal, Angle, gridStep, c.g, c.rho, levels.size(),
                  levels.empty() ? 0.0 : levels.front(), levels.empty() ? 0.0 : levels.back());
    current = text;
}

[[noreturn]] void Breach(const char* what, MarchPath path, std::size_t step, const ToeWaves& got,
                         const ToeWaves& expected) {
    std::fprintf(stderr, "march of %s\n", current.c_str());
    std::fprintf(stderr,
                 "contract broken: %s on %s, time step %zu: hm0 %.17g vs %.17g, direction %.17g vs %.17g, "
                 "clamped %d vs %d\n",
                 what, Name(path), step, got.hm0, expected.hm0, got.direction, expected.direction,
                 got.energyClamped, expected.energyClamped);
    std::abort();
}

double RelativeDifference(double a, double b) {
    if (a == b) return 0.0;
    return std::fabs(a - b) / std::max(std::fabs(a), std::fabs(b));
}

struct Marching {
    std::size_t index;
    double transmittedHm0, gridStep;
    std::vector<double> levels;  // the extra level included
    ToeWaves reference;
    std::vector<ToeWaves> fast;  // per fast path
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FuzzedDataProvider in(data, size);
    const int n = in.ConsumeIntegralInRange<int>(1, MaxSteps);
    const int m = in.ConsumeIntegralInRange<int>(1, MaxPoints);
    qav::RunInput input;
    qav::ModelParameters& p = input.Parameters;
    // Mostly the usual constants; now and then anything the set-up accepts.
    if (in.ConsumeBool()) {
        p.Ag = Value(in, 1, 20);
        p.Rho = Value(in, 900, 1100);
    }
    p.Alpha = Value(in, 0, 3);
    p.Fc = Value(in, 0, 0.1);
    p.RatioDepth = Value(in, 0.01, 2);
    input.DamType = in.ConsumeIntegralInRange<int>(0, 3);
    input.DamHeight = Value(in, -10, 10);
    input.DikeNormal = in.ConsumeBool() ? Value(in, -400, 400) : in.ConsumeFloatingPointInRange<double>(0, 360);
    const Series s = DrawSeries(in, n, 0.01);
    std::vector<double> x, z;
    DrawProfile(in, m, x, z);
    p.MinStepSize = BoundedMinStepSize(in, x, n, Budget);
    input.Hm0 = s.hm0;
    input.Tp = s.tp;
    input.Wlev = s.wlev;
    input.IncomingWaveAngle = s.angle;
    input.ProfileX = x;
    input.ProfileBottomLevel = z;

    std::string text(1000, ' ');
    const qav::MessageBuffer message(text.data(), text.size());
    qav::InitLog(0, " ");
    if (qav::CheckModelSetup(input, message) != 0) {
        Hits::Of().Count("setup-refused");
        return 0;
    }
    const qav::Constants constants = qav::InitialiseModelConstants(p);
    const std::vector<MarchPath>& paths = FastPaths();

    // Each step alone: the reference and every fast path.
    std::vector<Marching> marching;
    qav::RollerWorkspace referenceWork;
    std::vector<double> gridX;
    for (std::size_t i = 0; i < static_cast<std::size_t>(n); ++i) {
        const qav::PreparedStep prepared = qav::PrepareTimeStep(input, i, message);
        if (!prepared.marches) continue;
        Marching step{i, prepared.transmittedHm0, prepared.gridStep, {}, {}, {}};
        std::vector<double> referenceLevels;
        qav::CreateRegularGrid(x, step.gridStep, gridX);
        qav::InterpolateBottomLevels(x, z, gridX, referenceLevels);
        const bool built = qav::BuildGridBottomLevels(x, z, step.gridStep, step.levels);
        if (!referenceLevels.empty()) referenceLevels.push_back(referenceLevels.back());
        Require(built == !referenceLevels.empty() && step.levels.size() == referenceLevels.size() &&
                    std::equal(step.levels.begin(), step.levels.end(), referenceLevels.begin(),
                               [](double a, double b) { return Same(a, b); }),
                "the walk lays the levels of the reference's grid");
        if (!built) continue;
        Describe(input.Tp[i], step.transmittedHm0, p.Alpha, p.Fc, input.Wlev[i], input.DikeNormal,
                 input.IncomingWaveAngle[i], step.gridStep, step.levels, constants);
        step.reference = qav::RunRollerModel(input.Tp[i], step.transmittedHm0, p.Alpha, p.Fc, input.Wlev[i],
                                             input.DikeNormal, input.IncomingWaveAngle[i], step.gridStep,
                                             step.levels, constants, referenceWork);
        const ToeWaves& expected = step.reference;
        for (const MarchPath path : paths) {
            const ToeWaves got = qav_testing::MarchOn(
                path, input.Tp[i], step.transmittedHm0, p.Alpha, p.Fc, input.Wlev[i], input.DikeNormal,
                input.IncomingWaveAngle[i], step.gridStep, step.levels, constants);
            if (!step.fast.empty() && !SameBits(got, step.fast.front())) {
                Breach("a fast path differs from the first one", path, i, got, step.fast.front());
            }
            step.fast.push_back(got);
            if (std::isnormal(expected.hm0) && !(RelativeDifference(got.hm0, expected.hm0) <= 1e-13)) {
                Breach("toe height beyond 1e-13 of the reference", path, i, got, expected);
            }
            if (std::isnan(got.direction) != std::isnan(expected.direction)) {
                Breach("direction NaN on one side only", path, i, got, expected);
            }
            // The direction comes from the reference's wave numbers at the two
            // ends, with sin and asin rounded to nearest, which the C library
            // misses by a unit in the last place now and then. The refracted
            // angle (up to 90 deg) is then added to the dike normal, so a unit
            // in its last place, or in the normal's, is what a direction near 0
            // left by that sum (or by turning it into [0, 360]) may differ by.
            const double scale = std::max({std::fabs(expected.direction), std::fabs(input.DikeNormal), 90.0});
            if (!std::isnan(expected.direction) &&
                !(std::fabs(got.direction - expected.direction) <=
                  4.0 * (std::nextafter(scale, INFINITY) - scale))) {
                Breach("direction beyond 4 units in the last place of the reference", path, i, got, expected);
            }
        }
        Hits::Of().Count(std::isnormal(expected.hm0) ? "step.normal-height" : "step.other-height");
        marching.push_back(std::move(step));
    }
    if (marching.empty()) return 0;

    // In lanes: the marching steps in groups of sizes the input chooses (taken
    // in turn, each cut to the path's lanes), each lane resting on its last
    // level until the longest ends.
    std::vector<std::size_t> groupSizes;
    for (std::size_t first = 0; first < marching.size();) {
        const std::size_t size = in.ConsumeIntegralInRange<std::size_t>(1, 16);
        groupSizes.push_back(size);
        first += size;
    }
    for (std::size_t p = 0; p < paths.size(); ++p) {
        const MarchPath path = paths[p];
        const std::size_t lanes = static_cast<std::size_t>(qav::LaneCount(path));
        std::size_t g = 0;
        for (std::size_t first = 0; first < marching.size(); ++g) {
            const std::size_t count = std::min((groupSizes[g % groupSizes.size()] - 1) % lanes + 1, marching.size() - first);
            std::vector<qav::LaneStep> steps;
            std::size_t longest = 0;
            for (std::size_t l = 0; l < count; ++l) {
                const Marching& step = marching[first + l];
                const std::size_t i = step.index;
                steps.push_back({input.Tp[i], step.transmittedHm0, input.Wlev[i], input.IncomingWaveAngle[i],
                                 step.gridStep, step.levels.size()});
                longest = std::max(longest, step.levels.size());
            }
            std::vector<double> levels(longest * lanes);
            for (std::size_t l = 0; l < lanes; ++l) {
                // Unused lanes repeat the first step, as the driver has them.
                const std::vector<double>& own = marching[first + (l < count ? l : 0)].levels;
                for (std::size_t k = 0; k < longest; ++k) levels[k * lanes + l] = own[std::min(k, own.size() - 1)];
            }
            std::vector<ToeWaves> toe(lanes);
            qav_testing::MarchLanesOn(path, input.Parameters.Alpha, input.Parameters.Fc, input.DikeNormal,
                                      steps, levels.data(), constants, toe);
            for (std::size_t l = 0; l < count; ++l) {
                const Marching& step = marching[first + l];
                if (!SameBits(toe[l], step.fast[p])) {
                    Breach("a step in a lane differs from the step alone", path, step.index, toe[l], step.fast[p]);
                }
            }
            Hits::Of().Count("lanes." + std::string(Name(path)) + "." + std::to_string(count));
            first += count;
        }
    }

    // Through the driver: every fast path gives the whole run's results, its
    // return code and message with the same bits.
    const std::size_t count = static_cast<std::size_t>(n);
    std::vector<double> firstHm0, firstTp, firstAngle;
    std::string firstMessage;
    int firstCode = 0;
    for (std::size_t p = 0; p < paths.size(); ++p) {
        qav::SetThreadMarchPath(paths[p]);
        std::vector<double> hm0(count), tp(count), angle(count);
        qav::RunOutput output;
        output.Hm0Toe = hm0;
        output.TpToe = tp;
        output.WaveAngleToe = angle;
        std::string runText(1000, ' ');
        const int code = qav::RollerModel5(input, output, qav::MessageBuffer(runText.data(), runText.size()));
        if (p == 0) {
            firstHm0 = hm0;
            firstTp = tp;
            firstAngle = angle;
            firstMessage = runText;
            firstCode = code;
            continue;
        }
        for (std::size_t i = 0; i < count; ++i) {
            if (!Same(hm0[i], firstHm0[i]) || !Same(tp[i], firstTp[i]) || !Same(angle[i], firstAngle[i])) {
                Breach("the driver's results differ between fast paths", paths[p], i,
                       {hm0[i], angle[i], false}, {firstHm0[i], firstAngle[i], false});
            }
        }
        Require(code == firstCode && runText == firstMessage,
                "the driver's return code and message are those of every fast path");
    }
    qav::ResetThreadMarchPath();
    return 0;
}
