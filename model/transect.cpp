// One time step traced along its grid, for the engineer who wants to see
// where the waves lose their energy.
#include <string>

#include "checks/checks.h"
#include "model/grid.h"
#include "model/model.h"
#include "model/step_pieces.h"

namespace qav {

Transect TraceTimeStep(const RunInput& input) {
    Transect transect;
    std::string text(MessageLength, ' ');
    MessageBuffer message(text.data(), text.size());
    const Constants constants = InitialiseModelConstants(input.Parameters);
    // The same checks as a run: the set-up once, then the step's conditions.
    transect.setupCode = CheckModelSetup(input, message);
    if (transect.setupCode != 0) {
        transect.toe = {input.Parameters.InvalidValue, input.Parameters.InvalidValue,
                        input.Parameters.InvalidValue, StepOutcome::NotTreated};
        transect.message.assign(message.Trimmed());
        return transect;
    }
    message.Clear();
    StepWorkspace work;
    transect.toe = ComputeTimeStep(input, constants, 0, message, work);
    transect.message.assign(message.Trimmed());
    if (transect.toe.Outcome != StepOutcome::Computed) return transect;

    // The grid exactly as the reference march lays it, and the march along it.
    const ModelParameters& p = input.Parameters;
    const double wlev = input.Wlev[0];
    const double transmittedHm0 = DamTransmission(input.DamType, input.DamHeight, wlev, input.Hm0[0]);
    const GridStepSize step = ComputeGridStepSize(input.ProfileX, p.MinStepSize, p.RatioDepth,
                                                  input.ProfileBottomLevel, wlev, p.InvalidValue);
    std::vector<double> x;
    std::vector<double> bottomLevel;
    CreateRegularGrid(input.ProfileX, step.GridStep, x);
    InterpolateBottomLevels(input.ProfileX, input.ProfileBottomLevel, x, bottomLevel);
    // The march ends one step beyond the last grid point over constant depth.
    bottomLevel.push_back(bottomLevel.back());
    x.push_back(x.front() + static_cast<double>(x.size()) * step.GridStep);

    struct Context {
        const std::vector<double>& x;
        const std::vector<double>& bottomLevel;
        std::vector<TransectPoint>& points;
    } context{x, bottomLevel, transect.points};
    transect.points.reserve(bottomLevel.size());
    const GridPointVisitor collect = [](void* opaque, std::size_t index, const GridPointState& s) {
        auto& c = *static_cast<Context*>(opaque);
        c.points.push_back({c.x[index], c.bottomLevel[index], s.depth, s.hrms, s.hrms * HrmsToHm0, s.energy,
                            s.groupVelocity, s.breakingDissipation, s.frictionDissipation});
    };
    (void)RunRollerModelTraced(input.Tp[0], transmittedHm0, p.Alpha, p.Fc, wlev, input.DikeNormal,
                               input.IncomingWaveAngle[0], step.GridStep, bottomLevel, constants, collect,
                               &context);
    return transect;
}

}  // namespace qav
