#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "files/csv_writer.h"
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

// The result table of a run: a header row, then per time step its number,
// the series' other columns (time, id, ...) as the file has them, its
// inputs, the toe values, the outcome, the step's own message and its note,
// written in the given format (its byte order mark not included).
[[nodiscard]] std::string RunTableHeader(std::span<const std::string> passThroughNames,
                                         const files::TableFormat& format);
// The rows of a block of steps, numbered from firstStep; flags[i] are the
// judgement's flags of row i (its note); passThrough[c][i] is the text of
// the series' other column c in the block's row i.
void AppendRunRows(std::string& out, std::size_t firstStep, const RunInput& input, const RunTable& result,
                   std::span<const std::uint8_t> flags, const std::vector<std::vector<std::string>>& passThrough,
                   const files::TableFormat& format);

}  // namespace qav::cli
