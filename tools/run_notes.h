#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "model/judgement.h"
#include "model/model.h"

namespace qav::cli {

// A step's own reason out of the library's message: the set-up check's
// description of the foreshore and the dam ("Foreshore present-No Dam
// present-") that leads a refused set-up's text is left out. The log keeps
// the library's whole text.
[[nodiscard]] std::string_view OwnReason(std::string_view message);

// Why a run with this many failed steps out of n failed, with the rule
// ("3 of 4 time steps failed; a run fails when half or more fail").
[[nodiscard]] std::string FailedRunText(std::size_t failures, std::size_t n);

// A direction brought into [0, 360) deg; a value that is not finite, or the
// invalid-value marker, is left for the set-up check to refuse.
[[nodiscard]] double NormalisedDirection(double degrees, double invalidValue);

// The run-level findings of judge on standard error, one warning each
// ("qav run: warning: ..."); the run goes on.
void SayFindings(std::string_view command, const RunJudge& judge);

}  // namespace qav::cli
