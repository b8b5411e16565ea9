// qav run: the model over a whole series of offshore conditions.
#include "tools/run_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <array>
#include <cstdio>
#include <memory>
#include <thread>

#include "tools/commands.h"
#include "tools/csv_writer.h"
#include "tools/errors.h"
#include "tools/model_options.h"
#include "tools/output_file.h"
#include "tools/progress.h"
#include "tools/run_notes.h"

namespace qav::cli {
namespace {

struct RunArguments {
    std::string profile;
    std::string series;
    std::string output;
    std::string log;
    unsigned threads = 1;
    bool quiet = false;
    ModelOptions model;
};

unsigned AllCores() {
    const unsigned cores = std::thread::hardware_concurrency();
    return cores == 0 ? 1 : cores;
}

int Run(const RunArguments& args, const CLI::App& command) {
    const NamedFile files[] = {{"--profile", args.profile, false},
                               {"--series", args.series, false},
                               {"-o", args.output, true},
                               {"--log", args.log, true}};
    CheckNamedFiles(files);
    CheckDamOptions(args.model, command);
    const Profile profile = ReadProfile(args.profile);
    const Series series = ReadSeries(args.series);
    const RunInput input = MakeRunInput(args.model, profile, series);
    InputWarnings warnings("run");
    warnings.CheckParameters(input.Parameters);
    for (std::size_t i = 0; i < input.Hm0.size(); ++i) warnings.CheckStep(i + 1, input.Hm0[i], input.Tp[i], input.Parameters);
    if (!args.log.empty()) CheckLogFile(args.log);

    OutputFile output(args.output);
    ProgressBar bar(!args.quiet);
    RunOptions options;
    if (!args.log.empty()) options.Log = RunLog{1, args.log};
    options.Threads = args.threads;
    options.Progress = [&bar](std::size_t done, std::size_t total) { bar.Update(done, total); };
    RunTable result(input.Hm0.size());
    std::array<char, MessageLength> text{};
    MessageBuffer message(text.data(), text.size());
    const int code = RollerModel5(input, result.Output(), message, options);
    bar.Finish();
    const std::string reason(OwnReason(message.Trimmed()));
    const bool setupRefused = !result.outcomes.empty() && result.outcomes[0] == StepOutcome::NotTreated;
    if (setupRefused) std::fill(result.messages.begin(), result.messages.end(), reason);

    output.Write(FormatRunTable(input, result));
    output.Commit();
    if (setupRefused) {
        std::fprintf(stderr, "qav run: the set-up is refused, no time step is computed: %s\n", reason.c_str());
        return ExitRunFailed;
    }
    if (code != 0) {
        const auto failures = static_cast<std::size_t>(std::count_if(result.outcomes.begin(), result.outcomes.end(), IsFailure));
        std::fprintf(stderr, "qav run: the run failed: %s; the last message: %s\n",
                     FailedRunText(failures, result.outcomes.size()).c_str(), reason.c_str());
        return ExitRunFailed;
    }
    return ExitSuccess;
}

}  // namespace

std::string FormatRunTable(const RunInput& input, const RunTable& result) {
    std::string out = "step,hm0,tp,wlev,angle,hm0_toe,tp_toe,angle_toe,status,message,note\n";
    out.reserve(out.size() + result.hm0Toe.size() * 120);
    for (std::size_t i = 0; i < result.hm0Toe.size(); ++i) {
        out += std::to_string(i + 1);
        for (const double value : {input.Hm0[i], input.Tp[i], input.Wlev[i], input.IncomingWaveAngle[i],
                                   result.hm0Toe[i], result.tpToe[i], result.angleToe[i]}) {
            out += ',';
            AppendNumber(out, value);
        }
        out += ',';
        out += OutcomeName(result.outcomes[i]);
        out += ',';
        AppendQuoted(out, OwnReason(result.messages[i]));
        out += ',';
        AppendQuoted(out, StepNote(input, i, result.outcomes[i], result.energyClamped[i] != 0));
        out += '\n';
    }
    return out;
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
    command->add_option("-o,--output", args->output,
                        "Write the result table to this file (default: standard output)");
    command->add_option("--threads", args->threads, "Threads sharing the time steps (default: all cores)")
        ->check(CLI::Range(1u, 4096u))
        ->capture_default_str();
    command->add_option("--log", args->log,
                        "Append the library's diagnostic log to this file (runs on one thread)");
    command->add_flag("-q,--quiet", args->quiet, "No progress bar");
    AddModelOptions(*command, args->model);
    command->footer(
        "Example:\n"
        "  qav run --profile examples/profile.csv --series examples/series.csv \\\n"
        "          --dike-normal 270 --dam dam --dam-height -1 -o toe.csv\n"
        "Output columns: step,hm0,tp,wlev,angle,hm0_toe,tp_toe,angle_toe,status,message,note.\n"
        "Exit code 0 when the run succeeded, 1 when it failed (half or more of the steps failed,\n"
        "or the set-up was refused), 2 for a usage error or a file that cannot be read or written.");
    command->callback([args, command, &exitCode] { exitCode = Run(*args, *command); });
}

}  // namespace qav::cli
