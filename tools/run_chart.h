#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "model/model.h"
#include "tools/model_options.h"

namespace qav::cli {

// What a run gives one section (or the one profile of a run without
// sections), step by step, for its chart and report.
struct SectionRecord {
    std::string name;  // empty without sections
    ModelOptions model;
    Profile profile;
    std::vector<std::size_t> steps;  // the step numbers of the table
    std::vector<std::string> times;  // the series' time column, when it has one
    std::vector<double> hm0, tp, wlev, angle, hm0Toe, tpToe, angleToe;
    std::vector<StepOutcome> outcomes;
    // The steps with a message or a note: the step's index and the text,
    // the first few of them, and how many there were.
    std::vector<std::pair<std::size_t, std::string>> remarks;
    std::size_t remarkCount = 0;
    std::size_t failures = 0;
    bool failed = false;
    std::string message;  // the run's last message
    std::string summary;  // the judgement's summary of the run
};

// The remarks a record keeps.
inline constexpr std::size_t KeptRemarks = 200;

// The chart of a run: per section, the offshore and toe Hm0, the water level
// and the directions (offshore, at the toe, the dike normal) over the steps,
// or over the time column when every row's time reads as a date and time
// (2026-01-15 06:00, 15.01.2026 06:00) or a number; steps without toe values
// are marked under the wave heights. A self-contained SVG document.
[[nodiscard]] std::string DrawRunSvg(const std::vector<SectionRecord>& sections, const std::string& title);

// The series column taken as the time of each row (time, date, datetime,
// timestamp, and German and Dutch zeit, datum, tijd; any case, a unit
// behind it), or -1.
[[nodiscard]] long TimeColumn(const std::vector<std::string>& passThroughNames);

}  // namespace qav::cli
