#include "tools/svg_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace qav::cli {
namespace {

// Page layout (px): the data areas span Left to PlotRight; the legends stand
// in the column right of them, the labels and ticks in the margins.
constexpr double Width = 930.0;
constexpr double Left = 72.0;
constexpr double PlotRight = 680.0;
constexpr double LegendX = 700.0;
constexpr double PanelHeight = 230.0;
constexpr double Gap = 66.0;  // below a panel: tick labels and the axis label
constexpr double LineHeight = 17.0;
constexpr std::size_t SubtitleChars = 120;

constexpr const char* WaterColour = "#1f77b4";
constexpr const char* BottomColour = "#8c564b";
constexpr const char* WaveColour = "#d62728";
constexpr const char* DamColour = "#7f7f7f";
constexpr const char* ToeColour = "#444444";

std::string Fixed(double value, int decimals) {
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0.0;  // no "-0"
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Px(double value) { return Fixed(value, 1); }

// A value for a label: two decimals, trailing zeros dropped.
std::string Value(double value) {
    std::string text = Fixed(value, 2);
    if (text.find('.') != std::string::npos) {
        while (text.back() == '0') text.pop_back();
        if (text.back() == '.') text.pop_back();
    }
    return text;
}

std::string Escape(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            case '"': out += "&quot;"; break;
            default:
                // Control characters are not allowed in XML.
                if (static_cast<unsigned char>(c) < 0x20) {
                    out += ' ';
                } else {
                    out += c;
                }
        }
    }
    return out;
}

// An axis from one round tick to another, about five ticks apart.
struct Axis {
    double low;
    double high;
    double step;
    int decimals;
};

Axis RoundAxis(double low, double high) {
    if (!(low <= high) || !std::isfinite(low) || !std::isfinite(high)) {
        low = 0.0;
        high = 1.0;
    }
    if (high - low < 1e-9 * std::max(1.0, std::fabs(high))) {
        low -= 0.5;
        high += 0.5;
    }
    const double raw = (high - low) / 5.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double normalised = raw / magnitude;
    const double nice = normalised < 1.5 ? 1.0 : normalised < 3.5 ? 2.0 : normalised < 7.5 ? 5.0 : 10.0;
    const double step = nice * magnitude;
    const int decimals = step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9));
    // A value a hair beyond a tick (the march's extra point one grid step
    // past the toe) does not add a whole tick interval; the data areas clip.
    const double slack = 0.01 * (high - low);
    return {std::floor((low + slack) / step) * step, std::ceil((high - slack) / step) * step, step, decimals};
}

struct Range {
    double low = INFINITY;
    double high = -INFINITY;
    void Take(double v) {
        if (!std::isfinite(v)) return;
        low = std::min(low, v);
        high = std::max(high, v);
    }
    void Take(const std::vector<double>& values) {
        for (const double v : values) Take(v);
    }
    // A little room so that no line runs along the frame.
    [[nodiscard]] Range Widened(double fraction) const {
        if (!(low <= high)) return *this;
        const double margin = fraction * (high - low);
        return {low - margin, high + margin};
    }
};

// One panel: maps data to pixels, draws its frame, gridlines, ticks, labels.
struct Panel {
    Axis x;
    Axis y;
    double top;
    std::string id;

    [[nodiscard]] double Px(double v) const { return Left + (v - x.low) / (x.high - x.low) * (PlotRight - Left); }
    [[nodiscard]] double Py(double v) const { return top + (y.high - v) / (y.high - y.low) * PanelHeight; }
    [[nodiscard]] double Bottom() const { return top + PanelHeight; }

    void Frame(std::string& svg, const std::string& yLabel) const {
        const auto ticks = [](const Axis& axis, auto&& draw) {
            const long first = std::lround(axis.low / axis.step);
            const long last = std::lround(axis.high / axis.step);
            for (long tick = first; tick <= last; ++tick) draw(static_cast<double>(tick) * axis.step);
        };
        svg += "<g class=\"grid\" stroke=\"#e3e3e3\" stroke-width=\"1\">\n";
        ticks(y, [&](double v) {
            svg += "<line x1=\"" + cli::Px(Left) + "\" y1=\"" + cli::Px(Py(v)) + "\" x2=\"" + cli::Px(PlotRight) +
                   "\" y2=\"" + cli::Px(Py(v)) + "\"/>\n";
        });
        ticks(x, [&](double v) {
            svg += "<line x1=\"" + cli::Px(Px(v)) + "\" y1=\"" + cli::Px(top) + "\" x2=\"" + cli::Px(Px(v)) +
                   "\" y2=\"" + cli::Px(Bottom()) + "\"/>\n";
        });
        svg += "</g>\n";
        const std::string area = "x=\"" + cli::Px(Left) + "\" y=\"" + cli::Px(top) + "\" width=\"" +
                                 cli::Px(PlotRight - Left) + "\" height=\"" + cli::Px(PanelHeight) + "\"";
        svg += "<clipPath id=\"" + id + "-clip\"><rect " + area + "/></clipPath>\n";
        svg += "<rect class=\"data-area\" id=\"" + id + "\" " + area + " fill=\"none\" stroke=\"#444\"/>\n";
        ticks(y, [&](double v) {
            svg += "<line x1=\"" + cli::Px(Left - 5) + "\" y1=\"" + cli::Px(Py(v)) + "\" x2=\"" + cli::Px(Left) +
                   "\" y2=\"" + cli::Px(Py(v)) + "\" stroke=\"#444\"/>\n";
            svg += "<text x=\"" + cli::Px(Left - 8) + "\" y=\"" + cli::Px(Py(v) + 4) +
                   "\" text-anchor=\"end\" font-size=\"11\">" + Fixed(v, y.decimals) + "</text>\n";
        });
        ticks(x, [&](double v) {
            svg += "<line x1=\"" + cli::Px(Px(v)) + "\" y1=\"" + cli::Px(Bottom()) + "\" x2=\"" + cli::Px(Px(v)) +
                   "\" y2=\"" + cli::Px(Bottom() + 5) + "\" stroke=\"#444\"/>\n";
            svg += "<text x=\"" + cli::Px(Px(v)) + "\" y=\"" + cli::Px(Bottom() + 18) +
                   "\" text-anchor=\"middle\" font-size=\"11\">" + Fixed(v, x.decimals) + "</text>\n";
        });
        svg += "<text class=\"axis-label\" x=\"" + cli::Px((Left + PlotRight) / 2) + "\" y=\"" +
               cli::Px(Bottom() + 38) + "\" text-anchor=\"middle\" font-size=\"12\">cross-shore distance x (m)</text>\n";
        const double cy = top + PanelHeight / 2;
        svg += "<text class=\"axis-label\" x=\"22\" y=\"" + cli::Px(cy) +
               "\" text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 22 " + cli::Px(cy) + ")\">" +
               Escape(yLabel) + "</text>\n";
    }

    // A line through the finite points, thinned to the first, lowest, highest
    // and last point of each pixel column when it has many more points than
    // the panel has columns.
    void Line(std::string& svg, const std::string& lineId, const std::vector<double>& xs,
              const std::vector<double>& ys, const char* colour) const {
        const std::size_t n = std::min(xs.size(), ys.size());
        const auto columns = static_cast<std::size_t>(PlotRight - Left);
        const bool thin = n > 4 * columns;
        std::string points;
        points.reserve(std::min<std::size_t>(n, 4 * columns + 8) * 14);
        const auto add = [&](std::size_t i) {
            if (!points.empty()) points += ' ';
            points += cli::Px(Px(xs[i]));
            points += ',';
            points += cli::Px(Py(ys[i]));
        };
        std::size_t i = 0;
        while (i < n) {
            if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) {
                ++i;
                continue;
            }
            if (!thin) {
                add(i++);
                continue;
            }
            const double column = std::floor(Px(xs[i]));
            std::size_t first = i;
            std::size_t low = i;
            std::size_t high = i;
            std::size_t last = i;
            for (; i < n && (!std::isfinite(xs[i]) || std::floor(Px(xs[i])) == column); ++i) {
                if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) continue;
                if (ys[i] < ys[low]) low = i;
                if (ys[i] > ys[high]) high = i;
                last = i;
            }
            std::size_t keep[] = {first, std::min(low, high), std::max(low, high), last};
            for (std::size_t k = 0; k < 4; ++k) {
                if (k == 0 || keep[k] != keep[k - 1]) add(keep[k]);
            }
        }
        svg += "<polyline id=\"" + lineId + "\" clip-path=\"url(#" + id + "-clip)\" fill=\"none\" stroke=\"" + colour +
               "\" stroke-width=\"2\" points=\"" + points + "\"/>\n";
    }

    void VerticalMarker(std::string& svg, double xValue, const char* colour) const {
        svg += "<line class=\"toe-marker\" x1=\"" + cli::Px(Px(xValue)) + "\" y1=\"" + cli::Px(top) + "\" x2=\"" +
               cli::Px(Px(xValue)) + "\" y2=\"" + cli::Px(Bottom()) + "\" stroke=\"" + colour +
               "\" stroke-dasharray=\"5,4\"/>\n";
    }
};

// The legend beside a panel: one swatch and text per line.
struct Legend {
    double y;

    void Entry(std::string& svg, const std::string& swatch, const std::string& text) {
        svg += "<g class=\"legend\">" + swatch + "<text x=\"" + Px(LegendX + 28) + "\" y=\"" + Px(y + 4) +
               "\" font-size=\"11\">" + Escape(text) + "</text></g>\n";
        y += LineHeight;
    }
    [[nodiscard]] std::string LineSwatch(const char* colour, const char* dash = nullptr) const {
        std::string s = "<line x1=\"" + Px(LegendX) + "\" y1=\"" + Px(y) + "\" x2=\"" + Px(LegendX + 22) + "\" y2=\"" +
                        Px(y) + "\" stroke=\"" + colour + "\" stroke-width=\"2\"";
        if (dash != nullptr) s += std::string(" stroke-dasharray=\"") + dash + "\"";
        return s + "/>";
    }
    [[nodiscard]] std::string CircleSwatch(const char* fill, const char* stroke) const {
        return "<circle cx=\"" + Px(LegendX + 11) + "\" cy=\"" + Px(y) + "\" r=\"5\" fill=\"" + fill +
               "\" stroke=\"" + stroke + "\" stroke-width=\"1.5\"/>";
    }
    [[nodiscard]] std::string BoxSwatch(const char* fill) const {
        return "<rect x=\"" + Px(LegendX + 5) + "\" y=\"" + Px(y - 6) + "\" width=\"12\" height=\"12\" fill=\"" + fill +
               "\" stroke=\"#444\"/>";
    }
};

// Cuts a text into lines of at most width characters, at blanks.
std::vector<std::string> Wrap(std::string_view text, std::size_t width, std::size_t maxLines) {
    std::vector<std::string> lines;
    std::string line;
    std::size_t start = 0;
    while (start < text.size()) {
        std::size_t end = text.find(' ', start);
        if (end == std::string_view::npos) end = text.size();
        std::string word(text.substr(start, end - start));
        start = end + 1;
        if (word.size() > width) word = word.substr(0, width - 3) + "...";
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            lines.push_back(line);
            line.clear();
        }
        if (!line.empty()) line += ' ';
        line += word;
    }
    if (!line.empty()) lines.push_back(line);
    if (lines.size() > maxLines) {
        lines.resize(maxLines);
        std::string& tail = lines.back();
        if (tail.size() > width - 3) tail.resize(width - 3);
        tail += "...";
    }
    return lines;
}

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

    const Panel top{xAxis, RoundAxis(levels.Widened(0.04).low, levels.Widened(0.04).high), firstTop, "levels-area"};

    Range heights;
    heights.Take(0.0);
    heights.Take(chart.hm0);
    heights.Take(chart.hm0Offshore);
    heights.Take(chart.hm0Toe);
    const Panel lower{xAxis, RoundAxis(0.0, heights.Widened(0.06).high), top.Bottom() + Gap, "waves-area"};
    const double height = (computed ? lower.Bottom() : top.Bottom()) + Gap - 12.0;

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Px(Width) + "\" height=\"" + Px(height) +
           "\" viewBox=\"0 0 " + Px(Width) + " " + Px(height) + "\" font-family=\"sans-serif\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text class=\"title\" x=\"" + Px(Width / 2) + "\" y=\"26\" text-anchor=\"middle\" font-size=\"15\">" +
           Escape(chart.title) + "</text>\n";
    for (std::size_t i = 0; i < subtitleLines.size(); ++i) {
        svg += "<text class=\"status\" x=\"" + Px(Width / 2) + "\" y=\"" + Px(48 + LineHeight * static_cast<double>(i)) +
               "\" text-anchor=\"middle\" font-size=\"12\">" + Escape(subtitleLines[i]) + "</text>\n";
    }

    // Levels: water, bottom (flat under the dam and one grid step beyond the
    // toe, as the march takes it), the dam and the toe.
    top.Frame(svg, "level (m)");
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
    levelsLegend.Entry(svg, levelsLegend.LineSwatch(WaterColour), "still water level " + Value(chart.waterLevel) + " m");
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
    lower.Frame(svg, "Hm0 (m)");
    lower.VerticalMarker(svg, toeX, ToeColour);
    const double offshoreX = dam ? 0.5 * (band.left + band.right) : x0;
    if (dam) {
        svg += "<line x1=\"" + Px(lower.Px(offshoreX)) + "\" y1=\"" + Px(lower.Py(chart.hm0Offshore)) + "\" x2=\"" +
               Px(lower.Px(chart.x.front())) + "\" y2=\"" + Px(lower.Py(chart.hm0.front())) + "\" stroke=\"" +
               WaveColour + "\" stroke-width=\"1.5\" stroke-dasharray=\"3,3\"/>\n";
    }
    lower.Line(svg, "wave-height", chart.x, chart.hm0, WaveColour);
    svg += "<circle id=\"offshore\" cx=\"" + Px(lower.Px(offshoreX)) + "\" cy=\"" + Px(lower.Py(chart.hm0Offshore)) +
           "\" r=\"5\" fill=\"white\" stroke=\"" + WaveColour + "\" stroke-width=\"1.5\"/>\n";
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

} // namespace qav::cli
