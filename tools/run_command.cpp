// qav run: the model over a whole series of offshore conditions, for one
// profile or for every section of a dike.
#include "tools/run_command.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <thread>

#include "files/csv_writer.h"
#include "files/file_names.h"
#include "tools/commands.h"
#include "tools/errors.h"
#include "tools/file_options.h"
#include "tools/model_options.h"
#include "tools/output_file.h"
#include "tools/progress.h"
#include "tools/run_chart.h"
#include "tools/run_notes.h"
#include "tools/run_report.h"
#include "tools/sections.h"
#include "tools/series_run.h"
#include "tools/unchanged_inputs.h"

namespace qav::cli {
namespace {

struct RunArguments {
    std::string profile;
    std::string sections;
    std::string series;
    std::string output;
    std::string log;
    std::string svg;
    std::string report;
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

// The table's text on its way to the output. Where a fault in a late row
// must leave no output and the output itself would show the rows at once
// (standard output, a device), they wait in a temporary file until the run
// is through.
class TableSink {
public:
    TableSink(OutputFile& output, bool hold) : output_(output) {
        if (hold) held_ = std::tmpfile();
    }
    ~TableSink() {
        if (held_ != nullptr) std::fclose(held_);
    }
    TableSink(const TableSink&) = delete;
    TableSink& operator=(const TableSink&) = delete;

    void Write(std::string_view text) {
        if (held_ == nullptr) {
            output_.Write(text);
        } else if (std::fwrite(text.data(), 1, text.size(), held_) != text.size()) {
            throw InputError("cannot hold the table in a temporary file (disk full?)");
        }
    }
    void Commit() {
        if (held_ != nullptr) {
            std::rewind(held_);
            std::string buffer(std::size_t{1} << 16, '\0');
            for (std::size_t n; (n = std::fread(buffer.data(), 1, buffer.size(), held_)) > 0;) {
                output_.Write({buffer.data(), n});
            }
        }
        output_.Commit();
    }

private:
    OutputFile& output_;
    std::FILE* held_ = nullptr;
};

// Says a finding of the run on standard error and keeps it for the report.
void Say(std::vector<std::string>& findings, const std::string& text) {
    std::fprintf(stderr, "qav run: %s\n", text.c_str());
    findings.push_back(text);
}

SectionRecord NewRecord(const std::string& name, const ModelOptions& model, const Profile& profile) {
    SectionRecord record;
    record.name = name;
    record.model = model;
    record.profile = profile;
    return record;
}

// The judgement's flags of each step of a part of a run.
std::vector<std::uint8_t> Flags(const RunInput& input, const RunTable& result) {
    std::vector<std::uint8_t> flags(result.outcomes.size());
    for (std::size_t i = 0; i < flags.size(); ++i) {
        flags[i] = JudgeStep(input, i, result.outcomes[i], result.energyClamped[i] != 0);
    }
    return flags;
}

// Fills a section's record from a block of its steps.
void Record(SectionRecord& record, const RunInput& input, const RunTable& result,
            std::span<const std::uint8_t> flags, std::size_t firstStep, std::span<const std::size_t> steps,
            const std::vector<std::string>* times, std::span<const std::size_t> rowsOfTimes) {
    for (std::size_t i = 0; i < result.hm0Toe.size(); ++i) {
        record.steps.push_back(steps.empty() ? firstStep + i : steps[i]);
        if (times != nullptr) record.times.push_back((*times)[rowsOfTimes.empty() ? i : rowsOfTimes[i]]);
        record.hm0.push_back(input.Hm0[i]);
        record.tp.push_back(input.Tp[i]);
        record.wlev.push_back(input.Wlev[i]);
        record.angle.push_back(input.IncomingWaveAngle[i]);
        record.hm0Toe.push_back(result.hm0Toe[i]);
        record.tpToe.push_back(result.tpToe[i]);
        record.angleToe.push_back(result.angleToe[i]);
        record.outcomes.push_back(result.outcomes[i]);
        const std::string note = StepNote(input, i, flags[i], Door::Cli);
        const std::string_view message = OwnReason(result.messages[i]);
        if (note.empty() && message.empty()) continue;
        if (++record.remarkCount > KeptRemarks) continue;
        std::string text(message);
        if (!note.empty()) text += (text.empty() ? "" : "; ") + note;
        record.remarks.emplace_back(record.steps.size() - 1, std::move(text));
    }
}

// A refused set-up computes no step: each row says why.
void ExplainRefusal(RunTable& result, std::string_view message) {
    if (!result.outcomes.empty() && result.outcomes[0] == StepOutcome::NotTreated) {
        std::fill(result.messages.begin(), result.messages.end(), std::string(OwnReason(message)));
    }
}

// Where a run's table, chart and report go, opened before the run so that a
// file that cannot be written stops it first.
struct Outputs {
    OutputFile table;
    std::unique_ptr<OutputFile> svg;
    std::unique_ptr<OutputFile> report;

    explicit Outputs(const RunArguments& args) : table(args.output) {
        if (!args.svg.empty()) svg = std::make_unique<OutputFile>(args.svg);
        if (!args.report.empty()) report = std::make_unique<OutputFile>(args.report);
    }
};

// What the run of every section (or of the one profile) came to.
struct RunResults {
    std::vector<SeriesRun> runs;
    std::vector<std::string> names;      // of the sections; one empty name without
    std::vector<SectionRecord> records;  // for the chart and the report
    std::vector<RunJudge> judges;        // one a section
};

std::string MissingText(const files::SeriesReader& series, double invalidValue) {
    if (series.MissingCount() == 0) return {};
    return std::to_string(series.MissingCount()) + " missing value" +
           (series.MissingCount() == 1 ? "" : "s") + " taken as the invalid value " +
           files::FormatNumber(invalidValue) + " (the first at " + Printable(series.FirstMissing()) + ")";
}

// One profile over a series of any length, a block of rows at a time.
RunResults RunProfile(const RunArguments& args, const files::CsvOptions& csv, Outputs& outputs, bool keep,
                      const UnchangedInputs& unchanged, std::vector<std::string>& findings) {
    const Profile profile = files::ReadProfile(args.profile, csv);
    files::SeriesReader series(args.series, csv);
    // The profile, dam and parameters; each block brings its own series.
    const Series noSteps;
    const RunInput input = MakeRunInput(args.model, profile, noSteps);
    if (!args.log.empty()) CheckLogFile(args.log);

    RunResults results;
    results.judges.emplace_back(input);
    results.names = {""};
    if (keep) results.records.push_back(NewRecord("", args.model, profile));
    const long time = TimeColumn(series.PassThroughNames());
    // A fault in any row stops the run with no table: rows wait where the
    // output would show them at once. A stream is written as it is read.
    const bool regular = files::KindOf(args.series) == files::FileKind::Regular;
    TableSink table(outputs.table, regular && !outputs.table.WholeOrNothing());
    // The steps to come, estimated from the bytes of the rows read so far.
    std::error_code sizeUnknown;
    const std::u8string name(reinterpret_cast<const char8_t*>(args.series.data()), args.series.size());
    const auto fileBytes = regular ? static_cast<std::size_t>(std::filesystem::file_size(name, sizeUnknown)) : 0;
    std::atomic<std::size_t> expected{0};
    ProgressBar bar(!args.quiet);
    RunOptions options;
    if (!args.log.empty()) options.Log = RunLog{1, args.log};
    options.Threads = args.threads;
    std::string rows;
    files::TableFormat format;
    bool started = false;
    const SeriesRun run = RunSeriesInBlocks(
        input, series, options, args.blockRows,
        [&bar, &expected](std::size_t done) { bar.Update(done, std::max(done, expected.load())); },
        [&](std::size_t firstStep, const RunInput& block, RunTable& result, const files::SeriesBlock& read,
            std::string_view message) {
            ExplainRefusal(result, message);
            const std::vector<std::uint8_t> flags = Flags(block, result);
            results.judges[0].AddSteps(block, firstStep - 1, result.outcomes, flags, result.hm0Toe);
            if (!started) {
                // The table in the series' own format, as its first block shows it.
                format = OutputFormat(args.table, series.Format());
                if (format.byteOrderMark) table.Write("\xEF\xBB\xBF");
                table.Write(RunTableHeader(series.PassThroughNames(), false, format));
                started = true;
            }
            rows.clear();
            TableRows where;
            where.firstStep = firstStep;
            AppendRunRows(rows, where, block, result, flags, read.passThrough, format);
            table.Write(rows);
            if (keep) {
                Record(results.records[0], block, result, flags, firstStep, {},
                       time >= 0 ? &read.passThrough[static_cast<std::size_t>(time)] : nullptr, {});
            }
            // A file cut short or rewritten stops the run at the next block,
            // not after the last.
            unchanged.Check();
            const std::size_t bytes = series.TextBytesRead();
            const std::size_t so = series.RowsRead();
            expected = bytes > 0 && fileBytes > bytes ? so + (fileBytes - bytes) * so / bytes : so;
        });
    bar.Finish();
    // The rows read must be those of one file, before the table is put in place.
    unchanged.Check();
    table.Commit();
    const std::string missing = MissingText(series, csv.invalidValue);
    if (!missing.empty()) Say(findings, missing);
    results.runs = {run};
    return results;
}

// Every section of a sections file over the series, held whole.
RunResults RunEverySection(const RunArguments& args, const files::CsvOptions& csv, Outputs& outputs,
                           bool keep, const UnchangedInputs& unchanged, std::vector<std::string>& findings,
                           const std::vector<Section>& sections) {
    files::SeriesReader reader(args.series, csv);
    files::Series series;
    series.passThroughNames = reader.PassThroughNames();
    reader.ReadBlock(series.rows, static_cast<std::size_t>(-1), static_cast<std::size_t>(-1));
    const std::vector<std::vector<std::size_t>> rows = RowsOfSections(sections, series, args.series);
    const auto& names = series.passThroughNames;
    long sectionColumn = -1;
    for (std::size_t c = 0; c < names.size(); ++c) {
        if (files::HeaderKey(names[c]) == "section") sectionColumn = static_cast<long>(c);
    }
    // A section that runs a part of the series gets its own copy of its rows.
    std::vector<Series> own(sections.size());
    std::vector<RunInput> inputs;
    std::vector<RunTable> tables;
    for (std::size_t s = 0; s < sections.size(); ++s) {
        if (sectionColumn >= 0) {
            for (const std::size_t row : rows[s]) {
                own[s].hm0.push_back(series.rows.hm0[row]);
                own[s].tp.push_back(series.rows.tp[row]);
                own[s].wlev.push_back(series.rows.wlev[row]);
                own[s].angle.push_back(series.rows.angle[row]);
            }
        }
        inputs.push_back(
            MakeRunInput(sections[s].model, sections[s].profile, sectionColumn >= 0 ? own[s] : series.rows));
        tables.emplace_back(rows[s].size());
    }
    if (!args.log.empty()) CheckLogFile(args.log);

    std::size_t total = 0;
    for (const auto& own : rows) total += own.size();
    ProgressBar bar(!args.quiet);
    RunOptions options;
    if (!args.log.empty()) options.Log = RunLog{1, args.log};
    options.Threads = args.threads;
    RunResults results;
    results.runs =
        RunSections(inputs, tables, options, [&bar, total](std::size_t done) { bar.Update(done, total); });
    bar.Finish();

    std::vector<std::string> shown;
    for (std::size_t c = 0; c < names.size(); ++c) {
        if (static_cast<long>(c) != sectionColumn) shown.push_back(names[c]);
    }
    const long time = TimeColumn(names);
    const files::TableFormat format = OutputFormat(args.table, reader.Format());
    if (format.byteOrderMark) outputs.table.Write("\xEF\xBB\xBF");
    outputs.table.Write(RunTableHeader(shown, true, format));
    std::string text;
    for (std::size_t s = 0; s < sections.size(); ++s) {
        ExplainRefusal(tables[s], results.runs[s].message);
        const std::vector<std::uint8_t> flags = Flags(inputs[s], tables[s]);
        results.judges.emplace_back(inputs[s]);
        results.judges.back().AddSteps(inputs[s], 0, tables[s].outcomes, flags, tables[s].hm0Toe);
        text.clear();
        TableRows where;
        where.rows = rows[s];
        where.section = &sections[s].name;
        where.hiddenColumn = sectionColumn;
        AppendRunRows(text, where, inputs[s], tables[s], flags, series.rows.passThrough, format);
        outputs.table.Write(text);
        results.names.push_back(sections[s].name);
        if (!keep) continue;
        results.records.push_back(NewRecord(sections[s].name, sections[s].model, sections[s].profile));
        std::vector<std::size_t> steps(rows[s].size());
        for (std::size_t i = 0; i < steps.size(); ++i) steps[i] = rows[s][i] + 1;
        Record(results.records.back(), inputs[s], tables[s], flags, 0, steps,
               time >= 0 ? &series.rows.passThrough[static_cast<std::size_t>(time)] : nullptr, rows[s]);
    }
    unchanged.Check();
    outputs.table.Commit();
    const std::string missing = MissingText(reader, csv.invalidValue);
    if (!missing.empty()) Say(findings, missing);
    return results;
}

int Run(const RunArguments& args, const CLI::App& command, const std::vector<std::string>& commandLine) {
    const bool sectioned = !args.sections.empty();
    if (!sectioned && args.profile.empty()) throw InputError("give --profile FILE, or --sections FILE");
    if (!sectioned && command.count("--dike-normal") == 0) throw InputError("--dike-normal is required");
    std::vector<NamedFile> named = {{"--profile", args.profile, false}, {"--sections", args.sections, false},
                                    {"--series", args.series, false},   {"-o", args.output, true},
                                    {"--log", args.log, true},          {"--svg", args.svg, true},
                                    {"--report", args.report, true}};
    CheckNamedFiles(named);
    CheckSuffix("--svg", args.svg, {".svg"});
    CheckSuffix("--report", args.report, {".html", ".htm"});
    if (!sectioned) CheckDamOptions(args.model, command);
    files::CsvOptions csv = args.csv;
    csv.invalidValue = args.model.parameters.InvalidValue;
    std::vector<Section> sections;
    if (sectioned) {
        sections = ReadSections(args.sections, csv, args.model);
        for (const Section& section : sections)
            named.push_back({"a section's profile", section.profilePath, false});
        CheckNamedFiles(named);
    }

    const UnchangedInputs unchanged(named);
    std::vector<std::string> findings;
    const bool keep = !args.svg.empty() || !args.report.empty();
    Outputs outputs(args);
    RunResults results = sectioned ? RunEverySection(args, csv, outputs, keep, unchanged, findings, sections)
                                   : RunProfile(args, csv, outputs, keep, unchanged, findings);

    int exitCode = ExitSuccess;
    for (std::size_t s = 0; s < results.runs.size(); ++s) {
        const SeriesRun& run = results.runs[s];
        const std::string section = results.names[s].empty() ? "" : "section " + results.names[s] + ": ";
        const std::string reason(OwnReason(run.message));
        for (const Finding& finding : results.judges[s].Findings(Door::Cli)) {
            Say(findings, "warning: " + section + finding.text);
        }
        const std::string summary = results.judges[s].Summary().Text(Door::Cli);
        if (!args.quiet) std::fprintf(stderr, "qav run: %s%s\n", section.c_str(), summary.c_str());
        if (run.setupRefused) {
            Say(findings, section + "the set-up is refused, no time step is computed: " + reason);
        } else if (run.code != 0) {
            Say(findings, section + "the run failed: " + FailedRunText(run.failures, run.steps) +
                              "; the last message: " + reason);
        }
        if (run.lostLogLines > 0) {
            Say(findings, section + std::to_string(run.lostLogLines) + " line" + (run.lostLogLines == 1 ? "" : "s") +
                              " of the log could not be written to " + Printable(args.log));
            if (exitCode == ExitSuccess) exitCode = ExitLogIncomplete;
        }
        if (run.setupRefused || run.code != 0) exitCode = ExitRunFailed;
        if (keep) {
            results.records[s].failures = run.failures;
            results.records[s].failed = run.setupRefused || run.code != 0;
            results.records[s].message = reason;
            results.records[s].summary = summary;
        }
    }
    const std::string title = "Waves at the dike toe over the series " + files::Echo(args.series, 80);
    const std::string chart = keep ? DrawRunSvg(results.records, title) : std::string();
    if (outputs.svg) {
        outputs.svg->Write(chart);
        outputs.svg->Commit();
    }
    if (outputs.report) {
        RunReport report{results.records, chart, {}, {}, {}, {}, 0};
        report.commandLine = commandLine;
        for (const CLI::Option* option : command.get_options()) {
            // Help, and the hidden options that only tests use, are not settings of the run.
            if (option->get_name() == "--help" || option->get_group().empty()) continue;
            std::string value;
            for (const std::string& result : option->results()) value += (value.empty() ? "" : " ") + result;
            if (option->count() == 0) value = option->get_default_str();
            report.options.emplace_back(option->get_name(),
                                        option->count() == 0 && value.empty() ? "(not given)" : value);
        }
        for (const NamedFile& file : named) {
            if (!file.written && !file.path.empty())
                report.inputs.push_back({std::string(file.option), file.path});
        }
        report.findings = findings;
        report.exitCode = exitCode;
        outputs.report->Write(WriteHtmlReport(report));
        outputs.report->Commit();
    }
    return exitCode;
}

}  // namespace

// The columns of the table, step first.
constexpr std::string_view RunColumns[] = {"step",   "hm0",       "tp",     "wlev",    "angle", "hm0_toe",
                                           "tp_toe", "angle_toe", "status", "message", "note"};

std::string RunTableHeader(std::span<const std::string> passThroughNames, bool sections,
                           const files::TableFormat& format) {
    std::vector<std::string> taken(std::begin(RunColumns), std::end(RunColumns));
    if (sections) taken.emplace_back("section");
    const std::size_t own = taken.size();
    for (const std::string& name : passThroughNames) taken.push_back(files::HeaderKey(name));
    std::string out = sections ? std::string("step") + format.separator + "section" : std::string("step");
    for (const std::string& name : passThroughNames) {
        // A column of the series named as one of the table's own (a table
        // read back in, say) keeps its place under a name no other column
        // has: input_step, then input_input_step when read back again.
        std::string written = name;
        if (std::find(taken.begin(), taken.begin() + static_cast<long>(own), files::HeaderKey(name)) !=
            taken.begin() + static_cast<long>(own)) {
            do {
                written = "input_" + written;
            } while (std::find(taken.begin(), taken.end(), files::HeaderKey(written)) != taken.end());
            taken.push_back(files::HeaderKey(written));
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

void AppendRunRows(std::string& out, const TableRows& where, const RunInput& input, const RunTable& result,
                   std::span<const std::uint8_t> flags, const std::vector<std::vector<std::string>>& passThrough,
                   const files::TableFormat& format) {
    for (std::size_t i = 0; i < result.hm0Toe.size(); ++i) {
        const std::size_t row = where.rows.empty() ? i : where.rows[i];
        out += std::to_string(where.rows.empty() ? where.firstStep + i : row + 1);
        if (where.section != nullptr) {
            out += format.separator;
            files::AppendField(out, *where.section, format);
        }
        for (std::size_t c = 0; c < passThrough.size(); ++c) {
            if (static_cast<long>(c) == where.hiddenColumn) continue;
            out += format.separator;
            files::AppendField(out, passThrough[c][row], format);
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

void AddRunCommand(CLI::App& app, int& exitCode, std::vector<std::string> commandLine) {
    auto args = std::make_shared<RunArguments>();
    args->threads = AllCores();
    CLI::App* command =
        app.add_subcommand("run", "Wave conditions at the dike toe for a series of offshore conditions");
    CLI::Option* profile = command->add_option("--profile", args->profile,
                                               "Profile CSV file with columns x,z (m); or --sections");
    CLI::Option* sections = command->add_option(
        "--sections", args->sections,
        "Sections CSV file with columns section,profile,dike_normal and optionally dam,dam_height and the "
        "model parameters (ag,rho,alpha,fc,ratio_depth,min_step_size); profile paths relative to this "
        "file. A 'section' column in the series gives each section its rows; without one every section "
        "runs the whole series");
    command
        ->add_option("--series", args->series, "Offshore conditions CSV file with columns hm0,tp,wlev,angle")
        ->required();
    command
        ->add_option("-o,--output", args->output, "Write the result table to this file (default: standard output)")
        ->check(FileName());
    command->add_option("--svg", args->svg,
                        "Also draw the run as an SVG chart into this file (.svg): Hm0 offshore and at the "
                        "toe, water level and directions over the steps or the series' time column")
        ->check(FileName());
    command->add_option("--report", args->report,
                        "Also write a report of the run into this HTML file (.html): summary, charts, "
                        "notes and warnings, options and input files with their SHA-256")
        ->check(FileName());
    command->add_option("--threads", args->threads, "Threads sharing the time steps (default: all cores)")
        ->check(CLI::Range(1u, 4096u))
        ->capture_default_str();
    command
        ->add_option("--log", args->log,
                     "Append the library's diagnostic log to this file (runs on one thread; a line that "
                     "cannot be written is skipped and counted, never waited for)")
        ->check(FileName());
    command->add_flag("-q,--quiet", args->quiet, "No progress bar");
    // Rows per block of the run; the table does not depend on it (for tests).
    command->add_option("--block-rows", args->blockRows)->check(CLI::PositiveNumber)->group("");
    AddModelOptions(*command, args->model, false);
    sections->excludes(profile);
    for (const char* name : {"--dike-normal", "--dam", "--dam-height"})
        sections->excludes(command->get_option(name));
    AddFileOptions(*command, args->csv, files::InputColumns, true);
    AddOutputOptions(*command, args->table);
    command->footer(
        "Examples:\n"
        "  qav run --profile examples/profile.csv --series examples/series.csv \\\n"
        "          --dike-normal 270 --dam dam --dam-height -1 -o toe.csv --svg run.svg\n"
        "  qav run --sections examples/sections.csv --series examples/series.csv -o toe.csv \\\n"
        "          --report run.html\n"
        "Output columns: step (the series' row), section (with --sections), the series' other columns\n"
        "(time, id, ...) as they are, then hm0,tp,wlev,angle,hm0_toe,tp_toe,angle_toe,status,message,note.\n"
        "Exit code 0 when the run succeeded, 1 when it failed (floor(n/2) or more of a section's n steps\n"
        "failed, so 1 of 3; or a set-up was refused), 2 for a usage error or a file that cannot be read\n"
        "or written, 3 when the run succeeded and its table is written but lines of the --log file\n"
        "were lost.");
    command->callback([args, command, &exitCode, commandLine = std::move(commandLine)] {
        exitCode = Run(*args, *command, commandLine);
    });
}

}  // namespace qav::cli
