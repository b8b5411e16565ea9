#include "tools/svg_chart.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string_view>

namespace qav::cli {
namespace {

constexpr double Width = 800.0;
constexpr double PanelHeight = 240.0;
constexpr double Left = 80.0;
constexpr double Right = 30.0;
constexpr double Top = 50.0;
constexpr double Gap = 70.0;

std::string Number(double value) {
    if (std::fabs(value) < 0.005) value = 0.0;  // no "-0.00"
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
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
        default: out += c;
        }
    }
    return out;
}

// A "nice" tick spacing giving about five ticks over the range.
double TickStep(double range) {
    const double raw = range / 5.0;
    const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
    const double normalised = raw / magnitude;
    const double nice = normalised < 1.5 ? 1.0 : normalised < 3.5 ? 2.0 : normalised < 7.5 ? 5.0 : 10.0;
    return nice * magnitude;
}

struct Range {
    double low;
    double high;
};

// The finite extent of the values, widened a little and never empty.
Range Extent(std::initializer_list<const std::vector<double>*> series, std::initializer_list<double> extra) {
    double low = INFINITY;
    double high = -INFINITY;
    const auto take = [&](double v) {
        if (!std::isfinite(v)) return;
        low = std::min(low, v);
        high = std::max(high, v);
    };
    for (const auto* values : series) std::for_each(values->begin(), values->end(), take);
    std::for_each(extra.begin(), extra.end(), take);
    if (!(low <= high)) return {0.0, 1.0};
    if (high - low < 1e-9) return {low - 0.5, high + 0.5};
    const double margin = 0.05 * (high - low);
    return {low - margin, high + margin};
}

// One panel: maps data to pixels and draws axes, ticks and labels.
struct Panel {
    Range x;
    Range y;
    double top;

    [[nodiscard]] double Px(double v) const { return Left + (v - x.low) / (x.high - x.low) * (Width - Left - Right); }
    [[nodiscard]] double Py(double v) const { return top + (y.high - v) / (y.high - y.low) * PanelHeight; }

    void Axes(std::string& svg, const std::string& yLabel, const std::string& xLabel) const {
        const double bottom = top + PanelHeight;
        svg += "<rect x=\"" + Number(Left) + "\" y=\"" + Number(top) + "\" width=\"" + Number(Width - Left - Right) +
               "\" height=\"" + Number(PanelHeight) + "\" fill=\"none\" stroke=\"#444\"/>\n";
        const double yStep = TickStep(y.high - y.low);
        for (long tick = std::lround(std::ceil(y.low / yStep)); tick * yStep <= y.high; ++tick) {
            const double v = tick * yStep;
            const double py = Py(v);
            svg += "<line x1=\"" + Number(Left - 5) + "\" y1=\"" + Number(py) + "\" x2=\"" + Number(Left) +
                   "\" y2=\"" + Number(py) + "\" stroke=\"#444\"/>\n";
            svg += "<text x=\"" + Number(Left - 8) + "\" y=\"" + Number(py + 4) +
                   "\" text-anchor=\"end\" font-size=\"11\">" + Number(v) +
                   "</text>\n";
        }
        const double xStep = TickStep(x.high - x.low);
        for (long tick = std::lround(std::ceil(x.low / xStep)); tick * xStep <= x.high; ++tick) {
            const double v = tick * xStep;
            const double px = Px(v);
            svg += "<line x1=\"" + Number(px) + "\" y1=\"" + Number(bottom) + "\" x2=\"" + Number(px) + "\" y2=\"" +
                   Number(bottom + 5) + "\" stroke=\"#444\"/>\n";
            svg += "<text x=\"" + Number(px) + "\" y=\"" + Number(bottom + 18) +
                   "\" text-anchor=\"middle\" font-size=\"11\">" + Number(v) + "</text>\n";
        }
        svg += "<text class=\"axis-label\" x=\"" + Number(Left + (Width - Left - Right) / 2) + "\" y=\"" +
               Number(bottom + 36) + "\" text-anchor=\"middle\" font-size=\"12\">" + Escape(xLabel) + "</text>\n";
        const double cy = top + PanelHeight / 2;
        svg += "<text class=\"axis-label\" x=\"20\" y=\"" + Number(cy) +
               "\" text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 20 " + Number(cy) + ")\">" +
               Escape(yLabel) + "</text>\n";
    }

    void Line(std::string& svg, const std::string& id, const std::vector<double>& xs, const std::vector<double>& ys,
              const std::string& colour) const {
        std::string points;
        for (std::size_t i = 0; i < xs.size() && i < ys.size(); ++i) {
            if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) continue;
            if (!points.empty()) points += ' ';
            points += Number(Px(xs[i])) + "," + Number(Py(ys[i]));
        }
        svg += "<polyline id=\"" + id + "\" fill=\"none\" stroke=\"" + colour + "\" stroke-width=\"2\" points=\"" +
               points + "\"/>\n";
    }
};

} // namespace

std::string DrawTransectSvg(const TransectChart& chart) {
    const Range xRange = Extent({&chart.x}, {chart.toeX});
    const Panel levels{xRange, Extent({&chart.bottomLevel}, {chart.waterLevel}), Top};
    const Range heights = Extent({&chart.hm0}, {0.0, chart.hm0Toe});
    const Panel waves{xRange, {std::min(0.0, heights.low), heights.high}, Top + PanelHeight + Gap};
    const double height = waves.top + PanelHeight + 50.0;

    std::string svg = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
    svg += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + Number(Width) + "\" height=\"" + Number(height) +
           "\" viewBox=\"0 0 " + Number(Width) + " " + Number(height) + "\" font-family=\"sans-serif\">\n";
    svg += "<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
    svg += "<text x=\"" + Number(Width / 2) + "\" y=\"28\" text-anchor=\"middle\" font-size=\"15\">" +
           Escape(chart.title) + "</text>\n";

    levels.Axes(svg, "level (m)", "cross-shore distance x (m)");
    const std::vector<double> water(chart.x.size(), chart.waterLevel);
    levels.Line(svg, "still-water-level", chart.x, water, "#1f77b4");
    levels.Line(svg, "bottom", chart.x, chart.bottomLevel, "#8c564b");
    svg += "<text x=\"" + Number(Left + 8) + "\" y=\"" + Number(Top + 16) +
           "\" font-size=\"11\" fill=\"#1f77b4\">still water level</text>\n";
    svg += "<text x=\"" + Number(Left + 8) + "\" y=\"" + Number(Top + 30) +
           "\" font-size=\"11\" fill=\"#8c564b\">bottom</text>\n";

    waves.Axes(svg, "Hm0 (m)", "cross-shore distance x (m)");
    waves.Line(svg, "wave-height", chart.x, chart.hm0, "#d62728");
    if (std::isfinite(chart.hm0Toe)) {
        const double px = waves.Px(chart.toeX);
        const double py = waves.Py(chart.hm0Toe);
        svg += "<circle id=\"toe\" cx=\"" + Number(px) + "\" cy=\"" + Number(py) +
               "\" r=\"5\" fill=\"#d62728\" stroke=\"black\"/>\n";
        svg += "<text x=\"" + Number(px - 8) + "\" y=\"" + Number(py - 10) +
               "\" text-anchor=\"end\" font-size=\"11\">Hm0 at the toe " + Number(chart.hm0Toe) + " m</text>\n";
    }
    svg += "</svg>\n";
    return svg;
}

} // namespace qav::cli
