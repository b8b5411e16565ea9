#pragma once

#include <string>
#include <vector>

#include "common/run_input.h"
#include "files/input_files.h"

namespace CLI {
class App;
}

namespace qav::cli {

// The options every model command shares: dike orientation, dam and the
// seven model parameters, with the library's defaults.
struct ModelOptions {
    double dikeNormal = 0.0;
    std::string dam = "none";
    double damHeight = 0.0;
    ModelParameters parameters;
};

// Adds --dike-normal (required unless normalRequired is false), --dam,
// --dam-height and the model parameters to a command.
void AddModelOptions(CLI::App& command, ModelOptions& options, bool normalRequired = true);

// Throws InputError for a dam without --dam-height, or --dam-height without
// a dam.
void CheckDamOptions(const ModelOptions& options, const CLI::App& command);

// The dam type number of the model (0 none, 1 caisson, 2 wall, 3 dam).
[[nodiscard]] int DamTypeNumber(const std::string& dam);

// A cross-shore profile and offshore conditions, as the CSV files give them.
using Profile = files::Profile;
using Series = files::SeriesBlock;

// The model's input over the given profile and series (views; both must
// outlive the result), with the dike normal brought into [0, 360).
RunInput MakeRunInput(const ModelOptions& options, const Profile& profile, const Series& series);

}  // namespace qav::cli
