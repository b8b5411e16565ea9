// The model over a series of any length, a block of rows at a time.
#include "tools/series_run.h"

#include <algorithm>
#include <array>
#include <future>
#include <limits>
#include <system_error>

#include "common/log.h"
#include "files/file_names.h"

namespace qav::cli {

namespace {

// A block of the series: its rows, the model's input over them, and what the
// run made of them.
struct Block {
    files::SeriesBlock rows;
    RunInput input;
    RunTable result{0};
    std::array<char, MessageLength> text{};
    std::size_t first = 0;  // the step number of its first row
};

}  // namespace

SeriesRun RunSeriesInBlocks(const RunInput& input, files::SeriesReader& reader, const RunOptions& options,
                            std::size_t blockRows, const std::function<void(std::size_t)>& progress,
                            const BlockDone& done) {
    std::size_t blockBytes = std::size_t{8} << 20;
    if (options.Log) {
        blockRows = std::numeric_limits<std::size_t>::max();
        blockBytes = std::numeric_limits<std::size_t>::max();
    }
    // With more than one thread, a block runs while this thread writes the
    // block before it and reads the one after it, so that reading and writing
    // the files do not hold the model's threads up. Smaller blocks then keep
    // the first read and the last write short.
    const bool overlap = options.Threads > 1 && !options.Log;
    if (overlap) blockRows = std::min(blockRows, OverlappedBlockRows);

    SeriesRun run;
    std::size_t stepsRead = 0;
    const auto read = [&](Block& block) {
        if (!reader.ReadBlock(block.rows, blockRows, blockBytes)) return false;
        block.first = stepsRead + 1;
        stepsRead += block.rows.size();
        block.input = input;
        block.input.Hm0 = block.rows.hm0;
        block.input.Tp = block.rows.tp;
        block.input.Wlev = block.rows.wlev;
        block.input.IncomingWaveAngle = block.rows.angle;
        block.result = RunTable(block.rows.size());
        return true;
    };
    const auto compute = [&](Block& block) {
        RunOptions blockOptions = options;
        if (progress) {
            blockOptions.Progress = [&progress, before = block.first - 1](
                                        std::size_t stepsDone, std::size_t) { progress(before + stepsDone); };
        }
        MessageBuffer message(block.text.data(), block.text.size());
        RollerModel5(block.input, block.result.Output(), message, blockOptions);
        // Read on the thread that ran the block, whose log it is.
        if (options.Log) run.lostLogLines += LostLogLines();
    };
    const auto finish = [&](Block& block) {
        const std::string_view message = TrimTrailingBlanks({block.text.data(), block.text.size()});
        AddRunPart(run, block.result.outcomes, block.result.messages, message);
        done(block.first, block.input, block.result, block.rows, message);
    };

    std::array<Block, 2> blocks;
    if (!overlap) {
        while (read(blocks[0])) {
            compute(blocks[0]);
            finish(blocks[0]);
        }
    } else if (read(blocks[0])) {
        // blocks[k % 2] runs while blocks[(k + 1) % 2] is written, then read.
        for (std::size_t k = 0;; ++k) {
            Block& running = blocks[k % 2];
            Block& other = blocks[(k + 1) % 2];
            bool more = false;
            {
                // Waits for the run when it leaves the scope, also when
                // reading throws.
                std::future<void> model;
                try {
                    model = std::async(std::launch::async, [&] { compute(running); });
                } catch (const std::system_error&) {
                    // No thread to be had (a limit on memory or processes):
                    // the block runs first, the same results.
                    compute(running);
                }
                if (k > 0) finish(other);
                more = read(other);
                if (model.valid()) model.get();
            }
            if (!more) {
                finish(running);
                break;
            }
        }
    }
    run.code = RunReturnCode(run.failures, run.steps);
    return run;
}

void AddRunPart(SeriesRun& run, std::span<const StepOutcome> outcomes, std::span<const std::string> messages,
                std::string_view message) {
    run.setupRefused = !outcomes.empty() && outcomes[0] == StepOutcome::NotTreated;
    run.steps += outcomes.size();
    run.failures += static_cast<std::size_t>(std::count_if(outcomes.begin(), outcomes.end(), IsFailure));
    const bool wrote =
        std::any_of(messages.begin(), messages.end(), [](const std::string& m) { return !m.empty(); });
    if (wrote || !run.stepWroteMessage) run.message.assign(message);
    run.stepWroteMessage = run.stepWroteMessage || wrote;
    run.code = RunReturnCode(run.failures, run.steps);
}

}  // namespace qav::cli
