#pragma once

#include <string>

#include "tools/series_run.h"

namespace qav::cli {

// The result table of a run: a header row, then per time step its inputs,
// the toe values, the outcome and the step's own message.
[[nodiscard]] std::string FormatRunTable(const RunInput& input, const SeriesResult& result);

} // namespace qav::cli
