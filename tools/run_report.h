#pragma once

#include <string>
#include <utility>
#include <vector>

#include "tools/run_chart.h"

namespace qav::cli {

// An input file of a run: the option that named it and its path.
struct ReportInput {
    std::string option;
    std::string path;
};

// What the report of a run shows besides its records.
struct RunReport {
    const std::vector<SectionRecord>& sections;
    const std::string& runChart;  // the run's SVG chart
    std::vector<std::string> commandLine;
    std::vector<std::pair<std::string, std::string>> options;  // every option of the command and its value
    std::vector<ReportInput> inputs;
    std::vector<std::string> findings;  // the warnings and findings said on standard error
    int exitCode = 0;
};

// One self-contained HTML page (no scripts, nothing fetched; prints on A4):
// the summary of each section, the run's chart, the transect of the step
// with the largest toe Hm0, the notes and warnings, and the provenance: qav's
// version and march path, the command line, every option's value, and each
// input file's name, size and SHA-256.
[[nodiscard]] std::string WriteHtmlReport(const RunReport& report);

}  // namespace qav::cli
