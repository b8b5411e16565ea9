// The model over a series of any length, a block of rows at a time.
#include "tools/series_run.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <limits>

namespace qav::cli {

SeriesRun RunSeriesInBlocks(const RunInput& input, files::SeriesReader& reader, const RunOptions& options,
                            std::size_t blockRows, std::size_t totalSteps,
                            const std::function<void(std::size_t, std::size_t)>& progress, const BlockStart& start,
                            const BlockDone& done) {
    std::size_t blockBytes = std::size_t{8} << 20;
    if (options.Log) {
        blockRows = std::numeric_limits<std::size_t>::max();
        blockBytes = std::numeric_limits<std::size_t>::max();
    }
    SeriesRun run;
    bool stepWroteMessage = false;
    files::SeriesBlock rows;
    std::array<char, MessageLength> text{};
    while (reader.ReadBlock(rows, blockRows, blockBytes)) {
        RunInput block = input;
        block.Hm0 = rows.hm0;
        block.Tp = rows.tp;
        block.Wlev = rows.wlev;
        block.IncomingWaveAngle = rows.angle;
        RunOptions blockOptions = options;
        const std::size_t before = run.steps;
        if (progress) {
            blockOptions.Progress = [&progress, before, totalSteps](std::size_t stepsDone, std::size_t) {
                progress(before + stepsDone, totalSteps);
            };
        }
        if (start) start(before + 1, rows);
        RunTable result(rows.size());
        MessageBuffer message(text.data(), text.size());
        RollerModel5(block, result.Output(), message, blockOptions);
        run.setupRefused = !result.outcomes.empty() && result.outcomes[0] == StepOutcome::NotTreated;

        run.steps += rows.size();
        run.failures += static_cast<std::size_t>(std::count_if(result.outcomes.begin(), result.outcomes.end(), IsFailure));
        // The block's message is its last step's that wrote one, else the
        // set-up's text, which every block writes alike.
        const bool wrote = std::any_of(result.messages.begin(), result.messages.end(),
                                       [](const std::string& m) { return !m.empty(); });
        if (wrote || !stepWroteMessage) run.message.assign(message.Trimmed());
        stepWroteMessage = stepWroteMessage || wrote;
        done(before + 1, block, result, rows, message.Trimmed());
    }
    run.code = RunReturnCode(run.failures, run.steps);
    return run;
}

std::size_t CheckSeriesFile(const std::string& path, const files::CsvOptions& options) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISREG(status.st_mode)) return 0;
    files::SeriesReader reader(path, options);
    files::SeriesBlock rows;
    while (reader.ReadBlock(rows, BlockRows)) {
    }
    return reader.RowsRead();
}

}  // namespace qav::cli
