#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "interface/message.h"
#include "physics/physics.h"
#include "physics/roller_fast.h"

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
    [[nodiscard]] static ModelParameters FromArray(const double* values);
};

// Everything a run reads. Spans view the caller's arrays; the four series
// share one length in a valid set-up, and so do the two profile arrays.
struct RunInput {
    int DamType = 0;          // 0 none, 1 caisson, 2 wall, 3 dam
    double DamHeight = 0.0;   // crest height (m, datum of Wlev)
    ModelParameters Parameters;
    std::span<const double> Hm0;                // m
    std::span<const double> Tp;                 // s
    std::span<const double> Wlev;               // m
    std::span<const double> IncomingWaveAngle;  // deg
    double DikeNormal = 0.0;                    // deg
    std::span<const double> ProfileX;            // m, increasing towards the dike
    std::span<const double> ProfileBottomLevel;  // m, datum of Wlev
};

// What became of one time step: a row of the driver's result table.
enum class StepOutcome : std::uint8_t {
    NotTreated,         // the set-up was refused; results InvalidValue
    Refused,            // conditions refused; results InvalidValue (failure)
    Calm,               // Hm0 almost zero; 0, Tp, incoming angle
    AngleOutsideRange,  // waves from behind the dike; 0, Tp, incoming angle
    NoForeshore,        // no grid; transmitted Hm0, Tp, incoming angle
    Computed,           // toe values of the energy balance
    NoDirection,        // refracted angle not computable; InvalidValue (failure)
    NoGrid,             // grid too large or no storage; InvalidValue (failure)
};

// True for the outcomes that count as failed time steps.
[[nodiscard]] bool IsFailure(StepOutcome outcome);
// A short lower-case name ("computed", "calm", ...).
[[nodiscard]] std::string_view OutcomeName(StepOutcome outcome);

// Results of one time step.
struct StepResult {
    double Hm0Toe;        // m
    double TpToe;         // s
    double WaveAngleToe;  // deg
    StepOutcome Outcome;
};

// Where a run writes its results: N elements each. Outcomes and Messages are
// optional (empty spans are not written); Messages receives each step's own
// message, empty for a step that wrote none.
struct RunOutput {
    std::span<double> Hm0Toe;
    std::span<double> TpToe;
    std::span<double> WaveAngleToe;
    std::span<StepOutcome> Outcomes;
    std::span<std::string> Messages;
};

// Optional diagnostic log of a run started from C++ (the C entries set the
// thread's log themselves).
struct RunLog {
    int Logging = 0;
    std::string_view FileName;
};

// Runs the model over the whole series and returns 0 when the run succeeded,
// -1 when it failed. message holds the last text written during the run.
int RollerModel5(const RunInput& input, const RunOutput& output, MessageBuffer message,
                 const RunLog* log = nullptr);

// ---- Pieces of a run, for callers that spread the steps over threads ----

// Reusable storage of one thread's time steps, and the march they take
// (the calling thread's, see ThreadMarchPath).
struct StepWorkspace {
    std::vector<double> gridX;
    std::vector<double> gridBottomLevel;
    RollerWorkspace roller;
    MarchWorkspace march;
    MarchPath path = ThreadMarchPath();
};

// Writes the model constants' log lines and returns the run's constants.
Constants InitialiseModelConstants(const ModelParameters& parameters);

// Computes time step i (0-based) of an accepted set-up. Writes into message
// exactly what the one-at-a-time run writes for that step.
StepResult ComputeTimeStep(const RunInput& input, const Constants& constants, std::size_t i,
                           MessageBuffer message, StepWorkspace& work);

// The run's return code from its number of failed steps among n.
[[nodiscard]] int RunReturnCode(std::size_t failures, std::size_t n);

// ---- Dam ----

// Transmission coefficient in [0, 1] for relative freeboard R and the dam's
// shape coefficients (Goda).
[[nodiscard]] double TransmissionCoefficient(double R, double alpha, double beta);
// Significant wave height behind the dam (m).
[[nodiscard]] double DamTransmission(int DamType, double DamHeight, double Wlev, double Hm0);

// ---- Computational grid ----

// The step of the regular grid of one time step.
struct GridStepSize {
    double GridStep;      // m; InvalidValue when the profile has fewer than two points
    double Length;        // m, distance from the first to the last profile point
    std::int64_t Steps;   // number of steps; -1 when the grid cannot be built
};

// Largest number of grid steps a time step may have. A grid of more steps
// would need gigabytes per array (the process would be killed before any
// allocation failure could be reported), so such a step fails instead.
inline constexpr std::int64_t MaxGridSteps = 16777216;

GridStepSize ComputeGridStepSize(std::span<const double> ProfileX, double MinStepSize, double RatioDepth,
                                 std::span<const double> ProfileBottomLevel, double Wlev,
                                 double InvalidValue);
// Grid X coordinates X(1) + (i - 1) GridStep; empty when the profile has
// fewer than two points.
void CreateRegularGrid(std::span<const double> ProfileX, double GridStep, std::vector<double>& GridX);
// Bottom levels interpolated at GridX.
void InterpolateBottomLevels(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                             std::span<const double> GridX, std::vector<double>& GridBottomLevel);
// Segment j (1-based) of a monotonic array with A(j) <= x < A(j + 1); 0 or n
// outside the array.
[[nodiscard]] int LocateSegment(std::span<const double> A, double x);
// Smallest element, or the largest finite double for an empty array.
[[nodiscard]] double MinimumValue(std::span<const double> values);

} // namespace qav
