#pragma once

#include <string>
#include <vector>

namespace qav::cli {

// What the transect chart shows: the bottom and the still water level over
// the foreshore, and the wave height along the grid with the toe value.
struct TransectChart {
    std::vector<double> x;            // m, grid points
    std::vector<double> bottomLevel;  // m
    std::vector<double> hm0;          // m, along the grid
    double waterLevel = 0.0;          // m
    double toeX = 0.0;                // m, the dike toe
    double hm0Toe = 0.0;              // m, at the toe
    std::string title;
};

// A self-contained SVG document with two panels sharing the x axis: levels
// (top) and wave height (bottom), axes labelled with units.
[[nodiscard]] std::string DrawTransectSvg(const TransectChart& chart);

} // namespace qav::cli
