#include "tools/run_notes.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "files/csv_writer.h"

namespace qav::cli {
namespace {

// The set-up check writes the foreshore's text, then the dam's, and appends
// its refusal behind them.
constexpr std::array<std::string_view, 2> ForeshoreTexts = {"Foreshore present-", "No Foreshore present-"};
constexpr std::array<std::string_view, 4> DamTexts = {"No Dam present-", "Caisson dam type present-",
                                                      "Wand dam type present-", "Dam dam type present-"};

bool StripPrefix(std::string_view& text, std::string_view prefix) {
    if (!text.starts_with(prefix)) return false;
    text.remove_prefix(prefix.size());
    return true;
}

// Earth's gravity lies between 9.78 and 9.83 m/s2; water is 1000 kg/m3 fresh,
// about 1025 in the sea, up to about 1240 in the saltiest lakes.
constexpr double LowestGravity = 9.7;
constexpr double HighestGravity = 9.9;
constexpr double LowestDensity = 950.0;
constexpr double HighestDensity = 1300.0;
// Waves break before their height reaches a seventh of their length; no sea
// state's Hm0 comes above a tenth of its deep-water length.
constexpr double HighestSteepness = 0.1;
constexpr double Pi = 3.14159265358979323846;

}  // namespace

std::string_view OwnReason(std::string_view message) {
    std::string_view text = message;
    for (const std::string_view foreshore : ForeshoreTexts) {
        if (!StripPrefix(text, foreshore)) continue;
        for (const std::string_view dam : DamTexts) {
            if (StripPrefix(text, dam)) break;
        }
        // The description alone (an accepted set-up) is no reason of a step.
        return text;
    }
    return message;
}

std::string StepNote(const RunInput& input, std::size_t i, StepOutcome outcome, bool energyClamped) {
    if (outcome != StepOutcome::Computed && outcome != StepOutcome::NoForeshore) return {};
    std::string note;
    if (!input.ProfileBottomLevel.empty() && i < input.Wlev.size()) {
        const double toe = input.ProfileBottomLevel.back();
        const double wlev = input.Wlev[i];
        if (wlev < toe) {
            note = "dry toe: the water level " + files::FormatNumber(wlev) + " m lies below the toe at " +
                   files::FormatNumber(toe) + " m";
        }
    }
    if (energyClamped) {
        if (!note.empty()) note += "; ";
        note +=
            "the grid step is too coarse for these waves: the march set their energy to 0 where one step "
            "dissipated more than they carried; try a smaller --min-step-size or --ratio-depth";
    }
    return note;
}

std::string FailedRunText(std::size_t failures, std::size_t n) {
    if (n == 0) return "the series has no time steps; a run without steps fails";
    std::string text = std::to_string(failures) + " of " + std::to_string(n) + " time step" + (n == 1 ? "" : "s") +
                       " failed; a run fails when half or more fail";
    if (n >= 3 && n % 2 == 1) text += " (half of " + std::to_string(n) + " counts as " + std::to_string(n / 2) + ")";
    return text;
}

double NormalisedDirection(double degrees, double invalidValue) {
    if (!std::isfinite(degrees) || std::fabs(degrees - invalidValue) <= 1e-15) return degrees;
    double d = std::fmod(degrees, 360.0);
    if (d < 0.0) d += 360.0;
    if (d >= 360.0) d = 0.0;  // a tiny negative angle rounds up to 360
    return d;
}

std::string InputWarnings::GoesOn() const {
    return command_ == "run" ? "the run goes on" : "the step is computed all the same";
}

void InputWarnings::CheckParameters(const ModelParameters& p) {
    if (std::isfinite(p.Ag) && p.Ag > 0.0 && (p.Ag < LowestGravity || p.Ag > HighestGravity)) {
        std::fprintf(stderr,
                     "qav %s: warning: --ag %s m/s2 is far from the gravitational acceleration on Earth "
                     "(9.78 to 9.83 m/s2); %s\n",
                     command_.c_str(), files::FormatNumber(p.Ag).c_str(), GoesOn().c_str());
    }
    if (std::isfinite(p.Rho) && p.Rho > 0.0 && (p.Rho < LowestDensity || p.Rho > HighestDensity)) {
        std::fprintf(stderr,
                     "qav %s: warning: --rho %s kg/m3 is far from the density of water (1000 fresh, "
                     "about 1025 sea water); %s\n",
                     command_.c_str(), files::FormatNumber(p.Rho).c_str(), GoesOn().c_str());
    }
}

void InputWarnings::CheckStep(std::size_t step, double hm0, double tp, const ModelParameters& p) {
    if (steepnessSaid_) return;
    if (!(hm0 > 0.0) || !(tp > 0.0) || !std::isfinite(hm0) || !std::isfinite(tp) || !(p.Ag > 0.0)) return;
    if (hm0 == p.InvalidValue || tp == p.InvalidValue) return;
    const double deepWaterLength = p.Ag * tp * tp / (2.0 * Pi);
    const double steepness = hm0 / deepWaterLength;
    if (!(steepness > HighestSteepness)) return;
    steepnessSaid_ = true;
    // Two digits, or as many as it takes to show the steepness above the bound
    // (0.1034 is "0.103", not "0.1").
    char value[32];
    for (int digits = 2; digits <= 17; ++digits) {
        std::snprintf(value, sizeof value, "%.*g", digits, steepness);
        if (std::strtod(value, nullptr) > HighestSteepness) break;
    }
    const std::string where = step == 0 ? std::string() : "step " + std::to_string(step) + " (the first such): ";
    std::fprintf(stderr,
                 "qav %s: warning: %sHm0 %s m at Tp %s s is a wave steepness Hm0/L0 of %s (L0 = g Tp^2/2pi), "
                 "above the 0.1 no sea exceeds; check the units; %s\n",
                 command_.c_str(), where.c_str(), files::FormatNumber(hm0).c_str(), files::FormatNumber(tp).c_str(), value,
                 GoesOn().c_str());
}

}  // namespace qav::cli
