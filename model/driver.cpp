// The model run over a whole time series: set-up check once, then every time
// step on its own, then the return code from the number of failed steps.
#include <cmath>
#include <new>
#include <string>

#include "checks/checks.h"
#include "interface/log.h"
#include "model/grid_walk.h"
#include "model/model.h"
#include "model/step_pieces.h"

namespace qav {

ModelParameters ModelParameters::FromArray(const double* values) {
    return {values[0], values[1], values[2], values[3], values[4], values[5], values[6]};
}

bool IsFailure(StepOutcome outcome) {
    return outcome == StepOutcome::NotTreated || outcome == StepOutcome::Refused ||
           outcome == StepOutcome::NoDirection || outcome == StepOutcome::NoGrid;
}

std::string_view OutcomeName(StepOutcome outcome) {
    switch (outcome) {
    case StepOutcome::NotTreated: return "refused set-up";
    case StepOutcome::Refused: return "refused";
    case StepOutcome::Calm: return "calm";
    case StepOutcome::AngleOutsideRange: return "angle outside range";
    case StepOutcome::NoForeshore: return "no foreshore";
    case StepOutcome::Computed: return "computed";
    case StepOutcome::NoDirection:
    case StepOutcome::NoGrid: return "failed";
    }
    return "failed";
}

Constants InitialiseModelConstants(const ModelParameters& parameters) {
    const Constants constants{parameters.Ag, parameters.Rho};
    LogReal("Entry Gravity constant:", constants.g);
    LogReal("Entry Rho Water:", constants.rho);
    // The default grid step is only reported; nothing reads it.
    LogReal("Entry Default grid step size:", 10.0);
    return constants;
}

int RunReturnCode(std::size_t failures, std::size_t n) {
    if (failures == n) return -1;
    if (n >= 2 && failures >= n / 2) return -1;
    return 0;
}

namespace {

// Waves from more than 80 degrees off the dike normal lose height linearly,
// down to none at 90 degrees.
double ObliqueIncidenceReduction(double hm0Toe, double IncomingWaveAngle, double DikeNormal) {
    double d = std::fabs(Modulo360(IncomingWaveAngle) - Modulo360(DikeNormal));
    if (d > 180.0) d = 360.0 - d;
    if (d > 80.0) return (9.0 - 0.1 * d) * hm0Toe;
    return hm0Toe;
}

StepResult Failed(double InvalidValue, StepOutcome outcome) {
    return {InvalidValue, InvalidValue, InvalidValue, outcome};
}

StepResult NoGridStep(double InvalidValue, MessageBuffer message) {
    message.Replace("The computational grid cannot be built for this profile!");
    WriteLogLine("Entry Computational grid error:" + std::string(message.Trimmed()));
    return Failed(InvalidValue, StepOutcome::NoGrid);
}

} // namespace

PreparedStep PrepareTimeStep(const RunInput& input, std::size_t i, MessageBuffer message) {
    const ModelParameters& p = input.Parameters;
    const double hm0 = input.Hm0[i];
    const double tp = input.Tp[i];
    const double wlev = input.Wlev[i];
    const double angle = input.IncomingWaveAngle[i];
    const auto final = [](const StepResult& result) { return PreparedStep{false, result, 0.0, 0.0}; };

    const int conditions = CheckHydraulicConditions(hm0, tp, wlev, angle, p.InvalidValue, message);
    if (conditions == ConditionsRefused) return final(Failed(p.InvalidValue, StepOutcome::Refused));
    if (conditions == ConditionsCalm) return final({0.0, tp, angle, StepOutcome::Calm});
    if (!CheckIncomingWaveAngle(angle, input.DikeNormal, message)) {
        return final({0.0, tp, angle, StepOutcome::AngleOutsideRange});
    }

    const double transmittedHm0 = DamTransmission(input.DamType, input.DamHeight, wlev, hm0);
    const GridStepSize step = ComputeGridStepSize(input.ProfileX, p.MinStepSize, p.RatioDepth,
                                                  input.ProfileBottomLevel, wlev, p.InvalidValue);
    if (input.ProfileX.size() < 2) {
        const double reduced = ObliqueIncidenceReduction(transmittedHm0, angle, input.DikeNormal);
        return final({reduced, tp, angle, StepOutcome::NoForeshore});
    }
    if (step.Steps < 0) return final(NoGridStep(p.InvalidValue, message));
    return {true, {}, transmittedHm0, step.GridStep};
}

StepResult FinishTimeStep(const RunInput& input, std::size_t i, const ToeWaves& toe, MessageBuffer message) {
    const ModelParameters& p = input.Parameters;
    if (std::isnan(toe.direction)) {
        message.Replace("The refracted angle cannot be calculated for this profile!");
        WriteLogLine("Entry Refracted angle : " + std::string(message.Trimmed()));
        return Failed(p.InvalidValue, StepOutcome::NoDirection);
    }
    return {ObliqueIncidenceReduction(toe.hm0, input.IncomingWaveAngle[i], input.DikeNormal), input.Tp[i],
            toe.direction, StepOutcome::Computed};
}

StepResult GridFailure(const RunInput& input, MessageBuffer message) {
    return NoGridStep(input.Parameters.InvalidValue, message);
}

StepResult ComputeTimeStep(const RunInput& input, const Constants& constants, std::size_t i,
                           MessageBuffer message, StepWorkspace& work) {
    const ModelParameters& p = input.Parameters;
    const PreparedStep prepared = PrepareTimeStep(input, i, message);
    if (!prepared.marches) return prepared.result;
    const double tp = input.Tp[i];
    const double wlev = input.Wlev[i];
    const double angle = input.IncomingWaveAngle[i];

    ToeWaves toe{};
    try {
        if (work.path == MarchPath::Reference) {
            CreateRegularGrid(input.ProfileX, prepared.gridStep, work.gridX);
            InterpolateBottomLevels(input.ProfileX, input.ProfileBottomLevel, work.gridX, work.gridBottomLevel);
            if (work.gridBottomLevel.empty()) return NoGridStep(p.InvalidValue, message);
            // One extra point repeats the last level: the march ends one step
            // beyond the last grid point over constant depth.
            work.gridBottomLevel.push_back(work.gridBottomLevel.back());
            toe = RunRollerModel(tp, prepared.transmittedHm0, p.Alpha, p.Fc, wlev, input.DikeNormal, angle,
                                 prepared.gridStep, work.gridBottomLevel, constants, work.roller);
        } else {
            // The same levels, extra one included, in one walk along the profile.
            BuildGridBottomLevels(input.ProfileX, input.ProfileBottomLevel, prepared.gridStep,
                                  work.gridBottomLevel);
            toe = RunRollerModelOn(work.path, tp, prepared.transmittedHm0, p.Alpha, p.Fc, wlev, input.DikeNormal,
                                   angle, prepared.gridStep, work.gridBottomLevel, constants, work.march);
        }
    } catch (const std::bad_alloc&) {
        const MarchPath path = work.path;
        work = StepWorkspace{};
        work.path = path;
        return NoGridStep(p.InvalidValue, message);
    }
    return FinishTimeStep(input, i, toe, message);
}

bool RecordStep(const RunOutput& output, std::size_t i, const StepResult& step, MessageBuffer message) {
    output.Hm0Toe[i] = step.Hm0Toe;
    output.TpToe[i] = step.TpToe;
    output.WaveAngleToe[i] = step.WaveAngleToe;
    if (!output.Outcomes.empty()) output.Outcomes[i] = step.Outcome;
    if (!output.Messages.empty() && step.Outcome != StepOutcome::Computed &&
        step.Outcome != StepOutcome::NoForeshore) {
        output.Messages[i].assign(message.Trimmed());
    }
    return IsFailure(step.Outcome);
}

int RollerModel5(const RunInput& input, const RunOutput& output, MessageBuffer message, const RunLog* log) {
    message.Clear();
    if (log != nullptr && InitLog(log->Logging, log->FileName)) {
        const DateTimeText stamp = DateTimeStamp();
        WriteLogLine("Start Logging:" + std::string(View(stamp)));
    }
    const Constants constants = InitialiseModelConstants(input.Parameters);

    const std::size_t n = input.Hm0.size();
    const double invalid = input.Parameters.InvalidValue;
    for (std::size_t i = 0; i < n; ++i) {
        output.Hm0Toe[i] = invalid;
        output.TpToe[i] = invalid;
        output.WaveAngleToe[i] = invalid;
        if (!output.Outcomes.empty()) output.Outcomes[i] = StepOutcome::NotTreated;
        if (!output.Messages.empty()) output.Messages[i].clear();
    }

    if (CheckModelSetup(input, message) != 0) return -1;

    StepWorkspace work;
    std::size_t failures = 0;
    if (!LogEnabled() && LaneCount(work.path) > 1) {
        // Consecutive steps marched together; the log would show the order.
        failures = RunStepsInLanes(input, constants, output, message, work, work.path);
    } else {
        for (std::size_t i = 0; i < n; ++i) {
            if (RecordStep(output, i, ComputeTimeStep(input, constants, i, message, work), message)) ++failures;
        }
    }

    const int code = RunReturnCode(failures, n);
    const DateTimeText stamp = DateTimeStamp();
    WriteLogLine("Entry Log Finished at" + std::string(View(stamp)) + std::string(41, '-'));
    return code;
}

} // namespace qav
