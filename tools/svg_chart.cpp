#include "tools/svg_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

#include "files/csv_writer.h"
#include "tools/run_notes.h"
#include "tools/svg_draw.h"

namespace qav::cli {
namespace {

using namespace svg;

constexpr std::size_t SubtitleChars = 120;
const std::string CrossShore = "cross-shore distance x (m)";

constexpr const char* WaterColour = "#1f77b4";
constexpr const char* BottomColour = "#8c564b";
constexpr const char* WaveColour = "#d62728";
constexpr const char* DamColour = "#7f7f7f";
constexpr const char* ToeColour = "#444444";

// Where the dam stands: just offshore of the profile, one band of the x axis.
struct DamBand {
    double left;
    double right;
};

}  // namespace

std::string DrawTransectSvg(const TransectChart& chart) {
    const bool computed = !chart.x.empty();
    const bool dam = chart.dam != "none" && !chart.dam.empty() && std::isfinite(chart.damHeight);
    const double x0 = chart.profileX.empty() ? 0.0 : chart.profileX.front();
    const double toeX = chart.profileX.empty() ? 0.0 : chart.profileX.back();
    const double toeLevel = chart.profileZ.empty() ? 0.0 : chart.profileZ.back();

    Range xs;
    xs.Take(chart.profileX);
    xs.Take(chart.x);
    const double span = xs.low <= xs.high && xs.high > xs.low ? xs.high - xs.low : 1.0;
    const DamBand band{x0 - 0.04 * span, x0 - 0.012 * span};
    if (dam) xs.Take(x0 - 0.06 * span);
    const Axis xAxis = RoundAxis(xs.low, xs.high);

    Range levels;
    levels.Take(chart.profileZ);
    levels.Take(chart.waterLevel);
    if (dam) levels.Take(chart.damHeight);

    std::string subtitle = "status: " + chart.status;
    if (!chart.detail.empty()) subtitle += ": " + chart.detail;
    const std::vector<std::string> subtitleLines = Wrap(subtitle, SubtitleChars, 3);
    const double firstTop = 46.0 + LineHeight * static_cast<double>(subtitleLines.size()) + 10.0;

    const Panel top{xAxis, RoundAxis(levels.Widened(0.04).low, levels.Widened(0.04).high), firstTop,
                    "levels-area"};

    Range heights;
    heights.Take(0.0);
    heights.Take(chart.hm0);
    heights.Take(chart.hm0Offshore);
    heights.Take(chart.hm0Toe);
    const Panel lower{xAxis, RoundAxis(0.0, heights.Widened(0.06).high), top.Bottom() + Gap, "waves-area"};
    const double height = (computed ? lower.Bottom() : top.Bottom()) + Gap - 12.0;

    std::string svg = Open(height);
    svg += "<text class=\"title\" x=\"" + Px(Width / 2) +
           "\" y=\"26\" text-anchor=\"middle\" font-size=\"15\">" + Escape(chart.title) + "</text>\n";
    for (std::size_t i = 0; i < subtitleLines.size(); ++i) {
        svg += "<text class=\"status\" x=\"" + Px(Width / 2) + "\" y=\"" +
               Px(48 + LineHeight * static_cast<double>(i)) + "\" text-anchor=\"middle\" font-size=\"12\">" +
               Escape(subtitleLines[i]) + "</text>\n";
    }

    // Levels: water, bottom (flat under the dam and one grid step beyond the
    // toe, as the march takes it), the dam and the toe.
    top.Frame(svg, CrossShore, "level (m)");
    const std::vector<double> waterX = {xAxis.low, xAxis.high};
    const std::vector<double> waterZ = {chart.waterLevel, chart.waterLevel};
    top.Line(svg, "still-water-level", waterX, waterZ, WaterColour);
    std::vector<double> bottomX;
    std::vector<double> bottomZ;
    if (dam && !chart.profileZ.empty()) {
        bottomX.push_back(xAxis.low);
        bottomZ.push_back(chart.profileZ.front());
    }
    bottomX.insert(bottomX.end(), chart.profileX.begin(), chart.profileX.end());
    bottomZ.insert(bottomZ.end(), chart.profileZ.begin(), chart.profileZ.end());
    if (computed && chart.x.back() > toeX) {
        bottomX.push_back(chart.x.back());
        bottomZ.push_back(toeLevel);
    }
    top.Line(svg, "bottom", bottomX, bottomZ, BottomColour);
    if (dam && !chart.profileZ.empty()) {
        const double foot = chart.profileZ.front();
        const double crest = chart.damHeight;
        const double w = band.right - band.left;
        double crestLeft = band.left;
        double crestRight = band.right;
        double footLeft = band.left;
        double footRight = band.right;
        if (chart.dam == "dam") {
            crestLeft = band.left + 0.3 * w;
            crestRight = band.right - 0.3 * w;
        } else if (chart.dam == "wall") {
            footLeft = crestLeft = band.left + 0.35 * w;
            footRight = crestRight = band.right - 0.35 * w;
        }
        svg += "<polygon id=\"dam\" fill=\"#bdbdbd\" stroke=\"" + std::string(DamColour) + "\" points=\"" +
               Px(top.Px(footLeft)) + "," + Px(top.Py(foot)) + " " + Px(top.Px(crestLeft)) + "," +
               Px(top.Py(crest)) + " " + Px(top.Px(crestRight)) + "," + Px(top.Py(crest)) + " " +
               Px(top.Px(footRight)) + "," + Px(top.Py(foot)) + "\"/>\n";
    }
    if (chart.profileX.size() == 1 && !chart.profileZ.empty()) {
        // A single profile point (no foreshore): the point itself.
        svg += "<rect id=\"profile-point\" x=\"" + Px(top.Px(x0) - 4) + "\" y=\"" + Px(top.Py(toeLevel) - 4) +
               "\" width=\"8\" height=\"8\" fill=\"" + BottomColour + "\"/>\n";
    }
    top.VerticalMarker(svg, toeX, ToeColour);

    Legend levelsLegend{top.top + 8};
    levelsLegend.Entry(svg, levelsLegend.LineSwatch(WaterColour),
                       "still water level " + Value(chart.waterLevel) + " m");
    levelsLegend.Entry(svg, levelsLegend.LineSwatch(BottomColour), "bottom");
    if (dam) {
        levelsLegend.Entry(svg, levelsLegend.BoxSwatch("#bdbdbd"),
                           chart.dam + ", crest " + Value(chart.damHeight) + " m");
    }
    levelsLegend.Entry(svg, levelsLegend.LineSwatch(ToeColour, "5,4"),
                       "dike toe, x " + Value(toeX) + " m, z " + Value(toeLevel) + " m");
    if (!computed) {
        levelsLegend.Entry(svg, "", "not marched along a grid:");
        levelsLegend.Entry(svg, "", "Hm0 at the toe " + Value(chart.hm0Toe) + " m");
        svg += "</svg>\n";
        return svg;
    }

    // Wave height: offshore (before the dam), along the grid, at the toe.
    lower.Frame(svg, CrossShore, "Hm0 (m)");
    lower.VerticalMarker(svg, toeX, ToeColour);
    const double offshoreX = dam ? 0.5 * (band.left + band.right) : x0;
    if (dam) {
        svg += "<line x1=\"" + Px(lower.Px(offshoreX)) + "\" y1=\"" + Px(lower.Py(chart.hm0Offshore)) +
               "\" x2=\"" + Px(lower.Px(chart.x.front())) + "\" y2=\"" + Px(lower.Py(chart.hm0.front())) +
               "\" stroke=\"" + WaveColour + "\" stroke-width=\"1.5\" stroke-dasharray=\"3,3\"/>\n";
    }
    lower.Line(svg, "wave-height", chart.x, chart.hm0, WaveColour);
    svg += "<circle id=\"offshore\" cx=\"" + Px(lower.Px(offshoreX)) + "\" cy=\"" +
           Px(lower.Py(chart.hm0Offshore)) + "\" r=\"5\" fill=\"white\" stroke=\"" + WaveColour +
           "\" stroke-width=\"1.5\"/>\n";
    if (std::isfinite(chart.hm0Toe)) {
        svg += "<circle id=\"toe\" cx=\"" + Px(lower.Px(toeX)) + "\" cy=\"" + Px(lower.Py(chart.hm0Toe)) +
               "\" r=\"5\" fill=\"" + WaveColour + "\" stroke=\"black\"/>\n";
    }
    Legend wavesLegend{lower.top + 8};
    wavesLegend.Entry(svg, wavesLegend.CircleSwatch("white", WaveColour),
                      "offshore Hm0 " + Value(chart.hm0Offshore) + " m");
    if (dam) {
        wavesLegend.Entry(svg, wavesLegend.LineSwatch(WaveColour, "3,3"),
                          "behind the " + chart.dam + " " + Value(chart.hm0.front()) + " m");
    }
    wavesLegend.Entry(svg, wavesLegend.LineSwatch(WaveColour), "Hm0 along the grid");
    wavesLegend.Entry(svg, wavesLegend.CircleSwatch(WaveColour, "black"),
                      "Hm0 at the toe " + Value(chart.hm0Toe) + " m");
    svg += "</svg>\n";
    return svg;
}

TransectChart MakeTransectChart(const RunInput& input, const std::string& dam, const Transect& transect,
                                const std::string& note) {
    TransectChart chart;
    chart.profileX.assign(input.ProfileX.begin(), input.ProfileX.end());
    chart.profileZ.assign(input.ProfileBottomLevel.begin(), input.ProfileBottomLevel.end());
    chart.x.reserve(transect.points.size());
    chart.hm0.reserve(transect.points.size());
    for (const TransectPoint& point : transect.points) {
        chart.x.push_back(point.x);
        chart.hm0.push_back(point.hm0);
    }
    chart.waterLevel = input.Wlev[0];
    chart.hm0Offshore = input.Hm0[0];
    chart.hm0Toe = transect.toe.Hm0Toe;
    chart.dam = dam;
    chart.damHeight = input.DamHeight;
    chart.status = OutcomeName(transect.toe.Outcome);
    chart.detail = OwnReason(transect.message);
    if (!note.empty()) chart.detail += (chart.detail.empty() ? "" : "; ") + note;
    chart.title = "Waves over the foreshore: Hm0 " + files::FormatNumber(input.Hm0[0]) + " m, Tp " +
                  files::FormatNumber(input.Tp[0]) + " s, water level " + files::FormatNumber(input.Wlev[0]) +
                  " m, from " + files::FormatNumber(input.IncomingWaveAngle[0]) + " deg, dike normal " +
                  files::FormatNumber(input.DikeNormal) + " deg";
    return chart;
}

}  // namespace qav::cli
