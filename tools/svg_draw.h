#pragma once

// The drawing parts the charts of qav share: a page of panels one above the
// other, each with round axes, gridlines, clipped lines and a legend in the
// column right of it.

#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qav::cli::svg {

// Page layout (px): the data areas span Left to PlotRight; the legends stand
// in the column right of them, the labels and ticks in the margins.
inline constexpr double Width = 930.0;
inline constexpr double Left = 72.0;
inline constexpr double PlotRight = 680.0;
inline constexpr double LegendX = 700.0;
inline constexpr double PanelHeight = 230.0;
inline constexpr double Gap = 66.0;  // below a panel: tick labels and the axis label
inline constexpr double LineHeight = 17.0;

// A number with the given decimals ("-0" written as "0").
[[nodiscard]] std::string Fixed(double value, int decimals);
// A pixel coordinate: one decimal.
[[nodiscard]] std::string Px(double value);
// A value for a label: two decimals, trailing zeros dropped.
[[nodiscard]] std::string Value(double value);
// A text fit for XML: markup characters escaped, control characters blanked.
[[nodiscard]] std::string Escape(std::string_view text);
// Cuts a text into lines of at most width characters, at blanks.
[[nodiscard]] std::vector<std::string> Wrap(std::string_view text, std::size_t width, std::size_t maxLines);
// The opening of an SVG document of the page's width on a white ground.
[[nodiscard]] std::string Open(double height);

// An axis from one round tick to another, about five ticks apart.
struct Axis {
    double low;
    double high;
    double step;
    int decimals;
};
[[nodiscard]] Axis RoundAxis(double low, double high);

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
    double height = PanelHeight;

    [[nodiscard]] double Px(double v) const {
        return Left + (v - x.low) / (x.high - x.low) * (PlotRight - Left);
    }
    [[nodiscard]] double Py(double v) const { return top + (y.high - v) / (y.high - y.low) * height; }
    [[nodiscard]] double Bottom() const { return top + height; }

    void Frame(std::string& svg, const std::string& xLabel, const std::string& yLabel) const;
    // A line through the finite points, thinned to the first, lowest, highest
    // and last point of each pixel column when it has many more points than
    // the panel has columns. A gap of non-finite points breaks the line when
    // breakAtGaps is set, else the line joins across it.
    void Line(std::string& svg, const std::string& lineId, const std::vector<double>& xs,
              const std::vector<double>& ys, const char* colour, bool breakAtGaps = false,
              const char* dash = nullptr) const;
    void VerticalMarker(std::string& svg, double xValue, const char* colour) const;
};

// The legend beside a panel: one swatch and text per line.
struct Legend {
    double y;

    void Entry(std::string& svg, const std::string& swatch, const std::string& text);
    [[nodiscard]] std::string LineSwatch(const char* colour, const char* dash = nullptr) const;
    [[nodiscard]] std::string CircleSwatch(const char* fill, const char* stroke) const;
    [[nodiscard]] std::string BoxSwatch(const char* fill) const;
};

}  // namespace qav::cli::svg
