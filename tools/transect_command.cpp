// qav transect: one time step, with the state of every grid point along the
// foreshore.
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <new>

#include "files/csv_writer.h"
#include "model/model.h"
#include "tools/commands.h"
#include "tools/errors.h"
#include "tools/file_options.h"
#include "tools/model_options.h"
#include "tools/output_file.h"
#include "tools/run_notes.h"
#include "tools/svg_chart.h"
#include "tools/unchanged_inputs.h"

namespace qav::cli {
namespace {

struct TransectArguments {
    std::string profile;
    std::string output;
    std::string svg;
    double hm0 = 0.0;
    double tp = 0.0;
    double wlev = 0.0;
    double angle = 0.0;
    ModelOptions model;
    files::CsvOptions csv;
    OutputOptions table;
};

// The '# ' lines of the toe values, then the header; the rows follow in blocks.
std::string FormatTransectHead(const Transect& transect, const std::string& note, const files::TableFormat& format) {
    const StepResult& toe = transect.toe;
    const std::string_view message = OwnReason(transect.message);
    std::string out = format.byteOrderMark ? "\xEF\xBB\xBF" : "";
    const auto line = [&](std::string_view label, std::string_view text) {
        out += "# ";
        out += label;
        out += ": ";
        out += text;
        out += format.lineEnd;
    };
    line("status", OutcomeName(toe.Outcome));
    for (const auto& [label, value] :
         {std::pair{"hm0_toe", toe.Hm0Toe}, std::pair{"tp_toe", toe.TpToe}, std::pair{"angle_toe", toe.WaveAngleToe}}) {
        std::string number;
        files::AppendNumber(number, value, format);
        line(label, number);
    }
    if (!message.empty()) line("message", message);
    if (!note.empty()) line("note", note);
    bool first = true;
    for (const std::string_view column : {"x", "bottom_level", "depth", "hrms", "hm0", "energy", "group_velocity",
                                          "breaking_dissipation", "friction_dissipation"}) {
        if (!first) out += format.separator;
        out += column;
        first = false;
    }
    out += format.lineEnd;
    return out;
}

void WriteTransectRows(const Transect& transect, OutputFile& output, const files::TableFormat& format) {
    constexpr std::size_t Block = 4096;
    std::string out;
    for (std::size_t begin = 0; begin < transect.points.size(); begin += Block) {
        out.clear();
        const std::size_t end = std::min(transect.points.size(), begin + Block);
        for (std::size_t i = begin; i < end; ++i) {
            const TransectPoint& s = transect.points[i];
            for (const double value : {s.x, s.bottomLevel, s.depth, s.hrms, s.hm0, s.energy, s.groupVelocity,
                                       s.breakingDissipation}) {
                files::AppendNumber(out, value, format);
                out += format.separator;
            }
            files::AppendNumber(out, s.frictionDissipation, format);
            out += format.lineEnd;
        }
        output.Write(out);
    }
}

int RunTransect(const TransectArguments& args, const CLI::App& command) {
    const NamedFile named[] = {
        {"--profile", args.profile, false}, {"-o", args.output, true}, {"--svg", args.svg, true}};
    CheckNamedFiles(named);
    CheckSuffix("--svg", args.svg, {".svg"});
    const UnchangedInputs inputs(named);
    CheckDamOptions(args.model, command);
    const Profile profile = files::ReadProfile(args.profile, args.csv);
    Series series;
    series.hm0 = {args.hm0};
    series.tp = {args.tp};
    series.wlev = {args.wlev};
    series.angle = {args.angle};
    const RunInput input = MakeRunInput(args.model, profile, series);
    RunJudge judge(input);
    judge.AddSteps(input, 0);
    SayFindings("transect", judge);
    OutputFile output(args.output);
    std::unique_ptr<OutputFile> svg;
    if (!args.svg.empty()) svg = std::make_unique<OutputFile>(args.svg);

    Transect transect;
    try {
        transect = TraceTimeStep(input);
    } catch (const std::bad_alloc&) {
        throw InputError("the grid of this step is too large to trace");
    }
    const StepResult& toe = transect.toe;
    const std::string stepMessage(OwnReason(transect.message));
    if (transect.setupCode != 0) {
        std::fprintf(stderr, "qav transect: the set-up is refused: %s\n", stepMessage.c_str());
        return ExitRunFailed;
    }
    if (IsFailure(toe.Outcome)) {
        std::fprintf(stderr, "qav transect: the step is %s: %s\n",
                     std::string(OutcomeName(toe.Outcome)).c_str(), stepMessage.c_str());
        return ExitRunFailed;
    }
    if (toe.Outcome != StepOutcome::Computed) {
        // Calm, waves from behind the dike or no foreshore: no march to show.
        std::fprintf(stderr, "qav transect: %s%s%s\n", std::string(OutcomeName(toe.Outcome)).c_str(),
                     stepMessage.empty() ? "" : ": ", stepMessage.c_str());
    }
    const std::string note =
        StepNote(input, 0, JudgeStep(input, 0, toe.Outcome, toe.EnergyClamped), Door::Cli);
    if (!note.empty()) std::fprintf(stderr, "qav transect: note: %s\n", note.c_str());

    const files::TableFormat format = OutputFormat(args.table, profile.format);
    output.Write(FormatTransectHead(transect, note, format));
    WriteTransectRows(transect, output, format);
    if (svg) svg->Write(DrawTransectSvg(MakeTransectChart(input, args.model.dam, transect, note)));
    inputs.Check();
    output.Commit();
    if (svg) svg->Commit();
    return ExitSuccess;
}

}  // namespace

void AddTransectCommand(CLI::App& app, int& exitCode) {
    auto args = std::make_shared<TransectArguments>();
    CLI::App* command = app.add_subcommand(
        "transect", "One time step along the foreshore: waves and dissipation per grid point");
    command->add_option("--profile", args->profile, "Profile CSV file with columns x,z (m)")->required();
    command->add_option("--hm0", args->hm0, "Offshore significant wave height (m)")->required();
    command->add_option("--tp", args->tp, "Offshore peak period (s)")->required();
    command->add_option("--wlev", args->wlev, "Water level (m)")->required();
    command->add_option("--angle", args->angle, "Direction the waves come from (deg)")->required();
    command
        ->add_option("-o,--output", args->output, "Write the table to this file (default: standard output)")
        ->check(FileName());
    command->add_option("--svg", args->svg, "Also draw the transect as an SVG chart into this file")
        ->check(FileName());
    AddModelOptions(*command, args->model);
    AddFileOptions(*command, args->csv, files::ProfileColumns, false);
    AddOutputOptions(*command, args->table);
    command->footer(
        "Example:\n"
        "  qav transect --profile examples/profile.csv --hm0 3.5 --tp 9.7 --wlev 4 --angle 245 \\\n"
        "               --dike-normal 270 --dam dam --dam-height -1 --svg transect.svg\n"
        "Output: '# ' lines with the status, the toe values and the step's message and note when it\n"
        "has them, then per grid point\n"
        "x,bottom_level,depth,hrms,hm0,energy,group_velocity,breaking_dissipation,friction_dissipation\n"
        "(m, m, m, m, m, J/m2, m/s, W/m2, W/m2). The last point lies one grid step beyond the toe.");
    command->callback([args, command, &exitCode] { exitCode = RunTransect(*args, *command); });
}

}  // namespace qav::cli
