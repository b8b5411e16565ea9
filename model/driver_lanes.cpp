// Consecutive time steps that reach the march, marched together. The checks
// run step by step as always; the march of a group waits until the group is
// full, and the steps between its steps that do not march wait with it. The
// group is then split into pieces, each marched alone or side by side in SIMD
// lanes, and the results, messages and failures of all waiting steps are
// written in time-step order.
#include <algorithm>
#include <span>

#include "model/grid_walk.h"
#include "model/step_pieces.h"

namespace qav {
namespace {

// The levels of a step alone, walked as the march asks for them.
const double* ReadWalk(void* context, std::size_t /*first*/, std::size_t count, double* buffer) {
    static_cast<GridWalk*>(context)->Next(buffer, count, 1);
    return buffer;
}

// Rows of the lanes of a piece, each lane walked along its own grid; lanes
// without a step repeat the first lane's levels.
struct LaneWalks {
    GridWalk* walks;
    std::size_t count;
    std::size_t stride;
};

const double* ReadLaneWalks(void* context, std::size_t /*first*/, std::size_t rows, double* buffer) {
    const auto& lanes = *static_cast<const LaneWalks*>(context);
    for (std::size_t l = 0; l < lanes.count; ++l) lanes.walks[l].Next(buffer + l, rows, lanes.stride);
    if (lanes.count < lanes.stride) {
        for (std::size_t r = 0; r < rows; ++r) {
            double* row = buffer + r * lanes.stride;
            std::fill(row + lanes.count, row + lanes.stride, row[0]);
        }
    }
    return buffer;
}

}  // namespace

ToeWaves MarchWalked(MarchPath path, const RunInput& input, const WalkProfile& profile, std::size_t i,
                     const PreparedStep& prepared, std::int64_t count, const Constants& constants) {
    const ModelParameters& p = input.Parameters;
    GridWalk walk(profile, prepared.gridStep, count);
    return RunRollerModelOn(path, input.Tp[i], prepared.transmittedHm0, p.Alpha, p.Fc, input.Wlev[i],
                            input.DikeNormal, input.IncomingWaveAngle[i], prepared.gridStep,
                            static_cast<std::size_t>(count) + 1, {&ReadWalk, &walk}, constants);
}

std::size_t RunStepsInLanes(const RunInput& input, const Constants& constants, const RunOutput& output,
                            MessageBuffer message, StepWorkspace& work, const MarchChoice& choice) {
    constexpr std::size_t None = GroupWorkspace::None;
    constexpr std::size_t MaxWaiting = 256;
    const ModelParameters& p = input.Parameters;
    const WalkProfile profile(input.ProfileX, input.ProfileBottomLevel);
    const std::size_t capacity = choice.GroupSize();
    GroupWorkspace& group = work.group;
    group.steps.clear();
    group.order.clear();
    group.textsUsed = 0;
    // A waiting step's checks write here; every check replaces the whole
    // text, which changes its first character.
    group.scratch.resize(std::max<std::size_t>(message.Length(), 1));
    std::size_t failures = 0;

    const auto record = [&](std::size_t i, const StepResult& step) {
        if (RecordStep(output, i, step, message)) ++failures;
    };
    // Marches one piece of the group: a step alone, or steps side by side.
    const auto march = [&](const MarchPiece& piece) {
        if (piece.count == 1) {
            const GroupWorkspace::Pending& s = group.steps[piece.first];
            group.toe[piece.first] = MarchWalked(piece.path, input, profile, s.index, s.prepared, s.count, constants);
            return;
        }
        group.lanes.clear();
        group.walks.clear();
        for (std::size_t l = piece.first; l < piece.first + piece.count; ++l) {
            const GroupWorkspace::Pending& s = group.steps[l];
            group.lanes.push_back({input.Tp[s.index], s.prepared.transmittedHm0, input.Wlev[s.index],
                                   input.IncomingWaveAngle[s.index], s.prepared.gridStep, group.points[l]});
            group.walks.emplace_back(profile, s.prepared.gridStep, s.count);
        }
        LaneWalks lanes{group.walks.data(), piece.count, static_cast<std::size_t>(LaneCount(piece.path))};
        RunRollerModelLanes(piece.path, p.Alpha, p.Fc, input.DikeNormal, group.lanes, {&ReadLaneWalks, &lanes},
                            constants, std::span(group.toe).subspan(piece.first, piece.count));
    };
    // Marches the waiting steps and writes the results and messages of all
    // waiting steps in order.
    const auto flush = [&] {
        if (!group.steps.empty()) {
            group.points.clear();
            for (const GroupWorkspace::Pending& s : group.steps) {
                group.points.push_back(static_cast<std::size_t>(s.count) + 1);
            }
            group.toe.resize(group.steps.size());
            choice.Plan(group.points, group.pieces);
            for (const MarchPiece& piece : group.pieces) march(piece);
        }
        for (const GroupWorkspace::Waiting& w : group.order) {
            if (w.text != None) message.Replace(group.texts[w.text]);
            if (w.marching != None) {
                record(w.index, FinishTimeStep(input, w.index, group.toe[w.marching], message));
            } else {
                record(w.index, w.result);
            }
        }
        group.steps.clear();
        group.order.clear();
        group.textsUsed = 0;
    };

    const std::size_t n = input.Hm0.size();
    for (std::size_t i = 0; i < n; ++i) {
        if (group.order.empty()) {
            // Nothing waits: the step writes its message and, unless it
            // marches, its results at once.
            const PreparedStep prepared = PrepareTimeStep(input, i, message);
            const std::int64_t count =
                prepared.marches ? RegularGridPointCount(input.ProfileX, prepared.gridStep) : 0;
            if (!prepared.marches) {
                record(i, prepared.result);
            } else if (count < 1) {
                // No grid after all (not for a grid step the checks let through).
                record(i, GridFailure(input, message));
            } else {
                group.order.push_back({i, group.steps.size(), {}, None});
                group.steps.push_back({i, prepared, count});
            }
        } else {
            // Steps wait: this one waits with them, its message kept aside.
            MessageBuffer scratch(group.scratch.data(), group.scratch.size());
            group.scratch[0] = '\x01';
            PreparedStep prepared = PrepareTimeStep(input, i, scratch);
            const std::int64_t count =
                prepared.marches ? RegularGridPointCount(input.ProfileX, prepared.gridStep) : 0;
            if (prepared.marches && count < 1) {
                prepared = {false, GridFailure(input, scratch), 0.0, 0.0};
            }
            std::size_t text = None;
            if (group.scratch[0] != '\x01') {
                if (group.textsUsed == group.texts.size()) group.texts.emplace_back();
                group.texts[group.textsUsed].assign(scratch.Trimmed());
                text = group.textsUsed++;
            }
            if (prepared.marches) {
                group.order.push_back({i, group.steps.size(), {}, text});
                group.steps.push_back({i, prepared, count});
            } else {
                group.order.push_back({i, None, prepared.result, text});
            }
        }
        // A full group marches; so does one behind a long calm, whose
        // messages would otherwise pile up.
        if (group.steps.size() == capacity || group.order.size() >= MaxWaiting) flush();
    }
    flush();
    return failures;
}

}  // namespace qav
