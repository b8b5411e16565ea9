// qav run: the model over a whole series of offshore conditions.
#include "tools/run_command.h"

#include <CLI/CLI.hpp>

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
    if (args.model.dam != "none" && command.count("--dam-height") == 0) {
        throw InputError("--dam " + args.model.dam + " needs --dam-height");
    }
    const Profile profile = ReadProfile(args.profile);
    const Series series = ReadSeries(args.series);
    const RunInput input = MakeRunInput(args.model, profile, series);

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

    output.Write(FormatRunTable(input, result));
    output.Commit();
    if (code != 0) {
        std::fprintf(stderr, "qav run: the run failed: %s\n", std::string(message.Trimmed()).c_str());
        return ExitRunFailed;
    }
    return ExitSuccess;
}

}  // namespace

std::string FormatRunTable(const RunInput& input, const RunTable& result) {
    std::string out = "step,hm0,tp,wlev,angle,hm0_toe,tp_toe,angle_toe,status,message\n";
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
        AppendQuoted(out, result.messages[i]);
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
    command->add_option("--log", args->log, "Write the diagnostic log to this file (runs on one thread)");
    command->add_flag("-q,--quiet", args->quiet, "No progress bar");
    AddModelOptions(*command, args->model);
    command->footer(
        "Example:\n"
        "  qav run --profile examples/profile.csv --series examples/series.csv \\\n"
        "          --dike-normal 270 --dam dam --dam-height -1 -o toe.csv\n"
        "Output columns: step,hm0,tp,wlev,angle,hm0_toe,tp_toe,angle_toe,status,message.\n"
        "Exit code 0 when the run succeeded, 1 when it failed, 2 for bad input.");
    command->callback([args, command, &exitCode] { exitCode = Run(*args, *command); });
}

}  // namespace qav::cli
