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

std::string FailedRunText(std::size_t failures, std::size_t n) {
    if (n == 0) return "the series has no time steps; a run without steps fails";
    std::string text = std::to_string(failures) + " of " + std::to_string(n) + " time step" +
                       (n == 1 ? "" : "s") + " failed; a run fails when half or more fail";
    if (n >= 3 && n % 2 == 1)
        text += " (half of " + std::to_string(n) + " counts as " + std::to_string(n / 2) + ")";
    return text;
}

double NormalisedDirection(double degrees, double invalidValue) {
    if (!std::isfinite(degrees) || std::fabs(degrees - invalidValue) <= 1e-15) return degrees;
    double d = std::fmod(degrees, 360.0);
    if (d < 0.0) d += 360.0;
    if (d >= 360.0) d = 0.0;  // a tiny negative angle rounds up to 360
    return d;
}

void SayFindings(std::string_view command, const RunJudge& judge) {
    for (const Finding& finding : judge.Findings(Door::Cli)) {
        std::fprintf(stderr, "qav %.*s: warning: %s\n", static_cast<int>(command.size()), command.data(),
                     finding.text.c_str());
    }
}

}  // namespace qav::cli
