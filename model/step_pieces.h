#pragma once

// A time step and its two halves around the march, so that the march of
// several consecutive time steps can be done at once (see RunStepsInLanes).
// Inside the model only: callers go through the driver of model/model.h.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "model/grid_walk.h"
#include "model/march_plan.h"
#include "model/model.h"
#include "physics/physics.h"
#include "physics/roller_fast.h"

namespace qav {

// A time step up to its march: the checks, the dam and the grid step.
struct PreparedStep {
    bool marches;           // false: result is final
    StepResult result;      // when the step does not march
    double transmittedHm0;  // when it does
    double gridStep;
};

// Consecutive marching steps waiting for their march, and the pieces of it;
// the steps between them that do not march wait with them, so that every
// step's results and message come in time-step order.
struct GroupWorkspace {
    struct Pending {
        std::size_t index;
        PreparedStep prepared;
        std::int64_t count;  // grid points, extra level not counted
    };
    static constexpr std::size_t None = static_cast<std::size_t>(-1);
    // A waiting step in time order: a marching one (its place in steps) or
    // one whose result is settled; with the message its checks wrote.
    struct Waiting {
        std::size_t index;
        std::size_t marching;  // place in steps, or None
        StepResult result;     // when not marching
        std::size_t text;      // place in texts, or None
    };
    std::vector<Pending> steps;
    std::vector<Waiting> order;
    std::vector<std::string> texts;
    std::size_t textsUsed = 0;
    std::string scratch;  // the message a waiting step's checks write into
    std::vector<std::size_t> points;
    std::vector<MarchPiece> pieces;
    std::vector<LaneStep> lanes;
    std::vector<GridWalk> walks;
    std::vector<ToeWaves> toe;
};

// Reusable storage of one thread's time steps, and the march a step alone
// takes (the calling thread's, see ThreadMarchPath). The fast marches walk
// the grid a block at a time and hold nothing of its length; the reference
// march holds the whole grid.
struct StepWorkspace {
    std::vector<double> gridX;
    std::vector<double> gridBottomLevel;
    RollerWorkspace roller;
    GroupWorkspace group;
    MarchPath path = ThreadMarchPath();

    // Lets go of the reference's arrays when they hold more than a usual grid,
    // so that a thread's workspace kept between runs stays small.
    void Trim();
};

// Writes the model constants' log lines and returns the run's constants.
Constants InitialiseModelConstants(const ModelParameters& parameters);

// Computes time step i (0-based) of an accepted set-up. Writes into message
// exactly what the one-at-a-time run writes for that step.
StepResult ComputeTimeStep(const RunInput& input, const Constants& constants, std::size_t i,
                           MessageBuffer message, StepWorkspace& work);
// As above, with the run's profile ready for walking.
StepResult ComputeTimeStep(const RunInput& input, const WalkProfile& profile, const Constants& constants,
                           std::size_t i, MessageBuffer message, StepWorkspace& work);


// Runs the checks of time step i, with their messages and log lines.
PreparedStep PrepareTimeStep(const RunInput& input, std::size_t i, MessageBuffer message);
// The result of a step that marched to toe; a NaN direction fails the step
// with its message.
StepResult FinishTimeStep(const RunInput& input, std::size_t i, const ToeWaves& toe, MessageBuffer message);
// The failed step of a grid that could not be built or stored.
StepResult GridFailure(const RunInput& input, MessageBuffer message);
// Writes step i's results to output; true when the step failed.
bool RecordStep(const RunOutput& output, std::size_t i, const StepResult& step, MessageBuffer message);

// The march of prepared step i alone on a fast path, over the count levels
// of its grid (and the extra one), walked a block at a time.
[[nodiscard]] ToeWaves MarchWalked(MarchPath path, const RunInput& input, const WalkProfile& profile,
                                   std::size_t i, const PreparedStep& prepared, std::int64_t count,
                                   const Constants& constants);

// The time steps of an accepted set-up, consecutive marching steps in groups
// of up to choice.GroupSize() marched at once in the pieces choice.Plan
// gives: results, message and failure count as those of one step after
// another. For a thread whose log is off. Returns the number of failed steps.
std::size_t RunStepsInLanes(const RunInput& input, const Constants& constants, const RunOutput& output,
                            MessageBuffer message, StepWorkspace& work, const MarchChoice& choice);

}  // namespace qav
