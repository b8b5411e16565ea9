// The judgement of a run's results: step flags, run findings and a summary.
#include "model/judgement.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "checks/checks.h"
#include "common/arguments.h"
#include "model/grid.h"
#include "physics/physics.h"

namespace qav {
namespace {

// Earth's gravity lies between 9.78 and 9.83 m/s2; water is 1000 kg/m3 fresh,
// about 1025 in the sea, up to about 1240 in the saltiest lakes.
constexpr double LowestGravity = 9.7;
constexpr double HighestGravity = 9.9;
constexpr double LowestDensity = 950.0;
constexpr double HighestDensity = 1300.0;
// Waves break before their height reaches a seventh of their length; no sea
// state's Hm0 comes above a tenth of its deep-water length.
constexpr double HighestSteepness = 0.1;
// A water level higher above the profile's top than the profile's own
// relief plus this much is no storm surge: most likely another unit (cm).
constexpr double WaterAboveProfileMargin = 10.0;
// Most steps from behind the dike say the dike normal may be turned around
// only in a series: a step or two from behind are answers of their own (a
// host that runs one step per call would hear it at every such step).
constexpr std::size_t MostFromBehindSteps = 3;
// Angles that look like radians lie in [0, 2 pi] while the dike normal lies
// more than this far (deg) from all of them.
constexpr double RadiansNormalDistance = 45.0;

// An argument's name as each door passes it: Python's name, or qav's option
// (--min-step-size for min_step_size).
std::string NameOf(Argument argument, Door door) {
    std::string name = InfoOf(argument).pythonName;
    if (door != Door::Cli) return name;
    std::replace(name.begin(), name.end(), '_', '-');
    return "--" + name;
}

// A step as the door counts it.
std::string StepName(std::size_t step, Door door) {
    return door == Door::Cli ? "step " + std::to_string(step + 1) : "index " + std::to_string(step);
}

// Six significant digits: inputs as they were typed, derived values without
// the last bits of their rounding.
std::string Shown(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", value == 0.0 ? 0.0 : value);
    return text;
}

bool IsMarker(double value, double invalidValue) { return std::fabs(value - invalidValue) <= Tolerance; }

// The depth at the toe, and the bottom's rise over one grid step there.
struct ToeWater {
    double depth;
    double risePerStep;
};

// The step's water at the toe; risePerStep is 0 for a profile of fewer than
// two points or a flat last segment.
ToeWater ToeWaterOf(const RunInput& input, double wlev) {
    const auto& x = input.ProfileX;
    const auto& z = input.ProfileBottomLevel;
    const std::size_t n = z.size();
    ToeWater water{wlev - z[n - 1], 0.0};
    if (n < 2 || !(water.depth >= 0.0)) return water;
    const double slope = std::fabs((z[n - 1] - z[n - 2]) / (x[n - 1] - x[n - 2]));
    const ModelParameters& p = input.Parameters;
    // The grid step is at most the larger of the smallest step and the depth
    // ratio times the toe depth; the grid is looked at only when that bound
    // could flag the step.
    const double bound = std::max(p.MinStepSize, p.RatioDepth * water.depth);
    if (!(water.depth < ToeDepthGridSteps * bound * slope) && water.depth > 0.0) return water;
    const GridStepSize step = GridStepOf(x, p.MinStepSize, p.RatioDepth, z, wlev, p.InvalidValue);
    if (step.Steps > 0) water.risePerStep = step.GridStep * slope;
    return water;
}

bool HasResult(StepOutcome outcome) {
    return outcome == StepOutcome::Computed || outcome == StepOutcome::NoForeshore;
}

// The distance (deg) between two directions, in [0, 180].
double DirectionDistance(double a, double b) {
    const double d = std::fabs(std::fmod(a - b, 360.0));
    return d > 180.0 ? 360.0 - d : d;
}

// The steepness with two digits, or as many as it takes to show it above
// the bound (0.1034 is "0.103", not "0.1").
std::string SteepnessText(double steepness) {
    char value[32];
    for (int digits = 2; digits <= 17; ++digits) {
        std::snprintf(value, sizeof value, "%.*g", digits, steepness);
        if (std::strtod(value, nullptr) > HighestSteepness) break;
    }
    return value;
}

}  // namespace

std::uint8_t JudgeStep(const RunInput& input, std::size_t i, StepOutcome outcome, bool energyClamped) {
    std::uint8_t flags = 0;
    if (outcome == StepOutcome::AngleOutsideRange) flags |= StepFlag::WavesFromBehind;
    if (energyClamped) flags |= StepFlag::EnergyClamped;
    if (!HasResult(outcome) || input.ProfileBottomLevel.empty() || i >= input.Wlev.size()) return flags;
    const double wlev = input.Wlev[i];
    const double toe = input.ProfileBottomLevel.back();
    if (wlev < toe) return flags | StepFlag::DryToe;
    if (outcome != StepOutcome::Computed) return flags;
    const ToeWater water = ToeWaterOf(input, wlev);
    if (water.depth == 0.0 || water.depth < ToeDepthGridSteps * water.risePerStep)
        flags |= StepFlag::ToeAtWaterLine;
    return flags;
}

std::string StepNote(const RunInput& input, std::size_t i, std::uint8_t flags, Door door) {
    std::string note;
    const auto add = [&note](const std::string& text) {
        if (!note.empty()) note += "; ";
        note += text;
    };
    const bool known = i < input.Wlev.size() && !input.ProfileBottomLevel.empty();
    if ((flags & StepFlag::DryToe) != 0 && known) {
        add("dry toe: the water level " + Shown(input.Wlev[i]) + " m lies below the toe at " +
            Shown(input.ProfileBottomLevel.back()) + " m");
    }
    if ((flags & StepFlag::ToeAtWaterLine) != 0 && known) {
        const ToeWater water = ToeWaterOf(input, input.Wlev[i]);
        add("toe at the water line: " + Shown(water.depth) + " m of water at the toe, less than " +
            Shown(ToeDepthGridSteps) + " times the bottom's rise of " + Shown(water.risePerStep) +
            " m over one grid step: the toe Hm0 depends on the grid (compare with a smaller " +
            NameOf(Argument::MinStepSize, door) + ")");
    }
    if ((flags & StepFlag::EnergyClamped) != 0) {
        add("the grid step is too coarse for these waves: the march set their energy to 0 where one step "
            "dissipated more than they carried; try a smaller " +
            NameOf(Argument::MinStepSize, door) + " or " + NameOf(Argument::RatioDepth, door));
    }
    if ((flags & StepFlag::WavesFromBehind) != 0 && i < input.IncomingWaveAngle.size()) {
        add("waves from behind the dike: the wave angle " + Shown(input.IncomingWaveAngle[i]) +
            " deg lies more than 90 deg from the dike normal " + Shown(input.DikeNormal) + " deg");
    }
    return note;
}

std::string RunSummary::Text(Door door) const {
    std::string text = std::to_string(steps) + (steps == 1 ? " step" : " steps");
    std::string counts;
    // Every outcome by its name; names shared by several outcomes are summed.
    std::vector<std::pair<std::string_view, std::size_t>> named;
    for (std::size_t k = 0; k < outcomes.size(); ++k) {
        if (outcomes[k] == 0) continue;
        const std::string_view name = OutcomeName(static_cast<StepOutcome>(k));
        const auto found =
            std::find_if(named.begin(), named.end(), [&](const auto& p) { return p.first == name; });
        if (found == named.end()) {
            named.emplace_back(name, outcomes[k]);
        } else {
            found->second += outcomes[k];
        }
    }
    for (const auto& [name, count] : named) {
        counts += (counts.empty() ? ": " : ", ") + std::to_string(count) + " " + std::string(name);
    }
    text += counts;
    std::string flags;
    for (std::size_t k = 0; k < flagged.size(); ++k) {
        if (flagged[k] == 0) continue;
        flags += (flags.empty() ? "; flagged: " : ", ") + std::to_string(flagged[k]) + " " +
                 std::string(StepFlagNames[k].name);
    }
    text += flags;
    if (hasLargest)
        text += "; largest toe Hm0 " + Shown(largestHm0Toe) + " m at " + StepName(largestStep, door);
    return text;
}

RunJudge::RunJudge(const RunInput& setup, bool dikeNormalKnown)
    : setup_(setup),
      normalKnown_(dikeNormalKnown),
      highestBottom_(-std::numeric_limits<double>::infinity()),
      lowestBottom_(std::numeric_limits<double>::infinity()) {
    setup_.Hm0 = setup_.Tp = setup_.Wlev = setup_.IncomingWaveAngle = {};
    for (const double z : setup.ProfileBottomLevel) {
        if (!std::isfinite(z)) continue;
        highestBottom_ = std::max(highestBottom_, z);
        lowestBottom_ = std::min(lowestBottom_, z);
    }
}

void RunJudge::AddSteps(const RunInput& part, std::size_t firstStep, std::span<const StepOutcome> outcomes,
                        std::span<const std::uint8_t> flags, std::span<const double> hm0Toe) {
    const ModelParameters& p = setup_.Parameters;
    const std::size_t n =
        std::min({part.Hm0.size(), part.Tp.size(), part.Wlev.size(), part.IncomingWaveAngle.size()});
    const auto& z = setup_.ProfileBottomLevel;
    std::array<char, 64> scratch{};
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t step = firstStep + i;
        const double hm0 = part.Hm0[i];
        const double tp = part.Tp[i];
        const double wlev = part.Wlev[i];
        const double angle = part.IncomingWaveAngle[i];
        // The checks refuse a step with a missing or impossible value, and a
        // calm one needs no judgement.
        MessageBuffer message(scratch.data(), scratch.size());
        if (CheckHydraulicConditions(hm0, tp, wlev, angle, p.InvalidValue, message) != ConditionsAccepted)
            continue;
        if (IsMarker(hm0, p.InvalidValue)) continue;
        if (accepted_ == 0) lowestAngle_ = highestAngle_ = angle;
        ++accepted_;
        lowestAngle_ = std::min(lowestAngle_, angle);
        highestAngle_ = std::max(highestAngle_, angle);
        if (normalKnown_ && !IsIncomingAngleValid(setup_.DikeNormal, angle)) {
            ++fromBehind_;
            sumSin_ += std::sin(angle * Pi / 180.0);
            sumCos_ += std::cos(angle * Pi / 180.0);
        }
        if (p.Ag > 0.0 && std::isfinite(p.Ag) && !steep_.seen) {
            const double steepness = hm0 / (p.Ag * tp * tp / TwoPi);
            if (steepness > HighestSteepness) steep_ = {true, step, hm0, tp, 0};
        }
        if (std::isfinite(highestBottom_) &&
            wlev - highestBottom_ > highestBottom_ - lowestBottom_ + WaterAboveProfileMargin) {
            if (!highWater_.seen) highWater_ = {true, step, wlev, 0.0, 0};
            ++highWater_.count;
        }
        if (!z.empty() && hm0 > wlev - z[0]) {
            if (!highWaves_.seen) highWaves_ = {true, step, hm0, wlev - z[0], 0};
            ++highWaves_.count;
        }
    }
    summary_.steps += std::max(n, outcomes.size());
    for (std::size_t i = 0; i < outcomes.size(); ++i) {
        ++summary_.outcomes[static_cast<std::size_t>(outcomes[i])];
        if (i < hm0Toe.size() && HasResult(outcomes[i]) && std::isfinite(hm0Toe[i]) &&
            (!summary_.hasLargest || hm0Toe[i] > summary_.largestHm0Toe)) {
            summary_.hasLargest = true;
            summary_.largestHm0Toe = hm0Toe[i];
            summary_.largestStep = firstStep + i;
        }
    }
    for (const std::uint8_t f : flags) {
        for (std::size_t k = 0; k < StepFlagNames.size(); ++k) {
            if ((f & StepFlagNames[k].mask) != 0) ++summary_.flagged[k];
        }
    }
}

std::vector<Finding> RunJudge::Findings(Door door) const {
    std::vector<Finding> findings;
    const ModelParameters& p = setup_.Parameters;
    const auto name = [door](Argument argument) { return NameOf(argument, door); };
    if (std::isfinite(p.Ag) && p.Ag > 0.0 && (p.Ag < LowestGravity || p.Ag > HighestGravity)) {
        findings.push_back({FindingKind::Gravity, name(Argument::Ag) + " " + Shown(p.Ag) +
                                                      " m/s2 is far from the gravitational acceleration on "
                                                      "Earth (9.78 to 9.83 m/s2)"});
    }
    if (std::isfinite(p.Rho) && p.Rho > 0.0 && (p.Rho < LowestDensity || p.Rho > HighestDensity)) {
        findings.push_back({FindingKind::Density, name(Argument::Rho) + " " + Shown(p.Rho) +
                                                      " kg/m3 is far from the density of water (1000 fresh, "
                                                      "about 1025 sea water)"});
    }
    if (steep_.seen) {
        const double steepness = steep_.a / (p.Ag * steep_.b * steep_.b / TwoPi);
        findings.push_back({FindingKind::Steepness,
                            StepName(steep_.step, door) + " (the first such): Hm0 " + Shown(steep_.a) +
                                " m at Tp " + Shown(steep_.b) + " s is a wave steepness Hm0/L0 of " +
                                SteepnessText(steepness) +
                                " (L0 = g Tp^2/2pi), above the 0.1 no sea exceeds; check the units"});
    }
    bool radiansSaid = false;
    if (normalKnown_ && accepted_ > 1 && lowestAngle_ >= 0.0 && highestAngle_ <= TwoPi &&
        lowestAngle_ < highestAngle_) {
        // The normal's distance from the nearest of the angles' directions.
        const double normal = setup_.DikeNormal;
        double distance = 0.0;
        const double reduced = Modulo360(normal);
        if (reduced < lowestAngle_ || reduced > highestAngle_) {
            distance =
                std::min(DirectionDistance(reduced, lowestAngle_), DirectionDistance(reduced, highestAngle_));
        }
        radiansSaid = distance > RadiansNormalDistance;
        if (radiansSaid) {
            findings.push_back({FindingKind::RadianAngles,
                                "every wave angle lies within 0 to 2 pi (" + Shown(lowestAngle_) + " to " +
                                    Shown(highestAngle_) + ") while the dike normal is " + Shown(normal) +
                                    " deg: are the angles in radians? They are read as degrees"});
        }
    }
    // Angles read as degrees from radians come from behind as well: then the
    // radians are the cause, not the dike normal.
    if (!radiansSaid && normalKnown_ && accepted_ >= MostFromBehindSteps && 2 * fromBehind_ > accepted_) {
        const double from = Modulo360(std::atan2(sumSin_, sumCos_) * 180.0 / Pi);
        findings.push_back(
            {FindingKind::MostFromBehind,
             std::to_string(fromBehind_) + " of " + std::to_string(accepted_) +
                 " steps have waves from behind the dike (more than 90 deg from the dike normal " +
                 Shown(setup_.DikeNormal) + " deg; they come from about " + Shown(std::round(from)) +
                 " deg): is " + name(Argument::DikeNormal) + " 180 deg off? Those steps give toe Hm0 0"});
    }
    if (highWater_.seen) {
        findings.push_back(
            {FindingKind::WaterAboveProfile,
             std::to_string(highWater_.count) + " water level" + (highWater_.count == 1 ? "" : "s") +
                 " far above the whole profile, the first at " + StepName(highWater_.step, door) + ": " +
                 Shown(highWater_.a) + " m against a profile from " + Shown(lowestBottom_) + " to " +
                 Shown(highestBottom_) + " m; is the water level in another unit (cm)?"});
    }
    if (highWaves_.seen) {
        findings.push_back(
            {FindingKind::Hm0AboveDepth,
             std::to_string(highWaves_.count) + " step" + (highWaves_.count == 1 ? "" : "s") +
                 " with an offshore Hm0 above the water depth at the profile's first point, the "
                 "first at " +
                 StepName(highWaves_.step, door) + ": Hm0 " + Shown(highWaves_.a) + " m in " +
                 Shown(highWaves_.b) +
                 " m of water; such waves break before the profile: check the units and where "
                 "the profile starts"});
    }
    return findings;
}

}  // namespace qav
