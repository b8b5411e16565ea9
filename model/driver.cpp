// The model run over a whole time series: set-up check once, then every time
// step on its own (or several side by side), then the return code from the
// number of failed steps.
#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "checks/checks.h"
#include "common/log.h"
#include "model/grid.h"
#include "model/grid_walk.h"
#include "model/model.h"
#include "model/step_pieces.h"

namespace qav {

bool IsFailure(StepOutcome outcome) {
    return outcome == StepOutcome::NotTreated || outcome == StepOutcome::Refused ||
           outcome == StepOutcome::NoDirection || outcome == StepOutcome::NoGrid;
}

std::string_view OutcomeName(StepOutcome outcome) {
    switch (outcome) {
        case StepOutcome::NotTreated:
            return "refused set-up";
        case StepOutcome::Refused:
            return "refused";
        case StepOutcome::Calm:
            return "calm";
        case StepOutcome::AngleOutsideRange:
            return "angle outside range";
        case StepOutcome::NoForeshore:
            return "no foreshore";
        case StepOutcome::Computed:
            return "computed";
        case StepOutcome::NoDirection:
        case StepOutcome::NoGrid:
            return "failed";
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

}  // namespace

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
            toe.direction, StepOutcome::Computed, toe.energyClamped};
}

StepResult GridFailure(const RunInput& input, MessageBuffer message) {
    return NoGridStep(input.Parameters.InvalidValue, message);
}

StepResult ComputeTimeStep(const RunInput& input, const Constants& constants, std::size_t i,
                           MessageBuffer message, StepWorkspace& work) {
    const WalkProfile profile(input.ProfileX, input.ProfileBottomLevel);
    return ComputeTimeStep(input, profile, constants, i, message, work);
}

StepResult ComputeTimeStep(const RunInput& input, const WalkProfile& profile, const Constants& constants,
                           std::size_t i, MessageBuffer message, StepWorkspace& work) {
    const ModelParameters& p = input.Parameters;
    const PreparedStep prepared = PrepareTimeStep(input, i, message);
    if (!prepared.marches) return prepared.result;

    ToeWaves toe{};
    if (work.path != MarchPath::Reference) {
        // The levels walked along the profile a block at a time as the march
        // goes: nothing of the grid's length is held.
        const std::int64_t count = RegularGridPointCount(input.ProfileX, prepared.gridStep);
        if (count < 1) return NoGridStep(p.InvalidValue, message);
        toe = MarchWalked(work.path, input, profile, i, prepared, count, constants);
        return FinishTimeStep(input, i, toe, message);
    }
    try {
        CreateRegularGrid(input.ProfileX, prepared.gridStep, work.gridX);
        InterpolateBottomLevels(input.ProfileX, input.ProfileBottomLevel, work.gridX, work.gridBottomLevel);
        if (work.gridBottomLevel.empty()) return NoGridStep(p.InvalidValue, message);
        // One extra point repeats the last level: the march ends one step
        // beyond the last grid point over constant depth.
        work.gridBottomLevel.push_back(work.gridBottomLevel.back());
        toe = RunRollerModel(input.Tp[i], prepared.transmittedHm0, p.Alpha, p.Fc, input.Wlev[i], input.DikeNormal,
                             input.IncomingWaveAngle[i], prepared.gridStep, work.gridBottomLevel, constants,
                             work.roller);
    } catch (const std::bad_alloc&) {
        work.gridX = {};
        work.gridBottomLevel = {};
        work.roller = {};
        return NoGridStep(p.InvalidValue, message);
    }
    return FinishTimeStep(input, i, toe, message);
}

void StepWorkspace::Trim() {
    // Levels of the grids a run usually has (a 10 km foreshore at 0.5 m);
    // a larger grid's arrays are let go after its run.
    constexpr std::size_t Kept = 1u << 15;
    const auto trim = [](std::vector<double>& values) {
        if (values.capacity() > Kept) values = std::vector<double>{};
    };
    trim(gridX);
    trim(gridBottomLevel);
    trim(roller.depth);
    trim(roller.waveNumber);
}

bool RecordStep(const RunOutput& output, std::size_t i, const StepResult& step, MessageBuffer message) {
    output.Hm0Toe[i] = step.Hm0Toe;
    output.TpToe[i] = step.TpToe;
    output.WaveAngleToe[i] = step.WaveAngleToe;
    if (!output.Outcomes.empty()) output.Outcomes[i] = step.Outcome;
    if (!output.EnergyClamped.empty()) output.EnergyClamped[i] = step.EnergyClamped ? 1 : 0;
    if (!output.Messages.empty() && step.Outcome != StepOutcome::Computed &&
        step.Outcome != StepOutcome::NoForeshore) {
        output.Messages[i].assign(message.Trimmed());
    }
    return IsFailure(step.Outcome);
}

namespace {

// A block of consecutive steps, taken by whichever thread is free next, with
// its own message text so that threads do not write over each other's.
struct Block {
    std::size_t failures = 0;
    std::string lastMessage;  // the text of the block's last step that wrote one
    bool wroteMessage = false;
};

// A range of time steps of an accepted set-up, one after another or in
// groups marched together; message receives each step's text as it is
// written. Returns the number of failed steps.
std::size_t RunSteps(const RunInput& input, const Constants& constants, const RunOutput& output,
                     MessageBuffer message, StepWorkspace& work, const MarchChoice& choice) {
    work.path = choice.Single();
    if (!LogEnabled() && choice.GroupSize() > 1) {
        // Consecutive steps marched together; the log would show the order.
        return RunStepsInLanes(input, constants, output, message, work, choice);
    }
    const WalkProfile profile(input.ProfileX, input.ProfileBottomLevel);
    std::size_t failures = 0;
    for (std::size_t i = 0; i < input.Hm0.size(); ++i) {
        const StepResult step = ComputeTimeStep(input, profile, constants, i, message, work);
        if (RecordStep(output, i, step, message)) ++failures;
    }
    return failures;
}

RunInput Part(const RunInput& input, std::size_t begin, std::size_t count) {
    RunInput part = input;
    part.Hm0 = input.Hm0.subspan(begin, count);
    part.Tp = input.Tp.subspan(begin, count);
    part.Wlev = input.Wlev.subspan(begin, count);
    part.IncomingWaveAngle = input.IncomingWaveAngle.subspan(begin, count);
    return part;
}

RunOutput Part(const RunOutput& output, std::size_t begin, std::size_t count) {
    RunOutput part;
    part.Hm0Toe = output.Hm0Toe.subspan(begin, count);
    part.TpToe = output.TpToe.subspan(begin, count);
    part.WaveAngleToe = output.WaveAngleToe.subspan(begin, count);
    if (!output.Outcomes.empty()) part.Outcomes = output.Outcomes.subspan(begin, count);
    if (!output.Messages.empty()) part.Messages = output.Messages.subspan(begin, count);
    if (!output.EnergyClamped.empty()) part.EnergyClamped = output.EnergyClamped.subspan(begin, count);
    return part;
}

// Steps a block holds: small enough that the threads end together and the
// progress keeps moving (at most 256, a quarter of a thread's share), large
// enough to fill the lanes (16), but never more than a thread's share.
std::size_t BlockSteps(std::size_t n, unsigned threads) {
    const std::size_t share = (n + threads - 1) / threads;
    return std::max<std::size_t>(1, std::min({std::size_t{256}, std::max<std::size_t>(16, share / 4), share}));
}

// Runs block b of the run's blocks of the given number of steps.
void RunBlock(const RunInput& input, const Constants& constants, const RunOutput& output,
              std::vector<Block>& blocks, std::size_t b, std::size_t steps, MessageBuffer message,
              StepWorkspace& work, const MarchChoice& choice, std::atomic<std::size_t>& done) {
    const std::size_t begin = b * steps;
    const std::size_t count = std::min(steps, input.Hm0.size() - begin);
    // Blanked first: a text in it at the end was written by one of the
    // block's steps, since every step that writes replaces the whole text.
    message.Clear();
    Block& block = blocks[b];
    block.failures =
        RunSteps(Part(input, begin, count), constants, Part(output, begin, count), message, work, choice);
    block.lastMessage.assign(message.Trimmed());
    block.wroteMessage = !block.lastMessage.empty();
    done.fetch_add(count, std::memory_order_relaxed);
}

// Blocks that worker threads could not get the memory for, handed back to
// the calling thread. Room for one per worker is made before they start.
struct HandedBack {
    std::mutex mutex;
    std::vector<std::size_t> blocks;
};

// Takes the next free block until none is left. A thread that cannot get the
// memory for a block hands it back and stops: the calling thread runs it.
void RunBlocks(const RunInput& input, const Constants& constants, const RunOutput& output,
               std::vector<Block>& blocks, std::size_t steps, std::atomic<std::size_t>& next,
               std::size_t messageLength, const MarchChoice& choice, std::atomic<std::size_t>& done,
               HandedBack& handedBack) {
    std::size_t b = blocks.size();
    try {
        std::string text(messageLength, ' ');
        const MessageBuffer message(text.data(), text.size());
        StepWorkspace work;
        for (b = next.fetch_add(1); b < blocks.size(); b = next.fetch_add(1)) {
            RunBlock(input, constants, output, blocks, b, steps, message, work, choice, done);
        }
    } catch (const std::bad_alloc&) {
        if (b >= blocks.size()) return;
        const std::lock_guard lock(handedBack.mutex);
        handedBack.blocks.push_back(b);
    }
}

// The steps over threads. Returns the number of failed steps; message ends
// with the text of the last step, in time order, that wrote one.
std::size_t RunStepsOnThreads(const RunInput& input, const Constants& constants, const RunOutput& output,
                              MessageBuffer message, const RunOptions& options, const MarchChoice& choice) {
    const std::size_t n = input.Hm0.size();
    const unsigned threads = static_cast<unsigned>(
        std::min<std::size_t>(std::max(1u, options.Threads), std::max<std::size_t>(n, 1)));
    const std::size_t steps = BlockSteps(n, threads);
    std::vector<Block> blocks((n + steps - 1) / steps);

    std::atomic<std::size_t> next{0};
    std::atomic<std::size_t> done{0};
    std::mutex mutex;
    std::condition_variable finishedChanged;
    unsigned finished = 0;
    std::vector<std::exception_ptr> errors(threads);
    HandedBack handedBack;
    handedBack.blocks.reserve(threads);
    std::vector<std::thread> workers;
    workers.reserve(threads);
    for (unsigned t = 0; t < threads; ++t) {
        const auto work = [&, t] {
            try {
                RunBlocks(input, constants, output, blocks, steps, next, message.Length(), choice, done,
                          handedBack);
            } catch (...) {
                errors[t] = std::current_exception();
                next.store(blocks.size());  // the others stop after their block
            }
            {
                const std::lock_guard lock(mutex);
                ++finished;
            }
            finishedChanged.notify_one();
        };
        try {
            workers.emplace_back(work);
        } catch (const std::exception&) {
            // No thread to be had (a limit on memory or processes): the
            // calling thread takes blocks itself; the results are the same.
            work();
        }
    }
    {
        std::unique_lock lock(mutex);
        while (!finishedChanged.wait_for(lock, std::chrono::milliseconds(100),
                                         [&] { return finished == threads; })) {
            lock.unlock();
            if (options.Progress) options.Progress(done.load(std::memory_order_relaxed), n);
            lock.lock();
        }
    }
    for (std::thread& worker : workers) worker.join();
    for (const std::exception_ptr& error : errors) {
        if (error) std::rethrow_exception(error);
    }
    if (!handedBack.blocks.empty() || next.load() < blocks.size()) {
        // Blocks handed back, and those left when every worker ran short of
        // memory, run here; should this thread run short too, the run fails.
        std::string text(message.Length(), ' ');
        const MessageBuffer own(text.data(), text.size());
        StepWorkspace work;
        for (const std::size_t b : handedBack.blocks) {
            RunBlock(input, constants, output, blocks, b, steps, own, work, choice, done);
        }
        for (std::size_t b = next.fetch_add(1); b < blocks.size(); b = next.fetch_add(1)) {
            RunBlock(input, constants, output, blocks, b, steps, own, work, choice, done);
        }
    }
    if (options.Progress) options.Progress(n, n);

    std::size_t failures = 0;
    for (const Block& block : blocks) {
        failures += block.failures;
        if (block.wroteMessage) message.Replace(block.lastMessage);
    }
    return failures;
}

}  // namespace

namespace {

// The calling thread's workspace, kept from one run to the next. A run that
// finds it in use (one started from a progress callback) takes its own.
struct ThreadWorkspace {
    StepWorkspace work;
    bool busy = false;
};
thread_local ThreadWorkspace threadWorkspace;

// The steps of an accepted set-up on the calling thread.
std::size_t RunStepsHere(const RunInput& input, const Constants& constants, const RunOutput& output,
                         MessageBuffer message, const MarchChoice& choice) {
    ThreadWorkspace& kept = threadWorkspace;
    if (kept.busy) {
        StepWorkspace work;
        return RunSteps(input, constants, output, message, work, choice);
    }
    kept.busy = true;
    struct Release {
        ThreadWorkspace& kept;
        ~Release() {
            kept.work.Trim();
            kept.busy = false;
        }
    } release{kept};
    return RunSteps(input, constants, output, message, kept.work, choice);
}

}  // namespace

int RollerModel5(const RunInput& input, const RunOutput& output, MessageBuffer message,
                 const RunOptions& options) {
    message.Clear();
    if (options.Log && InitLog(options.Log->Logging, options.Log->FileName)) {
        const DateTimeText stamp = DateTimeStamp();
        WriteLogLine("Start Logging:" + std::string(View(stamp)));
    }
    const Constants constants = InitialiseModelConstants(input.Parameters);

    const std::size_t n = input.Hm0.size();
    const double invalid = input.Parameters.InvalidValue;
    std::fill(output.Hm0Toe.begin(), output.Hm0Toe.end(), invalid);
    std::fill(output.TpToe.begin(), output.TpToe.end(), invalid);
    std::fill(output.WaveAngleToe.begin(), output.WaveAngleToe.end(), invalid);
    std::fill(output.Outcomes.begin(), output.Outcomes.end(), StepOutcome::NotTreated);
    for (std::string& text : output.Messages) text.clear();
    std::fill(output.EnergyClamped.begin(), output.EnergyClamped.end(), std::uint8_t{0});

    int code = -1;
    if (CheckModelSetup(input, message) == 0) {
        const MarchChoice choice = MarchChoice::ForThisThread();
        std::size_t failures = 0;
        // A run of fewer steps than threads takes a thread for each step; a
        // run of one step runs on the calling thread unless progress is
        // reported from it.
        const bool oneThread = options.Threads <= 1 || n <= 1;
        if (LogEnabled() || (oneThread && !options.Progress)) {
            failures = RunStepsHere(input, constants, output, message, choice);
        } else {
            failures = RunStepsOnThreads(input, constants, output, message, options, choice);
        }
        code = RunReturnCode(failures, n);
        if (LogEnabled()) {
            const DateTimeText stamp = DateTimeStamp();
            WriteLogLine("Entry Log Finished at" + std::string(View(stamp)) + std::string(41, '-'));
        }
    }
    if (options.Log && options.Log->Logging != 0) InitLog(0, "");
    return code;
}

int ValidateProfile(std::span<const double> ProfileX, std::span<const double> ProfileBottomLevel,
                    MessageBuffer message) {
    return CheckProfile(ProfileX, ProfileBottomLevel, message);
}

int ValidateSeries(std::span<const double> Hm0, std::span<const double> Tp, std::span<const double> Wlev,
                   std::span<const double> IncomingWaveAngle, double InvalidValue, MessageBuffer message) {
    return ValidateHydraulicSeries(Hm0, Tp, Wlev, IncomingWaveAngle, InvalidValue, message);
}

std::string MarchPathInUse() {
    const MarchChoice choice = MarchChoice::ForThisThread();
    if (choice.Lanes().empty() || (choice.Lanes().size() == 1 && choice.Lanes()[0] == choice.Single())) {
        return std::string(MarchPathName(choice.Single()));
    }
    std::string text(MarchPathName(choice.Single()));
    text += " alone, in lanes";
    for (const MarchPath path : choice.Lanes()) {
        text += ' ';
        text += MarchPathName(path);
    }
    return text;
}

std::string MarchPathWarning() {
    const std::string request = IgnoredMarchPathRequest();
    if (request.empty()) return {};
    std::string text = "QAV_MARCH_PATH '" + request + "' names no march path this processor runs (";
    for (const std::string_view name : SupportedMarchPathNames()) {
        if (text.back() != '(') text += ' ';
        text += name;
    }
    return text + "); it is ignored";
}

std::vector<std::string_view> SupportedMarchPathNames() {
    std::vector<std::string_view> names;
    for (const MarchPath path : SupportedMarchPaths()) names.push_back(MarchPathName(path));
    return names;
}

}  // namespace qav
