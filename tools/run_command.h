#pragma once

#include <cstdint>
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
    std::vector<std::uint8_t> energyClamped;

    explicit RunTable(std::size_t n)
        : hm0Toe(n), tpToe(n), angleToe(n), outcomes(n), messages(n), energyClamped(n) {}
    [[nodiscard]] RunOutput Output() { return {hm0Toe, tpToe, angleToe, outcomes, messages, energyClamped}; }
};

// The result table of a run: a header row, then per time step its inputs,
// the toe values, the outcome, the step's own message and its note.
[[nodiscard]] std::string FormatRunTable(const RunInput& input, const RunTable& result);

}  // namespace qav::cli
