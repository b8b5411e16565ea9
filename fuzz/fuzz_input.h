// Turns fuzz bytes into the arguments of the exports: counts, arrays of
// exactly their stated length, and values that include NaN, infinities,
// subnormals, huge and tiny numbers. After each call the contract is checked
// and any breach aborts, which libFuzzer reports.
#pragma once

#include <fuzzer/FuzzedDataProvider.h>

#include <unistd.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "physics/roller_fast.h"

namespace qav_fuzz {

inline void Require(bool condition, const char* what) {
    if (!condition) {
        std::fprintf(stderr, "contract broken: %s\n", what);
        std::abort();
    }
}

inline double Value(FuzzedDataProvider& in, double low, double high) {
    switch (in.ConsumeIntegralInRange<int>(0, 15)) {
    case 0: return std::numeric_limits<double>::quiet_NaN();
    case 1: return std::numeric_limits<double>::infinity();
    case 2: return -std::numeric_limits<double>::infinity();
    case 3: return std::numeric_limits<double>::denorm_min() * in.ConsumeIntegralInRange<int>(-3, 3);
    case 4: return in.ConsumeBool() ? 1e300 : -1e300;
    case 5: return in.ConsumeBool() ? 1e-300 : -1e-300;
    case 6: return 0.0;
    case 7: return -999.0;
    case 8: {
        double raw = 0;
        const auto bytes = in.ConsumeBytes<unsigned char>(sizeof raw);
        if (!bytes.empty()) std::memcpy(&raw, bytes.data(), bytes.size());
        return raw;
    }
    default: return in.ConsumeFloatingPointInRange<double>(low, high);
    }
}

// An array of exactly n values; empty when n < 1.
inline std::vector<double> Array(FuzzedDataProvider& in, int n, double low, double high) {
    std::vector<double> values(n > 0 ? static_cast<std::size_t>(n) : 0);
    for (double& v : values) v = Value(in, low, high);
    return values;
}

// A profile that mostly rises towards the dike, sometimes anything at all.
inline void Profile(FuzzedDataProvider& in, int m, std::vector<double>& x, std::vector<double>& z) {
    x.assign(m > 0 ? static_cast<std::size_t>(m) : 0, 0.0);
    z = x;
    const bool wild = in.ConsumeIntegralInRange<int>(0, 3) == 0;
    double position = in.ConsumeFloatingPointInRange<double>(-1000, 1000);
    double level = in.ConsumeFloatingPointInRange<double>(-30, 0);
    for (std::size_t i = 0; i < x.size(); ++i) {
        if (wild) {
            x[i] = Value(in, -1e4, 1e4);
            z[i] = Value(in, -50, 10);
        } else {
            x[i] = position;
            z[i] = level;
            const double step = in.ConsumeFloatingPointInRange<double>(0.0, 200.0);
            position += step;
            level += step * in.ConsumeFloatingPointInRange<double>(-0.02, 0.11);
        }
    }
}

// A series of n values of a few drawn ones, repeated with a small drift: a
// long series from a short input. Empty when n < 1.
inline std::vector<double> Tiled(FuzzedDataProvider& in, int n, double low, double high) {
    std::vector<double> values(n > 0 ? static_cast<std::size_t>(n) : 0);
    const std::vector<double> pattern = Array(in, in.ConsumeIntegralInRange<int>(1, 8), low, high);
    for (std::size_t i = 0; i < values.size(); ++i) {
        const double drift = 1.0 + 1e-3 * static_cast<double>(i / pattern.size());
        values[i] = pattern[i % pattern.size()] * drift;
    }
    return values;
}

// The four series of n time steps, value by value or tiled from a few.
struct Series {
    std::vector<double> hm0, tp, wlev, angle;
};
inline Series DrawSeries(FuzzedDataProvider& in, int n, double hm0Low = 0) {
    Series s;
    const bool tiled = in.ConsumeBool();
    const auto draw = [&](double low, double high) { return tiled ? Tiled(in, n, low, high) : Array(in, n, low, high); };
    s.hm0 = draw(hm0Low, 6);
    s.tp = draw(1, 20);
    s.wlev = draw(-5, 8);
    s.angle = draw(-360, 720);
    return s;
}

// A profile of m points: point by point (Profile), or a slope with bars laid
// from a few drawn numbers, so that hundreds of points need no long input.
inline void DrawProfile(FuzzedDataProvider& in, int m, std::vector<double>& x, std::vector<double>& z) {
    if (in.ConsumeBool()) return Profile(in, m, x, z);
    x.assign(m > 0 ? static_cast<std::size_t>(m) : 0, 0.0);
    z = x;
    const double start = in.ConsumeFloatingPointInRange<double>(-1000, 1000);
    const double spacing = in.ConsumeFloatingPointInRange<double>(0.01, 200);
    const double toe = in.ConsumeFloatingPointInRange<double>(-30, 0);
    const double slope = in.ConsumeFloatingPointInRange<double>(-0.01, 0.1);
    const double bar = in.ConsumeFloatingPointInRange<double>(0, 3);
    const int period = in.ConsumeIntegralInRange<int>(2, 40);
    for (std::size_t i = 0; i < x.size(); ++i) {
        x[i] = start + spacing * static_cast<double>(i);
        z[i] = toe + slope * (x[i] - start) + ((static_cast<int>(i) % period) * 2 < period ? bar : 0.0);
    }
}

// Grid points the time steps of one input may march over in all. A time step
// lays at most L / MinStepSize + 1 points (the grid step is MinStepSize or
// larger), so MinStepSize is raised to steps * L / budget: hundreds of steps
// and profile points still run in milliseconds under the sanitizers. The
// grid limit itself (16777216 steps) is held by the tests.
constexpr double GridPointBudget = 1e5;

inline double BoundedMinStepSize(FuzzedDataProvider& in, const std::vector<double>& x, int steps,
                                 double budget = GridPointBudget) {
    double step = Value(in, 0.01, 50);
    if (x.size() >= 2) {
        const double length = std::fabs(x.back() - x.front());
        const double perStep = budget / static_cast<double>(steps > 1 ? steps : 1);
        if (std::isfinite(length) && step > 0 && length / step > perStep) step = length / perStep;
    }
    return step;
}

// A scratch folder of the process, removed at exit.
inline const std::string& ScratchFolder() {
    static const std::string folder = [] {
        char name[] = "/tmp/qav-fuzz-XXXXXX";
        if (::mkdtemp(name) == nullptr) std::abort();
        std::string made = name;
        static std::string removed = made;
        std::atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(removed, ignored);
        });
        return made;
    }();
    return folder;
}

// Named counters printed when the process ends: which march paths, logs and
// missing arguments the inputs reached.
class Hits {
public:
    static Hits& Of() {
        static Hits* hits = [] {
            auto* made = new Hits;
            std::atexit([] { Of().Print(); });
            return made;
        }();
        return *hits;
    }
    void Count(const std::string& name) { ++counts_[name]; }
    void Print() const {
        std::string line = "hits:";
        for (const auto& [name, count] : counts_) line += " " + name + "=" + std::to_string(count);
        std::fprintf(stderr, "%s\n", line.c_str());
    }

private:
    std::map<std::string, unsigned long> counts_;
};

// Sets the calling thread's march path to one of the paths this processor
// runs (the reference included), chosen by the input, and counts it.
inline qav::MarchPath ChooseMarchPath(FuzzedDataProvider& in) {
    static const std::vector<qav::MarchPath> paths = qav::SupportedMarchPaths();
    const qav::MarchPath path = paths[in.ConsumeIntegralInRange<std::size_t>(0, paths.size() - 1)];
    qav::SetThreadMarchPath(path);
    Hits::Of().Count("path." + std::string(qav::MarchPathName(path)));
    return path;
}

// Which argument of an entry, if any, is passed as a null pointer: mostly
// none, else one of them, else any set of them (bit i for argument i). An
// input that has run out passes every argument.
inline std::uint32_t NullArguments(FuzzedDataProvider& in, int arguments) {
    switch (in.ConsumeIntegralInRange<int>(0, 7)) {
    case 6: return 1u << in.ConsumeIntegralInRange<int>(0, arguments - 1);
    case 7: return in.ConsumeIntegral<std::uint32_t>() & ((1u << arguments) - 1);
    default: return 0;
    }
}

// The first argument, in an entry's order, passed null with a count of 1 or
// more: {name, count} pairs in that order. Null when there is none.
struct Passed {
    const char* name;
    const void* pointer;
    std::size_t count;
};
inline const char* FirstMissing(std::initializer_list<Passed> order) {
    for (const Passed& p : order) {
        if (p.pointer == nullptr && p.count > 0) return p.name;
    }
    return nullptr;
}

// A count as the entries read it: a null or negative count is 0.
inline std::size_t CountOf(const int* count) { return count != nullptr && *count > 0 ? static_cast<std::size_t>(*count) : 0; }

// A message text without trailing blanks: the trimmed length.
inline std::size_t TrimmedLength(const char* text, std::size_t length) {
    while (length > 0 && text[length - 1] == ' ') --length;
    return length;
}

inline bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// Each result is InvalidValue or a finite number (a wave height of at least
// 0); a calm or out-of-range step hands back its own Tp and incoming angle,
// whatever they hold.
inline void RequireResults(const std::vector<double>& hm0, const std::vector<double>& tp,
                           const std::vector<double>& angle, const std::vector<double>& tpIn,
                           const std::vector<double>& angleIn, double invalid) {
    for (std::size_t i = 0; i < hm0.size(); ++i) {
        Require(SameBits(hm0[i], invalid) || (std::isfinite(hm0[i]) && hm0[i] >= 0.0),
                "Hm0Toe finite and not negative, or InvalidValue");
        Require(SameBits(tp[i], invalid) || SameBits(tp[i], tpIn[i]), "TpToe is Tp or InvalidValue");
        Require(SameBits(angle[i], invalid) || std::isfinite(angle[i]) || SameBits(angle[i], angleIn[i]),
                "WaveAngleToe finite, the incoming angle, or InvalidValue");
    }
}

} // namespace qav_fuzz
