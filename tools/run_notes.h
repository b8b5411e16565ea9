#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "model/model.h"

namespace qav::cli {

// A step's own reason out of the library's message: the set-up check's
// description of the foreshore and the dam ("Foreshore present-No Dam
// present-") that leads a refused set-up's text is left out. The log keeps
// the library's whole text.
[[nodiscard]] std::string_view OwnReason(std::string_view message);

// What a row's numbers alone do not tell: a dry toe (the water level below
// the toe, the profile's last level), and energy the march set to 0 because
// one grid step dissipated more than the waves carried. Empty when there is
// nothing to say. Rows that were not computed get no note.
[[nodiscard]] std::string StepNote(const RunInput& input, std::size_t i, StepOutcome outcome, bool energyClamped);

// Why a run with this many failed steps out of n failed, with the rule
// ("3 of 4 time steps failed; a run fails when half or more fail").
[[nodiscard]] std::string FailedRunText(std::size_t failures, std::size_t n);

// A direction brought into [0, 360) deg; a value that is not finite, or the
// invalid-value marker, is left for the set-up check to refuse.
[[nodiscard]] double NormalisedDirection(double degrees, double invalidValue);

// Warnings on standard error for inputs no sea produces, each kind once (with
// the first step that shows it): a gravitational acceleration far from the
// Earth's, a density far from water's, a wave steepness Hm0/L0 above 0.1
// (L0 = g Tp^2 / 2 pi). The run goes on.
class InputWarnings {
public:
    // command: "run" or "transect", for the messages.
    explicit InputWarnings(std::string_view command) : command_(command) {}
    void CheckParameters(const ModelParameters& parameters);
    // step: 1-based number of the step, 0 for the one step of a transect.
    void CheckStep(std::size_t step, double hm0, double tp, const ModelParameters& parameters);
    // The warnings given so far, without the program's prefix; a warning
    // given again is not repeated.
    [[nodiscard]] const std::vector<std::string>& Said() const { return said_; }

private:
    [[nodiscard]] std::string GoesOn() const;
    void Say(std::string text);
    std::string command_;
    std::vector<std::string> said_;
    bool steepnessSaid_ = false;
};

}  // namespace qav::cli
