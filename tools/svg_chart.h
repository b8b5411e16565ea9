#pragma once

#include <string>
#include <vector>

#include "model/model.h"

namespace qav::cli {

// What the transect chart shows: the profile, the still water level and the
// dam in front of it (top panel), and the wave height along the grid from
// the offshore value to the toe (bottom panel). A step that was not computed
// has no wave heights along the grid: its chart is the top panel with the
// step's status.
struct TransectChart {
    std::vector<double> profileX;  // m, the profile as given
    std::vector<double> profileZ;  // m
    std::vector<double> x;         // m, grid points of the march (empty: not computed)
    std::vector<double> hm0;       // m, along the grid
    double waterLevel = 0.0;       // m
    double hm0Offshore = 0.0;      // m, before the dam
    double hm0Toe = 0.0;           // m, at the toe (after the reduction for oblique waves)
    std::string dam = "none";      // none, caisson, wall or dam
    double damHeight = 0.0;        // m, the dam's crest
    std::string title;
    std::string status;  // the step's status ("computed", "calm", ...)
    std::string detail;  // the step's message and note, shown under the title
};

// A self-contained SVG document. Every label and the legends lie outside
// the data areas (the rectangles with class "data-area"); the axes end on
// round ticks, with gridlines. Long lines are thinned to a few points per
// pixel column, keeping each column's lowest and highest value.
[[nodiscard]] std::string DrawTransectSvg(const TransectChart& chart);

// The chart of a traced step: input's first step, its dam by name ("none",
// "caisson", ...), and the step's note.
[[nodiscard]] TransectChart MakeTransectChart(const RunInput& input, const std::string& dam,
                                              const Transect& transect, const std::string& note);

} // namespace qav::cli
