// The report of a run: one HTML page an engineer attaches to an assessment.
#include "tools/run_report.h"

#include <cmath>
#include <ctime>
#include <new>

#include "files/csv_writer.h"
#include "qav/version.h"
#include "tools/run_notes.h"
#include "tools/sha256.h"
#include "tools/svg_chart.h"
#include "tools/svg_draw.h"

namespace qav::cli {
namespace {

using svg::Escape;

constexpr std::string_view Style = R"(
@page { size: A4; margin: 14mm 12mm; }
body { font-family: "DejaVu Sans", Arial, sans-serif; font-size: 10pt; color: #222; max-width: 186mm;
       margin: 8mm auto; }
h1 { font-size: 17pt; margin: 0 0 2mm; }
h2 { font-size: 13pt; margin: 7mm 0 2mm; border-bottom: 1px solid #999; break-after: avoid; }
table { border-collapse: collapse; margin: 2mm 0; }
th, td { border: 1px solid #bbb; padding: 1mm 2mm; text-align: left; vertical-align: top; }
th { background: #eee; }
td.number { text-align: right; font-variant-numeric: tabular-nums; }
figure { margin: 2mm 0; break-inside: avoid; }
figure svg { width: 100%; height: auto; }
figcaption { font-size: 9pt; color: #444; }
.failed { color: #b00; font-weight: bold; }
.ok { color: #070; font-weight: bold; }
code, .hash { font-family: "DejaVu Sans Mono", monospace; font-size: 8.5pt; word-break: break-all; }
tr { break-inside: avoid; }
)";

std::string Html(std::string_view text) { return Escape(text); }

// An SVG document as an element of the page: without its XML declaration.
std::string Inline(const std::string& svg) {
    const std::size_t start = svg.find("<svg");
    return start == std::string::npos ? std::string() : svg.substr(start);
}

std::string Number(double value) { return std::isfinite(value) ? svg::Value(value) : "-"; }

std::string Cell(const std::string& text, bool number = false) {
    return std::string(number ? "<td class=\"number\">" : "<td>") + text + "</td>";
}

// The section and step of the largest Hm0 at the toe among computed steps.
bool LargestToeWave(const std::vector<SectionRecord>& sections, std::size_t& section, std::size_t& step) {
    bool found = false;
    for (std::size_t s = 0; s < sections.size(); ++s) {
        const SectionRecord& r = sections[s];
        for (std::size_t i = 0; i < r.hm0Toe.size(); ++i) {
            if (r.outcomes[i] != StepOutcome::Computed || !std::isfinite(r.hm0Toe[i])) continue;
            if (!found || r.hm0Toe[i] > sections[section].hm0Toe[step]) {
                section = s;
                step = i;
                found = true;
            }
        }
    }
    return found;
}

void Summary(std::string& out, const RunReport& report) {
    const bool named = !report.sections.empty() && !report.sections.front().name.empty();
    out += "<table class=\"summary\"><tr>";
    if (named) out += "<th>section</th>";
    out +=
        "<th>steps</th><th>computed</th><th>failed</th><th>largest Hm0 at the toe (m)</th><th>at step</th>"
        "<th>dike normal (deg)</th><th>dam</th><th>run</th></tr>\n";
    for (const SectionRecord& r : report.sections) {
        std::size_t computed = 0;
        std::size_t largest = r.hm0Toe.size();
        for (std::size_t i = 0; i < r.hm0Toe.size(); ++i) {
            if (r.outcomes[i] != StepOutcome::Computed) continue;
            ++computed;
            if (largest == r.hm0Toe.size() || r.hm0Toe[i] > r.hm0Toe[largest]) largest = i;
        }
        out += "<tr>";
        if (named) out += Cell(Html(r.name));
        out += Cell(std::to_string(r.steps.size()), true) + Cell(std::to_string(computed), true) +
               Cell(std::to_string(r.failures), true);
        out += largest < r.hm0Toe.size()
                   ? Cell(Number(r.hm0Toe[largest]), true) + Cell(std::to_string(r.steps[largest]), true)
                   : Cell("-") + Cell("-");
        out += Cell(Number(NormalisedDirection(r.model.dikeNormal, r.model.parameters.InvalidValue)), true);
        out += Cell(Html(r.model.dam) +
                    (r.model.dam == "none" ? "" : ", crest " + Number(r.model.damHeight) + " m"));
        out += r.failed ? "<td class=\"failed\">failed</td>" : "<td class=\"ok\">succeeded</td>";
        out += "</tr>\n";
    }
    out += "</table>\n<ul class=\"run-summary\">\n";
    for (const SectionRecord& r : report.sections) {
        out += "<li>" + (named ? Html(r.name) + ": " : std::string()) + Html(r.summary);
        if (!r.message.empty()) out += "; the last message: " + Html(r.message);
        out += "</li>\n";
    }
    out += "</ul>\n";
}

void LargestStep(std::string& out, const RunReport& report) {
    std::size_t s = 0;
    std::size_t i = 0;
    out += "<h2>The step with the largest Hm0 at the toe</h2>\n";
    if (!LargestToeWave(report.sections, s, i)) {
        out += "<p>No step was computed along a grid.</p>\n";
        return;
    }
    const SectionRecord& r = report.sections[s];
    Series step;
    step.hm0 = {r.hm0[i]};
    step.tp = {r.tp[i]};
    step.wlev = {r.wlev[i]};
    step.angle = {r.angle[i]};
    const RunInput input = MakeRunInput(r.model, r.profile, step);
    std::string where = "Step " + std::to_string(r.steps[i]);
    if (!r.name.empty()) where += " of section " + r.name;
    if (!r.times.empty()) where += " (" + r.times[i] + ")";
    try {
        const Transect transect = TraceTimeStep(input);
        const std::string note = StepNote(
            input, 0, JudgeStep(input, 0, transect.toe.Outcome, transect.toe.EnergyClamped), Door::Cli);
        out += "<figure>" + Inline(DrawTransectSvg(MakeTransectChart(input, r.model.dam, transect, note))) +
               "<figcaption>" + Html(where) + ": Hm0 at the toe " + Number(transect.toe.Hm0Toe) +
               " m.</figcaption></figure>\n";
    } catch (const std::bad_alloc&) {
        out += "<p>" + Html(where) + ": its grid is too large to trace.</p>\n";
    }
}

void Notes(std::string& out, const RunReport& report) {
    out += "<h2>Notes and warnings</h2>\n";
    if (report.findings.empty()) {
        out += "<p>The run gave no warning.</p>\n";
    } else {
        out += "<ul class=\"findings\">\n";
        for (const std::string& finding : report.findings) out += "<li>" + Html(finding) + "</li>\n";
        out += "</ul>\n";
    }
    std::size_t remarks = 0;
    for (const SectionRecord& r : report.sections) remarks += r.remarkCount;
    if (remarks == 0) {
        out += "<p>No step has a message or a note.</p>\n";
        return;
    }
    const bool named = !report.sections.front().name.empty();
    out += "<p>Steps with a message or a note (the table's columns message and note):</p>\n";
    out += "<table class=\"remarks\"><tr>" + std::string(named ? "<th>section</th>" : "") +
           "<th>step</th><th>status</th><th>message; note</th></tr>\n";
    for (const SectionRecord& r : report.sections) {
        for (const auto& [i, text] : r.remarks) {
            out += "<tr>" + (named ? Cell(Html(r.name)) : std::string()) +
                   Cell(std::to_string(r.steps[i]), true) + Cell(std::string(OutcomeName(r.outcomes[i]))) +
                   Cell(Html(text)) + "</tr>\n";
        }
        if (r.remarkCount > r.remarks.size()) {
            out += "<tr><td colspan=\"4\">" + std::string(named ? Html(r.name) + ": " : "") + "and " +
                   std::to_string(r.remarkCount - r.remarks.size()) +
                   " more steps (see the table)</td></tr>\n";
        }
    }
    out += "</table>\n";
}

void Provenance(std::string& out, const RunReport& report) {
    out += "<h2>Provenance</h2>\n<table class=\"provenance\">\n";
    out += "<tr><th>qav</th><td>" + Html(QAV_VERSION_TEXT) + "</td></tr>\n";
    out += "<tr><th>march path</th><td>" + Html(MarchPathInUse()) + "</td></tr>\n";
    const std::time_t now = std::time(nullptr);
    char when[32] = "";
    if (const std::tm* utc = std::gmtime(&now)) std::strftime(when, sizeof when, "%Y-%m-%d %H:%M:%S UTC", utc);
    out += "<tr><th>written</th><td>" + std::string(when) + "</td></tr>\n";
    std::string line;
    for (const std::string& word : report.commandLine) {
        const bool plain = !word.empty() && word.find_first_of(" \t'\"$\\;&|<>*?()") == std::string::npos;
        line += (line.empty() ? "" : " ") + (plain ? word : "'" + word + "'");
    }
    out += "<tr><th>command line</th><td><code class=\"command-line\">" + Html(line) + "</code></td></tr>\n";
    out += "<tr><th>exit code</th><td>" + std::to_string(report.exitCode) + "</td></tr>\n</table>\n";

    out += "<h3>Options</h3>\n<table class=\"options\"><tr><th>option</th><th>value</th></tr>\n";
    for (const auto& [name, value] : report.options) {
        out += "<tr>" + Cell("<code>" + Html(name) + "</code>") + Cell(Html(value)) + "</tr>\n";
    }
    out +=
        "</table>\n<h3>Input files</h3>\n<table class=\"inputs\"><tr><th>option</th><th>file</th>"
        "<th>bytes</th><th>SHA-256</th></tr>\n";
    for (const ReportInput& input : report.inputs) {
        std::string hex;
        std::uint64_t bytes = 0;
        const bool read = HashFile(input.path, hex, bytes);
        out += "<tr>" + Cell(Html(input.option)) + Cell(Html(input.path)) +
               Cell(read ? std::to_string(bytes) : "-", true) +
               Cell(read ? "<span class=\"hash\">" + hex + "</span>" : "not readable again (a stream)") +
               "</tr>\n";
    }
    out += "</table>\n";
}

}  // namespace

std::string WriteHtmlReport(const RunReport& report) {
    bool failed = false;
    for (const SectionRecord& r : report.sections) failed = failed || r.failed;
    std::string out =
        "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
        "<title>qav run: wave conditions at the dike toe</title>\n<style>";
    out += Style;
    out += "</style>\n</head>\n<body>\n<h1>Wave conditions at the dike toe</h1>\n";
    std::size_t steps = 0;
    for (const SectionRecord& r : report.sections) steps += r.steps.size();
    out += "<p class=\"verdict\">" + std::to_string(steps) + " time steps";
    if (report.sections.size() > 1 || (!report.sections.empty() && !report.sections.front().name.empty())) {
        out += " over " + std::to_string(report.sections.size()) + " sections";
    }
    out += failed ? ": <span class=\"failed\">the run failed</span>"
                  : ": <span class=\"ok\">the run succeeded</span>";
    out += ".</p>\n<h2>Summary</h2>\n";
    Summary(out, report);
    out += "<h2>The run</h2>\n<figure>" + Inline(report.runChart) + "</figure>\n";
    LargestStep(out, report);
    Notes(out, report);
    Provenance(out, report);
    out += "</body>\n</html>\n";
    return out;
}

}  // namespace qav::cli
