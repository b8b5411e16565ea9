#pragma once

// A time step and its two halves around the march, so that the march of
// several consecutive time steps can be done at once (see RunStepsInLanes).
// Inside the model only: callers go through the driver of model/model.h.

#include <cstddef>
#include <vector>

#include "model/model.h"
#include "physics/physics.h"
#include "physics/roller_fast.h"

namespace qav {

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


// A time step up to its march: the checks, the dam and the grid step.
struct PreparedStep {
    bool marches;           // false: result is final
    StepResult result;      // when the step does not march
    double transmittedHm0;  // when it does
    double gridStep;
};

// Runs the checks of time step i, with their messages and log lines.
PreparedStep PrepareTimeStep(const RunInput& input, std::size_t i, MessageBuffer message);
// The result of a step that marched to toe; a NaN direction fails the step
// with its message.
StepResult FinishTimeStep(const RunInput& input, std::size_t i, const ToeWaves& toe, MessageBuffer message);
// The failed step of a grid that could not be built or stored.
StepResult GridFailure(const RunInput& input, MessageBuffer message);
// Writes step i's results to output; true when the step failed.
bool RecordStep(const RunOutput& output, std::size_t i, const StepResult& step, MessageBuffer message);

// The time steps of an accepted set-up with up to LaneCount(path) consecutive
// marching steps in one march: results, message and failure count as those of
// one step after another. For a thread whose log is off. Returns the number
// of failed steps.
std::size_t RunStepsInLanes(const RunInput& input, const Constants& constants, const RunOutput& output,
                            MessageBuffer message, StepWorkspace& work, MarchPath path);

}  // namespace qav
