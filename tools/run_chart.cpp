// The chart of a run: the series and the toe values over the steps or the time.
#include "tools/run_chart.h"

#include <cmath>
#include <cstdio>
#include <set>

#include "files/input_files.h"
#include "tools/run_notes.h"
#include "tools/svg_draw.h"

namespace qav::cli {
namespace {

using namespace svg;

constexpr double RunPanelHeight = 150.0;
constexpr const char* OffshoreColour = "#1f77b4";
constexpr const char* ToeColour = "#d62728";
constexpr const char* LevelColour = "#2ca02c";
constexpr const char* DikeColour = "#444444";
constexpr const char* NoResultColour = "#9467bd";

// Days from 1970-01-01 to a date of the Gregorian calendar.
long DaysFromCivil(long y, long m, long d) {
    y -= m <= 2;
    const long era = (y >= 0 ? y : y - 399) / 400;
    const long yoe = y - era * 400;
    const long doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const long doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// A time as hours since 1970: 2026-01-15, 2026-01-15 06:00[:00], with 'T'
// and a 'Z' too, and 15.01.2026 06:00 as German spreadsheets write it.
bool ParseDateTime(std::string_view text, double& hours) {
    const std::string cell = files::HeaderKey(text);
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, consumed = 0;
    double s = 0.0;
    const char* c = cell.c_str();
    if (std::sscanf(c, "%4d-%2d-%2d%n", &y, &mo, &d, &consumed) == 3 ||
        std::sscanf(c, "%4d/%2d/%2d%n", &y, &mo, &d, &consumed) == 3) {
    } else if (std::sscanf(c, "%2d.%2d.%4d%n", &d, &mo, &y, &consumed) == 3) {
    } else {
        return false;
    }
    std::string_view rest = std::string_view(cell).substr(static_cast<std::size_t>(consumed));
    if (!rest.empty() && (rest[0] == 't' || rest[0] == ' ')) {
        const std::string clock(rest.substr(1));
        int used = 0;
        if (std::sscanf(clock.c_str(), "%2d:%2d%n", &h, &mi, &used) != 2) return false;
        rest = rest.substr(1 + static_cast<std::size_t>(used));
        if (!rest.empty() && rest[0] == ':') {
            const std::string seconds(rest.substr(1));
            char* end = nullptr;
            s = std::strtod(seconds.c_str(), &end);
            rest = rest.substr(1 + static_cast<std::size_t>(end - seconds.c_str()));
        }
    }
    if (rest == "z") rest = {};
    if (!rest.empty() || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 24 || mi > 59 || !(s < 61.0))
        return false;
    hours = 24.0 * static_cast<double>(DaysFromCivil(y, mo, d)) + h + mi / 60.0 + s / 3600.0;
    return true;
}

// The x axis of a section: its times when every one reads, else its steps.
std::vector<double> XValues(const SectionRecord& record, std::string& label) {
    std::vector<double> x(record.steps.size());
    bool dates = !record.times.empty();
    bool numbers = !record.times.empty();
    for (std::size_t i = 0; i < record.times.size() && (dates || numbers); ++i) {
        double value = 0.0;
        dates = dates && ParseDateTime(record.times[i], value);
        numbers = numbers && !dates && files::ParseNumber(record.times[i], '.', value);
        x[i] = value;
    }
    if (dates) {
        const double start = x.front();
        for (double& v : x) v -= start;
        label = "time (h from " + files::Echo(record.times.front(), 24) + ")";
    } else if (numbers) {
        label = "time";
    } else {
        for (std::size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(record.steps[i]);
        label = "step";
    }
    return x;
}

// A direction line breaks where it wraps round north, not across the panel.
std::vector<double> Unwrapped(const std::vector<double>& x, std::vector<double>& y) {
    std::vector<double> xs;
    std::vector<double> ys;
    for (std::size_t i = 0; i < y.size(); ++i) {
        if (i > 0 && std::fabs(y[i] - y[i - 1]) > 180.0) {
            xs.push_back(NAN);
            ys.push_back(NAN);
        }
        xs.push_back(x[i]);
        ys.push_back(y[i]);
    }
    y = std::move(ys);
    return xs;
}

// The values of a column where a step has them: the invalid-value marker
// and non-finite values are left out (NaN, a gap in the line).
std::vector<double> Valid(const std::vector<double>& values, double invalid,
                          const std::vector<StepOutcome>* outcomes) {
    std::vector<double> out(values.size());
    for (std::size_t i = 0; i < values.size(); ++i) {
        const bool none =
            values[i] == invalid ||
            (outcomes != nullptr && ((*outcomes)[i] == StepOutcome::NotTreated || IsFailure((*outcomes)[i])));
        out[i] = none ? NAN : values[i];
    }
    return out;
}

void DrawSection(std::string& out, const SectionRecord& record, std::size_t index, double& top) {
    std::string xLabel;
    const std::vector<double> x = XValues(record, xLabel);
    const double invalid = record.model.parameters.InvalidValue;
    const std::vector<double> hm0 = Valid(record.hm0, invalid, nullptr);
    const std::vector<double> hm0Toe = Valid(record.hm0Toe, invalid, &record.outcomes);
    const std::vector<double> wlev = Valid(record.wlev, invalid, nullptr);
    std::vector<double> angle = Valid(record.angle, invalid, nullptr);
    std::vector<double> angleToe = Valid(record.angleToe, invalid, &record.outcomes);
    std::size_t noResult = 0;
    for (const StepOutcome outcome : record.outcomes)
        noResult += outcome == StepOutcome::NotTreated || IsFailure(outcome);

    const std::string id = "s" + std::to_string(index);
    std::string heading = record.name.empty() ? std::string() : "section " + record.name + ": ";
    heading +=
        std::to_string(record.steps.size()) + " steps, " + std::to_string(noResult) + " without a result";
    if (record.failed) heading += "; the run failed";
    out += "<text class=\"section-title\" x=\"" + Px(Left) + "\" y=\"" + Px(top + 16) +
           "\" font-size=\"13\" font-weight=\"bold\">" + Escape(heading) + "</text>\n";
    top += 30;

    Range xs;
    xs.Take(x);
    const Axis xAxis = RoundAxis(xs.low, xs.high);
    Range heights;
    heights.Take(0.0);
    heights.Take(hm0);
    heights.Take(hm0Toe);
    const Panel waves{xAxis, RoundAxis(0.0, heights.Widened(0.06).high), top, id + "-waves", RunPanelHeight};
    waves.Frame(out, xLabel, "Hm0 (m)");
    waves.Line(out, id + "-hm0", x, hm0, OffshoreColour, true);
    waves.Line(out, id + "-hm0-toe", x, hm0Toe, ToeColour, true);
    // Each step without toe values: a mark under the lines, one per pixel column.
    std::set<long> marked;
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (!(record.outcomes[i] == StepOutcome::NotTreated || IsFailure(record.outcomes[i]))) continue;
        const double px = waves.Px(x[i]);
        if (!std::isfinite(px) || !marked.insert(std::lround(px)).second) continue;
        out += "<path class=\"no-result\" d=\"M" + Px(px) + "," + Px(waves.Bottom() - 9) +
               " l-4,8 h8 z\" fill=\"" + NoResultColour + "\"/>\n";
    }
    Legend legend{waves.top + 8};
    legend.Entry(out, legend.LineSwatch(OffshoreColour), "Hm0 offshore");
    legend.Entry(out, legend.LineSwatch(ToeColour), "Hm0 at the toe");
    if (noResult > 0) {
        legend.Entry(out,
                     "<path d=\"M" + Px(LegendX + 11) + "," + Px(legend.y - 5) + " l-4,8 h8 z\" fill=\"" +
                         NoResultColour + "\"/>",
                     "no result (" + std::to_string(noResult) + " step" + (noResult == 1 ? "" : "s") + ")");
    }

    Range levels;
    levels.Take(wlev);
    const double toeLevel = record.profile.z.empty() ? NAN : record.profile.z.back();
    levels.Take(toeLevel);
    const Range wide = levels.Widened(0.06);
    const Panel water{xAxis, RoundAxis(wide.low, wide.high), waves.Bottom() + Gap, id + "-levels",
                      RunPanelHeight};
    water.Frame(out, xLabel, "level (m)");
    water.Line(out, id + "-wlev", x, wlev, LevelColour, true);
    water.Line(out, id + "-toe-level", {xAxis.low, xAxis.high}, {toeLevel, toeLevel}, DikeColour, false,
               "5,4");
    Legend levelLegend{water.top + 8};
    levelLegend.Entry(out, levelLegend.LineSwatch(LevelColour), "water level");
    levelLegend.Entry(out, levelLegend.LineSwatch(DikeColour, "5,4"), "toe level " + Value(toeLevel) + " m");

    const Panel directions{
        xAxis, {0.0, 360.0, 90.0, 0}, water.Bottom() + Gap, id + "-directions", RunPanelHeight};
    directions.Frame(out, xLabel, "direction (deg)");
    const std::vector<double> angleX = Unwrapped(x, angle);
    const std::vector<double> angleToeX = Unwrapped(x, angleToe);
    directions.Line(out, id + "-angle", angleX, angle, OffshoreColour, true);
    directions.Line(out, id + "-angle-toe", angleToeX, angleToe, ToeColour, true);
    const double normal = NormalisedDirection(record.model.dikeNormal, invalid);
    directions.Line(out, id + "-dike-normal", {xAxis.low, xAxis.high}, {normal, normal}, DikeColour, false,
                    "5,4");
    Legend directionLegend{directions.top + 8};
    directionLegend.Entry(out, directionLegend.LineSwatch(OffshoreColour), "waves from, offshore");
    directionLegend.Entry(out, directionLegend.LineSwatch(ToeColour), "waves from, at the toe");
    directionLegend.Entry(out, directionLegend.LineSwatch(DikeColour, "5,4"),
                          "dike normal " + Value(normal) + " deg");
    top = directions.Bottom() + Gap + 10;
}

}  // namespace

long TimeColumn(const std::vector<std::string>& passThroughNames) {
    for (std::size_t c = 0; c < passThroughNames.size(); ++c) {
        std::string key = files::HeaderKey(passThroughNames[c]);
        key = files::HeaderKey(key.substr(0, key.find_first_of("[(")));
        if (key == "time" || key == "date" || key == "datetime" || key == "timestamp" || key == "date_time" ||
            key == "zeit" || key == "datum" || key == "tijd" || key == "datum_tijd") {
            return static_cast<long>(c);
        }
    }
    return -1;
}

std::string DrawRunSvg(const std::vector<SectionRecord>& sections, const std::string& title) {
    std::string body;
    double top = 44.0;
    for (std::size_t s = 0; s < sections.size(); ++s) DrawSection(body, sections[s], s, top);
    std::string out = Open(top);
    out += "<text class=\"title\" x=\"" + Px(Width / 2) +
           "\" y=\"26\" text-anchor=\"middle\" font-size=\"15\">" + Escape(title) + "</text>\n";
    out += body;
    out += "</svg>\n";
    return out;
}

}  // namespace qav::cli
