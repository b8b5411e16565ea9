// qav run: the model over a whole series of offshore conditions.
#include "tools/run_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <future>
#include <memory>
#include <system_error>
#include <thread>

#include "files/csv_writer.h"
#include "tools/commands.h"
#include "tools/errors.h"
#include "tools/file_options.h"
#include "tools/model_options.h"
#include "tools/output_file.h"
#include "tools/progress.h"
#include "tools/run_notes.h"
#include "tools/series_run.h"
#include "tools/unchanged_inputs.h"

namespace qav::cli {
namespace {

struct RunArguments {
    std::string profile;
    std::string series;
    std::string output;
    std::string log;
    unsigned threads = 1;
    bool quiet = false;
    std::size_t blockRows = BlockRows;
    ModelOptions model;
    files::CsvOptions csv;
    OutputOptions table;
};

unsigned AllCores() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

int Run(const RunArguments& args, const CLI::App& command) {
    const NamedFile named[] = {{"--profile", args.profile, false},
                               {"--series", args.series, false},
                               {"-o", args.output, true},
                               {"--log", args.log, true}};
    CheckNamedFiles(named);
    const UnchangedInputs inputs(named);
    CheckDamOptions(args.model, command);
    files::CsvOptions csv = args.csv;
    csv.invalidValue = args.model.parameters.InvalidValue;
    const Profile profile = files::ReadProfile(args.profile, csv);
    // Every row is read once before anything is written, so that a fault
    // anywhere stops the run with no output. With threads to spare, that
    // read goes on beside the run's first block; else it comes first.
    std::atomic<std::size_t> steps{0};
    std::future<std::size_t> checking;
    if (args.threads > 1 && args.log.empty()) {
        try {
            checking = std::async(std::launch::async, [&] { return CheckSeriesFile(args.series, csv); });
        } catch (const std::system_error&) {
            // No thread to be had: the read comes first.
        }
    }
    if (!checking.valid()) steps = CheckSeriesFile(args.series, csv);
    files::SeriesReader series(args.series, csv);
    // The profile, dam and parameters; each block brings its own series.
    const Series noSteps;
    const RunInput input = MakeRunInput(args.model, profile, noSteps);
    RunJudge judge(input);
    if (!args.log.empty()) CheckLogFile(args.log);

    OutputFile output(args.output);
    files::TableFormat format;
    bool started = false;
    const auto startOutput = [&] {
        if (started) return;
        if (checking.valid()) steps = checking.get();
        format = OutputFormat(args.table, series.Format());
        if (format.byteOrderMark) output.Write("\xEF\xBB\xBF");
        output.Write(RunTableHeader(series.PassThroughNames(), format));
        started = true;
    };
    ProgressBar bar(!args.quiet);
    RunOptions options;
    if (!args.log.empty()) options.Log = RunLog{1, args.log};
    options.Threads = args.threads;
    std::string rows;
    const SeriesRun run = RunSeriesInBlocks(
        input, series, options, args.blockRows,
        [&bar, &steps](std::size_t done) { bar.Update(done, steps.load()); },
        [&](std::size_t firstStep, const RunInput& block, RunTable& result, const files::SeriesBlock& read,
            std::string_view message) {
            // A refused set-up computes no step: each row says why.
            if (!result.outcomes.empty() && result.outcomes[0] == StepOutcome::NotTreated) {
                std::fill(result.messages.begin(), result.messages.end(), std::string(OwnReason(message)));
            }
            std::vector<std::uint8_t> flags(result.outcomes.size());
            for (std::size_t i = 0; i < flags.size(); ++i) {
                flags[i] = JudgeStep(block, i, result.outcomes[i], result.energyClamped[i] != 0);
            }
            judge.AddSteps(block, firstStep - 1, result.outcomes, flags, result.hm0Toe);
            startOutput();
            rows.clear();
            AppendRunRows(rows, firstStep, block, result, flags, read.passThrough, format);
            output.Write(rows);
        });
    startOutput();
    bar.Finish();
    // The rows read must be those of one file, before the table is put in place.
    inputs.Check();
    output.Commit();
    if (series.MissingCount() > 0) {
        std::fprintf(stderr, "qav run: %zu missing value%s taken as the invalid value %s (the first at %s)\n",
                     series.MissingCount(), series.MissingCount() == 1 ? "" : "s",
                     files::FormatNumber(csv.invalidValue).c_str(), Printable(series.FirstMissing()).c_str());
    }
    if (run.lostLogLines > 0) {
        std::fprintf(stderr, "qav run: %zu line%s of the log could not be written to %s\n", run.lostLogLines,
                     run.lostLogLines == 1 ? "" : "s", Printable(args.log).c_str());
    }
    SayFindings("run", judge);
    if (!args.quiet) std::fprintf(stderr, "qav run: %s\n", judge.Summary().Text(Door::Cli).c_str());
    const std::string reason(OwnReason(run.message));
    if (run.setupRefused) {
        std::fprintf(stderr, "qav run: the set-up is refused, no time step is computed: %s\n",
                     reason.c_str());
        return ExitRunFailed;
    }
    if (run.code != 0) {
        std::fprintf(stderr, "qav run: the run failed: %s; the last message: %s\n",
                     FailedRunText(run.failures, run.steps).c_str(), reason.c_str());
        return ExitRunFailed;
    }
    return run.lostLogLines > 0 ? ExitLogIncomplete : ExitSuccess;
}

}  // namespace

// The columns of the table behind step and the series' other columns.
constexpr std::string_view RunColumns[] = {"step",     "hm0",     "tp",        "wlev",   "angle",   "hm0_toe",
                                           "tp_toe",   "angle_toe", "status", "message", "note"};

std::string RunTableHeader(std::span<const std::string> passThroughNames, const files::TableFormat& format) {
    const auto lower = [](std::string_view name) {
        std::string text(name);
        for (char& c : text) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        return text;
    };
    std::vector<std::string> taken;
    for (const std::string_view name : RunColumns) taken.emplace_back(name);
    for (const std::string& name : passThroughNames) taken.push_back(lower(name));
    std::string out = "step";
    for (const std::string& name : passThroughNames) {
        // A column of the series named as one of the table's own (a table
        // read back in, say) keeps its place under a name no other column
        // has: input_step, then input_input_step when read back again.
        std::string written = name;
        if (std::find(std::begin(RunColumns), std::end(RunColumns), lower(name)) != std::end(RunColumns)) {
            do {
                written = "input_" + written;
            } while (std::find(taken.begin(), taken.end(), lower(written)) != taken.end());
            taken.push_back(lower(written));
        }
        out += format.separator;
        files::AppendField(out, written, format);
    }
    for (std::size_t c = 1; c < std::size(RunColumns); ++c) {
        out += format.separator;
        out += RunColumns[c];
    }
    out += format.lineEnd;
    return out;
}

void AppendRunRows(std::string& out, std::size_t firstStep, const RunInput& input, const RunTable& result,
                   std::span<const std::uint8_t> flags, const std::vector<std::vector<std::string>>& passThrough,
                   const files::TableFormat& format) {
    for (std::size_t i = 0; i < result.hm0Toe.size(); ++i) {
        out += std::to_string(firstStep + i);
        for (const std::vector<std::string>& column : passThrough) {
            out += format.separator;
            files::AppendField(out, column[i], format);
        }
        for (const double value : {input.Hm0[i], input.Tp[i], input.Wlev[i], input.IncomingWaveAngle[i],
                                   result.hm0Toe[i], result.tpToe[i], result.angleToe[i]}) {
            out += format.separator;
            files::AppendNumber(out, value, format);
        }
        out += format.separator;
        out += OutcomeName(result.outcomes[i]);
        out += format.separator;
        files::AppendQuoted(out, OwnReason(result.messages[i]), format);
        out += format.separator;
        files::AppendQuoted(out, StepNote(input, i, flags[i], Door::Cli), format);
        out += format.lineEnd;
    }
}

void AddRunCommand(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<RunArguments>();
    args->threads = AllCores();
    CLI::App* command =
        app.add_subcommand("run", "Wave conditions at the dike toe for a series of offshore conditions");
    command->add_option("--profile", args->profile, "Profile CSV file with columns x,z (m)")->required();
    command
        ->add_option("--series", args->series, "Offshore conditions CSV file with columns hm0,tp,wlev,angle")
        ->required();
    command
        ->add_option("-o,--output", args->output,
                     "Write the result table to this file (default: standard output)")
        ->check(FileName());
    command->add_option("--threads", args->threads, "Threads sharing the time steps (default: all cores)")
        ->check(CLI::Range(1u, 4096u))
        ->capture_default_str();
    command
        ->add_option("--log", args->log,
                     "Append the library's diagnostic log to this file (runs on one thread; a line that "
                     "cannot be written is skipped and counted, never waited for)")
        ->check(FileName());
    command->add_flag("-q,--quiet", args->quiet, "No progress bar and no summary of the run");
    // Rows per block of the run; the table does not depend on it (for tests).
    command->add_option("--block-rows", args->blockRows)->check(CLI::PositiveNumber)->group("");
    AddModelOptions(*command, args->model);
    AddFileOptions(*command, args->csv, files::InputColumns, true);
    AddOutputOptions(*command, args->table);
    command->footer(
        "Example:\n"
        "  qav run --profile examples/profile.csv --series examples/series.csv \\\n"
        "          --dike-normal 270 --dam dam --dam-height -1 -o toe.csv\n"
        "Output columns: step, the series' other columns (time, id, ...) as they are, then\n"
        "hm0,tp,wlev,angle,hm0_toe,tp_toe,angle_toe,status,message,note.\n"
        "Exit code 0 when the run succeeded, 1 when it failed (floor(n/2) or more of n steps failed,\n"
        "so 1 of 3; or the set-up was refused), 2 for a usage error or a file that cannot be read\n"
        "or written, 3 when the run succeeded and its table is written but lines of the --log file\n"
        "were lost.");
    command->callback([args, command, &exitCode] { exitCode = Run(*args, *command); });
}

}  // namespace qav::cli
