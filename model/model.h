#pragma once

// The model driver: the one road from a run's input to its results, for the
// C entries, the command-line program and the Python module alike.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "common/message.h"
#include "common/run_input.h"

namespace qav {

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
    // The march set the energy to 0 at a point under water where one grid
    // step's dissipation exceeded the energy flux, from a significant energy:
    // the grid step is too coarse for these waves, and the toe values are
    // not physics.
    bool EnergyClamped = false;
};

// Where a run writes its results: N elements each. Outcomes, Messages and
// EnergyClamped are optional (empty spans are not written); Messages receives
// each step's own message, empty for a step that wrote none; EnergyClamped 1
// for a step whose StepResult::EnergyClamped is set, else 0.
struct RunOutput {
    std::span<double> Hm0Toe;
    std::span<double> TpToe;
    std::span<double> WaveAngleToe;
    std::span<StepOutcome> Outcomes;
    std::span<std::string> Messages;
    std::span<std::uint8_t> EnergyClamped;
};

// The diagnostic log of a run started from C++.
struct RunLog {
    int Logging = 0;
    std::string_view FileName;
};

struct RunOptions {
    // Sets the calling thread's log before the run (and switches it off after
    // a threaded run); without it the thread's log stays as it is, as the C
    // entries set it themselves.
    std::optional<RunLog> Log;
    // The time steps are shared among this many threads, a block of
    // consecutive steps at a time to whichever thread is free. Results,
    // messages and return code do not depend on the number. While the
    // calling thread's log is on, one thread runs every step, so that the
    // log lines keep their order.
    unsigned Threads = 1;
    // Called now and then on the calling thread with the number of steps done
    // (a run with a progress callback runs its steps on other threads).
    std::function<void(std::size_t done, std::size_t total)> Progress;
};

// Runs the model over the whole series and returns 0 when the run succeeded,
// -1 when it failed (every step, or floor(n/2) or more of n >= 2 steps failed:
// 1 of 3 fails a run; or the set-up was refused). message holds the last text written during the run, in time-step
// order.
int RollerModel5(const RunInput& input, const RunOutput& output, MessageBuffer message,
                 const RunOptions& options = {});

// The failure rule of a run: its return code (0 succeeded, -1 failed) from
// the number of failed steps among n. For callers that run a long series in
// parts and judge the whole.
[[nodiscard]] int RunReturnCode(std::size_t failures, std::size_t n);

// One time step (the first of input's series) along its grid: the toe values
// as a run gives them, and the state of the waves at every grid point of the
// march (points are given only for a computed step).
struct TransectPoint {
    double x;                    // m
    double bottomLevel;          // m
    double depth;                // m
    double hrms;                 // m
    double hm0;                  // m
    double energy;               // J/m2
    double groupVelocity;        // m/s
    double breakingDissipation;  // W/m2
    double frictionDissipation;  // W/m2
};

struct Transect {
    int setupCode = -1;  // 0 the set-up was accepted, -1 refused (message says why)
    StepResult toe{};
    std::string message;  // the step's own message, or the set-up's refusal
    std::vector<TransectPoint> points;
};

// Traces the first time step of input. The march along the grid is the
// reference's; its toe values equal the run's. Throws std::bad_alloc when the
// grid cannot be held.
[[nodiscard]] Transect TraceTimeStep(const RunInput& input);

// The checks of the two validation entries, without running the model:
// 0 accepted, -1 refused; a series also 1 when a step is calm.
int ValidateProfile(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                    MessageBuffer message);
int ValidateSeries(std::span<const double> Hm0, std::span<const double> Tp, std::span<const double> Wlev,
                   std::span<const double> IncomingWaveAngle, double InvalidValue, MessageBuffer message);

// The marches the calling thread's runs take on this processor (one name, or
// the path of a step alone and those of steps in lanes), and every one the
// processor could take, by name.
[[nodiscard]] std::string MarchPathInUse();
// A warning when QAV_MARCH_PATH is set to a name the processor has no march
// for (the library then takes its own choice), else empty.
[[nodiscard]] std::string MarchPathWarning();
[[nodiscard]] std::vector<std::string_view> SupportedMarchPathNames();

}  // namespace qav
