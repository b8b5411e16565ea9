// Consecutive time steps that reach the march, marched together one per SIMD
// lane. The checks run step by step as always; the march of a group waits
// until the group is full or a step that does not march comes up, and then
// the group's results, messages and failures are written in time-step order,
// before anything of that later step.
#include <algorithm>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "model/grid_walk.h"
#include "model/step_pieces.h"

namespace qav {
namespace {

struct Pending {
    std::size_t index;
    PreparedStep prepared;
    std::int64_t count;  // grid points, extra level not counted
};

// A message buffer that shows whether anything was written into it.
class ScratchMessage {
public:
    explicit ScratchMessage(std::size_t length) : text_(std::max<std::size_t>(length, 1), '\x01') {}
    MessageBuffer Buffer() {
        std::fill(text_.begin(), text_.end(), '\x01');
        return {text_.data(), text_.size()};
    }
    [[nodiscard]] bool Written() const {
        return std::any_of(text_.begin(), text_.end(), [](char c) { return c != '\x01'; });
    }

private:
    std::string text_;
};

}  // namespace

std::size_t RunStepsInLanes(const RunInput& input, const Constants& constants, const RunOutput& output,
                            MessageBuffer message, StepWorkspace& work, MarchPath path) {
    const ModelParameters& p = input.Parameters;
    const std::size_t lanes = static_cast<std::size_t>(LaneCount(path));
    const std::size_t n = input.Hm0.size();
    std::vector<Pending> group;
    group.reserve(lanes);
    std::vector<LaneStep> steps(lanes);
    std::vector<ToeWaves> toe(lanes);
    ScratchMessage scratch(message.Length());
    std::size_t failures = 0;

    const auto record = [&](std::size_t i, const StepResult& step) {
        if (RecordStep(output, i, step, message)) ++failures;
    };
    // Marches the waiting steps and writes their results in order.
    const auto flush = [&] {
        if (group.empty()) return;
        std::size_t longest = 0;
        for (std::size_t l = 0; l < group.size(); ++l) {
            const std::size_t i = group[l].index;
            steps[l] = {input.Tp[i],
                        group[l].prepared.transmittedHm0,
                        input.Wlev[i],
                        input.IncomingWaveAngle[i],
                        group[l].prepared.gridStep,
                        static_cast<std::size_t>(group[l].count) + 1};
            longest = std::max(longest, steps[l].points);
        }
        bool marched = false;
        try {
            work.gridBottomLevel.resize(longest * lanes);
            double* levels = work.gridBottomLevel.data();
            for (std::size_t l = 0; l < lanes; ++l) {
                // Unused lanes repeat the first step.
                const std::size_t from = l < group.size() ? l : 0;
                WalkGridBottomLevels(input.ProfileX, input.ProfileBottomLevel, steps[from].gridStep,
                                     group[from].count, levels + l, lanes);
                // A shorter lane rests on its last level until the longest ends.
                for (std::size_t i = steps[from].points; i < longest; ++i) {
                    levels[i * lanes + l] = levels[(steps[from].points - 1) * lanes + l];
                }
            }
            RunRollerModelLanes(path, p.Alpha, p.Fc, input.DikeNormal, std::span(steps.data(), group.size()),
                                levels, constants, toe, work.march);
            marched = true;
        } catch (const std::bad_alloc&) {
            work.gridBottomLevel = std::vector<double>{};
        }
        for (std::size_t l = 0; l < group.size(); ++l) {
            const std::size_t i = group[l].index;
            if (marched) {
                record(i, FinishTimeStep(input, i, toe[l], message));
            } else {
                record(i, GridFailure(input, message));
            }
        }
        group.clear();
    };

    for (std::size_t i = 0; i < n; ++i) {
        if (group.empty()) {
            const PreparedStep prepared = PrepareTimeStep(input, i, message);
            if (!prepared.marches) {
                record(i, prepared.result);
                continue;
            }
            group.push_back({i, prepared, RegularGridPointCount(input.ProfileX, prepared.gridStep)});
        } else {
            // Steps are waiting: this step's messages must come after theirs.
            const PreparedStep prepared = PrepareTimeStep(input, i, scratch.Buffer());
            if (!prepared.marches || scratch.Written()) {
                flush();
                const PreparedStep again = PrepareTimeStep(input, i, message);
                if (!again.marches) {
                    record(i, again.result);
                    continue;
                }
                group.push_back({i, again, RegularGridPointCount(input.ProfileX, again.gridStep)});
            } else {
                group.push_back({i, prepared, RegularGridPointCount(input.ProfileX, prepared.gridStep)});
            }
        }
        if (group.back().count < 1) {
            // No grid after all (not for a grid step the checks let through).
            const std::size_t index = group.back().index;
            group.pop_back();
            flush();
            record(index, GridFailure(input, message));
            continue;
        }
        if (group.size() == lanes) flush();
    }
    flush();
    return failures;
}

}  // namespace qav
