// The drawing parts the charts of qav share.
#include "tools/svg_draw.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace qav::cli::svg {

std::string Fixed(double value, int decimals) {
    if (std::fabs(value) < 0.5 * std::pow(10.0, -decimals)) value = 0.0;  // no "-0"
    char text[48];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

std::string Px(double value) { return Fixed(value, 1); }

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
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
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

void Panel::Frame(std::string& svg, const std::string& xLabel, const std::string& yLabel) const {
    const auto ticks = [](const Axis& axis, auto&& draw) {
        const long first = std::lround(axis.low / axis.step);
        const long last = std::lround(axis.high / axis.step);
        for (long tick = first; tick <= last; ++tick) draw(static_cast<double>(tick) * axis.step);
    };
    svg += "<g class=\"grid\" stroke=\"#e3e3e3\" stroke-width=\"1\">\n";
    ticks(y, [&](double v) {
        svg += "<line x1=\"" + svg::Px(Left) + "\" y1=\"" + svg::Px(Py(v)) + "\" x2=\"" + svg::Px(PlotRight) +
               "\" y2=\"" + svg::Px(Py(v)) + "\"/>\n";
    });
    ticks(x, [&](double v) {
        svg += "<line x1=\"" + svg::Px(Px(v)) + "\" y1=\"" + svg::Px(top) + "\" x2=\"" + svg::Px(Px(v)) +
               "\" y2=\"" + svg::Px(Bottom()) + "\"/>\n";
    });
    svg += "</g>\n";
    const std::string area = "x=\"" + svg::Px(Left) + "\" y=\"" + svg::Px(top) + "\" width=\"" +
                             svg::Px(PlotRight - Left) + "\" height=\"" + svg::Px(height) + "\"";
    svg += "<clipPath id=\"" + id + "-clip\"><rect " + area + "/></clipPath>\n";
    svg += "<rect class=\"data-area\" id=\"" + id + "\" " + area + " fill=\"none\" stroke=\"#444\"/>\n";
    ticks(y, [&](double v) {
        svg += "<line x1=\"" + svg::Px(Left - 5) + "\" y1=\"" + svg::Px(Py(v)) + "\" x2=\"" + svg::Px(Left) +
               "\" y2=\"" + svg::Px(Py(v)) + "\" stroke=\"#444\"/>\n";
        svg += "<text x=\"" + svg::Px(Left - 8) + "\" y=\"" + svg::Px(Py(v) + 4) +
               "\" text-anchor=\"end\" font-size=\"11\">" + Fixed(v, y.decimals) + "</text>\n";
    });
    ticks(x, [&](double v) {
        svg += "<line x1=\"" + svg::Px(Px(v)) + "\" y1=\"" + svg::Px(Bottom()) + "\" x2=\"" + svg::Px(Px(v)) +
               "\" y2=\"" + svg::Px(Bottom() + 5) + "\" stroke=\"#444\"/>\n";
        svg += "<text x=\"" + svg::Px(Px(v)) + "\" y=\"" + svg::Px(Bottom() + 18) +
               "\" text-anchor=\"middle\" font-size=\"11\">" + Fixed(v, x.decimals) + "</text>\n";
    });
    svg += "<text class=\"axis-label\" x=\"" + svg::Px((Left + PlotRight) / 2) + "\" y=\"" +
           svg::Px(Bottom() + 38) + "\" text-anchor=\"middle\" font-size=\"12\">" + Escape(xLabel) +
           "</text>\n";
    const double cy = top + height / 2;
    svg += "<text class=\"axis-label\" x=\"22\" y=\"" + svg::Px(cy) +
           "\" text-anchor=\"middle\" font-size=\"12\" transform=\"rotate(-90 22 " + svg::Px(cy) + ")\">" +
           Escape(yLabel) + "</text>\n";
}

// A line through the finite points, thinned to the first, lowest, highest
// and last point of each pixel column when it has many more points than
// the panel has columns.
void Panel::Line(std::string& svg, const std::string& lineId, const std::vector<double>& xs,
                 const std::vector<double>& ys, const char* colour, bool breakAtGaps,
                 const char* dash) const {
    const std::size_t n = std::min(xs.size(), ys.size());
    const auto columns = static_cast<std::size_t>(PlotRight - Left);
    const bool thin = n > 4 * columns;
    std::vector<std::string> pieces(1);
    const auto add = [&](std::size_t i) {
        std::string& points = pieces.back();
        if (!points.empty()) points += ' ';
        points += svg::Px(Px(xs[i]));
        points += ',';
        points += svg::Px(Py(ys[i]));
    };
    const auto gap = [&] {
        if (breakAtGaps && !pieces.back().empty()) pieces.emplace_back();
    };
    std::size_t i = 0;
    while (i < n) {
        if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) {
            gap();
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
        bool broken = false;
        for (; i < n && (!std::isfinite(xs[i]) || std::floor(Px(xs[i])) == column); ++i) {
            if (!std::isfinite(xs[i]) || !std::isfinite(ys[i])) {
                broken = true;
                continue;
            }
            if (ys[i] < ys[low]) low = i;
            if (ys[i] > ys[high]) high = i;
            last = i;
        }
        std::size_t keep[] = {first, std::min(low, high), std::max(low, high), last};
        for (std::size_t k = 0; k < 4; ++k) {
            if (k == 0 || keep[k] != keep[k - 1]) add(keep[k]);
        }
        if (broken) gap();
    }
    if (pieces.back().empty() && pieces.size() > 1) pieces.pop_back();
    // A point alone between gaps is drawn as a dot: a segment of no length
    // with round ends.
    for (std::string& points : pieces) {
        if (breakAtGaps && !points.empty() && points.find(' ') == std::string::npos) points += ' ' + points;
    }
    const std::string style = "clip-path=\"url(#" + id + "-clip)\" fill=\"none\" stroke=\"" + colour +
                              "\" stroke-width=\"2\"" +
                              (dash != nullptr ? std::string(" stroke-dasharray=\"") + dash + "\"" : "") +
                              (breakAtGaps ? " stroke-linecap=\"round\"" : "");
    if (pieces.size() == 1) {
        svg += "<polyline id=\"" + lineId + "\" " + style + " points=\"" + pieces[0] + "\"/>\n";
        return;
    }
    svg += "<g id=\"" + lineId + "\">\n";
    for (const std::string& points : pieces) svg += "<polyline " + style + " points=\"" + points + "\"/>\n";
    svg += "</g>\n";
}

void Panel::VerticalMarker(std::string& svg, double xValue, const char* colour) const {
    svg += "<line class=\"toe-marker\" x1=\"" + svg::Px(Px(xValue)) + "\" y1=\"" + svg::Px(top) + "\" x2=\"" +
           svg::Px(Px(xValue)) + "\" y2=\"" + svg::Px(Bottom()) + "\" stroke=\"" + colour +
           "\" stroke-dasharray=\"5,4\"/>\n";
}

void Legend::Entry(std::string& svg, const std::string& swatch, const std::string& text) {
    svg += "<g class=\"legend\">" + swatch + "<text x=\"" + Px(LegendX + 28) + "\" y=\"" + Px(y + 4) +
           "\" font-size=\"11\">" + Escape(text) + "</text></g>\n";
    y += LineHeight;
}
std::string Legend::LineSwatch(const char* colour, const char* dash) const {
    std::string s = "<line x1=\"" + Px(LegendX) + "\" y1=\"" + Px(y) + "\" x2=\"" + Px(LegendX + 22) +
                    "\" y2=\"" + Px(y) + "\" stroke=\"" + colour + "\" stroke-width=\"2\"";
    if (dash != nullptr) s += std::string(" stroke-dasharray=\"") + dash + "\"";
    return s + "/>";
}
std::string Legend::CircleSwatch(const char* fill, const char* stroke) const {
    return "<circle cx=\"" + Px(LegendX + 11) + "\" cy=\"" + Px(y) + "\" r=\"5\" fill=\"" + fill +
           "\" stroke=\"" + stroke + "\" stroke-width=\"1.5\"/>";
}
std::string Legend::BoxSwatch(const char* fill) const {
    return "<rect x=\"" + Px(LegendX + 5) + "\" y=\"" + Px(y - 6) + "\" width=\"12\" height=\"12\" fill=\"" +
           fill + "\" stroke=\"#444\"/>";
}

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

std::string Open(double height) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" +
           Px(Width) + "\" height=\"" + Px(height) + "\" viewBox=\"0 0 " + Px(Width) + " " + Px(height) +
           "\" font-family=\"sans-serif\">\n<rect width=\"100%\" height=\"100%\" fill=\"white\"/>\n";
}

}  // namespace qav::cli::svg
