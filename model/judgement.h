#pragma once

// The judgement of a run's results: what the numbers alone do not tell.
// Per time step a set of flags with a note, per run a list of findings on
// inputs no sea produces, and a summary. The texts are written here once;
// the command-line program, the Python module and its xarray and OpenTURNS
// faces present them. The C entries are not touched: their outputs stay
// the model's.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/run_input.h"
#include "model/model.h"

namespace qav {

// The caller a text is written for: it names the arguments as that caller
// passes them (--dike-normal or dike_normal) and a step by the caller's
// count (step 1 is the first row of qav's table, index 0 the first element
// of a Python array).
enum class Door : std::uint8_t { Cli, Python };

// Flags of one time step, bits of a byte.
namespace StepFlag {
// The water level lies below the toe (the profile's last level): the toe is
// dry, and its 0 says so.
inline constexpr std::uint8_t DryToe = 1;
// The toe lies at or just under the water line, so shallow that the toe Hm0
// depends on the grid (see ToeDepthGridSteps).
inline constexpr std::uint8_t ToeAtWaterLine = 2;
// The march set the energy to 0 where one grid step dissipated more than
// the waves carried.
inline constexpr std::uint8_t EnergyClamped = 4;
// The waves come from behind the dike (more than 90 deg off its normal).
inline constexpr std::uint8_t WavesFromBehind = 8;
}  // namespace StepFlag

struct StepFlagName {
    std::uint8_t mask;
    std::string_view name;
};

// Every flag, in the order of its bit, with its name.
inline constexpr std::array<StepFlagName, 4> StepFlagNames = {
    {{StepFlag::DryToe, "dry toe"},
     {StepFlag::ToeAtWaterLine, "toe at water line"},
     {StepFlag::EnergyClamped, "energy clamped"},
     {StepFlag::WavesFromBehind, "waves from behind"}}};

// A toe under water is flagged as at the water line while its depth is less
// than this many times the bottom's rise over one grid step at the toe (the
// grid step times the slope of the profile's last segment). Measured: the
// toe Hm0 then differs by more than 5 % from that on a grid twice as fine.
inline constexpr double ToeDepthGridSteps = 10.0;

// The flags of step i of input, from its outcome and its energy clamp.
[[nodiscard]] std::uint8_t JudgeStep(const RunInput& input, std::size_t i, StepOutcome outcome,
                                     bool energyClamped);

// The note of step i: the texts of its flags joined by "; ", empty when it
// has none.
[[nodiscard]] std::string StepNote(const RunInput& input, std::size_t i, std::uint8_t flags, Door door);

// The kinds of run-level findings.
enum class FindingKind : std::uint8_t {
    Gravity,            // the gravitational acceleration far from the Earth's
    Density,            // the density far from water's
    Steepness,          // a wave steepness Hm0/L0 above 0.1
    MostFromBehind,     // most steps have waves from behind the dike
    RadianAngles,       // the angles look like radians
    WaterAboveProfile,  // a water level far above the whole profile
    Hm0AboveDepth,      // an offshore Hm0 above the depth at the profile's first point
};

struct Finding {
    FindingKind kind;
    std::string text;
};

// Steps per outcome and per flag, and the largest toe Hm0.
struct RunSummary {
    std::size_t steps = 0;
    std::array<std::size_t, 8> outcomes{};  // by StepOutcome's number
    std::array<std::size_t, StepFlagNames.size()> flagged{};
    double largestHm0Toe = 0.0;
    std::size_t largestStep = 0;  // 0-based; meaningful when hasLargest
    bool hasLargest = false;

    // "48 steps: 30 computed, 18 angle outside range; flagged: 3 dry toe;
    // largest toe Hm0 1.2 m at step 7".
    [[nodiscard]] std::string Text(Door door) const;
};

// Judges a run a part at a time (a part: consecutive steps, as a long series
// is run in blocks), the same whether the steps were computed or only checked.
class RunJudge {
public:
    // setup: the profile, dam, dike normal and parameters of the run.
    // Without a dike normal (dikeNormalKnown false) the findings on
    // directions are not made.
    explicit RunJudge(const RunInput& setup, bool dikeNormalKnown = true);

    // The steps of part, its first being step firstStep (0-based) of the run.
    // outcomes, flags and hm0Toe are the part's results, for the summary;
    // empty when the steps were only checked.
    void AddSteps(const RunInput& part, std::size_t firstStep, std::span<const StepOutcome> outcomes = {},
                  std::span<const std::uint8_t> flags = {}, std::span<const double> hm0Toe = {});

    // The findings of the steps so far, each kind once.
    [[nodiscard]] std::vector<Finding> Findings(Door door) const;
    [[nodiscard]] const RunSummary& Summary() const { return summary_; }

private:
    RunInput setup_;
    bool normalKnown_;
    double highestBottom_;
    double lowestBottom_;
    RunSummary summary_;
    // Steps with conditions the checks accept, and of those the ones with
    // waves from behind the dike.
    std::size_t accepted_ = 0;
    std::size_t fromBehind_ = 0;
    double sumSin_ = 0.0;
    double sumCos_ = 0.0;
    // The smallest and largest accepted angle.
    double lowestAngle_ = 0.0;
    double highestAngle_ = 0.0;
    // The first step showing each finding, as step and values.
    struct FirstStep {
        bool seen = false;
        std::size_t step = 0;
        double a = 0.0;
        double b = 0.0;
        std::size_t count = 0;
    };
    FirstStep steep_;
    FirstStep highWater_;
    FirstStep highWaves_;
};

}  // namespace qav
