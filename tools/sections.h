#pragma once

// Sections of a dike, each with its own profile, orientation, dam and model
// options, run over one series of offshore conditions.

#include <cstddef>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "model/model.h"
#include "tools/model_options.h"
#include "tools/run_command.h"
#include "tools/series_run.h"

namespace qav::cli {

// One row of a sections file: columns section, profile, dike_normal, and
// optionally dam, dam_height and the model parameters (ag, rho, alpha, fc,
// ratio_depth, min_step_size); an empty or absent one takes the command
// line's value.
struct Section {
    std::string name;
    std::string profilePath;  // as read: relative paths from the sections file's folder
    Profile profile;
    ModelOptions model;
};

// The column names of a sections file.
inline constexpr std::string_view SectionColumns[] = {"section",    "profile",     "dike_normal",  "dam",
                                                      "dam_height", "ag",          "rho",          "alpha",
                                                      "fc",         "ratio_depth", "min_step_size"};

// Reads a sections file and each section's profile. Throws FileError or
// InputError naming the file, line and column of a fault.
[[nodiscard]] std::vector<Section> ReadSections(const std::string& path, const files::CsvOptions& csv,
                                                const ModelOptions& defaults);

// The rows of the series each section runs: with a column "section" in the
// series, the rows naming it (every name must be a section's); else every
// row. rows[s] holds 0-based row numbers of the series.
[[nodiscard]] std::vector<std::vector<std::size_t>> RowsOfSections(const std::vector<Section>& sections,
                                                                   const files::Series& series,
                                                                   const std::string& seriesName);

// Runs every section's input into its table, the threads of options taking
// pieces of any section's steps; each section's numbers, messages and
// return code are those of a run of its own. With a log, the sections run
// one after the other on the calling thread. progress gets the steps done
// over all sections.
[[nodiscard]] std::vector<SeriesRun> RunSections(std::span<const RunInput> inputs, std::span<RunTable> tables,
                                                 const RunOptions& options,
                                                 const std::function<void(std::size_t)>& progress);

}  // namespace qav::cli
