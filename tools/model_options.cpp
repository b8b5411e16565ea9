#include "tools/model_options.h"

#include <CLI/CLI.hpp>

#include <array>
#include <string_view>

#include "tools/errors.h"
#include "tools/run_notes.h"

namespace qav::cli {
namespace {

constexpr std::array<std::string_view, 4> DamNames = {"none", "caisson", "wall", "dam"};

}  // namespace

void AddModelOptions(CLI::App& command, ModelOptions& options, bool normalRequired) {
    command
        .add_option("--dike-normal", options.dikeNormal,
                    "Direction the dike faces, in the convention of the wave angle (deg; 270: the sea lies "
                    "to the west); brought into [0, 360)")
        ->required(normalRequired);
    command.add_option("--dam", options.dam, "Structure in front of the dike: none, caisson, wall or dam")
        ->transform(CLI::IsMember({"none", "caisson", "wall", "dam"}, CLI::ignore_case))
        ->capture_default_str();
    command.add_option(
        "--dam-height", options.damHeight,
        "Crest height of the dam (m, datum of the water level); needed with --dam, refused without");

    ModelParameters& p = options.parameters;
    const char* group = "Model parameters";
    command.add_option("--ag", p.Ag, "Gravitational acceleration (m/s2)")
        ->capture_default_str()
        ->group(group);
    command.add_option("--rho", p.Rho, "Density of water (kg/m3)")->capture_default_str()->group(group);
    command.add_option("--alpha", p.Alpha, "Breaking dissipation coefficient (-)")
        ->capture_default_str()
        ->group(group);
    command.add_option("--fc", p.Fc, "Bottom friction coefficient (-)")->capture_default_str()->group(group);
    command.add_option("--ratio-depth", p.RatioDepth, "Grid step over the smallest water depth (-)")
        ->capture_default_str()
        ->group(group);
    command.add_option("--min-step-size", p.MinStepSize, "Smallest grid step (m)")
        ->capture_default_str()
        ->group(group);
    command.add_option("--invalid-value", p.InvalidValue, "Marker of a missing input or uncomputed result")
        ->capture_default_str()
        ->group(group);
}

void CheckDamOptions(const ModelOptions& options, const CLI::App& command) {
    const bool height = command.count("--dam-height") != 0;
    if (options.dam != "none" && !height) throw InputError("--dam " + options.dam + " needs --dam-height");
    if (options.dam == "none" && height) {
        throw InputError("--dam-height needs --dam caisson, wall or dam: without a dam there is no crest");
    }
}

int DamTypeNumber(const std::string& dam) {
    for (std::size_t i = 0; i < DamNames.size(); ++i) {
        if (DamNames[i] == dam) return static_cast<int>(i);
    }
    return -1;
}

RunInput MakeRunInput(const ModelOptions& options, const Profile& profile, const Series& series) {
    RunInput input;
    input.DamType = DamTypeNumber(options.dam);
    input.DamHeight = options.damHeight;
    input.Parameters = options.parameters;
    input.Hm0 = series.hm0;
    input.Tp = series.tp;
    input.Wlev = series.wlev;
    input.IncomingWaveAngle = series.angle;
    input.DikeNormal = NormalisedDirection(options.dikeNormal, options.parameters.InvalidValue);
    input.ProfileX = profile.x;
    input.ProfileBottomLevel = profile.z;
    return input;
}

}  // namespace qav::cli
