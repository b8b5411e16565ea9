#pragma once

#include <cstddef>
#include <functional>
#include <span>
#include <string>

#include "model/model.h"
#include "files/input_files.h"
#include "tools/run_command.h"

namespace qav::cli {

// The rows of a block that the model runs at once, unless the file's text
// makes a block full first (8 MB).
inline constexpr std::size_t BlockRows = 65536;
// The rows of a block while blocks run beside the reading and writing.
inline constexpr std::size_t OverlappedBlockRows = 32768;

// What became of a run over a whole series.
struct SeriesRun {
    std::size_t steps = 0;
    std::size_t failures = 0;
    int code = 0;  // 0 the run succeeded, -1 it failed (by the library's rule over all its steps)
    bool setupRefused = false;  // the set-up check refused the run: no step was computed
    std::string message;        // the library's last message: of the last step, in time order, that wrote one
    bool stepWroteMessage = false;  // a step so far wrote a message of its own
    std::size_t lostLogLines = 0;   // lines of the log that could not be written
};

// Adds a part of a run's steps, taken in step order, to the run's figures:
// the part's outcomes, each step's own message and the library's message of
// the part. The run's message is the last part's whose steps wrote one, else
// the set-up's text, which every part writes alike.
void AddRunPart(SeriesRun& run, std::span<const StepOutcome> outcomes, std::span<const std::string> messages,
                std::string_view message);

// Receives each block as it is done: the step number of its first row, the
// block's model input, its results, its rows and the library's message of
// the block.
using BlockDone = std::function<void(std::size_t firstStep, const RunInput& input, RunTable& result,
                                     const files::SeriesBlock& rows, std::string_view message)>;

// Runs the model over a series a block of rows at a time (RollerModel5 per
// block, on the threads options asks for), so that memory does not grow with
// the series. Results, messages, return code and final message are those of
// one run over the whole series. input holds the profile, dam and
// parameters; its series spans are set per block. With a log the whole
// series is one block, so that the log is that of one run. progress, when
// set, gets the steps done. With more than one thread a block runs while
// the block before it is handed to done and the next one is read.
SeriesRun RunSeriesInBlocks(const RunInput& input, files::SeriesReader& reader, const RunOptions& options,
                            std::size_t blockRows, const std::function<void(std::size_t)>& progress,
                            const BlockDone& done);

}  // namespace qav::cli
