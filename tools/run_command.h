#pragma once

#include <string>
#include <vector>

#include "model/model.h"

namespace qav::cli {

// The results of a run over a whole series, one element per time step.
struct RunTable {
    std::vector<double> hm0Toe;
    std::vector<double> tpToe;
    std::vector<double> angleToe;
    std::vector<StepOutcome> outcomes;
    std::vector<std::string> messages;  // each step's own message, empty when it wrote none

    explicit RunTable(std::size_t n) : hm0Toe(n), tpToe(n), angleToe(n), outcomes(n), messages(n) {}
    [[nodiscard]] RunOutput Output() { return {hm0Toe, tpToe, angleToe, outcomes, messages, {}}; }
};

// The result table of a run: a header row, then per time step its inputs,
// the toe values, the outcome and the step's own message.
[[nodiscard]] std::string FormatRunTable(const RunInput& input, const RunTable& result);

}  // namespace qav::cli
