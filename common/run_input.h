#pragma once

// What a model run reads: the seven model parameters and the caller's arrays.

#include <span>
#include <string_view>

#include "common/arguments.h"

namespace qav {

// The seven model parameters, in the order of the by-reference entry.
struct ModelParameters {
    double Ag = 9.81;            // gravitational acceleration (m/s2)
    double Rho = 1025.0;         // density of water (kg/m3)
    double Alpha = 1.0;          // breaking dissipation coefficient (-)
    double Fc = 0.01;            // bottom friction coefficient (-)
    double RatioDepth = 0.5;     // grid step over smallest water depth (-)
    double InvalidValue = -999;  // marker of a missing input or uncomputed result
    double MinStepSize = 1.0;    // smallest grid step (m)

    // From seven doubles in that order.
    [[nodiscard]] static ModelParameters FromArray(const double* values) {
        return {values[0], values[1], values[2], values[3], values[4], values[5], values[6]};
    }
};

// The field of a model parameter (an argument of place Parameter), or nullptr
// for another argument.
[[nodiscard]] double* ParameterField(ModelParameters& parameters, Argument argument);

// Everything a run reads. Spans view the caller's arrays; the four series
// share one length in a valid set-up, and so do the two profile arrays.
struct RunInput {
    int DamType = 0;         // 0 none, 1 caisson, 2 wall, 3 dam
    double DamHeight = 0.0;  // crest height (m, datum of Wlev)
    ModelParameters Parameters;
    std::span<const double> Hm0;                 // m
    std::span<const double> Tp;                  // s
    std::span<const double> Wlev;                // m
    std::span<const double> IncomingWaveAngle;   // deg
    double DikeNormal = 0.0;                     // deg
    std::span<const double> ProfileX;            // m, increasing towards the dike
    std::span<const double> ProfileBottomLevel;  // m, datum of Wlev
};

// A value line of a run's argument in the diagnostic log: its value (a
// single value), or an array's count or first value. The labels are those of
// QAV_ENTRY_ARGUMENTS; the interface header and the set-up check each write a
// sequence of lines.
struct InputLine {
    enum class Part { Value, Count, First };
    Argument argument;
    Part part;

    static constexpr InputLine Value(Argument a) { return {a, Part::Value}; }
    static constexpr InputLine Count(Argument a) { return {a, Part::Count}; }
    static constexpr InputLine First(Argument a) { return {a, Part::First}; }
};

// Writes the lines in the order given. A "first value" line of an empty array
// is left out: there is no value to show.
void LogInputLines(const RunInput& input, std::span<const InputLine> lines);

// The lines a host's call writes to the log before the run: the time, the
// library's version ("major.minor.build.revision") and the arguments as
// passed. The C entries and the Python module write the same header.
void LogInterfaceHeader(const RunInput& input, std::string_view versionText);

}  // namespace qav
