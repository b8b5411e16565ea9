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
// inputs, the toe values, the outcome, the step's own message and its note.
// With sections, a section column follows the step. Written in the given
// format (its byte order mark not included).
[[nodiscard]] std::string RunTableHeader(std::span<const std::string> passThroughNames, bool sections,
                                         const files::TableFormat& format);
// Which rows of the series a block of steps shows, and how.
struct TableRows {
    std::size_t firstStep = 1;             // the number of the first step, when rows is empty
    std::span<const std::size_t> rows;     // else the series row (0-based) of each step
    const std::string* section = nullptr;  // the section's name, with sections
    long hiddenColumn = -1;                // a column of the series not shown (the section column)
};
// The rows of a block of steps; passThrough[c][r] is the text of the series'
// other column c in row r (r the block's own row when where.rows is empty).
// flags[i] are the judgement's flags of the block's step i (its note).
void AppendRunRows(std::string& out, const TableRows& where, const RunInput& input, const RunTable& result,
                   std::span<const std::uint8_t> flags, const std::vector<std::vector<std::string>>& passThrough,
                   const files::TableFormat& format);

}  // namespace qav::cli
